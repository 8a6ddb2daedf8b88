#include "machine_text.h"

#include <cstring>

namespace {

char* putDigits(char* out, int64_t value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
    return out + count;
}

// Two digits of value (below 100), from a table: a line has many.
char* putPair(char* out, unsigned value) {
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233"
        "34353637383940414243444546474849505152535455565758596061626364656667"
        "6869707172737475767778798081828384858687888990919293949596979899";
    std::memcpy(out, kPairs + 2 * value, 2);
    return out + 2;
}

char* putDate(char* out, int64_t year, unsigned month, unsigned day) {
    out = year >= 0 && year <= 9999 ? putPair(putPair(out, static_cast<unsigned>(year / 100)),
                                              static_cast<unsigned>(year % 100))
                                    : putDigits(out, year, 4);
    *out++ = '-';
    out = putPair(out, month);
    *out++ = '-';
    return putPair(out, day);
}

char* putTimeOfDay(char* out, unsigned hour, unsigned minute, unsigned second) {
    *out++ = 'T';
    out = putPair(out, hour);
    *out++ = ':';
    out = putPair(out, minute);
    *out++ = ':';
    return putPair(out, second);
}

} // namespace

// An offset with seconds (local mean time, as Monrovia kept until 1972) has no ISO form that
// readers take: such a time is written in UTC, so that it still names its moment.
size_t isoTime(LocalClock& clock, uint32_t seconds, char* out) {
    SYSTEMTIME local;
    out[0] = 0;
    if (!clock.localTimeOf(seconds, &local) || local.wYear > 9999)
        return 0;
    int64_t offset = clockReadingOf(local) - seconds;
    char* p = nullptr;
    if (offset % 60 != 0) {
        int64_t year = 0;
        unsigned month = 0, day = 0, second = seconds % 86400;
        civilFromDays(seconds / 86400, &year, &month, &day);
        p = putTimeOfDay(putDate(out, year, month, day), second / 3600, second / 60 % 60,
                         second % 60);
        *p++ = 'Z';
    } else {
        p = putDate(out, local.wYear, local.wMonth, local.wDay);
        p = putTimeOfDay(p, local.wHour, local.wMinute, local.wSecond);
        *p++ = offset < 0 ? '-' : '+';
        int64_t magnitude = (offset < 0 ? -offset : offset) / 60;
        p = putPair(p, static_cast<unsigned>(magnitude / 60 % 100));
        *p++ = ':';
        p = putPair(p, static_cast<unsigned>(magnitude % 60));
    }
    *p = 0;
    return static_cast<size_t>(p - out);
}

const char* isoDate(int64_t days, char* out) {
    int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, &year, &month, &day);
    *putDate(out, year, month, day) = 0;
    return out;
}

const char* decimalText(int64_t value, char* out) {
    char digits[kNumberBytes];
    int count = 0;
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    char* p = out;
    if (value < 0)
        *p++ = '-';
    while (count > 0)
        *p++ = digits[--count];
    *p = 0;
    return out;
}

// Excel takes a CSV file without a byte order mark for text in the ANSI code page, and would
// garble every name past ASCII; with it, Excel and LibreOffice both read UTF-8.
void printCsvHeader(const char* header) {
    flushOutput();
    writeConsoleText("\xEF\xBB\xBF", 3);
    printOut("%s%s", header, kCsvLineEnd);
}
