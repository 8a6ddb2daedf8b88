// What a report covers and how it is written, as the modifiers after /list or /time say.
#pragma once

#include "platform.h"
#include "wildcards.h"

#include <cstdint>
#include <vector>

enum ReportFormat {
    FormatText = 0,
    FormatCsv = 1,
    FormatJson = 2,
};

struct ReportOptions {
    std::vector<WString> files; // saved logs to read together; none: the machine's own
    int64_t since = INT64_MIN;  // the window [since, until), seconds since 1970
    int64_t until = INT64_MAX;
    WString user;     // DOMAIN\USER or USER, with * and ?; empty: every user
    WString computer; // with * and ?: each computer that matches on its own; empty: one machine
    int daily = 0;    // /time per day
    int format = FormatText;

    int hasWindow() const { return since != INT64_MIN || until != INT64_MAX; }
    int hasComputers() const { return !computer.empty(); }
};

// A /user pattern, taken apart once for all the users of a report: DOMAIN\USER matches the
// domain and the user, USER the user in any domain; * stands for any text, ? for any one unit;
// ASCII letters match either case, as the lists compare names.
class UserPattern {
  public:
    explicit UserPattern(const WString& pattern);
    int matches(const WCHAR* domain, const WCHAR* userName) const;

  private:
    size_t slash_; // the end of the domain's part; npos: none
    Wildcards domain_, user_;
};

// The time of [start, end) inside the window: 0 when none is.
inline int64_t secondsInside(const ReportOptions& options, int64_t start, int64_t end) {
    int64_t from = start > options.since ? start : options.since;
    int64_t to = end < options.until ? end : options.until;
    return to > from ? to - from : 0;
}
