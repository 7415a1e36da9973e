// The controller's commands as the virtual controller knows them: the
// two-letter code, the number of index digits and the index range. Written
// apart from the engine's category table on purpose: the tests compare what
// the engine sends with what this table expects, so an error in either
// shows.
#pragma once

#include <QByteArray>
#include <QList>

namespace kt::sim {

struct Command {
    const char* code;
    int digits; // 0: no index
    int first;
    int last;
};

// Every command the controller answers, category by category.
// HB reads a user card and HA writes one; both address key "HA<index>".
const QList<Command>& commands();

// The command of a code, or nullptr.
const Command* findCommand(const QByteArray& code);

// The record key of a command and index: HB reads the card stored as HA.
QByteArray recordKey(const Command& command, int index);

// Every record key of the nine categories, with cards 1..cards.
QList<QByteArray> allRecordKeys(int cards = 9999);

} // namespace kt::sim
