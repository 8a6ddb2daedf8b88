#include "day_totals.h"

#include <algorithm>

namespace {

// Local days of 32-bit moments lie between the last day of 1969 and 2106-02-07; index 0 is the
// former, and the day after the latter has a start too.
const int32_t kLastIndex = static_cast<int32_t>(UINT32_MAX / 86400) + 1;
const size_t kIndexes = static_cast<size_t>(kLastIndex) + 2;

} // namespace

int64_t DayTotals::startOf(int32_t index) {
    int64_t& start = starts_[static_cast<size_t>(index)];
    if (start == INT64_MIN) {
        int64_t midnight = (static_cast<int64_t>(index) - 1) * 86400;
        // Beyond what the system converts, UTC's midnight, which still orders the days.
        if (!momentOfClockReading(midnight, &start))
            start = midnight;
    }
    return start;
}

int32_t DayTotals::indexOf(int64_t moment) {
    SYSTEMTIME local;
    int64_t day = clock_.localTimeOf(static_cast<uint32_t>(moment), &local)
                      ? daysFromCivil(local.wYear, local.wMonth, local.wDay)
                      : moment / 86400;
    int32_t index =
        static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(day + 1, 0), kLastIndex));
    // A zone whose clock goes back across midnight reads the old day again after the new one
    // began: the day is the one begun last.
    while (index > 0 && startOf(index) > moment)
        --index;
    while (index < kLastIndex && startOf(index + 1) <= moment)
        ++index;
    return index;
}

void DayTotals::add(int64_t from, int64_t to) {
    if (from >= to)
        return;
    if (starts_.empty()) {
        starts_.assign(kIndexes, INT64_MIN);
        partial_.assign(kIndexes, 0);
        whole_.assign(kIndexes, 0);
    }
    int32_t first = indexOf(from), last = indexOf(to - 1);
    touch(first);
    if (first == last) {
        partial_[static_cast<size_t>(first)] += to - from;
        return;
    }
    partial_[static_cast<size_t>(first)] += startOf(first + 1) - from;
    partial_[static_cast<size_t>(last)] += to - startOf(last);
    whole_[static_cast<size_t>(first + 1)] += 1;
    whole_[static_cast<size_t>(last)] -= 1;
    touch(first + 1);
    touch(last);
}

int DayTotals::next(int64_t* day, int64_t* seconds) {
    if (!reading_) {
        std::sort(touched_.begin(), touched_.end());
        touched_.erase(std::unique(touched_.begin(), touched_.end()), touched_.end());
        reading_ = 1;
    }
    for (;;) {
        int32_t index = 0;
        int64_t time = 0;
        if (nextTouched_ == touched_.size()) {
            touched_.clear();
            nextTouched_ = 0;
            last_ = -1;
            open_ = 0;
            reading_ = 0;
            return 0;
        }
        if (open_ > 0 && last_ + 1 < touched_[nextTouched_]) {
            index = last_ + 1;
        } else {
            index = touched_[nextTouched_++];
            open_ += whole_[static_cast<size_t>(index)];
            time = partial_[static_cast<size_t>(index)];
            whole_[static_cast<size_t>(index)] = 0;
            partial_[static_cast<size_t>(index)] = 0;
        }
        last_ = index;
        int64_t length = startOf(index + 1) - startOf(index);
        time += open_ * (length > 0 ? length : 0);
        if (time > 0) {
            *day = index - 1;
            *seconds = time;
            return 1;
        }
    }
}
