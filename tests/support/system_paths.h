// Paths and permissions as this system has them, for tests that hold on
// POSIX systems and on Windows alike.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

namespace kt::test {

// An absolute path written as on POSIX systems: "/etc/kt" here, the same
// folder on the system drive ("C:/etc/kt") on Windows.
inline QString rooted(const char* path) {
    return QDir::rootPath() + QString::fromUtf8(path).mid(1);
}

// What other users than the owner may do with a file or folder (the group's
// and others' permissions); none where the system keeps it private by its
// place (a folder of the user's profile on Windows).
QFile::Permissions othersMay(const QString& path);

} // namespace kt::test
