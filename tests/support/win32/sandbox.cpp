#include "support/support.h"

#include <string>

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

const char kNullDevice[] = "NUL";

std::string makePipe(const Sandbox&) {
    const std::string name = "\\\\.\\pipe\\vlmaudit-tests-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe =
        CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    return name;
}
