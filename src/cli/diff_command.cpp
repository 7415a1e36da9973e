#include "diff_command.h"

#include "command_support.h"
#include "engine/backup_file.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "engine/save_journal.h"
#include "fleet/exit_status.h"
#include "link/trace.h"
#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/text_format.h"
#include "transfer_command.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <cstdio>
#include <optional>

namespace kt::cli {

namespace {

// The records of a backup, with those of a Save that was killed taken from
// its journal in memory: a comparison writes nothing. None after saying why.
std::optional<QMap<QByteArray, QByteArray>> recordsOf(const QString& file) {
    if (const shell::Status usable = engine::checkBackupFileSet(file, false); !usable) {
        complain(usable.error().message + '.');
        return std::nullopt;
    }
    if (!engine::readManifest(file).titled) {
        complain(QStringLiteral("%1 is not a KT560AX backup file (no Title=KT560AX in HEAD).")
                     .arg(file));
        return std::nullopt;
    }
    const shell::Result<engine::SetRecords> set = engine::readSetWithJournal(file);
    if (!set) {
        complain(set.error().message + '.');
        return std::nullopt;
    }
    return engine::backupRecordsOf(*set, file);
}

} // namespace

// Each value replaced by a fingerprint keyed with a secret of this run:
// equal values match within one list, yet the list tells no value, and no
// guess of a card or a PIN can be checked against it.
void maskValues(QList<engine::RecordDifference>& differences) {
    QByteArray secret(32, '\0');
    QRandomGenerator::system()->generate(secret.begin(), secret.end());
    const auto mask = [&](QByteArray& value) {
        if (!value.isEmpty())
            value =
                '#' + QMessageAuthenticationCode::hash(value, secret, QCryptographicHash::Sha256)
                          .toHex()
                          .left(8);
    };
    for (engine::RecordDifference& d : differences) {
        mask(d.before);
        mask(d.after);
    }
}

int runDiff(const CliOptions& options, const QString& iniFile) {
    const QString& older = options.files[0];
    const QString& newer = options.files[1];
    const auto before = recordsOf(older);
    const auto after = before ? recordsOf(newer) : std::nullopt;
    if (!after)
        return kFileError;
    // Only what both Saves read is compared: a newer backup of fewer card
    // slots did not remove the others.
    engine::ScopedComparison compared =
        engine::compareWithin(*before, engine::readScopeOf(engine::readManifest(older)), *after,
                              engine::readScopeOf(engine::readManifest(newer)));
    QList<engine::RecordDifference>& differences = compared.differences;
    if (options.mask)
        maskValues(differences);
    const std::pair<const char*, const QList<engine::RecordDifference>*> unread[] = {
        {"newer", &compared.notReadByNewer}, {"older", &compared.notReadByOlder}};
    int counts[3] = {};
    for (const engine::RecordDifference& d : differences)
        ++counts[int(d.kind)];
    const int status = differences.isEmpty() ? kDone : kDifferences;
    if (options.json) {
        std::printf(
            "%s\n",
            QJsonDocument(QJsonObject{{"command", "diff"},
                                      {"old", older},
                                      {"new", newer},
                                      {"added", counts[0]},
                                      {"removed", counts[1]},
                                      {"changed", counts[2]},
                                      {"notReadByNewer", int(compared.notReadByNewer.size())},
                                      {"notReadByOlder", int(compared.notReadByOlder.size())},
                                      {"differences", differencesJson(differences, "old", "new")},
                                      {"exitStatus", status}})
                .toJson(QJsonDocument::Compact)
                .constData());
        return status;
    }
    const QByteArray language = languageOf(options);
    std::printf("%s", qPrintable(engine::describeDifferences(
                          differences, QStringLiteral("old"), QStringLiteral("new"),
                          [&](const engine::Category& category) {
                              return shell::languageText(iniFile, language, category.languageKey);
                          })));
    for (const auto& [which, list] : unread)
        if (!list->isEmpty())
            std::printf("Not read by the %s backup, not compared: %s\n", which,
                        qPrintable(engine::unreadText(*list)));
    if (!options.quiet)
        std::fprintf(stderr, "%d added, %d removed, %d changed\n", counts[0], counts[1], counts[2]);
    return status;
}

int runLog(const CliOptions& options) {
    const engine::JobLog log;
    const QList<QJsonObject> entries = log.last(options.lines);
    if (entries.isEmpty()) {
        std::fprintf(stderr, "No jobs in %s yet.\n", qPrintable(log.path()));
        return kDone;
    }
    // The log is a file anyone may have written to: nothing in it reaches
    // the terminal raw.
    const auto text = [](const QJsonObject& entry, const char* key) {
        return link::displayText(entry.value(key).toString());
    };
    QList<QStringList> rows = {
        {"start", "job", "addr", "port", "records", "failed tries", "outcome", "file"}};
    for (const QJsonObject& e : entries) {
        // The outcome's name; a word of no outcome is shown as it stands.
        const auto known = engine::outcomeFromId(e.value("outcome").toString());
        QString outcome = known ? QLatin1String(engine::wordsOf(*known).name) : text(e, "outcome");
        if (e.contains("differences"))
            outcome += QStringLiteral(" (%1)").arg(e.value("differences").toInt());
        rows.append({text(e, "start").left(19).replace(u'T', u' '), text(e, "direction"),
                     QString::fromLatin1(shell::formatDigits(e.value("address").toInt(), 2)),
                     text(e, "port"), QString::number(e.value("records").toInt()),
                     QString::number(e.value("failedTries").toInt()), outcome, text(e, "file")});
    }
    // Columns as wide as their widest cell, two blanks apart; counts to the
    // right, the file last as it is.
    QList<qsizetype> widths(rows[0].size(), 0);
    for (const QStringList& row : std::as_const(rows))
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const QStringList& row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i + 1 < row.size(); ++i) {
            const bool count = i == 4 || i == 5;
            line += (count ? row[i].rightJustified(widths[i]) : row[i].leftJustified(widths[i])) +
                    QStringLiteral("  ");
        }
        std::printf("%s\n", qPrintable(line + row.last()));
    }
    return kDone;
}

} // namespace kt::cli
