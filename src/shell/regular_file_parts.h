// What both forms of regular_file share: the messages of a file's problem,
// and reading through Qt (Qt's resources, such as the shipped texts); and
// the system calls each form gives for reading, under the one way of
// reading written above them.
#pragma once

#include "regular_file.h"
#include "result.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <utility>

namespace kt::shell::parts {

// The error of `code` for `path`; a file larger than `maxBytes` is told
// that limit.
Error problem(ErrorCode code, const QString& path, qint64 maxBytes);
Result<qint64> checkThroughQt(const QString& path, qint64 maxBytes);
Result<QByteArray> readThroughQt(const QString& path, qint64 maxBytes);
bool isResource(const QString& path);

using FileHandle = qintptr;
// Opens `path` for reading without blocking and without following a link:
// its handle and size when it is a regular file, else the code of what
// stands in the way (NotFound, Denied, NotRegular, Unreadable).
Result<std::pair<FileHandle, qint64>> openToRead(const QString& path);
// Reads at most `size` bytes into `buffer`: how many, 0 at the end.
Result<qint64> readSome(FileHandle file, char* buffer, qint64 size);
void closeFile(FileHandle file);

// What stands at a path, without following a link: nothing, a regular
// file, or something else (a link, a folder, a FIFO, a device).
enum class Kind { None, Regular, Other };
Kind kindAt(const QString& path);

// What a replaced file keeps: its permissions, in the system's own form.
struct Kept {
    std::shared_ptr<void> permissions;
};
// The permissions of the regular file at `path`; an error (with the
// system's reason) when this user may not write it.
Result<Kept> keptOf(const QString& path);

// Creates `path`, which must not exist (nothing of that name is followed
// or written), with the permissions `kept` holds or else for `newFile`'s
// readers (hidden when `hidden`), writes `contents`, flushes them to the
// disk and closes it. A file it made and could not fill is removed. An
// error gives the system's reason.
Status writeCreated(const QString& path, const QByteArray& contents, const Kept& kept,
                    NewFile newFile, bool hidden);
void removeFile(const QString& path);
// Renames `from` over `to` in one step.
Status moveOver(const QString& from, const QString& to);

} // namespace kt::shell::parts
