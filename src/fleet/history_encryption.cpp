#include "history_encryption.h"

#include "engine/record_compare.h"
#include "shell/append_file.h"
#include "shell/regular_file.h"
#include "version_digests.h"

namespace kt::fleet {

shell::Result<QList<AgeRecipient>> readFleetRecipients(const QString& path) {
    const auto refused = [&](const shell::Error& error) {
        return shell::Error{error.code, QStringLiteral("Encrypt=: ") + error.message, path};
    };
    if (const shell::Result<qint64> usable = shell::checkRegularFile(path, kMaxAgeKeyFileBytes);
        !usable)
        return refused(usable.error());
    if (!shell::isOwnersFile(path, QString()))
        return refused({shell::ErrorCode::Untrusted,
                        path + QStringLiteral(" is not this user's own file, or others may write "
                                              "it (or it is a link): it decides who can read "
                                              "every version of the history, so it is not "
                                              "used; make it yours and run chmod go-w on it")});
    const shell::Result<QList<AgeRecipient>> recipients = readAgeRecipients(path);
    if (!recipients)
        return refused(recipients.error());
    return recipients;
}

shell::Status encryptAsSet(History& history, const FleetSettings& settings) {
    if (settings.encrypt.isEmpty())
        return history.encryptTo({});
    const shell::Result<QList<AgeRecipient>> recipients = readFleetRecipients(settings.encrypt);
    if (!recipients)
        return recipients.error();
    return history.encryptTo(*recipients);
}

shell::Result<Reencryption> reencryptHistory(const Fleet& fleet, const QString& fleetFile) {
    if (fleet.settings.history.isEmpty() || fleet.settings.encrypt.isEmpty())
        return shell::Error{shell::ErrorCode::Invalid,
                            fleetFile + QStringLiteral(": --reencrypt needs History and Encrypt "
                                                       "in [fleet]"),
                            fleetFile};
    const shell::Result<QList<AgeRecipient>> recipients =
        readFleetRecipients(fleet.settings.encrypt);
    if (!recipients)
        return recipients.error();
    History history;
    if (const shell::Status opened = history.open(fleet.settings.history, History::Mode::Write);
        !opened)
        return opened.error();
    CommittedDigests digests(fleetFile);
    for (const FleetController& controller : fleet.controllers) {
        const QString file = history.committedFile(controller.name);
        if (file.isEmpty())
            continue;
        const shell::Result<QByteArray> contents = shell::readRegularFile(file);
        if (!contents || isAgeFile(*contents))
            continue;
        digests.stage(controller.name, digests.digestsOf(engine::readBackupRecords(file)),
                      engine::readScopeOf(engine::readManifest(file)));
    }
    const shell::Result<History::Reencrypted> rewritten = history.reencrypt(*recipients);
    if (!rewritten)
        return rewritten.error();
    digests.committed(history);
    const shell::Status kept = digests.write(fleet);
    return Reencryption{*rewritten, kept ? QString() : kept.error().message};
}

} // namespace kt::fleet
