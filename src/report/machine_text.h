// Pieces of the CSV and JSON documents the reports write for spreadsheets and scripts.
#pragma once

#include "time_text.h"

#include <cstdint>

constexpr size_t kIsoTimeBytes = 32;
constexpr size_t kNumberBytes = 24;

// Local ISO 8601 time with its UTC offset ("2025-12-01T09:00:00+01:00"), UTC time
// ("1970-01-12T13:46:40Z") where the offset is not whole minutes, or an empty text when the time
// cannot be converted, into out (kIsoTimeBytes). Returns its bytes, the terminator left out.
size_t isoTime(LocalClock& clock, uint32_t seconds, char* out);
// A local date, days since 1970, as YYYY-MM-DD.
const char* isoDate(int64_t days, char* out);
// value in decimal.
const char* decimalText(int64_t value, char* out);

// The start of a CSV document: a UTF-8 byte order mark, then the header row.
void printCsvHeader(const char* header);
