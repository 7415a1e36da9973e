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

namespace {

// Whether the lock file open as `file` is to be deleted once its handles
// close: its name refuses new opens meanwhile and is gone after.
bool deletePending(HANDLE file) {
    FILE_STANDARD_INFO info = {};
    return GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
           info.DeletePending;
}

} // namespace

FileLock::Outcome FileLock::take(const QString& lockFile, Mode mode) {
    release();
    const std::wstring path = QDir::toNativeSeparators(lockFile).toStdWString();
    // Nobody opens the file to be deleted on close, which would make its
    // name refuse every open until the last holder closed it: the last
    // holder deletes it in release(), while it has it alone. A lock on a
    // file whose deletion is pending does not count, and the lock starts
    // again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                            FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            // A name whose deletion is pending refuses opens until the
            // handles still open on it, each about to close, are closed.
            if (GetLastError() == ERROR_ACCESS_DENIED && attempt + 1 < 100) {
                Sleep(1);
                continue;
            }
            return Outcome::Unopenable;
        }
        OVERLAPPED whole = {};
        const DWORD flags =
            LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        const bool locked = LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &whole);
        const DWORD error = locked ? ERROR_SUCCESS : GetLastError();
        if (locked && !deletePending(file)) {
            handle_ = std::make_unique<Handle>(Handle{file});
            return Outcome::Held;
        }
        const bool going = deletePending(file);
        CloseHandle(file);
        if (going)
            continue;
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
    // The lock file goes only while this holder has it alone; one that
    // opened it meanwhile sees its deletion pending and starts again.
    if (LockFileEx(handle_->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole)) {
        FILE_DISPOSITION_INFO gone = {TRUE};
        SetFileInformationByHandle(handle_->file, FileDispositionInfo, &gone, sizeof gone);
    }
    CloseHandle(handle_->file);
    handle_.reset();
}

} // namespace kt::shell
