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

QString fillIn(const QString& text, const QStringList& values) {
    QString filled;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = i + 1 < text.size() ? text[i + 1].digitValue() : -1;
        if (text[i] == u'%' && n >= 1 && n <= values.size()) {
            filled += values[n - 1];
            ++i;
        } else {
            filled += text[i];
        }
    }
    return filled;
}

} // namespace kt::shell
