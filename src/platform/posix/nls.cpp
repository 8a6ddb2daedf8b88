// National-language and time functions over the C library: the locale's LC_TIME and TZ.
#include "platform.h"
#include "time_format.h"

#include <cstring>
#include <ctime>
#include <cwchar>
#include <langinfo.h>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

int64_t fileTimeTicks(const FILETIME* t) {
    return static_cast<int64_t>(static_cast<uint64_t>(t->dwHighDateTime) << 32 | t->dwLowDateTime);
}

void toSystemTime(const struct tm& tm, WORD milliseconds, SYSTEMTIME* st) {
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    st->wSecond = static_cast<WORD>(tm.tm_sec);
    st->wMilliseconds = milliseconds;
}

// The calendar fields of st, checked as Windows checks them; 0 when they name no real time.
int toTm(const SYSTEMTIME* st, struct tm* tm, time_t* utcSeconds) {
    if (!st || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
        st->wDay < 1 || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
        st->wMilliseconds > 999)
        return 0;
    std::memset(tm, 0, sizeof *tm);
    tm->tm_year = st->wYear - 1900;
    tm->tm_mon = st->wMonth - 1;
    tm->tm_mday = st->wDay;
    tm->tm_hour = st->wHour;
    tm->tm_min = st->wMinute;
    tm->tm_sec = st->wSecond;
    struct tm check = *tm;
    *utcSeconds = timegm(&check);
    if (check.tm_mday != st->wDay) // 31 April and the like
        return 0;
    tm->tm_wday = check.tm_wday;
    tm->tm_yday = check.tm_yday;
    return 1;
}

// Windows' size protocol: with no buffer the units needed (terminator included); otherwise
// the units written, or 0 with ERROR_INSUFFICIENT_BUFFER.
int deliver(const WString& text, WCHAR* out, int outSize) {
    int needed = static_cast<int>(text.size()) + 1;
    if (outSize == 0)
        return needed;
    if (!out || outSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, text.c_str(), sizeof(WCHAR) * static_cast<size_t>(needed));
    return needed;
}

// strftime in the wide form, so the text comes out right in any LC_CTYPE, then as UTF-16.
WString formatTm(const std::string& format, const struct tm& tm) {
    std::wstring wideFormat(format.begin(), format.end());
    wchar_t buf[256];
    size_t n = std::wcsftime(buf, sizeof buf / sizeof buf[0], wideFormat.c_str(), &tm);
    WString out;
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(buf[i]);
        if (c >= 0x10000) {
            out += static_cast<WCHAR>(0xD800 | ((c - 0x10000) >> 10));
            out += static_cast<WCHAR>(0xDC00 | ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<WCHAR>(c);
        }
    }
    return out;
}

std::string localeTimeFormat() {
    return nl_langinfo(T_FMT);
}

} // namespace

// The locale's %x.
int GetDateFormatW(LCID, DWORD, const SYSTEMTIME* time, const WCHAR*, WCHAR* out, int outSize) {
    struct tm tm;
    time_t ignored;
    if (!toTm(time, &tm, &ignored) || outSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return deliver(formatTm("%x", tm), out, outSize);
}

// The locale's T_FMT, in 24-hour form without marker when asked (always, in this program).
int GetTimeFormatW(LCID, DWORD flags, const SYSTEMTIME* time, const WCHAR*, WCHAR* out,
                   int outSize) {
    struct tm tm;
    time_t ignored;
    if (!toTm(time, &tm, &ignored) || outSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string format = localeTimeFormat();
    if (flags & (TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER | TIME_NOSECONDS))
        format = twentyFourHourFormat(format, !(flags & TIME_NOSECONDS));
    return deliver(formatTm(format, tm), out, outSize);
}

// LOCALE_STIME and LOCALE_STIMEFORMAT, derived from T_FMT.
int GetLocaleInfoW(LCID, DWORD type, WCHAR* out, int outSize) {
    std::string value;
    if (type == LOCALE_STIME)
        value = timeSeparator(localeTimeFormat());
    else if (type == LOCALE_STIMEFORMAT)
        value = timePicture(localeTimeFormat());
    else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return deliver(utf8ToUtf16(value), out, outSize);
}

void GetSystemTime(SYSTEMTIME* time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm tm;
    gmtime_r(&now.tv_sec, &tm);
    toSystemTime(tm, static_cast<WORD>(now.tv_nsec / 1000000), time);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
    struct tm tm;
    time_t seconds;
    if (!fileTime || !toTm(time, &tm, &seconds))
        return FALSE;
    int64_t ticks = (static_cast<int64_t>(seconds) + kSecondsFrom1601To1970) * kTicksPerSecond +
                    time->wMilliseconds * 10000LL;
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
    if (!fileTime || !time || fileTime->dwHighDateTime & 0x80000000u)
        return FALSE;
    int64_t ticks = fileTimeTicks(fileTime);
    time_t seconds = static_cast<time_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
    struct tm tm;
    if (!gmtime_r(&seconds, &tm))
        return FALSE;
    toSystemTime(tm, static_cast<WORD>(ticks / 10000 % 1000), time);
    return TRUE;
}

// Local time under TZ, with the rules in force on that date.
BOOL SystemTimeToTzSpecificLocalTime(const void*, const SYSTEMTIME* utc, SYSTEMTIME* local) {
    struct tm tm;
    time_t seconds;
    if (!local || !toTm(utc, &tm, &seconds))
        return FALSE;
    struct tm localTm;
    if (!localtime_r(&seconds, &localTm))
        return FALSE;
    toSystemTime(localTm, utc->wMilliseconds, local);
    return TRUE;
}

void RtlSecondsSince1970ToTime(ULONG seconds, LARGE_INTEGER* time) {
    time->QuadPart = (static_cast<int64_t>(seconds) + kSecondsFrom1601To1970) * kTicksPerSecond;
}

BOOL RtlTimeToSecondsSince1970(const LARGE_INTEGER* time, ULONG* seconds) {
    int64_t s = time->QuadPart / kTicksPerSecond - kSecondsFrom1601To1970;
    if (s < 0 || s > 0xFFFFFFFFLL)
        return FALSE;
    *seconds = static_cast<ULONG>(s);
    return TRUE;
}
