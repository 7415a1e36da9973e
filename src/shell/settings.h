// The program's settings, read from sections "COMMUNICATION" and "System"
// of Language.ini with their defaults and limits, and their write-back.
#pragma once

#include "result.h"

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

// Remembers the choices of a job that starts, in one edit: its file (under
// `fileKey`, SaveFile or LoadFile), its card count, and its folder for the
// next choice of a file.
Status writeJobChoices(const QString& iniFile, const QByteArray& fileKey, const QString& file,
                       int cardCount);

// Remembers the ticked categories by their Language.ini keys, for the next
// start.
Status writeTickedCategories(const QString& iniFile, const QByteArrayList& keys);

// Remembers the chosen port number.
Status writeComPort(const QString& iniFile, int comPort);

// Writes what the settings panel confirms, in one edit: the language, the
// check after a restore and the three times (as their shortest decimal
// text).
Status writePanelSettings(const QString& iniFile, const Settings& settings);

} // namespace kt::shell
