// The language sections of Language.ini and the keys the program reads.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "text_format.h"

namespace kt::shell {

// "English", "TraditionChinese" or "SimplifiedChinese" for 0, 1, 2; empty
// for any other index.
QByteArray languageSection(int intLanguage);

// The trimmed text of `key` in `section` of `iniFile`, decoded from UTF-8.
// A missing file, section or key gives the empty text, except for the keys
// this version added: an older Language.ini lacks them, and their shipped
// text is taken instead.
QString languageText(const QString& iniFile, const QByteArray& section, const char* key);

// The path of the Language.ini the program ships with, built in.
QString shippedIniFile();

} // namespace kt::shell
