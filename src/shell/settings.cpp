#include "settings.h"

#include "ini_file.h"
#include "regular_file.h"
#include "text_format.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace kt::shell {

namespace {

QByteArray readTrimmed(const QByteArray& ini, const char* section, const char* key) {
    return trimBlanks(iniValueIn(ini, section, key));
}

float readTime(const QByteArray& ini, const char* key) {
    return float(leadingNumber(readTrimmed(ini, kCommSection, key)));
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
    // One read for all: the file is some tens of KiB, and every job reads it.
    const QByteArray ini = readRegularFile(iniFile).valueOr({});
    Settings s;
    s.intComPort = roundToInt(leadingNumber(readTrimmed(ini, kCommSection, "ComPort")));
    if (s.intComPort < kFirstComPort || s.intComPort > kLastComPort)
        s.intComPort = 2;

    s.strSettings = readTrimmed(ini, kCommSection, "Protocol");
    if (s.strSettings.isEmpty())
        s.strSettings = kDefaultProtocol;

    s.sngTxDelay = readTime(ini, "TXDelayTime");
    s.sngRxDelay = readTime(ini, "RXDelayTime");
    s.sngRxTimeOut = readTime(ini, "RXTimeOut");
    s.clampTimes();
    s.echo = readTrimmed(ini, kCommSection, "Echo") == "1";

    s.intLanguage = roundToInt(leadingNumber(readTrimmed(ini, kSystemSection, "Language")));
    if (s.intLanguage < 0 || s.intLanguage > 2)
        s.intLanguage = 0;

    // Language.ini is UTF-8, so the remembered paths are too.
    s.saveFile = QString::fromUtf8(readTrimmed(ini, kSystemSection, "SaveFile"));
    s.loadFile = QString::fromUtf8(readTrimmed(ini, kSystemSection, "LoadFile"));
    s.verifyAfterLoad = readTrimmed(ini, kSystemSection, "VerifyAfterLoad") == "1";
    const int cards = roundToInt(leadingNumber(readTrimmed(ini, kSystemSection, "CardNumber")));
    s.cardCount = cards >= 1 ? cards : 100; // the window keeps it within the card limit
    s.lastFolder = QString::fromUtf8(readTrimmed(ini, kSystemSection, "LastFolder"));
    for (const QByteArray& key : readTrimmed(ini, kSystemSection, "Categories").split(','))
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
