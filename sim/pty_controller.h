// A seeded virtual controller serving its own pseudo-terminal: the set-up
// that tests, benchmarks and demos share. POSIX only.
#pragma once

#include "line_endpoint.h"
#include "record_store.h"
#include "virtual_controller.h"

#include <memory>

namespace kt::sim {

struct PtyController {
    explicit PtyController(int cards = 2500, QList<int> addresses = {1});

    // Maps COM`port` to the pseudo-terminal in the program's Language.ini.
    bool mapPort(const QString& iniFile, int port = 1) const;

    RecordStore store;
    VirtualController controller;
    QString error; // why the pseudo-terminal could not be made
    std::unique_ptr<LineEndpoint> line;
};

} // namespace kt::sim
