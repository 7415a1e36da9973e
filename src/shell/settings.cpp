#include "settings.h"

#include "ini_file.h"
#include "text_format.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace kt::shell {

namespace {

QByteArray readTrimmed(const QString& iniFile, const char* section, const char* key) {
    return trimBlanks(ReadIni(iniFile, section, key));
}

float readTime(const QString& iniFile, const char* key) {
    return float(leadingNumber(readTrimmed(iniFile, kCommSection, key)));
}

} // namespace

void Settings::clampTimes() {
    // A time that is no number at all takes the lowest value.
    const auto clamp = [](float value, float low, float high) {
        return std::isnan(value) ? low : std::clamp(value, low, high);
    };
    sngTxDelay = clamp(sngTxDelay, kMinTxDelay, kMaxTxDelay);
    sngRxDelay = clamp(sngRxDelay, kMinRxDelay, kMaxRxDelay);
    sngRxTimeOut = clamp(sngRxTimeOut, kMinRxTimeOut, kMaxRxTimeOut);
}

Settings readSettings(const QString& iniFile) {
    Settings s;
    s.intComPort = roundToInt(leadingNumber(readTrimmed(iniFile, kCommSection, "ComPort")));
    if (s.intComPort < kFirstComPort || s.intComPort > kLastComPort)
        s.intComPort = 2;

    s.strSettings = readTrimmed(iniFile, kCommSection, "Protocol");
    if (s.strSettings.isEmpty())
        s.strSettings = kDefaultProtocol;

    s.sngTxDelay = readTime(iniFile, "TXDelayTime");
    s.sngRxDelay = readTime(iniFile, "RXDelayTime");
    s.sngRxTimeOut = readTime(iniFile, "RXTimeOut");
    s.clampTimes();
    s.echo = readTrimmed(iniFile, kCommSection, "Echo") == "1";

    s.intLanguage = roundToInt(leadingNumber(readTrimmed(iniFile, kSystemSection, "Language")));
    if (s.intLanguage < 0 || s.intLanguage > 2)
        s.intLanguage = 0;

    // Language.ini is UTF-8, so the remembered paths are too.
    s.saveFile = QString::fromUtf8(readTrimmed(iniFile, kSystemSection, "SaveFile"));
    s.loadFile = QString::fromUtf8(readTrimmed(iniFile, kSystemSection, "LoadFile"));
    s.verifyAfterLoad = readTrimmed(iniFile, kSystemSection, "VerifyAfterLoad") == "1";
    const int cards = roundToInt(leadingNumber(readTrimmed(iniFile, kSystemSection, "CardNumber")));
    s.cardCount = cards >= 1 ? cards : 100; // the window keeps it within the card limit
    s.lastFolder = QString::fromUtf8(readTrimmed(iniFile, kSystemSection, "LastFolder"));
    for (const QByteArray& key : readTrimmed(iniFile, kSystemSection, "Categories").split(','))
        if (!trimBlanks(key).isEmpty())
            s.tickedCategories.append(trimBlanks(key));
    return s;
}

Status writeJobChoices(const QString& iniFile, const QByteArray& fileKey, const QString& file,
                       int cardCount) {
    return WriteIniValues(
        iniFile, {{kSystemSection, fileKey, file.toUtf8()},
                  {kSystemSection, "CardNumber", QByteArray::number(cardCount)},
                  {kSystemSection, "LastFolder", QFileInfo(file).absolutePath().toUtf8()}});
}

Status writeTickedCategories(const QString& iniFile, const QByteArrayList& keys) {
    return WriteIni(iniFile, kSystemSection, "Categories", keys.join(','));
}

Status writeComPort(const QString& iniFile, int comPort) {
    return WriteIni(iniFile, kCommSection, "ComPort", QByteArray::number(comPort));
}

Status writePanelSettings(const QString& iniFile, const Settings& settings) {
    return WriteIniValues(
        iniFile, {{kSystemSection, "Language", QByteArray::number(settings.intLanguage)},
                  {kSystemSection, "VerifyAfterLoad", settings.verifyAfterLoad ? "1" : "0"},
                  {kCommSection, "TXDelayTime", shortestDecimal(settings.sngTxDelay)},
                  {kCommSection, "RXDelayTime", shortestDecimal(settings.sngRxDelay)},
                  {kCommSection, "RXTimeOut", shortestDecimal(settings.sngRxTimeOut)}});
}

} // namespace kt::shell
