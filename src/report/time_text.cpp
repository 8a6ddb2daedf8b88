#include "time_text.h"

#include <cstdlib>
#include <cstring>

namespace {

const WCHAR kDefaultSeparator[] = WSTR(":");
const WCHAR kDefaultPicture[] = WSTR("H:mm:ss");
const int kSeparatorUnits = sizeof DurationFormat::separator / sizeof(WCHAR);
const int kPictureUnits = sizeof DurationFormat::picture / sizeof(WCHAR);

WCHAR foldLetter(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c;
}

// Appends value as at least two decimal digits at p, up to last; returns the new end.
template <typename Unit> Unit* putNumber(Unit* p, const Unit* last, uint32_t value) {
    if (value < 100 && last - p >= 2) { // the usual minutes, seconds and hours
        p[0] = static_cast<Unit>('0' + value / 10);
        p[1] = static_cast<Unit>('0' + value % 10);
        return p + 2;
    }
    Unit digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<Unit>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    if (count < 2)
        digits[count++] = '0';
    while (count > 0 && p < last)
        *p++ = digits[--count];
    return p;
}

template <typename Unit> Unit* putText(Unit* p, const Unit* last, const Unit* text) {
    while (*text && p < last)
        *p++ = *text++;
    return p;
}

const int64_t kSecondsFrom1601To1970 = 11644473600LL;
const int64_t kTicksPerSecond = 10000000;

} // namespace

// Local time under the time-zone rules in force on that date, not today's offset.
int systemLocalTime(uint32_t seconds, SYSTEMTIME* local) {
    LARGE_INTEGER when;
    RtlSecondsSince1970ToTime(seconds, &when);
    FILETIME utcFile;
    utcFile.dwLowDateTime = static_cast<DWORD>(when.QuadPart);
    utcFile.dwHighDateTime = static_cast<DWORD>(when.QuadPart >> 32);
    SYSTEMTIME utc;
    return FileTimeToSystemTime(&utcFile, &utc) &&
           SystemTimeToTzSpecificLocalTime(nullptr, &utc, local);
}

int systemTimeOf(int64_t seconds, SYSTEMTIME* out) {
    if (seconds < -kSecondsFrom1601To1970)
        return 0;
    uint64_t ticks = static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond;
    FILETIME file;
    file.dwLowDateTime = static_cast<DWORD>(ticks);
    file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return FileTimeToSystemTime(&file, out);
}

// Local time minus UTC at a moment, as the system has it.
int utcOffsetAt(uint32_t seconds, int32_t* offset) {
    SYSTEMTIME local;
    FILETIME file;
    if (!systemLocalTime(seconds, &local) || !SystemTimeToFileTime(&local, &file))
        return 0;
    int64_t ticks =
        static_cast<int64_t>(static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime);
    *offset = static_cast<int32_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970 - seconds);
    return 1;
}

DWORD timeFlagsFor(int withSeconds) {
    return TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT | (withSeconds ? 0 : TIME_NOSECONDS);
}

namespace {

// Date, separator and time into out, which holds units units (a date or time that cannot be
// made is left out). 0 when the text does not fit.
int writeDateTime(const SYSTEMTIME& local, const WCHAR* separator, DWORD timeFlags, WCHAR* out,
                  size_t units, LocalClock* clock = nullptr) {
    int dateUnits = clock ? clock->shortDate(local, out, static_cast<int>(units))
                          : GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr,
                                           out, static_cast<int>(units));
    size_t used = dateUnits > 0 ? static_cast<size_t>(dateUnits) - 1 : 0;
    size_t separatorUnits = wcslen(separator);
    if ((dateUnits <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) ||
        used + separatorUnits + 1 > units)
        return 0;
    wcscpy(out + used, separator);
    used += separatorUnits;
    int timeUnits = GetTimeFormatW(LOCALE_USER_DEFAULT, timeFlags, &local, nullptr, out + used,
                                   static_cast<int>(units - used));
    if (timeUnits <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        return 0;
    if (timeUnits <= 0)
        out[used] = 0;
    return 1;
}

} // namespace

WCHAR* formatDateTime(uint32_t seconds, const WCHAR* separator, int withSeconds) {
    SYSTEMTIME local;
    if (!systemLocalTime(seconds, &local))
        return nullptr;
    DWORD timeFlags = timeFlagsFor(withSeconds);
    int dateUnits =
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, nullptr, 0);
    int timeUnits = GetTimeFormatW(LOCALE_USER_DEFAULT, timeFlags, &local, nullptr, nullptr, 0);
    if (dateUnits <= 0 || timeUnits <= 0)
        return nullptr;
    size_t total =
        static_cast<size_t>(dateUnits) + wcslen(separator) + static_cast<size_t>(timeUnits);
    WCHAR* text = static_cast<WCHAR*>(std::malloc(total * sizeof(WCHAR)));
    if (text && !writeDateTime(local, separator, timeFlags, text, total))
        text[0] = 0;
    return text;
}

int formatDateTimeInto(WCHAR* out, size_t units, uint32_t seconds, const WCHAR* separator,
                       int withSeconds, LocalClock* clock) {
    SYSTEMTIME local;
    return (clock ? clock->localTimeOf(seconds, &local) : systemLocalTime(seconds, &local)) &&
           writeDateTime(local, separator, timeFlagsFor(withSeconds), out, units, clock);
}

