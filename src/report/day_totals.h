// A user's connected time by local calendar day, for /time /daily.
#pragma once

#include "time_text.h"

#include <cstdint>
#include <vector>

// Days run from one local midnight to the next under the rules of each date, so a day may be 23
// or 25 hours long. A session adds its first and last days and marks the whole days between, so
// that its cost does not grow with its length: a log can hold sessions of decades.
class DayTotals {
  public:
    explicit DayTotals(LocalClock& clock) : clock_(clock) {}
    // Adds [from, to), moments of 32-bit time.
    void add(int64_t from, int64_t to);
    // The next day with time, in order: days since 1970 and its seconds. 0 when none is left;
    // the totals are then empty for the next user.
    int next(int64_t* day, int64_t* seconds);

  private:
    int64_t startOf(int32_t index);
    int32_t indexOf(int64_t moment);
    void touch(int32_t index) { touched_.push_back(index); }
    LocalClock& clock_;
    // By day index (day since 1970, plus one): when each day starts, once asked; the seconds of
    // days a session covers in part; +1 where a run of whole days starts, -1 where it has ended.
    std::vector<int64_t> starts_, partial_;
    std::vector<int32_t> whole_;
    std::vector<int32_t> touched_;
    // The reading of next: the place in touched_, the last day given, the whole runs open there.
    size_t nextTouched_ = 0;
    int32_t last_ = -1;
    int64_t open_ = 0;
    int reading_ = 0;
};
