// What a job is asked to do: the window builds it from its controls, the
// command line from its arguments. A job keeps its own copy from start to
// end, so nothing that changes meanwhile can steer it.
#pragma once

#include "categories.h"

#include <QList>
#include <QString>

namespace kt::engine {

enum class Direction {
    Save, // controller to backup file
    Load, // backup file to controller
};

struct JobRequest {
    Direction direction = Direction::Save;
    QString file;                      // the backup's main file
    int address = 1;                   // controller address, 1..99
    QList<const Category*> categories; // entries of categories(), in its order
    int cardCount = 100;               // user cards 1..cardCount, 1..9999

    bool includes(const Category& category) const { return categories.contains(&category); }
};

} // namespace kt::engine
