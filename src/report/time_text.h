// Dates, times and durations as text, in the user's locale.
#pragma once

#include "local_clock.h"
#include "platform.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

constexpr size_t kDurationUnits = 40;

// The locale's short date, the separator, and the locale's 24-hour time of day (with seconds
// when withSeconds), for seconds since 1970 UTC shown in local time. A heap string the caller
// releases with free, or none when the time cannot be converted.
WCHAR* formatDateTime(uint32_t seconds, const WCHAR* separator, int withSeconds);

// The local time of seconds since 1970 UTC as the system tells it, under the time-zone rules in
// force on that date; 0 when it cannot be converted.
int systemLocalTime(uint32_t seconds, SYSTEMTIME* local);
// The UTC time of seconds since 1970 (before 1970 too); 0 when the system cannot convert it.
int systemTimeOf(int64_t seconds, SYSTEMTIME* out);
// GetTimeFormatW's flags for the reports' 24-hour times, with seconds when withSeconds.
DWORD timeFlagsFor(int withSeconds);

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
    // The separator as the console writes it (three bytes a unit at most), and its bytes with
    // the terminator: none when it is longer than its array.
    char consoleSeparator[32];
    size_t consoleSeparatorBytes;
};

// Hours (not reduced modulo 24), minutes and seconds, in the order of the locale's time format
// and with its time separator. out holds kDurationUnits units.
void formatDuration(WCHAR* out, uint32_t seconds);
void formatDuration(WCHAR* out, uint32_t seconds, const DurationFormat& format);
// The same as the console writes it (the UTF-8 of %S), zero-terminated, into out
// (kConsoleDurationBytes); its bytes with the terminator, or 0 when it is not made this way.
constexpr size_t kConsoleDurationBytes = 96;
size_t consoleDuration(char* out, uint32_t seconds, const DurationFormat& format);

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
