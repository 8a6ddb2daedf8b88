#include "support/support.h"

namespace {
const WCHAR kScratch[] = L"Software\\vlmaudit-tests\\HKLM";
}

// HKEY_LOCAL_MACHINE of this process becomes a scratch key below HKEY_CURRENT_USER for as long
// as the sandbox lives.
Sandbox::Sandbox() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    HKEY scratch;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &scratch, nullptr);
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS)
        std::abort(); // never run a registry test against the real hive
    rc = RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch);
    RegCloseKey(scratch);
    if (rc != ERROR_SUCCESS)
        std::abort();
}

Sandbox::~Sandbox() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\vlmaudit-tests");
}
