// The program's settings, read from sections "COMMUNICATION" and "System"
// of Language.ini with their defaults and limits, and their write-back.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace kt::shell {

// The serial ports an operator chooses from: COM1 to COM8.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 8;

inline constexpr char kCommSection[] = "COMMUNICATION";
inline constexpr char kSystemSection[] = "System";
inline constexpr char kDefaultProtocol[] = "19200,e,8,1";

// Limits of the three link times, in milliseconds.
inline constexpr float kMinTxDelay = 10, kMaxTxDelay = 100;
inline constexpr float kMinRxDelay = 10, kMaxRxDelay = 100;
inline constexpr float kMinRxTimeOut = 200, kMaxRxTimeOut = 1000;

struct Settings {
    int intComPort = 2;                        // kFirstComPort..kLastComPort
    QByteArray strSettings = kDefaultProtocol; // "baud,parity,data bits,stop bits"
    float sngTxDelay = kMinTxDelay;            // pause before a request is written
    float sngRxDelay = kMinRxDelay;            // pause before the reply wait starts
    float sngRxTimeOut = kMinRxTimeOut;        // reply time-out, also the pause between tries
    int intLanguage = 0;                       // 0 English, 1 Traditional, 2 Simplified Chinese
    QString saveFile;                          // backup file path of the last Save job
    QString loadFile;                          // backup file path of the last Load job
    bool verifyAfterLoad = false;              // read a restore back and compare it
    int cardCount = 100;                       // user cards of the last job
    QString lastFolder;                        // where the last backup or restore went
    QByteArrayList tickedCategories;           // Language.ini keys of the ticked categories
    bool echo = false;                         // the line echoes each request (RS-485)

    // Brings the three times into their limits; a value on a limit stays.
    void clampTimes();
};

// Reads every setting from `iniFile`; missing or unusable values give the
// defaults: ComPort outside 1..8 gives 2, a blank Protocol the default
// text, times are clamped, Language outside 0..2 gives 0, Echo is on only
// when it is 1.
Settings readSettings(const QString& iniFile);

// Remembers the card count of a job. Failures are not reported.
void writeCardCount(const QString& iniFile, int cardCount);

// Remembers the folder of a backup or restore that starts, for the next
// choice of a file. Failures are not reported.
void writeLastFolder(const QString& iniFile, const QString& folder);

// Remembers the ticked categories by their Language.ini keys, for the next
// start. Failures are not reported.
void writeTickedCategories(const QString& iniFile, const QByteArrayList& keys);

// Remembers the chosen port number. Failures are not reported.
void writeComPort(const QString& iniFile, int comPort);

// Writes what the settings panel confirms: the language and the three
// times (as their shortest decimal text). Failures are not reported.
void writePanelSettings(const QString& iniFile, const Settings& settings);

} // namespace kt::shell
