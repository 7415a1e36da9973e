#include "language.h"

#include "ini_file.h"
#include "text_format.h"

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

// Keys added to Language.ini over time, which a user's older copy may lack:
// they are taken from the shipped file then.
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
                                            "ValueNotSendable",
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
                                            "SaveKeptBeside"};
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
    if (!text && isAddedKey(key))
        text = ReadIniValue(shippedIniFile(), section, key);
    return QString::fromUtf8(trimBlanks(text.valueOr({})));
}

} // namespace kt::shell
