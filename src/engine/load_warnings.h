// What may keep a backup from restoring a controller as it was: decided from
// the backup's manifest, the card slots its files hold and the request alone.
#pragma once

#include "backup_file.h"
#include "job_request.h"

#include <QList>

namespace kt::engine {

struct LoadWarning {
    enum class Kind {
        Incomplete,       // the backup stopped before its end
        CardNumbers,      // the backup covers `first` card slots, `second` are chosen
        CategoryNotSaved, // `category` was not part of the last backup into the file
        CardsHeader,      // the manifest names `first` cards, the files hold up to `second`
    };
    Kind kind = Kind::Incomplete;
    int first = 0;
    int second = 0;
    const Category* category = nullptr;

    // A restore that nobody confirmed does not go ahead; the manifest's
    // card count is only said.
    bool blocking() const { return kind != Kind::CardsHeader; }
    bool operator==(const LoadWarning&) const = default;
};

// The warnings of a restore of `request` from a backup with `manifest` whose
// files hold cards up to slot `heldCards`, in the order they are told.
QList<LoadWarning> loadWarnings(const Manifest& manifest, int heldCards, const JobRequest& request);

} // namespace kt::engine
