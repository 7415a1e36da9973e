// What a job is asked to do, and how it ended: the window builds the
// request from its controls, the command line from its arguments. A job
// keeps its own copy from start to end, so nothing that changes meanwhile
// can steer it.
#pragma once

#include "categories.h"
#include "job_outcome.h"

#include <QList>
#include <QString>

namespace kt::engine {

enum class Direction {
    Save,   // controller to backup file
    Load,   // backup file to controller
    Verify, // controller compared with backup file; nothing is written
};

struct JobRequest {
    Direction direction = Direction::Save;
    QString file;                        // the backup's main file
    int address = 1;                     // controller address, 1..99
    QList<const Category*> categories{}; // entries of categories(), in its order
    int cardCount = 100;                 // user cards 1..cardCount, at most kMaxCards
    QString portName{};                  // how the job log names the port
    bool verifyAfterLoad = false;        // Load: read everything back and compare
    bool askBeforeLoad = false;          // Load: ask before writing into the controller
    bool offerBackupFirst = false;       // Load: the question offers to back the controller up
                                         // first, beside the file (ticked)
    bool confirmed = false;              // Load: the user has said yes already
    bool onlyStored = false;             // Verify: read back only the records the file holds
    bool askBeforeReplace = false;       // Save: ask before replacing a complete backup
    QString reportFile{}; // Verify: where the differences are listed (empty: nowhere)

    bool includes(const Category& category) const { return categories.contains(&category); }
};

} // namespace kt::engine
