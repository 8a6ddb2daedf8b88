// Local time for one report, and the local date and time of its lines as the console writes
// them.
#pragma once

#include "platform.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

// What LocalClock::consoleDateTime writes at most, the terminator included.
constexpr size_t kConsoleDateTimeBytes = 128;

// Local time for one report, which meets the same hours and days again and again: the offset
// from UTC of each hour is asked of the system once, with the second at which it changes within
// the hour, if it does, and so is the short date of each day. This rests on offsets never
// changing twice within one hour, which no time zone does. A clock is for one time-zone and
// locale setting: a report makes its own.
class LocalClock {
  public:
    LocalClock();
    ~LocalClock();
    LocalClock(const LocalClock&) = delete;
    LocalClock& operator=(const LocalClock&) = delete;
    // The local time of seconds since 1970 UTC (no milliseconds); 0 when it cannot be
    // converted.
    int localTimeOf(uint32_t seconds, SYSTEMTIME* local);
    // GetDateFormatW's short date of a local time, as that call returns it; kept for the day of
    // the last local time told.
    int shortDate(const SYSTEMTIME& local, WCHAR* out, int units);
    // The text formatDateTimeInto makes for seconds with the separator " " and seconds, as the
    // console writes it (the UTF-8 of %S), into out, which holds kConsoleDateTimeBytes (bytes
    // past the text's terminator may be written too); its bytes with the terminator, or 0 when
    // it is not made this way (formatDateTimeInto then makes it). Each day's date and each
    // second's time of day are made once.
    size_t consoleDateTime(uint32_t seconds, char* out);

  private:
    static constexpr size_t kHours = 8192, kDays = 512;
    struct Day {
        int64_t day = INT64_MIN; // since 1970; none yet
        SYSTEMTIME date;         // its midnight
        int units = 0;           // of its short date, with the terminator; none made yet
        WCHAR text[28];
        size_t consoleBytes = 0; // of console, its date and the separator; none made yet
        char console[64];
    };
    struct Hour {
        uint32_t hour = UINT32_MAX; // since 1970; none yet
        uint16_t change = 0;        // the offset is after's from this second of the hour on
        uint16_t known = 0;
        int32_t before = 0, after = 0;
    };
    struct Times;
    struct TimeOfDay;
    struct Minute;
    struct Release {
        template <typename T> void operator()(T* made) const { std::free(made); }
    };
    size_t makeConsoleDateTime(uint32_t seconds, char* out);
    Times* timesFor(int32_t offset);
    size_t wholeTime(const SYSTEMTIME& local, uint32_t second, char* out);
    static size_t put(const Day& d, const Times& t, uint32_t second, char* out);

    // The seconds since 1970 of one offset from UTC and one local day, the last met by
    // consoleDateTime: [spanStart_, spanStart_ + spanLength_), the first being spanSecond_ into
    // spanDay_, under the times of day spanTimes_. None while spanLength_ is 0.
    uint32_t spanStart_ = 0, spanLength_ = 0, spanSecond_ = 0;
    Day* spanDay_ = nullptr;
    Times* spanTimes_ = nullptr;
    void setSpan(const Hour& h, int32_t offset, int64_t day, Day& d);

    int32_t offset_ = 0;                              // of the last local time told
    std::vector<Day> days_ = std::vector<Day>(kDays); // by day, modulo their number
    Day* today_ = nullptr;                            // the day of the last local time told
    // By hour, modulo their number: nearly a year of hours, as a report of a long log goes
    // through the hours of its log once for each user.
    std::vector<Hour> hours_ = std::vector<Hour>(kHours);
    // The times of day under each UTC offset met (a time format may name the zone), the last
    // one used first. Made at the first use, zeroed by the system: only what a report meets
    // costs memory.
    std::vector<std::unique_ptr<Times, Release>> times_;
    Times* lastTimes_ = nullptr;
    std::unique_ptr<TimeOfDay[], Release> whole_; // the times of day that are not put together
};
