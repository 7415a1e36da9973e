// What may keep a backup from restoring a controller as it was: decided from
// the backup's manifest, the card slots its files hold and the request alone.
#pragma once

#include "backup_file.h"
#include "job_request.h"

#include <QList>
#include <QString>

namespace kt::engine {

struct LoadWarning {
    enum class Kind {
        Incomplete,       // the backup stopped before its end
        CardNumbers,      // the backup covers `first` card slots, `second` are chosen
        CategoryNotSaved, // `category` was not part of the last backup into the file
        StaleCards,       // the files hold cards in slots `stale`, above the backup's count
    };
    Kind kind = Kind::Incomplete;
    int first = 0;
    int second = 0;
    const Category* category = nullptr;
    QList<int> stale{};

    // A restore that nobody confirmed does not go ahead; stale cards that
    // stay behind are only said.
    bool blocking() const { return kind != Kind::StaleCards; }
    bool operator==(const LoadWarning&) const = default;
};

// How many card slots the backup covers: the manifest's card count when the
// Save that wrote it finished; else the highest slot its files hold, ascending
// `heldSlots`. Slots above it were left by an older, larger backup.
int backupCards(const Manifest& manifest, const QList<int>& heldSlots);

// The warnings of a restore of `request` from a backup with `manifest` whose
// files hold cards in the ascending `heldSlots`, in the order they are told.
QList<LoadWarning> loadWarnings(const Manifest& manifest, const QList<int>& heldSlots,
                                const JobRequest& request);

// Slot numbers for a message, runs shortened: "4, 5" or "4-900, 903".
QString slotList(const QList<int>& numbers);

} // namespace kt::engine
