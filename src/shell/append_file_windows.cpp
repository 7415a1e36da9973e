#include "append_file.h"

#include <QDir>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <aclapi.h>

namespace kt::shell {

namespace {

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// The owner of an open file, as a security identifier to compare.
struct Owner {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID sid = nullptr;
    explicit Owner(HANDLE file) {
        if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            sid = nullptr;
    }
    ~Owner() { LocalFree(descriptor); }
};

// Whether `owner` is this user, or the owner the system gives the files
// this user makes (an elevated administrator's are the Administrators').
bool isThisUser(PSID owner) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool mine = false;
    for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (!GetTokenInformation(token, kind, buffer, sizeof buffer, &size))
            continue;
        const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
        mine = mine || EqualSid(owner, sid);
    }
    CloseHandle(token);
    return mine;
}

HANDLE openForReading(const QString& path) {
    return CreateFileW(native(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

} // namespace

struct AppendFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
};

AppendFile::AppendFile(QString path) : path_(std::move(path)) {}

AppendFile::~AppendFile() {
    if (handle_)
        CloseHandle(handle_->file);
}

bool AppendFile::append(const QByteArray& bytes) {
    if (!handle_) {
        // Others may read and delete it, as a file of POSIX systems; it
        // takes the permissions of its folder. A link is not followed.
        const HANDLE file =
            CreateFileW(native(path_).c_str(), FILE_APPEND_DATA | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        handle_ = std::make_unique<Handle>(Handle{file});
    }
    LARGE_INTEGER end = {};
    DWORD put = 0;
    return SetFilePointerEx(handle_->file, end, nullptr, FILE_END) &&
           WriteFile(handle_->file, bytes.constData(), DWORD(bytes.size()), &put, nullptr) &&
           put == DWORD(bytes.size());
}

bool AppendFile::sync() {
    return handle_ && FlushFileBuffers(handle_->file);
}

bool AppendFile::empty() {
    if (!handle_)
        return true;
    LARGE_INTEGER start = {};
    return SetFilePointerEx(handle_->file, start, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle_->file);
}

namespace {

// A file or a folder as `directory` asks, not a link of any kind, of the
// owner of `like` when it exists, else of this user.
bool isOwners(const QString& path, const QString& like, bool directory) {
    const HANDLE opened = openForReading(path);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    const DWORD wanted = directory ? FILE_ATTRIBUTE_DIRECTORY : 0;
    bool trusted =
        GetFileType(opened) == FILE_TYPE_DISK && GetFileInformationByHandle(opened, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            wanted;
    const HANDLE model = openForReading(like);
    if (trusted) {
        const Owner mine(opened);
        if (model != INVALID_HANDLE_VALUE) {
            const Owner theirs(model);
            trusted = mine.sid && theirs.sid && EqualSid(mine.sid, theirs.sid);
        } else {
            trusted = mine.sid && isThisUser(mine.sid);
        }
    }
    if (model != INVALID_HANDLE_VALUE)
        CloseHandle(model);
    CloseHandle(opened);
    return trusted;
}

} // namespace

bool isOwnersFile(const QString& file, const QString& like) {
    return isOwners(file, like, false);
}

bool isOwnersFolder(const QString& folder, const QString& like) {
    return isOwners(folder, like, true);
}

// A file here has no mode: who reads it is in its folder's ACL, which the
// user sets up, not judged file by file.
bool othersMayRead(const QString&) {
    return false;
}

} // namespace kt::shell
