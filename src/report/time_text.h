// Dates, times and durations as text, in the user's locale.
#pragma once

#include "platform.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

constexpr size_t kDurationUnits = 40;
// What LocalClock::consoleDateTime writes at most, the terminator included.
constexpr size_t kConsoleDateTimeBytes = 96;

// The locale's short date, the separator, and the locale's 24-hour time of day (with seconds
// when withSeconds), for seconds since 1970 UTC shown in local time. A heap string the caller
// releases with free, or none when the time cannot be converted.
WCHAR* formatDateTime(uint32_t seconds, const WCHAR* separator, int withSeconds);

// Local time for one report, which meets the same hours and days again and again: the offset
// from UTC of each hour is asked of the system once, with the second at which it changes within
// the hour, if it does, and so is the short date of each day. This rests on offsets never
// changing twice within one hour, which no time zone does. A clock is for one time-zone and
// locale setting: a report makes its own.
class LocalClock {
  public:
    // The local time of seconds since 1970 UTC (no milliseconds); 0 when it cannot be
    // converted.
    int localTimeOf(uint32_t seconds, SYSTEMTIME* local);
    // GetDateFormatW's short date of a local time, as that call returns it; kept for the day of
    // the last local time told.
    int shortDate(const SYSTEMTIME& local, WCHAR* out, int units);
    // The text formatDateTimeInto makes for seconds with the separator " " and seconds, as the
    // console writes it (the UTF-8 of %S), into out (kConsoleDateTimeBytes); its bytes with the
    // terminator, or 0 when it is not made this way (formatDateTimeInto then makes it). Each
    // day's date and each second's time of day are made once.
    size_t consoleDateTime(uint32_t seconds, char* out);

  private:
    struct Day {
        int64_t day = INT64_MIN; // since 1970; none yet
        SYSTEMTIME date;         // its midnight
        int units = 0;           // of its short date, with the terminator; none made yet
        WCHAR text[28];
        size_t consoleBytes = 0; // of console, its date and the separator; none made yet
        char console[64];
    };
    // The time of day of one second of the day as the console writes it, for the offset from
    // UTC it was made under (a time format may name the zone).
    struct TimeOfDay {
        int32_t offset;
        uint8_t bytes; // with the terminator; none made yet
        char text[19];
    };
    struct Release {
        void operator()(TimeOfDay* times) const { std::free(times); }
    };
    // Made at the first use, zeroed by the system: only the seconds a report meets cost memory.
    std::unique_ptr<TimeOfDay[], Release> times_;
    int32_t offset_ = 0;                            // of the last local time told
    std::vector<Day> days_ = std::vector<Day>(512); // by day, modulo their number
    Day* today_ = nullptr;                          // the day of the last local time told

    struct Hour {
        uint32_t hour = UINT32_MAX; // since 1970; none yet
        uint16_t change = 0;        // the offset is after's from this second of the hour on
        uint16_t known = 0;
        int32_t before = 0, after = 0;
    };
    // By hour, modulo their number: nearly a year of hours, as a report of a long log goes
    // through the hours of its log once for each user.
    std::vector<Hour> hours_ = std::vector<Hour>(8192);
};

// The same text written into out, which holds units units; 0 when the time cannot be converted
// or the text does not fit (formatDateTime then says which). With a clock, local time is the
// clock's.
int formatDateTimeInto(WCHAR* out, size_t units, uint32_t seconds, const WCHAR* separator,
                       int withSeconds, LocalClock* clock = nullptr);

// The locale's time format and time separator, as durations are written in them: read once
// for a report.
struct DurationFormat {
    DurationFormat();
    WCHAR separator[10];
    WCHAR picture[20];
    int slots[3]; // the picture's order, as formatDurationWith reads it
};

// Hours (not reduced modulo 24), minutes and seconds, in the order of the locale's time format
// and with its time separator. out holds kDurationUnits units.
void formatDuration(WCHAR* out, uint32_t seconds);
void formatDuration(WCHAR* out, uint32_t seconds, const DurationFormat& format);

// The same with the picture and separator given: each H/h, M/m or S/s of the picture (two of
// the same letter count once) fills the next of three slots; everything else is skipped.
// Slots the picture leaves empty print as 00.
void formatDurationWith(WCHAR* out, uint32_t seconds, const WCHAR* picture, const WCHAR* separator);

uint32_t currentSecondsSince1970();

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day);
// Seconds since 1970 of a local time taken as if it were UTC: the local clock's reading.
int64_t clockReadingOf(const SYSTEMTIME& local);

// Local time minus UTC at a moment, under the rules of its date; 0 when it cannot be converted.
int utcOffsetAt(uint32_t seconds, int32_t* offset);

// The moment the local clock reads reading (seconds since 1970 as if local time were UTC): a
// reading a change to summer time skips is the first moment after the gap, one that the change
// back repeats its first occurrence. 0 when it lies outside what the system converts.
int momentOfClockReading(int64_t reading, int64_t* moment);
