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
