// National-language and time functions over the C library: the locale's LC_TIME and TZ.
// Reports format a date and a time for every line, so what depends only on the locale or the
// time zone is worked out once and kept, keyed by everything it depends on.
#include "civil.h"
#include "platform.h"
#include "time_format.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <langinfo.h>
#include <vector>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - (a % b < 0);
}

unsigned daysInMonth(int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

void secondsToSystemTime(int64_t seconds, WORD milliseconds, SYSTEMTIME* st) {
    int64_t days = floorDiv(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, &y, &m, &d);
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDayOfWeek = static_cast<WORD>(weekdayFromDays(days));
    st->wDay = static_cast<WORD>(d);
    st->wHour = static_cast<WORD>(rest / 3600);
    st->wMinute = static_cast<WORD>(rest / 60 % 60);
    st->wSecond = static_cast<WORD>(rest % 60);
    st->wMilliseconds = milliseconds;
}

// The seconds since 1970 that st names, checked as Windows checks it; 0 when it names no time.
int systemTimeToSeconds(const SYSTEMTIME* st, int64_t* seconds) {
    if (!st || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
        st->wDay < 1 || st->wDay > daysInMonth(st->wYear, st->wMonth) || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999)
        return 0;
    *seconds = daysFromCivil(st->wYear, st->wMonth, st->wDay) * 86400 + st->wHour * 3600 +
               st->wMinute * 60 + st->wSecond;
    return 1;
}

struct tm toTm(const SYSTEMTIME& st, int64_t seconds) {
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    int64_t days = floorDiv(seconds, 86400);
    tm.tm_year = st.wYear - 1900;
    tm.tm_mon = st.wMonth - 1;
    tm.tm_mday = st.wDay;
    tm.tm_hour = st.wHour;
    tm.tm_min = st.wMinute;
    tm.tm_sec = st.wSecond;
    tm.tm_wday = static_cast<int>(weekdayFromDays(days));
    tm.tm_yday = static_cast<int>(days - daysFromCivil(st.wYear, 1, 1));
    return tm;
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

// A time format that needs only the clock (%H, %k, %M, %S and plain ASCII text), compiled
// once: each step a unit of text, or one of the fields below. Such a time is written directly,
// with no strftime and no copy.
enum ClockField { HourZero = -1, HourSpace = -2, Minute = -3, Second = -4 };

// 1 with the steps when format is of that kind; 0 for anything else, which strftime does.
int compileClock(const std::string& format, std::vector<int>& steps) {
    steps.clear();
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (static_cast<unsigned char>(c) >= 0x80)
            return 0;
        if (c != '%') {
            steps.push_back(c);
            continue;
        }
        char field = i + 1 < format.size() ? format[++i] : 0;
        if (field == 'H' || field == 'k' || field == 'M' || field == 'S')
            steps.push_back(field == 'H'   ? HourZero
                            : field == 'k' ? HourSpace
                            : field == 'M' ? Minute
                                           : Second);
        else if (field == '%')
            steps.push_back('%');
        else
            return 0;
    }
    return 1;
}

// The units the steps write, terminator included.
int clockUnits(const std::vector<int>& steps) {
    int units = 1;
    for (int step : steps)
        units += step < 0 ? 2 : 1;
    return units;
}

void runClock(const std::vector<int>& steps, const SYSTEMTIME& time, WCHAR* out) {
    for (int step : steps) {
        if (step >= 0) {
            *out++ = static_cast<WCHAR>(step);
            continue;
        }
        int value = step == Minute ? time.wMinute : step == Second ? time.wSecond : time.wHour;
        *out++ = value >= 10         ? static_cast<WCHAR>('0' + value / 10)
                 : step == HourSpace ? WCHAR(' ')
                                     : WCHAR('0');
        *out++ = static_cast<WCHAR>('0' + value % 10);
    }
    *out = 0;
}

// Text in the locale's multibyte encoding (T_FMT and its pieces) as wide characters; a byte
// that does not convert becomes U+FFFD.
std::wstring wideFromLocale(const std::string& text) {
    std::wstring out;
    std::mbstate_t state{};
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        wchar_t c = 0;
        size_t n = std::mbrtowc(&c, p, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            c = 0xFFFD;
            n = 1;
            state = std::mbstate_t{};
        } else if (n == 0) {
            n = 1;
        }
        out += c;
        p += n;
        left -= n;
    }
    return out;
}

WString utf16FromLocale(const std::string& text) {
    WString out;
    for (wchar_t c : wideFromLocale(text))
        appendUtf16(out, static_cast<char32_t>(c));
    return out;
}

// strftime in the wide form, so the text comes out right in any LC_CTYPE, then as UTF-16.
// The text replaces what out held (its buffer is reused).
void formatTm(const std::string& format, const struct tm& tm, WString& out) {
    out.clear();
    std::wstring wideFormat = wideFromLocale(format);
    wchar_t buf[256];
    size_t n = std::wcsftime(buf, sizeof buf / sizeof buf[0], wideFormat.c_str(), &tm);
    for (size_t i = 0; i < n; ++i)
        appendUtf16(out, static_cast<char32_t>(buf[i]));
}

// One time format: for strftime, and compiled when it needs only the clock.
struct TimeFormat {
    std::string text;
    std::vector<int> clock;
    int units = 0; // what the clock writes; 0 when strftime does the format
};

// What the locale's T_FMT gives, worked out again only when T_FMT changes.
struct TimeFormats {
    unsigned generation = 0; // changes whenever the formats are worked out again
    std::string tfmt;
    TimeFormat asIs, withSeconds, withoutSeconds;
    WString picture, separator;
};

