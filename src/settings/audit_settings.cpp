#include "audit_settings.h"

namespace {

const WCHAR kVelmorKey[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");
const WCHAR kFlagValue[] = WSTR("wsxlumEvent");
const WCHAR kSourceKey[] =
    WSTR("System\\CurrentControlSet\\Services\\EventLog\\Application\\wsxlum");
const WCHAR kMessageFile[] = WSTR("%SYSTEMROOT%\\System32\\wsxlum.dll");
const DWORD kTypesSupported = 0x1F; // error, warning, information, audit success, audit failure

void storeDword(BYTE* bytes, DWORD value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<BYTE>(value >> (8 * i));
}

int report(LONG result, LONG* status) {
    if (status)
        *status = result;
    return result == ERROR_SUCCESS;
}

} // namespace

int isAuditingEnabled() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmorKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    // Cleared first, so a value stored with fewer than four bytes reads as the little-endian
    // number those bytes make.
    BYTE bytes[4] = {0, 0, 0, 0};
    DWORD type = REG_NONE;
    DWORD size = sizeof bytes;
    LONG result = RegQueryValueExW(key, kFlagValue, nullptr, &type, bytes, &size);
    RegCloseKey(key);
    DWORD value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
    return result == ERROR_SUCCESS && type == REG_DWORD && value != 0;
}

int setAuditingFlag(int on, LONG* status) {
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVelmorKey, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return report(result, status);
    BYTE bytes[4];
    storeDword(bytes, on ? 1 : 0);
    result = RegSetValueExW(key, kFlagValue, 0, REG_DWORD, bytes, sizeof bytes);
    RegCloseKey(key);
    return report(result, status);
}

int registerEventSource(LONG* status) {
    HKEY key;
    DWORD disposition;
    LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS)
        return report(result, status);
    BYTE types[4];
    storeDword(types, kTypesSupported);
    RegSetValueExW(key, WSTR("TypesSupported"), 0, REG_DWORD, types, sizeof types);
    result = RegSetValueExW(key, WSTR("EventMessageFile"), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(kMessageFile), sizeof kMessageFile);
    RegCloseKey(key);
    return report(result, status);
}
