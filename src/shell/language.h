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
// A key that the file lacks, or lacks with its section (an older, an empty
// or a damaged Language.ini), has its shipped text.
QString languageText(const QString& iniFile, const QByteArray& section, const char* key);

// What `iniFile` lacks of the shipped texts of `section`, in a sentence
// that names the file and the keys; empty when it lacks nothing but keys
// that later versions added, which an older copy is right to lack.
QString missingLanguageTexts(const QString& iniFile, const QByteArray& section);

// The path of the Language.ini the program ships with, built in.
QString shippedIniFile();

} // namespace kt::shell
