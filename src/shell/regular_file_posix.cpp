#include "regular_file.h"
#include "regular_file_parts.h"
#include "text_format.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kt::shell {

using parts::checkThroughQt;
using parts::isResource;
using parts::problem;
using parts::readThroughQt;

namespace {

ErrorCode codeOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ErrorCode::NotFound;
    case EACCES:
    case EPERM:
        return ErrorCode::Denied;
    case EISDIR:
    case ENXIO: // a FIFO or socket without the other end
        return ErrorCode::NotRegular;
    default:
        return ErrorCode::Unreadable;
    }
}

// Opens without blocking and checks what was opened: the descriptor and the
// file's size.
Result<std::pair<int, qint64>> openRegular(const QString& path, qint64 maxBytes) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return problem(codeOfErrno(errno), path, maxBytes);
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes) {
        ::close(fd);
        return problem(!S_ISREG(info.st_mode) ? ErrorCode::NotRegular : ErrorCode::TooLarge, path,
                       maxBytes);
    }
    return std::pair(fd, qint64(info.st_size));
}

} // namespace

Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes) {
    if (isResource(path))
        return readThroughQt(path, maxBytes);
    const auto opened = openRegular(path, maxBytes);
    if (!opened)
        return opened.error();
    const auto [fd, size] = *opened;
    // A file that grows while it is read is still read only up to the limit.
    QByteArray data;
    data.reserve(size);
    char buffer[64 * 1024];
    ErrorCode failure = ErrorCode::Invalid; // none
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = codeOfErrno(errno);
            break;
        }
        if (got == 0)
            break;
        if (data.size() + got > maxBytes) {
            failure = ErrorCode::TooLarge;
            break;
        }
        data.append(buffer, got);
    }
    ::close(fd);
    if (failure != ErrorCode::Invalid)
        return problem(failure, path, maxBytes);
    return data;
}

Result<qint64> checkRegularFile(const QString& path, qint64 maxBytes) {
    if (isResource(path))
        return checkThroughQt(path, maxBytes);
    const auto opened = openRegular(path, maxBytes);
    if (!opened)
        return opened.error();
    ::close(opened->first);
    return opened->second;
}

namespace {

// Writes all of `contents` to `fd`, syncs its data and closes it; the first
// error (`error` when it is one already), 0 when all went well.
int writeSyncClose(int fd, const QByteArray& contents, int error) {
    for (qsizetype at = 0; error == 0 && at < contents.size();) {
        const ssize_t put = ::write(fd, contents.constData() + at, size_t(contents.size() - at));
        if (put > 0)
            at += put;
        else if (put == 0 || errno != EINTR)
            error = put == 0 ? ENOSPC : errno;
    }
    if (error == 0 && ::fdatasync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

Status writeNewFile(const QString& path, const QByteArray& contents) {
    const auto failed = [&](const QString& why) {
        return Error{ErrorCode::Unwritable,
                     fillIn(QStringLiteral("cannot write %1: %2"), {path, why}), path, why};
    };
    // O_EXCL: a file, a link or anything else of that name is never written.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    const int error = writeSyncClose(fd, contents, 0);
    if (error != 0) {
        ::unlink(QFile::encodeName(path).constData());
        return failed(QString::fromLocal8Bit(std::strerror(error)));
    }
    return done();
}

Status replaceFileThrough(const QString& path, const QString& copy, const QByteArray& contents,
                          NewFile newFile) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = QFile::encodeName(copy);
    const auto failed = [&](int error) -> Status {
        ::unlink(temporary.constData());
        const QString why = QString::fromLocal8Bit(std::strerror(error));
        return Error{ErrorCode::Unwritable, QStringLiteral("cannot write %1: %2").arg(path, why),
                     path, why};
    };
    // Only a regular file is replaced: a link, a FIFO or a device of that
    // name is left as it is, and nothing is written through it.
    const auto notRegular = [&] {
        ::unlink(temporary.constData());
        return Error{ErrorCode::NotRegular,
                     path + QStringLiteral(" is not a regular file (a link, a folder, a FIFO or a "
                                           "device): nothing was written"),
                     path};
    };
    struct stat old = {};
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return notRegular();
    if (exists && ::access(target.constData(), W_OK) != 0)
        return failed(errno);
    ::unlink(temporary.constData());
    // A shared file (a page, the metrics) others may read but never write,
    // whatever the umask and whatever mode the file had before.
    const mode_t othersWrite = newFile == NewFile::Shared ? S_IWGRP | S_IWOTH : 0;
    const int fd = ::open(temporary.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                          newFile == NewFile::Private ? 0600 : 0644);
    if (fd < 0)
        return failed(errno);
    const int error = writeSyncClose(
        fd, contents, exists && ::fchmod(fd, old.st_mode & 07777 & ~othersWrite) != 0 ? errno : 0);
    if (error != 0)
        return failed(error);
    // Once more just before the rename: a link planted meanwhile stays.
    struct stat now = {};
    if (::lstat(target.constData(), &now) == 0 && !S_ISREG(now.st_mode))
        return notRegular();
    if (::rename(temporary.constData(), target.constData()) != 0)
        return failed(errno);
    return done();
}

void syncFolderOf(const QString& file) {
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace kt::shell
