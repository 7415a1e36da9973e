// Reading files that come from outside without trusting them: only a
// regular file is read, it is opened without blocking (a FIFO never stalls
// the program), and one larger than a limit is refused before it is read.
#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

namespace kt::shell {

// Larger than any INI file this program reads or writes: a backup file of a
// full controller is well under 1 MB.
inline constexpr qint64 kMaxIniFileBytes = 128LL * 1024 * 1024;

// Reads the whole of `path` when it is a regular file of at most `maxBytes`.
// Errors: NotFound, NotRegular, TooLarge, Denied, Unreadable, each with a
// message that names the file.
Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes = kMaxIniFileBytes);

// The same checks without reading: the file's size, or what readRegularFile
// would say of `path`.
Result<qint64> checkRegularFile(const QString& path, qint64 maxBytes = kMaxIniFileBytes);

// Replaces `path` with `contents` at once: a reader sees the old file or the
// new one, never a part. An Unwritable error says why it could not be.
Status replaceFile(const QString& path, const QByteArray& contents);
// The same for a file that only its owner may read and write.
Status replacePrivateFile(const QString& path, const QByteArray& contents);

// The same through `copy`, a file beside `path` that one writer at a time
// uses (a lock keeps others out): a copy a killed writer left is replaced,
// the new one is written, its data synced, and renamed over `path`. A new
// file is readable and writable by its owner only; an existing one keeps
// its mode, and one that may not be written is not replaced. The folder is
// not synced: a caller that replaces several files syncs it once.
Status replaceFileThrough(const QString& path, const QString& copy, const QByteArray& contents);

} // namespace kt::shell
