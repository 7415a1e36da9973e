#include "regular_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kt::shell {

namespace {

#ifdef Q_OS_UNIX
FileProblem problemOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return FileProblem::Missing;
    case EACCES:
    case EPERM:
        return FileProblem::Denied;
    case EISDIR:
    case ENXIO: // a FIFO or socket without the other end
        return FileProblem::NotRegular;
    default:
        return FileProblem::Unreadable;
    }
}

// Opens without blocking and checks what was opened; -1 with `problem` set.
int openRegular(const QString& path, qint64 maxBytes, FileProblem* problem, qint64* size) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *problem = problemOfErrno(errno);
        return -1;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes) {
        *problem = !S_ISREG(info.st_mode) ? FileProblem::NotRegular : FileProblem::TooLarge;
        ::close(fd);
        return -1;
    }
    *size = info.st_size;
    *problem = FileProblem::None;
    return fd;
}
#endif

} // namespace

namespace {

// Qt's own files (resources such as the shipped texts) and other systems.
FileProblem readThroughQt(const QString& path, QByteArray* data, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.exists())
        return FileProblem::Missing;
    if (!info.isFile())
        return FileProblem::NotRegular;
    if (info.size() > maxBytes)
        return FileProblem::TooLarge;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return info.isReadable() ? FileProblem::Unreadable : FileProblem::Denied;
    *data = in.read(maxBytes + 1);
    if (data->size() > maxBytes) {
        data->clear();
        return FileProblem::TooLarge;
    }
    return in.error() == QFileDevice::NoError ? FileProblem::None : FileProblem::Unreadable;
}

bool isResource(const QString& path) {
    return path.startsWith(u':');
}

} // namespace

FileProblem readRegularFile(const QString& path, QByteArray* data, qint64 maxBytes) {
    data->clear();
#ifdef Q_OS_UNIX
    if (isResource(path))
        return readThroughQt(path, data, maxBytes);
    FileProblem problem = FileProblem::None;
    qint64 size = 0;
    const int fd = openRegular(path, maxBytes, &problem, &size);
    if (fd < 0)
        return problem;
    // A file that grows while it is read is still read only up to the limit.
    data->reserve(size);
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = problemOfErrno(errno);
            break;
        }
        if (got == 0)
            break;
        if (data->size() + got > maxBytes) {
            problem = FileProblem::TooLarge;
            break;
        }
        data->append(buffer, got);
    }
    ::close(fd);
    if (problem != FileProblem::None)
        data->clear();
    return problem;
#else
    return readThroughQt(path, data, maxBytes);
#endif
}

FileProblem checkRegularFile(const QString& path, qint64 maxBytes) {
#ifdef Q_OS_UNIX
    if (isResource(path))
        return QFileInfo(path).isFile() ? FileProblem::None : FileProblem::Missing;
    FileProblem problem = FileProblem::None;
    qint64 size = 0;
    const int fd = openRegular(path, maxBytes, &problem, &size);
    if (fd >= 0)
        ::close(fd);
    return problem;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return FileProblem::Missing;
    if (!info.isFile())
        return FileProblem::NotRegular;
    if (info.size() > maxBytes)
        return FileProblem::TooLarge;
    return info.isReadable() ? FileProblem::None : FileProblem::Denied;
#endif
}

QString describeFileProblem(FileProblem problem, const QString& path) {
    switch (problem) {
    case FileProblem::None:
        return {};
    case FileProblem::Missing:
        return QStringLiteral("%1 - no such file").arg(path);
    case FileProblem::NotRegular:
        return QStringLiteral("%1 is not a regular file (a folder, a FIFO or a device)").arg(path);
    case FileProblem::TooLarge:
        return QStringLiteral("%1 is larger than any backup can be (over %2 MB)")
            .arg(path)
            .arg(kMaxIniFileBytes / (1024 * 1024));
    case FileProblem::Denied:
        return QStringLiteral("%1 - permission denied").arg(path);
    case FileProblem::Unreadable:
        break;
    }
    return QStringLiteral("%1 cannot be read").arg(path);
}

} // namespace kt::shell
