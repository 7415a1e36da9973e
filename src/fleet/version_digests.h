// What the gateway keeps of each controller's committed version when the
// history is encrypted to keys it does not hold: a keyed digest of each
// record, so that a new backup is compared with the version without reading
// it. The digests go beside the fleet's state and their key beside the
// fleet file, both for their owner only.
#pragma once

#include "engine/record_compare.h"
#include "fleet_file.h"
#include "history.h"
#include "keyed_digest.h"
#include "record_changes.h"
#include "shell/result.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <map>
#include <optional>

namespace kt::fleet {

// One committed version, known by its digests.
struct VersionDigests {
    QByteArray tree;        // its section's folder in the history (History::sectionTree)
    engine::ReadScope read; // what its Save read
    QMap<QByteArray, QByteArray> records; // a digest of each record that holds a value, by key
};

// fleet.ini keeps fleet.digests beside fleet.state, and fleet.digest-key
// beside itself.
QString digestsPathOf(const QString& fleetFile);
QString digestKeyPathOf(const QString& fleetFile);

// The digests file: read as a whole or not at all, at most this large.
inline constexpr qint64 kMaxDigestsBytes = 256LL * 1024 * 1024;

// The digests file as text, and read back; nothing of a file that is not
// wholly such a text.
QByteArray digestsText(const std::map<QString, VersionDigests>& versions);
std::optional<std::map<QString, VersionDigests>> parseDigests(const QByteArray& text);

class CommittedDigests {
  public:
    // The digests of a fleet's committed versions, under the key beside
    // `fleetFile`, which is made on first use. A key or a digests file that
    // cannot be read, or that is not this user's own, leaves no digests to
    // compare with, and changesTo() says why.
    explicit CommittedDigests(const QString& fleetFile);

    // A digest of each record of `records` that holds a value.
    QMap<QByteArray, QByteArray> digestsOf(const QMap<QByteArray, QByteArray>& records) const;

    // What changed from `section`'s committed version, whose folder in the
    // history is `tree` (empty: it has none, `after` is its first version),
    // to `after`, whose digests are `afterDigests` and whose Save read
    // `afterRead`. Uncompared, with `why` said, when the digests kept are not
    // of that version.
    RecordChanges changesTo(const QString& section, const QByteArray& tree,
                            const QMap<QByteArray, QByteArray>& afterDigests,
                            const QMap<QByteArray, QByteArray>& after,
                            const engine::ReadScope& afterRead, QString* why = nullptr) const;

    // The version that `section`'s next commit holds.
    void stage(const QString& section, const QMap<QByteArray, QByteArray>& digests,
               const engine::ReadScope& read);
    // Once the commit is made: the staged versions are the committed ones.
    void committed(const History& history);
    // Writes the digests of the committed versions of `fleet`'s controllers
    // at once, for their owner only. An error when there is no key.
    shell::Status write(const Fleet& fleet) const;

  private:
    QString path_;
    std::optional<DigestKey> key_;
    QString problem_;
    std::map<QString, VersionDigests> kept_;
    std::map<QString, VersionDigests> staged_;
};

} // namespace kt::fleet
