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

// Who may read a file that did not exist before it was written.
enum class NewFile {
    Private, // its owner only
    Shared,  // readable by others as the umask allows, never writable by them (a page
             // for a web server)
};

// Replaces `path` with `contents` through `copy`, a file beside `path` that
// one writer at a time uses (a lock, or a name only one job makes, keeps
// others out): a copy a killed writer left is replaced, the new one is
// created exclusively and without following links, written, its data
// synced, and renamed over `path`. Only a regular file is replaced, or a new
// one made: a link, a FIFO or a device of that name is refused (NotRegular)
// and written through by nothing, checked once more just before the rename.
// An existing file keeps its mode (a shared one without others' write
// permission), and one that may not be written is not replaced. The folder is not synced: a caller
// that replaces several files syncs it once.
Status replaceFileThrough(const QString& path, const QString& copy, const QByteArray& contents,
                          NewFile newFile = NewFile::Private);

// The hidden copy a file is replaced through: /a/page.html gives
// /a/.page.html.kt560ax-tmp.
QString hiddenCopyOf(const QString& path);

// Replaces `path` at once through its hidden copy: a reader sees the old
// file or the new one, never a part. An Unwritable error says why.
Status replaceFile(const QString& path, const QByteArray& contents);
// The same for a file that only its owner may read and write.
Status replacePrivateFile(const QString& path, const QByteArray& contents);

// Makes the replacements of files in the folder of `file` durable: once
// after a batch of them, before anything that relies on them.
void syncFolderOf(const QString& file);

// Writes a file that must not exist yet, for its owner only: a file, a link
// or anything else of that name is an error and stays as it is.
Status writeNewFile(const QString& path, const QByteArray& contents);

} // namespace kt::shell
