// Reading files that come from outside without trusting them: only a
// regular file is read, it is opened without blocking (a FIFO never stalls
// the program), and one larger than a limit is refused before it is read.
#pragma once

#include <QByteArray>
#include <QString>

namespace kt::shell {

// Larger than any INI file this program reads or writes: a backup file of a
// full controller is well under 1 MB.
inline constexpr qint64 kMaxIniFileBytes = 128LL * 1024 * 1024;

enum class FileProblem {
    None,
    Missing,    // no such file
    NotRegular, // a folder, a FIFO, a device, a socket
    TooLarge,   // larger than the limit
    Denied,     // no permission to read it
    Unreadable, // any other failure to open or read
};

// Reads the whole of `path` into `data` (cleared first) when it is a regular
// file of at most `maxBytes`.
FileProblem readRegularFile(const QString& path, QByteArray* data,
                            qint64 maxBytes = kMaxIniFileBytes);

// The same checks without reading: what readRegularFile would say of `path`.
FileProblem checkRegularFile(const QString& path, qint64 maxBytes = kMaxIniFileBytes);

// A short English description of a problem with `path`, for the command line.
QString describeFileProblem(FileProblem problem, const QString& path);

} // namespace kt::shell
