#include "regular_file.h"
#include "regular_file_parts.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <aclapi.h>

namespace kt::shell {

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

Error systemError(DWORD error) {
    return Error{ErrorCode::Unwritable, {}, {}, systemMessage(error)};
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

namespace parts {

Result<std::pair<FileHandle, qint64>> openToRead(const QString& path) {
    const HANDLE file = CreateFileW(native(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder cannot be opened as a file.
        return Error{error == ERROR_ACCESS_DENIED && kindAt(path) == Kind::Other
                         ? ErrorCode::NotRegular
                         : codeOf(error),
                     {}};
    }
    LARGE_INTEGER size = {};
    if (!isRegular(file) || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return Error{ErrorCode::NotRegular, {}};
    }
    return std::pair(FileHandle(file), qint64(size.QuadPart));
}

Result<qint64> readSome(FileHandle file, char* buffer, qint64 size) {
    DWORD got = 0;
    if (!ReadFile(HANDLE(file), buffer, DWORD(size), &got, nullptr))
        return Error{codeOf(GetLastError()), {}};
    return qint64(got);
}

void closeFile(FileHandle file) {
    CloseHandle(HANDLE(file));
}

Kind kindAt(const QString& path) {
    const DWORD found = GetFileAttributesW(native(path).c_str());
    if (found == INVALID_FILE_ATTRIBUTES)
        return Kind::None;
    return (found &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0
               ? Kind::Regular
               : Kind::Other;
}

Result<Kept> keptOf(const QString& path) {
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return systemError(ERROR_ACCESS_DENIED);
    PACL permissions = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    if (GetNamedSecurityInfoW(native(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &permissions, nullptr, &held) != ERROR_SUCCESS)
        return Kept{};
    return Kept{std::shared_ptr<void>(held, &LocalFree)};
}

Status writeCreated(const QString& path, const QByteArray& contents, const Kept& kept, NewFile,
                    bool hidden) {
    const std::wstring name = native(path);
    // CREATE_NEW: a file, a link or anything else of that name is never
    // written. The file gets the permissions of its folder (in the user's
    // profile, the user's alone), then those it keeps.
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return systemError(GetLastError());
    DWORD error = writeFlushClose(file, contents);
    if (error == 0 && kept.permissions) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        BOOL present = FALSE, defaulted = FALSE;
        PACL permissions = nullptr;
        GetSecurityDescriptorControl(kept.permissions.get(), &control, &revision);
        GetSecurityDescriptorDacl(kept.permissions.get(), &present, &permissions, &defaulted);
        const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED)
                                                     ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION;
        std::wstring copyName = name;
        error = SetNamedSecurityInfoW(copyName.data(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                                      permissions, nullptr);
    }
    if (error == 0)
        return done();
    DeleteFileW(name.c_str());
    return systemError(error);
}

void removeFile(const QString& path) {
    DeleteFileW(native(path).c_str());
}

Status moveOver(const QString& from, const QString& to) {
    const std::wstring target = native(to);
    if (!MoveFileExW(native(from).c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return systemError(GetLastError());
    // The replacement keeps the hidden mark of the copy: the file is not hidden.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return done();
}

} // namespace parts

// MOVEFILE_WRITE_THROUGH makes each replacement durable when it returns.
void syncFolderOf(const QString&) {}

} // namespace kt::shell
