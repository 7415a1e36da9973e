#include "language.h"

#include "ini_file.h"
#include "text_format.h"

namespace kt::shell {

QByteArray languageSection(int intLanguage) {
    switch (intLanguage) {
    case 0:
        return "English";
    case 1:
        return "TraditionChinese";
    case 2:
        return "SimplifiedChinese";
    default:
        return {};
    }
}

QString languageText(const QString& iniFile, const QByteArray& section, const char* key) {
    if (section.isEmpty())
        return {};
    return QString::fromUtf8(trimBlanks(ReadIni(iniFile, section, key)));
}

} // namespace kt::shell
