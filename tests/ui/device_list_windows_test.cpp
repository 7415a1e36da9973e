// The COM ports Windows lists, by the device behind each: a device name
// longer than most does not end the list.
#include "ui/device_list.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

TEST(WindowsDeviceList, ALongDeviceNameDoesNotEndTheList) {
    HKEY ports = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &ports, nullptr),
              ERROR_SUCCESS);
    // Values are listed by name: the long one comes before the short one.
    const std::wstring longDevice = L"\\Device\\A" + std::wstring(400, L'x');
    const std::wstring shortDevice = L"\\Device\\B";
    const auto set = [&](const std::wstring& device, const wchar_t* port) {
        return RegSetValueExW(ports, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                              DWORD((wcslen(port) + 1) * sizeof(wchar_t)));
    };
    ASSERT_EQ(set(longDevice, L"COM41"), ERROR_SUCCESS);
    ASSERT_EQ(set(shortDevice, L"COM42"), ERROR_SUCCESS);
    const QString lines = kt::ui::serialDeviceLines().join(u'\n');
    RegDeleteValueW(ports, longDevice.c_str());
    RegDeleteValueW(ports, shortDevice.c_str());
    RegCloseKey(ports);
    EXPECT_TRUE(lines.contains(QStringLiteral("COM41"))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("COM42"))) << lines.toStdString();
}

} // namespace
