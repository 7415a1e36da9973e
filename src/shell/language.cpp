#include "language.h"

#include "ini_file.h"
#include "text_format.h"

#include <QSet>

// The texts live in a static library, whose resources must be registered
// by hand, outside any namespace.
static void registerShippedTexts() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(shipped);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace kt::shell {

QString shippedIniFile() {
    registerShippedTexts();
    return QStringLiteral(":/shipped/Language.ini");
}

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

namespace {

// Keys added to Language.ini over time, which a user's older copy is right
// to lack: their shipped texts are taken without a word.
bool isAddedKey(const char* key) {
    static const QList<QByteArray> added = {"Browse",
                                            "NothingSelected",
                                            "SaveSummary",
                                            "LoadSummary",
                                            "SaveStopped",
                                            "LoadStopped",
                                            "ReplyNotStorable",
                                            "LoadWarning",
                                            "WarnIncomplete",
                                            "WarnCardNumbers",
                                            "WarnCategory",
                                            "LoadAnyway",
                                            "VerifyAfterLoad",
                                            "VerifyOk",
                                            "VerifyDiffer",
                                            "VerifyReport",
                                            "VerifyStopped",
                                            "LoadConfirm",
                                            "LoadGoOn",
                                            "JobSave",
                                            "JobLoad",
                                            "JobProgress",
                                            "ChooseDevice",
                                            "PortMissing",
                                            "PortDenied",
                                            "PortBusy",
                                            "PortFailed",
                                            "ServerFailed",
                                            "JobVerify",
                                            "FileInUse",
                                            "FileNotRegular",
                                            "FileTooLarge",
                                            "FileDenied",
                                            "ValuesNotSendable",
                                            "LoadCardsLeft",
                                            "LoadBackupFirst",
                                            "LoadBackedUpFirst",
                                            "BackupFirstStopped",
                                            "SaveUnsendable",
                                            "CloseAsk",
                                            "CloseAskRestore",
                                            "Tools",
                                            "CompareWithBackup",
                                            "FileUntrusted",
                                            "JournalFolded",
                                            "PortDeniedAdmin",
                                            "WarnStaleCards",
                                            "FileNoFolder",
                                            "FileFolderDenied",
                                            "FileReadOnly",
                                            "FileDiskFull",
                                            "PortGone",
                                            "NoController",
                                            "CheckControllerId",
                                            "CheckAddressScan",
                                            "RepliesOutOfOrder",
                                            "SaveReplaced",
                                            "SaveKeptBeside",
                                            "CancelAsk"};
    // Whole families came later still: the fleet report's, the job log's,
    // the captions of the message box's own buttons, a compare's, and the
    // question before a backup is replaced.
    for (const char* prefix : {"Report", "State", "Log", "Button", "Compare", "Replace"})
        if (qstrncmp(key, prefix, qstrlen(prefix)) == 0)
            return true;
    return added.contains(QByteArray(key));
}

} // namespace

QString languageText(const QString& iniFile, const QByteArray& section, const char* key) {
    if (section.isEmpty())
        return {};
    Result<QByteArray> text = ReadIniValue(iniFile, section, key);
    if (!text)
        text = ReadIniValue(shippedIniFile(), section, key);
    return QString::fromUtf8(trimBlanks(text.valueOr({})));
}

QString missingLanguageTexts(const QString& iniFile, const QByteArray& section) {
    if (section.isEmpty() || iniFile == shippedIniFile())
        return {};
    QSet<QByteArray> own;
    for (const auto& [key, value] : ReadIniSection(iniFile, section))
        own.insert(key.toLower());
    if (own.isEmpty())
        return fillIn(QStringLiteral("%1 has no texts of [%2]: the built-in ones are used"),
                      {iniFile, QString::fromLatin1(section)});
    QStringList missing;
    for (const auto& [key, value] : ReadIniSection(shippedIniFile(), section))
        if (!own.contains(key.toLower()) && !isAddedKey(key.constData()))
            missing.append(QString::fromLatin1(key));
    if (missing.isEmpty())
        return {};
    return fillIn(QStringLiteral("%1 lacks these texts of [%2], whose built-in ones are used: %3"),
                  {iniFile, QString::fromLatin1(section), missing.join(QStringLiteral(", "))});
}

} // namespace kt::shell
