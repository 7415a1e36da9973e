#include "regular_file.h"
#include "regular_file_parts.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kt::shell {

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

} // namespace

namespace parts {

Result<std::pair<FileHandle, qint64>> openToRead(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return Error{codeOfErrno(errno), {}};
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Error{ErrorCode::NotRegular, {}};
    }
    return std::pair(FileHandle(fd), qint64(info.st_size));
}

Result<qint64> readSome(FileHandle file, char* buffer, qint64 size) {
    for (;;) {
        const ssize_t got = ::read(int(file), buffer, size_t(size));
        if (got >= 0)
            return qint64(got);
        if (errno != EINTR)
            return Error{codeOfErrno(errno), {}};
    }
}

void closeFile(FileHandle file) {
    ::close(int(file));
}

namespace {

Error systemError(int error) {
    return Error{ErrorCode::Unwritable, {}, {}, QString::fromLocal8Bit(std::strerror(error))};
}

} // namespace

Kind kindAt(const QString& path) {
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Kind::None;
    return S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
}

Result<Kept> keptOf(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 || ::access(name.constData(), W_OK) != 0)
        return systemError(errno);
    return Kept{std::make_shared<mode_t>(info.st_mode & 07777)};
}

Status writeCreated(const QString& path, const QByteArray& contents, const Kept& kept,
                    NewFile newFile, bool) {
    const QByteArray name = QFile::encodeName(path);
    // O_EXCL: a file, a link or anything else of that name is never written.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
               newFile == NewFile::Private ? 0600 : 0644);
    if (fd < 0)
        return systemError(errno);
    // A shared file (a page, the metrics) others may read but never write,
    // whatever the umask and whatever mode the file had before.
    const mode_t othersWrite = newFile == NewFile::Shared ? S_IWGRP | S_IWOTH : 0;
    int error = 0;
    if (kept.permissions &&
        ::fchmod(fd, *static_cast<const mode_t*>(kept.permissions.get()) & ~othersWrite) != 0)
        error = errno;
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
    if (error == 0)
        return done();
    ::unlink(name.constData());
    return systemError(error);
}

void removeFile(const QString& path) {
    ::unlink(QFile::encodeName(path).constData());
}

Status moveOver(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return systemError(errno);
    return done();
}

} // namespace parts

void syncFolderOf(const QString& file) {
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace kt::shell
