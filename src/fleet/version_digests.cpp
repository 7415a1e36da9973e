#include "version_digests.h"

#include "fleet_state.h"
#include "shell/append_file.h"
#include "shell/regular_file.h"

#include <QDir>
#include <QFileInfo>

namespace kt::fleet {

namespace {

constexpr char kDigestsHeader[] = "kt560ax digests 1";

// The record a digest stands for: its key is in it, so that two slots that
// hold one card have digests that do not tell so.
QByteArray digestInput(const QByteArray& key, const QByteArray& value) {
    return key + '=' + value;
}

bool exists(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

shell::Error untrusted(const QString& path) {
    return {shell::ErrorCode::Untrusted,
            path + QStringLiteral(" is not this user's own file (a link, another user's file, or "
                                  "one others may write)"),
            path};
}

} // namespace

QString digestsPathOf(const QString& fleetFile) {
    const QFileInfo state(statePathOf(fleetFile));
    return state.dir().filePath(state.completeBaseName() + QStringLiteral(".digests"));
}

QString digestKeyPathOf(const QString& fleetFile) {
    const QFileInfo info(fleetFile);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".digest-key"));
}

QByteArray digestsText(const std::map<QString, VersionDigests>& versions) {
    QByteArray text = QByteArray(kDigestsHeader) + '\n';
    for (const auto& [section, version] : versions) {
        text += "section " + section.toUtf8() + ' ' + version.tree + '\n';
        text += "read " +
                (version.read.categories.isEmpty() ? QByteArray("*")
                                                   : version.read.categories.join(',')) +
                ' ' +
                (version.read.cards ? QByteArray::number(*version.read.cards) : QByteArray("*")) +
                '\n';
        for (auto it = version.records.cbegin(); it != version.records.cend(); ++it)
            text += it.value().toBase64(QByteArray::OmitTrailingEquals) + ' ' + it.key() + '\n';
    }
    return text;
}

std::optional<std::map<QString, VersionDigests>> parseDigests(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.takeFirst() != kDigestsHeader || !lines.takeLast().isEmpty())
        return std::nullopt;
    std::map<QString, VersionDigests> versions;
    VersionDigests* version = nullptr;
    bool scoped = false; // the version's read line came
    for (const QByteArray& line : std::as_const(lines)) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "section") {
            if (version && !scoped)
                return std::nullopt;
            version = &versions[QString::fromUtf8(words[1])];
            version->tree = words[2];
            scoped = false;
        } else if (version && !scoped && words.size() == 3 && words[0] == "read") {
            if (words[1] != "*")
                version->read.categories = words[1].split(',');
            bool ok = true;
            if (words[2] != "*")
                version->read.cards = words[2].toInt(&ok);
            if (!ok)
                return std::nullopt;
            scoped = true;
        } else if (scoped && words.size() >= 2) {
            // The key is the rest of the line: one of a foreign file may hold blanks.
            const QByteArray::FromBase64Result digest =
                QByteArray::fromBase64Encoding(words[0], QByteArray::AbortOnBase64DecodingErrors);
            if (!digest || digest.decoded.size() != 32)
                return std::nullopt;
            version->records.insert(line.mid(words[0].size() + 1), digest.decoded);
        } else {
            return std::nullopt;
        }
    }
    if (version && !scoped)
        return std::nullopt;
    return versions;
}

CommittedDigests::CommittedDigests(const QString& fleetFile) : path_(digestsPathOf(fleetFile)) {
    const QString keyPath = digestKeyPathOf(fleetFile);
    bool newKey = false;
    if (!exists(keyPath)) {
        if (const shell::Status made = createDigestKey(keyPath); !made) {
            problem_ = QStringLiteral("the digest key: ") + made.error().message;
            return;
        }
        newKey = true;
    }
    shell::Result<DigestKey> key =
        shell::isOwnersFile(keyPath, QString()) ? readDigestKey(keyPath) : untrusted(keyPath);
    if (!key) {
        problem_ = QStringLiteral("the digest key: ") + key.error().message;
        return;
    }
    key_ = *key;
    if (!exists(path_)) {
        problem_ = path_ + QStringLiteral(" does not exist");
        return;
    }
    // Digests under a key that is gone tell nothing.
    if (newKey) {
        problem_ = keyPath + QStringLiteral(" was missing and is made anew: the digests kept "
                                            "under the old key are of no use");
        return;
    }
    const shell::Result<QByteArray> text = shell::isOwnersFile(path_, QString())
                                               ? shell::readRegularFile(path_, kMaxDigestsBytes)
                                               : shell::Result<QByteArray>(untrusted(path_));
    if (!text) {
        problem_ = text.error().message;
        return;
    }
    std::optional<std::map<QString, VersionDigests>> parsed = parseDigests(*text);
    if (!parsed) {
        problem_ = path_ + QStringLiteral(" is not a digests file of kt560ax");
        return;
    }
    kept_ = std::move(*parsed);
}

QMap<QByteArray, QByteArray>
CommittedDigests::digestsOf(const QMap<QByteArray, QByteArray>& records) const {
    QMap<QByteArray, QByteArray> digests;
    if (!key_)
        return digests;
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        if (!it.value().isEmpty())
            digests.insert(it.key(), keyedDigest(*key_, digestInput(it.key(), it.value())));
    return digests;
}

RecordChanges CommittedDigests::changesTo(const QString& section, const QByteArray& tree,
                                          const QMap<QByteArray, QByteArray>& afterDigests,
                                          const QMap<QByteArray, QByteArray>& after,
                                          const engine::ReadScope& afterRead, QString* why) const {
    if (tree.isEmpty())
        return changesBetween({}, after, true);
    const auto kept = kept_.find(section);
    const auto uncompared = [&](const QString& reason) {
        if (why)
            *why = reason;
        return uncomparedChanges(after);
    };
    if (kept == kept_.end() || !key_)
        return uncompared(!problem_.isEmpty() ? problem_
                                              : QStringLiteral("no digests of it are kept"));
    if (kept->second.tree != tree)
        return uncompared(QStringLiteral("the digests kept are of another version"));
    return changesFromDigests(kept->second.records, kept->second.read, afterDigests, after,
                              afterRead);
}

void CommittedDigests::stage(const QString& section, const QMap<QByteArray, QByteArray>& digests,
                             const engine::ReadScope& read) {
    staged_.insert_or_assign(section, VersionDigests{{}, read, digests});
}

void CommittedDigests::committed(const History& history) {
    for (auto& [section, version] : staged_) {
        version.tree = history.sectionTree(section);
        kept_.insert_or_assign(section, std::move(version));
    }
    staged_.clear();
}

shell::Status CommittedDigests::write(const Fleet& fleet) const {
    if (!key_)
        return shell::Error{shell::ErrorCode::Unwritable, problem_, path_};
    std::map<QString, VersionDigests> kept;
    for (const FleetController& controller : fleet.controllers)
        if (const auto found = kept_.find(controller.name); found != kept_.end())
            kept.insert(*found);
    return shell::replacePrivateFile(path_, digestsText(kept));
}

} // namespace kt::fleet