void setTimeFormat(TimeFormat& format, const std::string& text) {
    format.text = text;
    format.units = compileClock(text, format.clock) ? clockUnits(format.clock) : 0;
}

const TimeFormats& timeFormats() {
    thread_local TimeFormats cache;
    const char* tfmt = nl_langinfo(T_FMT);
    if (cache.generation == 0 || std::strcmp(cache.tfmt.c_str(), tfmt) != 0) {
        ++cache.generation;
        cache.tfmt = tfmt;
        setTimeFormat(cache.asIs, tfmt);
        setTimeFormat(cache.withSeconds, twentyFourHourFormat(tfmt, 1));
        setTimeFormat(cache.withoutSeconds, twentyFourHourFormat(tfmt, 0));
        cache.picture = utf16FromLocale(timePicture(tfmt));
        cache.separator = utf16FromLocale(timeSeparator(tfmt));
    }
    return cache;
}

// The offset from UTC in force at a moment under TZ, as the C library's local time has it.
long utcOffsetAt(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0L;
}

} // namespace

// The locale's %x.
int GetDateFormatW(LCID, DWORD, const SYSTEMTIME* time, const WCHAR*, WCHAR* out, int outSize) {
    // Lines in a row mostly fall on one day: the text of the last date is kept, for the locale
    // it was made in.
    struct DateCache {
        std::string locale;
        WORD year = 0, month = 0, day = 0;
        WString text;
    };
    thread_local DateCache cache;
    const char* locale = std::setlocale(LC_TIME, nullptr);
    if (!locale)
        locale = "";
    if (time && outSize >= 0 && cache.year != 0 && time->wYear == cache.year &&
        time->wMonth == cache.month && time->wDay == cache.day && time->wHour <= 23 &&
        time->wMinute <= 59 && time->wSecond <= 59 && time->wMilliseconds <= 999 &&
        std::strcmp(cache.locale.c_str(), locale) == 0)
        return deliver(cache.text, out, outSize);
    int64_t seconds;
    if (!systemTimeToSeconds(time, &seconds) || outSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    cache.locale = locale;
    cache.year = time->wYear;
    cache.month = time->wMonth;
    cache.day = time->wDay;
    formatTm("%x", toTm(*time, seconds), cache.text);
    return deliver(cache.text, out, outSize);
}

// The locale's T_FMT, in 24-hour form without marker when asked (always, in this program).
int GetTimeFormatW(LCID, DWORD flags, const SYSTEMTIME* time, const WCHAR*, WCHAR* out,
                   int outSize) {
    const TimeFormats& formats = timeFormats();
    const TimeFormat& format =
        !(flags & (TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER | TIME_NOSECONDS)) ? formats.asIs
        : flags & TIME_NOSECONDS ? formats.withoutSeconds
                                 : formats.withSeconds;
    int64_t seconds;
    if (!systemTimeToSeconds(time, &seconds) || outSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (format.units > 0) {
        if (outSize == 0)
            return format.units;
        if (!out || outSize < format.units) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        runClock(format.clock, *time, out);
        return format.units;
    }
    // Callers ask for the size first, then for the text: the same time twice in a row.
    struct TimeCache {
        const TimeFormat* format = nullptr;
        unsigned generation = 0;
        SYSTEMTIME time = {};
        WString text;
    };
    thread_local TimeCache cache;
    if (cache.format != &format || cache.generation != formats.generation ||
        std::memcmp(time, &cache.time, sizeof cache.time) != 0) {
        cache.format = &format;
        cache.generation = formats.generation;
        cache.time = *time;
        formatTm(format.text, toTm(*time, seconds), cache.text);
    }
    return deliver(cache.text, out, outSize);
}

// LOCALE_STIME and LOCALE_STIMEFORMAT, derived from T_FMT.
int GetLocaleInfoW(LCID, DWORD type, WCHAR* out, int outSize) {
    if (type == LOCALE_STIME)
        return deliver(timeFormats().separator, out, outSize);
    if (type == LOCALE_STIMEFORMAT)
        return deliver(timeFormats().picture, out, outSize);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

void GetSystemTime(SYSTEMTIME* time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    secondsToSystemTime(now.tv_sec, static_cast<WORD>(now.tv_nsec / 1000000), time);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
    int64_t seconds;
    if (!fileTime || !systemTimeToSeconds(time, &seconds))
        return FALSE;
    int64_t ticks =
        (seconds + kSecondsFrom1601To1970) * kTicksPerSecond + time->wMilliseconds * 10000LL;
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
    if (!fileTime || !time || fileTime->dwHighDateTime & 0x80000000u)
        return FALSE;
    int64_t ticks = static_cast<int64_t>(static_cast<uint64_t>(fileTime->dwHighDateTime) << 32 |
                                         fileTime->dwLowDateTime);
    secondsToSystemTime(ticks / kTicksPerSecond - kSecondsFrom1601To1970,
                        static_cast<WORD>(ticks / 10000 % 1000), time);
    return TRUE;
}

// Local time under TZ, with the rules in force on that date.
BOOL SystemTimeToTzSpecificLocalTime(const void*, const SYSTEMTIME* utc, SYSTEMTIME* local) {
    int64_t seconds;
    if (!local || !systemTimeToSeconds(utc, &seconds))
        return FALSE;
    secondsToSystemTime(seconds + utcOffsetAt(seconds), utc->wMilliseconds, local);
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
