#include "device_list.h"

#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::ui {

QStringList serialDeviceLines() {
    // The system's list of its serial ports: each port's name, by the
    // device behind it ("\Device\Serial0", "\Device\USBSER000").
    QStringList lines;
    HKEY ports = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      &ports) != ERROR_SUCCESS)
        return lines;
    // Buffers of the longest name and value the key holds; one longer,
    // written meanwhile, is passed over, and the list goes on.
    DWORD longestName = 0;
    DWORD longestValue = 0;
    if (RegQueryInfoKeyW(ports, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longestName, &longestValue, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(ports);
        return lines;
    }
    std::vector<wchar_t> device(longestName + 1);
    std::vector<wchar_t> port(longestValue / sizeof(wchar_t) + 1);
    for (DWORD index = 0;; ++index) {
        DWORD deviceLength = DWORD(device.size());
        DWORD portBytes = DWORD(port.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS status =
            RegEnumValueW(ports, index, device.data(), &deviceLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(port.data()), &portBytes);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        const QString name = QString::fromWCharArray(port.data(), int(portBytes / sizeof(wchar_t)))
                                 .section(QChar(0), 0, 0);
        lines.append(deviceLine(name, {QString::fromWCharArray(device.data(), int(deviceLength))}));
    }
    RegCloseKey(ports);
    lines.sort();
    return lines;
}

} // namespace kt::ui
