// A chain of processes for the test of a hook's time limit on Windows
// (tests/fleet/process_group_windows_test.cpp): it starts a copy of itself
// with DEPTH one less, as long as DEPTH is above one, then makes an empty
// file named by its process id in FOLDER and waits to be ended.
//   process_chain DEPTH FOLDER
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const int depth = std::atoi(argv[1]);
    const char* folder = argv[2];
    if (depth > 1) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        char line[3 * MAX_PATH];
        std::snprintf(line, sizeof line, "\"%s\" %d \"%s\"", self, depth - 1, folder);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (!CreateProcessA(self, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &child))
            return 1;
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    char mark[2 * MAX_PATH];
    std::snprintf(mark, sizeof mark, "%s\\%lu", folder, GetCurrentProcessId());
    const HANDLE file =
        CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(file);
    Sleep(INFINITE);
}
