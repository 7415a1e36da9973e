#include "device_list.h"

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
    for (DWORD index = 0; index < 256; ++index) {
        wchar_t device[256];
        wchar_t port[64];
        DWORD deviceLength = 256;
        DWORD portBytes = sizeof port;
        DWORD type = 0;
        if (RegEnumValueW(ports, index, device, &deviceLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(port), &portBytes) != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        const QString name =
            QString::fromWCharArray(port, int(portBytes / sizeof(wchar_t))).section(QChar(0), 0, 0);
        lines.append(deviceLine(name, {QString::fromWCharArray(device, int(deviceLength))}));
    }
    RegCloseKey(ports);
    lines.sort();
    return lines;
}

} // namespace kt::ui
