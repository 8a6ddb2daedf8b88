// Small pieces both reports write.
#pragma once

#include "eventlog/log_set.h"
#include "report_options.h"
#include "time_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A text of count spaces, for count up to kMostSpaces (more count as kMostSpaces).
constexpr size_t kMostSpaces = 32;
const char* spaces(size_t count);

// The local date and time of seconds as a report shows them, kept for one line; none when the
// time cannot be converted.
class DateTimeText {
  public:
    // With a clock, local time is the clock's.
    explicit DateTimeText(uint32_t seconds, LocalClock* clock = nullptr);
    ~DateTimeText();
    DateTimeText(const DateTimeText&) = delete;
    DateTimeText& operator=(const DateTimeText&) = delete;
    const WCHAR* text() const { return text_; }

  private:
    WCHAR local_[96];
    WCHAR* heap_ = nullptr; // a text too long for local_
    const WCHAR* text_ = nullptr;
};

// The same text as the console writes it, for %P: made by the clock, or from a DateTimeText
// when the clock does not make it.
class ConsoleDateTime {
  public:
    ConsoleDateTime(uint32_t seconds, LocalClock& clock);
    const char* text() const { return text_; }

  private:
    char bytes_[kConsoleDateTimeBytes];
    std::string slow_;
    const char* text_ = bytes_;
};

// The warning both reports print first when auditing is disabled.
void printNotEnabledWarning();

// A report command: the warning when auditing is disabled (the report runs anyway), then the
// report over the source wsxlum. 0, or 1 after one line on standard error for each log that
// could not be opened or whose walk stopped before the oldest record. Saved logs (/file) get no
// warning, as this machine's settings say nothing of them, and no report when one of them
// cannot be opened; CSV and JSON get the warning on standard error, out of their document.
int runReport(void (*printReport)(LogSet&, const ReportOptions&), const ReportOptions& options);

// The text reports' first line when a window is given ("Window: from ... until ..." and note),
// and an empty line after it.
void printWindowHeader(const ReportOptions& options, const char* note);
