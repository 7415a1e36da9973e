#include "user_folders.h"
#include "write_problem.h"

#include <QDir>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::shell {

const char* mediumProblemKey(const QString& folder) {
    const std::wstring local = QDir::toNativeSeparators(folder).toStdWString();
    wchar_t volume[MAX_PATH] = {};
    DWORD flags = 0;
    if (GetVolumePathNameW(local.c_str(), volume, MAX_PATH) &&
        GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_READ_ONLY_VOLUME))
        return "FileReadOnly";
    ULARGE_INTEGER available = {};
    if (GetDiskFreeSpaceExW(local.c_str(), &available, nullptr, nullptr) && available.QuadPart == 0)
        return "FileDiskFull";
    if (!mayWriteIn(folder))
        return "FileFolderDenied";
    return nullptr;
}

} // namespace kt::shell
