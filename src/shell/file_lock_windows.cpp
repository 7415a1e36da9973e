#include "file_lock.h"

#include <QDir>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::shell {

struct FileLock::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
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
    const std::wstring path = QDir::toNativeSeparators(lockFile).toStdWString();
    // Every holder opens the file to be deleted on close, and lets others
    // open and delete it too: the system removes it when the last handle
    // closes, and never while one is open.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE file = CreateFileW(
            path.c_str(), GENERIC_READ | DELETE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_FLAG_DELETE_ON_CLOSE |
                FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            // The name of a file whose last holder is closing it stays a
            // moment in a pending state: try again.
            if (GetLastError() == ERROR_ACCESS_DENIED && attempt + 1 < 100) {
                Sleep(1);
                continue;
            }
            return Outcome::Unopenable;
        }
        OVERLAPPED whole = {};
        const DWORD flags =
            LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
            handle_ = std::make_unique<Handle>(Handle{file});
            return Outcome::Held;
        }
        const DWORD error = GetLastError();
        CloseHandle(file);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Outcome::Busy
                                                                          : Outcome::Unopenable;
    }
    return Outcome::Busy;
}

void FileLock::release() {
    if (!handle_)
        return;
    OVERLAPPED whole = {};
    UnlockFileEx(handle_->file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(handle_->file);
    handle_.reset();
}

} // namespace kt::shell
