// The Windows operations the program uses, as the posix stand-in provides them: same names,
// same argument order, same result codes. WCHAR is a UTF-16 unit here too.
#pragma once

#include <cstddef>
#include <cstdint>

using WCHAR = char16_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using BOOL = int;
using LCID = DWORD;
using REGSAM = DWORD;
using NTSTATUS = LONG;
using HANDLE = void*;

struct PosixRegistryKey;
using HKEY = PosixRegistryKey*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct LARGE_INTEGER {
    int64_t QuadPart;
};

#define WSTR(s) u##s
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_HANDLE_EOF = 38;
constexpr LONG ERROR_NOT_SUPPORTED = 50;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_BAD_FILE_TYPE = 222;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_DIRECTORY = 267;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_FILE_CORRUPT = 1392;
constexpr LONG ERROR_EVENTLOG_FILE_CORRUPT = 1500;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x0010;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x0080;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

constexpr DWORD EVENTLOG_SEQUENTIAL_READ = 0x0001;
constexpr DWORD EVENTLOG_SEEK_READ = 0x0002;
constexpr DWORD EVENTLOG_FORWARDS_READ = 0x0004;
constexpr DWORD EVENTLOG_BACKWARDS_READ = 0x0008;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr DWORD LOCALE_STIME = 0x001E;
constexpr DWORD LOCALE_STIMEFORMAT = 0x1003;
constexpr DWORD DATE_SHORTDATE = 0x0001;
constexpr DWORD TIME_NOMINUTESORSECONDS = 0x0001;
constexpr DWORD TIME_NOSECONDS = 0x0002;
constexpr DWORD TIME_NOTIMEMARKER = 0x0004;
constexpr DWORD TIME_FORCE24HOURFORMAT = 0x0008;

// Registry: $VLMAUDIT_ROOT/registry/HKEY_LOCAL_MACHINE.reg.
LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegCloseKey(HKEY key);

// Event log: $VLMAUDIT_ROOT/eventlog/<Log>.evt.
HANDLE OpenEventLogW(const WCHAR* serverName, const WCHAR* sourceName);
// A saved log at any path (.evt or .evtx, told by its header).
HANDLE OpenBackupEventLogW(const WCHAR* serverName, const WCHAR* fileName);
// Whether a path is a directory (FILE_ATTRIBUTE_DIRECTORY) or not (FILE_ATTRIBUTE_NORMAL).
DWORD GetFileAttributesW(const WCHAR* fileName);
BOOL ReadEventLogW(HANDLE log, DWORD flags, DWORD recordOffset, void* buffer, DWORD bytesToRead,
                   DWORD* bytesRead, DWORD* minBytesNeeded);
BOOL CloseEventLog(HANDLE log);

DWORD GetLastError();
void SetLastError(DWORD error);

// National-language services and time conversion, from the C library's locale and TZ.
int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, const WCHAR* format,
                   WCHAR* out, int outSize);
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, const WCHAR* format,
                   WCHAR* out, int outSize);
int GetLocaleInfoW(LCID locale, DWORD type, WCHAR* out, int outSize);
void GetSystemTime(SYSTEMTIME* time);
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time);
BOOL SystemTimeToTzSpecificLocalTime(const void* timeZone, const SYSTEMTIME* utc,
                                     SYSTEMTIME* local);
void RtlSecondsSince1970ToTime(ULONG seconds, LARGE_INTEGER* time);
BOOL RtlTimeToSecondsSince1970(const LARGE_INTEGER* time, ULONG* seconds);

// String routines on UTF-16 text, as the Windows C runtime has them for wchar_t.
size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dest, const WCHAR* src);
WCHAR* wcscat(WCHAR* dest, const WCHAR* src);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _stricmp(const char* a, const char* b);
