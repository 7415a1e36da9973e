#include "regular_file.h"
#include "regular_file_parts.h"
#include "text_format.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <aclapi.h>

namespace kt::shell {

using parts::checkThroughQt;
using parts::isResource;
using parts::problem;
using parts::readThroughQt;

namespace {

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

QString systemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("system error %1").arg(error);
    LocalFree(text);
    while (message.endsWith(u'.'))
        message.chop(1);
    return message;
}

ErrorCode codeOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ErrorCode::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return ErrorCode::Denied;
    default:
        return ErrorCode::Unreadable;
    }
}

// A file on a disk, not a folder, a link, a pipe or a device.
bool isRegular(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// What stands at `path` without following a link: nothing, a regular
// file, or something else.
enum class Kind { None, Regular, Other };
Kind kindAt(const QString& path, DWORD* attributes = nullptr) {
    const DWORD found = GetFileAttributesW(native(path).c_str());
    if (attributes)
        *attributes = found;
    if (found == INVALID_FILE_ATTRIBUTES)
        return Kind::None;
    return (found &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0
               ? Kind::Regular
               : Kind::Other;
}

// Opens for reading without following a link, and checks what was opened.
Result<std::pair<HANDLE, qint64>> openRegular(const QString& path, qint64 maxBytes) {
    const HANDLE file = CreateFileW(native(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder cannot be opened as a file.
        return problem(error == ERROR_ACCESS_DENIED && kindAt(path) == Kind::Other
                           ? ErrorCode::NotRegular
                           : codeOf(error),
                       path, maxBytes);
    }
    LARGE_INTEGER size = {};
    if (!isRegular(file) || !GetFileSizeEx(file, &size) || size.QuadPart > maxBytes) {
        const bool regular = isRegular(file);
        CloseHandle(file);
        return problem(regular ? ErrorCode::TooLarge : ErrorCode::NotRegular, path, maxBytes);
    }
    return std::pair(file, qint64(size.QuadPart));
}

// Writes all of `contents` to `file`, flushes it to the disk and closes it;
// the first error, 0 when all went well.
DWORD writeFlushClose(HANDLE file, const QByteArray& contents) {
    DWORD error = 0;
    for (qsizetype at = 0; error == 0 && at < contents.size();) {
        DWORD put = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(contents.size() - at, 1 << 20));
        if (!WriteFile(file, contents.constData() + at, chunk, &put, nullptr))
            error = GetLastError();
        else if (put == 0)
            error = ERROR_DISK_FULL;
        at += put;
    }
    if (error == 0 && !FlushFileBuffers(file))
        error = GetLastError();
    if (!CloseHandle(file) && error == 0)
        error = GetLastError();
    return error;
}

} // namespace

Result<QByteArray> readRegularFile(const QString& path, qint64 maxBytes) {
    if (isResource(path))
        return readThroughQt(path, maxBytes);
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
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            failure = codeOf(GetLastError());
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
    CloseHandle(file);
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
    CloseHandle(opened->first);
    return opened->second;
}

Status writeNewFile(const QString& path, const QByteArray& contents) {
    const auto failed = [&](DWORD error) {
        return Error{ErrorCode::Unwritable,
                     fillIn(QStringLiteral("cannot write %1: %2"), {path, systemMessage(error)}),
                     path, systemMessage(error)};
    };
    // CREATE_NEW: a file, a link or anything else of that name is never
    // written. The file gets the permissions of its folder: in the user's
    // profile, the user's alone.
    const HANDLE file = CreateFileW(native(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failed(GetLastError());
    if (const DWORD error = writeFlushClose(file, contents); error != 0) {
        DeleteFileW(native(path).c_str());
        return failed(error);
    }
    return done();
}

Status replaceFileThrough(const QString& path, const QString& copy, const QByteArray& contents,
                          NewFile) {
    const std::wstring target = native(path);
    const std::wstring temporary = native(copy);
    const auto failed = [&](DWORD error) -> Status {
        DeleteFileW(temporary.c_str());
        return Error{ErrorCode::Unwritable,
                     fillIn(QStringLiteral("cannot write %1: %2"), {path, systemMessage(error)}),
                     path, systemMessage(error)};
    };
    // Only a regular file is replaced: a link, a folder or a device of that
    // name is left as it is, and nothing is written through it.
    const auto notRegular = [&] {
        DeleteFileW(temporary.c_str());
        return Error{ErrorCode::NotRegular,
                     path + QStringLiteral(" is not a regular file (a link, a folder, a FIFO or a "
                                           "device): nothing was written"),
                     path};
    };
    DWORD attributes = 0;
    const Kind before = kindAt(path, &attributes);
    if (before == Kind::Other)
        return notRegular();
    if (before == Kind::Regular && (attributes & FILE_ATTRIBUTE_READONLY))
        return failed(ERROR_ACCESS_DENIED);
    // The permissions of the file replaced, which the replacement keeps.
    PACL permissions = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (before == Kind::Regular &&
        GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &permissions, nullptr, &held) != ERROR_SUCCESS)
        held = nullptr;
    const std::unique_ptr<void, decltype(&LocalFree)> descriptor(held, &LocalFree);
    DeleteFileW(temporary.c_str());
    // Made for this writer alone, hidden beside the file; it takes the
    // permissions of the folder, which in the user's profile are the
    // user's alone, and then those of the file it replaces.
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failed(GetLastError());
    if (const DWORD error = writeFlushClose(file, contents); error != 0)
        return failed(error);
    if (descriptor) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
        const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED)
                                                     ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION;
        std::wstring copyName = temporary;
        if (const DWORD error = SetNamedSecurityInfoW(copyName.data(), SE_FILE_OBJECT,
                                                      DACL_SECURITY_INFORMATION | inheritance,
                                                      nullptr, nullptr, permissions, nullptr);
            error != ERROR_SUCCESS)
            return failed(error);
    }
    // Once more just before the replacement: a link planted meanwhile stays.
    if (kindAt(path) == Kind::Other)
        return notRegular();
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failed(GetLastError());
    // The replacement keeps the hidden mark of the copy: the file is not hidden.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return done();
}

// MOVEFILE_WRITE_THROUGH makes each replacement durable when it returns.
void syncFolderOf(const QString&) {}

} // namespace kt::shell
