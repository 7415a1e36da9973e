#include "regular_file.h"
#include "regular_file_parts.h"
#include "text_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kt::shell {

namespace parts {

namespace {

// "4 MB", "64 KB", "100 bytes".
QString sizeText(qint64 bytes) {
    if (bytes % (1024 * 1024) == 0)
        return QString::number(bytes / (1024 * 1024)) + QStringLiteral(" MB");
    if (bytes % 1024 == 0)
        return QString::number(bytes / 1024) + QStringLiteral(" KB");
    return QString::number(bytes) + QStringLiteral(" bytes");
}

} // namespace

Error problem(ErrorCode code, const QString& path, qint64 maxBytes) {
    switch (code) {
    case ErrorCode::NotFound:
        return {code, QStringLiteral("%1 - no such file").arg(path), path};
    case ErrorCode::NotRegular:
        return {code,
                QStringLiteral("%1 is not a regular file (a folder, a FIFO or a device)").arg(path),
                path};
    case ErrorCode::TooLarge:
        return {code,
                fillIn(QStringLiteral("%1 is larger than any such file can be (over %2)"),
                       {path, sizeText(maxBytes)}),
                path};
    case ErrorCode::Denied:
        return {code, QStringLiteral("%1 - permission denied").arg(path), path};
    case ErrorCode::Unreadable:
    case ErrorCode::InUse:
    case ErrorCode::Unwritable:
    case ErrorCode::Invalid:
    case ErrorCode::Unreachable:
    case ErrorCode::Untrusted:
        break;
    }
    return {ErrorCode::Unreadable, QStringLiteral("%1 cannot be read").arg(path), path};
}

// Qt's own files (resources such as the shipped texts) and other systems.
Result<qint64> checkThroughQt(const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.exists())
        return problem(ErrorCode::NotFound, path, maxBytes);
    if (!info.isFile())
        return problem(ErrorCode::NotRegular, path, maxBytes);
    if (info.size() > maxBytes)
        return problem(ErrorCode::TooLarge, path, maxBytes);
    if (!info.isReadable())
        return problem(ErrorCode::Denied, path, maxBytes);
    return info.size();
}

Result<QByteArray> readThroughQt(const QString& path, qint64 maxBytes) {
    if (const Result<qint64> checked = checkThroughQt(path, maxBytes); !checked)
        return checked.error();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return problem(ErrorCode::Unreadable, path, maxBytes);
    QByteArray data = in.read(maxBytes + 1);
    if (data.size() > maxBytes)
        return problem(ErrorCode::TooLarge, path, maxBytes);
    if (in.error() != QFileDevice::NoError)
        return problem(ErrorCode::Unreadable, path, maxBytes);
    return data;
}

bool isResource(const QString& path) {
    return path.startsWith(u':');
}

} // namespace parts

namespace {

// Opened, and a regular file of at most `maxBytes`.
Result<std::pair<parts::FileHandle, qint64>> openRegular(const QString& path, qint64 maxBytes) {
    const auto opened = parts::openToRead(path);
    if (!opened)
        return parts::problem(opened.error().code, path, maxBytes);
    if (opened->second > maxBytes) {
        parts::closeFile(opened->first);
        return parts::problem(ErrorCode::TooLarge, path, maxBytes);
    }
    return *opened;
}

} // namespace

Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes) {
    if (parts::isResource(path))
        return parts::readThroughQt(path, maxBytes);
    const auto opened = openRegular(path, maxBytes);
    if (!opened)
        return opened.error();
    const auto [file, size] = *opened;
    // A file that grows while it is read is still read only up to the limit.
    QByteArray data;
    data.reserve(size);
    char buffer[64 * 1024];
    ErrorCode failure = ErrorCode::Invalid; // none
    for (;;) {
        const Result<qint64> got = parts::readSome(file, buffer, sizeof buffer);
        if (!got) {
            failure = got.error().code;
            break;
        }
        if (*got == 0)
            break;
        if (data.size() + *got > maxBytes) {
            failure = ErrorCode::TooLarge;
            break;
        }
        data.append(buffer, *got);
    }
    parts::closeFile(file);
    if (failure != ErrorCode::Invalid)
        return parts::problem(failure, path, maxBytes);
    return data;
}

Result<qint64> checkRegularFile(const QString& path, qint64 maxBytes) {
    if (parts::isResource(path))
        return parts::checkThroughQt(path, maxBytes);
    const auto opened = openRegular(path, maxBytes);
    if (!opened)
        return opened.error();
    parts::closeFile(opened->first);
    return opened->second;
}

namespace {

Error unwritable(const QString& path, const QString& why) {
    return {ErrorCode::Unwritable, fillIn(QStringLiteral("cannot write %1: %2"), {path, why}), path,
            why};
}

} // namespace

Status writeNewFile(const QString& path, const QByteArray& contents) {
    if (const Status made = parts::writeCreated(path, contents, {}, NewFile::Private, false); !made)
        return unwritable(path, made.error().reason);
    return done();
}

Status replaceFileThrough(const QString& path, const QString& copy, const QByteArray& contents,
                          NewFile newFile) {
    const auto failed = [&](const Error& error) -> Status {
        parts::removeFile(copy);
        return unwritable(path, error.reason);
    };
    // Only a regular file is replaced: a link, a FIFO or a device of that
    // name is left as it is, and nothing is written through it.
    const auto notRegular = [&]() -> Status {
        parts::removeFile(copy);
        return Error{ErrorCode::NotRegular,
                     path + QStringLiteral(" is not a regular file (a link, a folder, a FIFO or a "
                                           "device): nothing was written"),
                     path};
    };
    const parts::Kind before = parts::kindAt(path);
    if (before == parts::Kind::Other)
        return notRegular();
    const Result<parts::Kept> kept =
        before == parts::Kind::Regular ? parts::keptOf(path) : parts::Kept{};
    if (!kept)
        return failed(kept.error());
    // A copy a killed writer left goes; the new one is this writer's alone.
    parts::removeFile(copy);
    if (const Status made = parts::writeCreated(copy, contents, *kept, newFile, true); !made)
        return failed(made.error());
    // Once more just before the rename: a link planted meanwhile stays.
    if (parts::kindAt(path) == parts::Kind::Other)
        return notRegular();
    if (const Status moved = parts::moveOver(copy, path); !moved)
        return failed(moved.error());
    return done();
}

QString hiddenCopyOf(const QString& path) {
    const QFileInfo info(path);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".kt560ax-tmp"));
}

Status replaceFile(const QString& path, const QByteArray& contents) {
    return replaceFileThrough(path, hiddenCopyOf(path), contents, NewFile::Shared);
}

Status replacePrivateFile(const QString& path, const QByteArray& contents) {
    return replaceFileThrough(path, hiddenCopyOf(path), contents, NewFile::Private);
}

} // namespace kt::shell
