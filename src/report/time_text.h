// Dates, times and durations as text, in the user's locale.
#pragma once

#include "platform.h"

#include <cstdint>

constexpr size_t kDurationUnits = 40;

// The locale's short date, the separator, and the locale's 24-hour time of day (with seconds
// when withSeconds), for seconds since 1970 UTC shown in local time. A heap string the caller
// releases with free, or none when the time cannot be converted.
WCHAR* formatDateTime(uint32_t seconds, const WCHAR* separator, int withSeconds);
// The same text written into out, which holds units units; 0 when the time cannot be converted
// or the text does not fit (formatDateTime then says which).
int formatDateTimeInto(WCHAR* out, size_t units, uint32_t seconds, const WCHAR* separator,
                       int withSeconds);

// Hours (not reduced modulo 24), minutes and seconds, in the order of the locale's time format
// and with its time separator. out holds kDurationUnits units.
void formatDuration(WCHAR* out, uint32_t seconds);

// The same with the picture and separator given: each H/h, M/m or S/s of the picture (two of
// the same letter count once) fills the next of three slots; everything else is skipped.
// Slots the picture leaves empty print as 00.
void formatDurationWith(WCHAR* out, uint32_t seconds, const WCHAR* picture, const WCHAR* separator);

uint32_t currentSecondsSince1970();
