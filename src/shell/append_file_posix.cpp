#include "append_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kt::shell {

struct AppendFile::Handle {
    int fd = -1;
};

AppendFile::AppendFile(QString path) : path_(std::move(path)) {}

AppendFile::~AppendFile() {
    if (handle_)
        ::close(handle_->fd);
}

bool AppendFile::append(const QByteArray& bytes) {
    if (!handle_) {
        const int fd = ::open(QFile::encodeName(path_).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return false;
        handle_ = std::make_unique<Handle>(Handle{fd});
    }
    // One write; should the system take only a part (a full disk, a size
    // limit), the rest is tried, so that a failure leaves its reason in
    // errno.
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t put = ::write(handle_->fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        at += put;
    }
    return true;
}

bool AppendFile::sync() {
    return handle_ && ::fdatasync(handle_->fd) == 0;
}

bool AppendFile::empty() {
    return !handle_ || ::ftruncate(handle_->fd, 0) == 0;
}

namespace {

// Opened without following a link and without blocking on a FIFO; then
// judged by what was opened, not by its name.
bool isOwners(const QString& path, const QString& like, int flags, mode_t type) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd < 0)
        return false;
    struct stat seen = {};
    struct stat model = {};
    const uid_t owner =
        ::stat(QFile::encodeName(like).constData(), &model) == 0 ? model.st_uid : ::geteuid();
    const bool trusted = ::fstat(fd, &seen) == 0 && (seen.st_mode & S_IFMT) == type &&
                         seen.st_uid == owner && (seen.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    ::close(fd);
    return trusted;
}

} // namespace

bool isOwnersFile(const QString& file, const QString& like) {
    return isOwners(file, like, 0, S_IFREG);
}

bool isOwnersFolder(const QString& folder, const QString& like) {
    return isOwners(folder, like, O_DIRECTORY, S_IFDIR);
}

bool othersMayRead(const QString& file) {
    struct stat seen = {};
    return ::stat(QFile::encodeName(file).constData(), &seen) == 0 &&
           (seen.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

} // namespace kt::shell
