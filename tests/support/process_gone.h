// Whether a process has ended, for tests that kill one and wait for it.
#pragma once

#include <QFile>
#include <QString>
#include <csignal>
#include <sys/types.h>

namespace kt::test {

// Gone, or ended and not yet reaped by whichever process adopted it.
inline bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
}

} // namespace kt::test
