#include "file_lock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kt::shell {

namespace {

// Whether `path` still names the file open as `fd`.
bool namesOpenFile(const QByteArray& path, int fd) {
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

struct FileLock::Handle {
    int fd = -1;
    QByteArray path;
};

FileLock::FileLock() = default;

FileLock::~FileLock() {
    release();
}

bool FileLock::held() const {
    return handle_ != nullptr;
}

FileLock::Outcome FileLock::take(const QString& lockFile, Mode mode) {
    release();
    const QByteArray path = QFile::encodeName(lockFile);
    // The last holder removes the lock file while it holds it, so a lock is
    // held only once the name still leads to the file locked; otherwise the
    // file was removed meanwhile and the lock starts again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        0600);
        if (fd < 0)
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return Outcome::Unopenable;
        int locked;
        while ((locked = ::flock(fd, (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB)) !=
                   0 &&
               errno == EINTR) {
        }
        const bool busy = locked != 0 && errno == EWOULDBLOCK;
        const bool named = namesOpenFile(path, fd);
        if (locked == 0 && named) {
            handle_ = std::make_unique<Handle>(Handle{fd, path});
            return Outcome::Held;
        }
        ::close(fd);
        if (busy && named)
            return Outcome::Busy;
        if (!busy && locked != 0)
            return Outcome::Unopenable;
    }
    return Outcome::Busy;
}

void FileLock::release() {
    if (!handle_)
        return;
    // The lock file goes only while this holder has it alone: one that
    // opened it meanwhile finds the name gone once it has the lock, and
    // starts again.
    if (::flock(handle_->fd, LOCK_EX | LOCK_NB) == 0 && namesOpenFile(handle_->path, handle_->fd))
        ::unlink(handle_->path.constData());
    ::close(handle_->fd);
    handle_.reset();
}

} // namespace kt::shell
