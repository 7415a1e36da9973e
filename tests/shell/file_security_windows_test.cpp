// Who may use a replaced file on Windows.
#include "shell/regular_file.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

namespace {

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// The DACL of a file in the system's text form, or its error.
std::string permissionsOf(const QString& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (const DWORD error =
            GetNamedSecurityInfoW(native(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &descriptor))
        return "error " + std::to_string(error);
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::string form = QString::fromWCharArray(text).toStdString();
    LocalFree(text);
    LocalFree(descriptor);
    return form;
}

// Sets the DACL of a file from its text form (SDDL), protected from what
// its folder passes on.
void setPermissions(const QString& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring name = native(path);
    EXPECT_EQ(SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr),
              DWORD(ERROR_SUCCESS));
    LocalFree(descriptor);
}

// A replaced file keeps the permissions it had, not its copy's (which come
// from the folder); a new file takes the folder's.
TEST(WindowsFileSecurity, AReplacedFileKeepsItsPermissions) {
    QTemporaryDir dir;
    const QString file = dir.filePath("site.KT");
    ASSERT_TRUE(kt::shell::writeNewFile(file, "old").ok());
    const std::string folders = permissionsOf(file);
    setPermissions(file, L"D:P(A;;FA;;;WD)");
    const std::string kept = permissionsOf(file);
    ASSERT_NE(kept, folders);
    ASSERT_TRUE(kt::shell::replaceFile(file, "new").ok());
    EXPECT_EQ(permissionsOf(file), kept);
    const QString fresh = dir.filePath("new.KT");
    ASSERT_TRUE(kt::shell::replaceFile(fresh, "new").ok());
    EXPECT_EQ(permissionsOf(fresh), folders);
}

} // namespace
