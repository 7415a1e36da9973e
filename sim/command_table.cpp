#include "command_table.h"

#include <cstring>

namespace kt::sim {

const QList<Command>& commands() {
    static const QList<Command> table = {
        {"BA", 1, 1, 3},    {"BB", 1, 1, 3},    {"BC", 1, 1, 8},   {"DC", 0, 0, 0},
        {"DI", 0, 0, 0},    {"EA", 2, 1, 16},   {"EB", 2, 1, 16},  {"EC", 2, 1, 16},
        {"ED", 0, 0, 0},    {"FA", 2, 1, 30},   {"FD", 2, 1, 60},  {"GA", 2, 1, 12},
        {"HA", 4, 1, 9999}, {"HB", 4, 1, 9999}, {"MD", 3, 1, 250}, {"NA", 2, 1, 16},
        {"NB", 2, 1, 16},   {"ND", 0, 0, 0},    {"OA", 2, 1, 4},   {"OB", 2, 1, 4},
        {"OD", 0, 0, 0},
    };
    return table;
}

const Command* findCommand(const QByteArray& code) {
    for (const Command& c : commands())
        if (code == c.code)
            return &c;
    return nullptr;
}

QByteArray recordKey(const Command& command, int index) {
    const QByteArray code = std::strcmp(command.code, "HB") == 0 ? "HA" : command.code;
    if (command.digits == 0)
        return code;
    return code + QByteArray::number(index).rightJustified(command.digits, '0');
}

QList<QByteArray> allRecordKeys(int cards) {
    QList<QByteArray> keys;
    for (const Command& c : commands()) {
        if (std::strcmp(c.code, "HB") == 0)
            continue;
        const int last = std::strcmp(c.code, "HA") == 0 ? cards : c.last;
        for (int i = c.first; i <= last; ++i)
            keys.append(recordKey(c, i));
    }
    return keys;
}

} // namespace kt::sim