namespace {

// Which of hours (0), minutes (1) and seconds (2) fills each slot: each H/h, M/m or S/s of the
// picture (two of the same letter count once) fills the next; a slot left empty is 3.
void slotsOf(const WCHAR* picture, int* slots) {
    int filled = 0;
    for (const WCHAR* p = picture; *p && filled < 3; ++p) {
        WCHAR letter = foldLetter(*p);
        if (letter != 'h' && letter != 'm' && letter != 's')
            continue;
        slots[filled++] = letter == 'h' ? 0 : letter == 'm' ? 1 : 2;
        if (foldLetter(p[1]) == letter)
            ++p;
    }
    for (; filled < 3; ++filled)
        slots[filled] = 3;
}

// The units written, the terminator left out; putSeparator(p) writes the separator at p and
// returns its end.
template <typename Unit, typename PutSeparator>
size_t writeDuration(Unit* out, const Unit* last, uint32_t seconds, const int* slots,
                     PutSeparator putSeparator) {
    uint32_t hours = seconds / 3600;
    uint32_t values[4] = {hours, (seconds - hours * 3600) / 60, seconds % 60, 0};
    Unit* p = out;
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            p = putSeparator(p);
        p = putNumber(p, last, values[slots[i]]);
    }
    *p = 0;
    return static_cast<size_t>(p - out);
}

void writeDuration(WCHAR* out, uint32_t seconds, const int* slots, const WCHAR* separator) {
    const WCHAR* last = out + kDurationUnits - 1; // the terminator's
    writeDuration(out, last, seconds, slots, [=](WCHAR* p) { return putText(p, last, separator); });
}

} // namespace

void formatDurationWith(WCHAR* out, uint32_t seconds, const WCHAR* picture,
                        const WCHAR* separator) {
    int slots[3];
    slotsOf(picture, slots);
    writeDuration(out, seconds, slots, separator);
}

DurationFormat::DurationFormat() {
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, kSeparatorUnits))
        wcscpy(separator, kDefaultSeparator);
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, picture, kPictureUnits))
        wcscpy(picture, kDefaultPicture);
    slotsOf(picture, slots);
    consoleSeparatorBytes = consoleTextOf(separator, consoleSeparator, sizeof consoleSeparator);
}

void formatDuration(WCHAR* out, uint32_t seconds, const DurationFormat& format) {
    writeDuration(out, seconds, format.slots, format.separator);
}

// The separator is copied as a whole block: out has room for it at any place.
size_t consoleDuration(char* out, uint32_t seconds, const DurationFormat& format) {
    static_assert(7 + 2 * (sizeof format.consoleSeparator + 2) < kConsoleDurationBytes,
                  "room for the longest duration");
    if (format.consoleSeparatorBytes == 0)
        return 0;
    return writeDuration(out, out + kConsoleDurationBytes - 1, seconds, format.slots,
                         [&](char* p) {
                             std::memcpy(p, format.consoleSeparator,
                                         sizeof format.consoleSeparator);
                             return p + format.consoleSeparatorBytes - 1;
                         }) +
           1;
}

void formatDuration(WCHAR* out, uint32_t seconds) {
    formatDuration(out, seconds, DurationFormat());
}

uint32_t currentSecondsSince1970() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME file;
    if (!SystemTimeToFileTime(&now, &file))
        return 0;
    LARGE_INTEGER when;
    when.QuadPart =
        static_cast<int64_t>(static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime);
    ULONG seconds = 0;
    return RtlTimeToSecondsSince1970(&when, &seconds) ? seconds : 0;
}

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

int64_t clockReadingOf(const SYSTEMTIME& local) {
    return daysFromCivil(local.wYear, local.wMonth, local.wDay) * 86400 + local.wHour * 3600 +
           local.wMinute * 60 + local.wSecond;
}

namespace {

int offsetNear(int64_t seconds, int32_t* offset) {
    int64_t clamped = seconds < 0 ? 0 : seconds > UINT32_MAX ? UINT32_MAX : seconds;
    return utcOffsetAt(static_cast<uint32_t>(clamped), offset);
}

// The reading is the moment's under its own offset.
int readsAs(int64_t moment, int32_t offset) {
    int32_t actual = 0;
    return moment >= 0 && moment <= UINT32_MAX && offsetNear(moment, &actual) && actual == offset;
}

} // namespace

// No zone changes its offset twice within two days: the offsets a day either side are the only
// ones the reading can be under.
int momentOfClockReading(int64_t reading, int64_t* moment) {
    int32_t before = 0, after = 0;
    if (!offsetNear(reading - 86400, &before) || !offsetNear(reading + 86400, &after))
        return 0;
    int early = readsAs(reading - before, before), late = readsAs(reading - after, after);
    if (early || late) {
        int64_t first = reading - before, second = reading - after;
        *moment = early && late ? (first < second ? first : second) : early ? first : second;
        return 1;
    }
    // In the gap: the change itself, the first moment whose reading is past it.
    int64_t low = reading - (before > after ? before : after);
    int64_t high = reading - (before > after ? after : before);
    if (low < 0 || high > UINT32_MAX)
        return 0;
    while (high - low > 1) {
        int64_t middle = low + (high - low) / 2;
        int32_t offset = 0;
        if (!offsetNear(middle, &offset))
            return 0;
        (middle + offset >= reading ? high : low) = middle;
    }
    *moment = high;
    return 1;
}
