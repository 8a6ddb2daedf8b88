#include "local_clock.h"

#include "time_text.h"

#include <cstring>

namespace {

// The UTF-8 the console writes for the time of day of local, zero-terminated, into out (size
// bytes, at least 64); its bytes with the terminator, or 0 when it is not made this way (the
// time format's text is too long).
size_t consoleTimeOfDay(const SYSTEMTIME& local, char* out, size_t size) {
    WCHAR time[20];
    int units = GetTimeFormatW(LOCALE_USER_DEFAULT, timeFlagsFor(1), &local, nullptr, time, 20);
    if (units <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        return 0;
    if (units <= 0)
        time[0] = 0;
    return consoleTextOf(time, out, size);
}

} // namespace

// The time of day of one second of the day as the console writes it, kept whole, for the
// offset from UTC it was made under.
struct LocalClock::TimeOfDay {
    int32_t offset;
    uint8_t bytes; // with the terminator; none made yet
    char text[19];
};

// A minute's times of day are its text before the seconds, the second's own text, and its text
// after them, found by comparing the texts of two of its seconds.
struct LocalClock::Minute {
    char head[20];
    char tail[9];
    uint8_t headBytes, tailBytes;
    uint8_t state; // 0 not made yet, 1 made, 2 not to be put together
};

// The times of day of one offset from UTC, put together from a minute's text and a second's:
// 60 KB where whole texts would take 2 MB, so that they stay in the processor's cache.
struct LocalClock::Times {
    struct Second {
        char text[6];
        uint8_t bytes;
        uint8_t known;
    };
    int32_t offset;
    // By second of the day: its text was made once and is its minute's and its second's.
    uint64_t put[86400 / 64 + 1];
    Minute minutes[1440];
    Second seconds[60];

    int isPut(uint32_t second) const { return put[second / 64] >> (second % 64) & 1; }
    void makeMinute(Minute& m, const SYSTEMTIME& local) const;
    int puts(const Minute& m, uint32_t second, const char* text, size_t bytes);
};

// Its seconds' texts are where the texts of two of its seconds differ, the seconds chosen so
// that each digit of one differs from the other's.
void LocalClock::Times::makeMinute(Minute& m, const SYSTEMTIME& local) const {
    SYSTEMTIME other = local;
    other.wSecond = static_cast<WORD>((local.wSecond + 11) % 60);
    char a[64], b[64];
    size_t aBytes = consoleTimeOfDay(local, a, sizeof a);
    size_t bBytes = consoleTimeOfDay(other, b, sizeof b);
    m.state = 2;
    if (aBytes-- == 0 || bBytes-- == 0)
        return;
    size_t head = 0, tail = 0;
    while (head < aBytes && head < bBytes && a[head] == b[head])
        ++head;
    while (tail < aBytes - head && tail < bBytes - head &&
           a[aBytes - 1 - tail] == b[bBytes - 1 - tail])
        ++tail;
    if (head > sizeof m.head || tail > sizeof m.tail)
        return;
    std::memcpy(m.head, a, head);
    std::memcpy(m.tail, a + aBytes - tail, tail);
    m.headBytes = static_cast<uint8_t>(head);
    m.tailBytes = static_cast<uint8_t>(tail);
    m.state = 1;
}

// 1 when text (bytes, no terminator) is the minute's head and tail around the second's text,
// learning the second's text when it is the first met; the second is then put together.
int LocalClock::Times::puts(const Minute& m, uint32_t second, const char* text, size_t bytes) {
    if (m.state != 1 || bytes < m.headBytes + m.tailBytes ||
        std::memcmp(text, m.head, m.headBytes) != 0 ||
        std::memcmp(text + bytes - m.tailBytes, m.tail, m.tailBytes) != 0)
        return 0;
    const char* middle = text + m.headBytes;
    size_t middleBytes = bytes - m.headBytes - m.tailBytes;
    Second& s = seconds[second % 60];
    if (!s.known && middleBytes <= sizeof s.text) {
        std::memcpy(s.text, middle, middleBytes);
        s.bytes = static_cast<uint8_t>(middleBytes);
        s.known = 1;
    }
    if (!s.known || s.bytes != middleBytes || std::memcmp(s.text, middle, middleBytes) != 0)
        return 0;
    put[second / 64] |= uint64_t(1) << (second % 64);
    return 1;
}

LocalClock::LocalClock() = default;
LocalClock::~LocalClock() = default;

int LocalClock::localTimeOf(uint32_t seconds, SYSTEMTIME* local) {
    today_ = nullptr;
    Hour& h = hours_[seconds / 3600 % kHours];
    if (h.hour != seconds / 3600) {
        uint32_t first = seconds / 3600 * 3600;
        uint32_t last = first + (UINT32_MAX - first < 3599 ? UINT32_MAX - first : 3599);
        h.hour = seconds / 3600;
        h.known =
            static_cast<uint16_t>(utcOffsetAt(first, &h.before) && utcOffsetAt(last, &h.after));
        // The first second with the later offset, when the hour has two.
        uint32_t low = first, high = last;
        while (h.known && h.before != h.after && high - low > 1) {
            uint32_t middle = low + (high - low) / 2;
            int32_t offset = 0;
            h.known = static_cast<uint16_t>(utcOffsetAt(middle, &offset));
            (offset == h.before ? low : high) = middle;
        }
        h.change = static_cast<uint16_t>(h.before != h.after ? high - first : 3600);
    }
    if (!h.known)
        return systemLocalTime(seconds, local);
    int64_t when = static_cast<int64_t>(seconds) + (seconds % 3600 < h.change ? h.before : h.after);
    // The date from the day's entry, the time of day from the seconds into it.
    int64_t day = (when >= 0 ? when : when - 86399) / 86400;
    Day& d = days_[static_cast<uint64_t>(day) % kDays];
    if (d.day != day) {
        spanLength_ = 0; // the span's day may be this entry's
        d.units = 0;
        d.consoleBytes = 0;
        d.day = systemTimeOf(day * 86400, &d.date) ? day : INT64_MIN;
        if (d.day != day)
            return systemTimeOf(when, local);
    }
    uint32_t intoDay = static_cast<uint32_t>(when - day * 86400);
    offset_ = static_cast<int32_t>(when - seconds);
    *local = d.date;
    local->wHour = static_cast<WORD>(intoDay / 3600);
    local->wMinute = static_cast<WORD>(intoDay / 60 % 60);
    local->wSecond = static_cast<WORD>(intoDay % 60);
    today_ = &d;
    return 1;
}

int LocalClock::shortDate(const SYSTEMTIME& local, WCHAR* out, int units) {
    // The day of the last local time told, when local falls on it.
    Day* d = today_ && today_->date.wYear == local.wYear && today_->date.wMonth == local.wMonth &&
                     today_->date.wDay == local.wDay
                 ? today_
                 : nullptr;
    if (d && d->units > 0 && d->units <= units) {
        std::memcpy(out, d->text, sizeof(WCHAR) * static_cast<size_t>(d->units));
        return d->units;
    }
    int made = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, out, units);
    if (d && made > 0 && out && static_cast<size_t>(made) <= sizeof d->text / sizeof d->text[0]) {
        d->units = made;
        std::memcpy(d->text, out, sizeof(WCHAR) * static_cast<size_t>(made));
    }
    return made;
}

// The day's date and the second's time of day, each copied as a whole block (out has room).
size_t LocalClock::put(const Day& d, const Times& t, uint32_t second, char* out) {
    const Minute& m = t.minutes[second / 60];
    const Times::Second& s = t.seconds[second % 60];
    static_assert(sizeof d.console + sizeof m.head + sizeof s.text + sizeof m.tail + 1 <=
                      kConsoleDateTimeBytes,
                  "room for each part whole");
    char* p = out;
    std::memcpy(p, d.console, sizeof d.console);
    p += d.consoleBytes;
    std::memcpy(p, m.head, sizeof m.head);
    p += m.headBytes;
    std::memcpy(p, s.text, sizeof s.text);
    p += s.bytes;
    std::memcpy(p, m.tail, sizeof m.tail);
    p += m.tailBytes;
    *p = 0;
    return static_cast<size_t>(p + 1 - out);
}

size_t LocalClock::consoleDateTime(uint32_t seconds, char* out) {
    // Mostly a second of the span met last.
    uint32_t into = seconds - spanStart_;
    if (into < spanLength_ && spanTimes_->isPut(spanSecond_ + into)) {
        today_ = spanDay_;
        return put(*spanDay_, *spanTimes_, spanSecond_ + into, out);
    }
    // What localTimeOf does, as far as it goes when the day's and the second's texts are made.
    const Hour& h = hours_[seconds / 3600 % kHours];
    if (h.hour == seconds / 3600 && h.known && lastTimes_) {
        int32_t offset = seconds % 3600 < h.change ? h.before : h.after;
        int64_t when = static_cast<int64_t>(seconds) + offset;
        int64_t day = (when >= 0 ? when : when - 86399) / 86400;
        Day& d = days_[static_cast<uint64_t>(day) % kDays];
        uint32_t second = static_cast<uint32_t>(when - day * 86400);
        if (d.day == day && d.consoleBytes != 0 && lastTimes_->offset == offset &&
            lastTimes_->isPut(second)) {
            setSpan(h, offset, day, d);
            today_ = &d;
            return put(d, *lastTimes_, second, out);
        }
    }
    return makeConsoleDateTime(seconds, out);
}

// The span of the hour h's part under offset, within day (its entry d), under lastTimes_.
void LocalClock::setSpan(const Hour& h, int32_t offset, int64_t day, Day& d) {
    int64_t first = int64_t(h.hour) * 3600 + (offset == h.before ? 0 : h.change);
    int64_t end = int64_t(h.hour) * 3600 + (offset == h.before ? h.change : 3600);
    int64_t dayFirst = day * 86400 - offset;
    if (first < dayFirst)
        first = dayFirst;
    if (end > dayFirst + 86400)
        end = dayFirst + 86400;
    spanLength_ = 0;
    if (first >= end || first < 0)
        return;
    spanStart_ = static_cast<uint32_t>(first);
    spanLength_ = static_cast<uint32_t>(end - first);
    spanSecond_ = static_cast<uint32_t>(first - dayFirst);
    spanDay_ = &d;
    spanTimes_ = lastTimes_;
}

size_t LocalClock::makeConsoleDateTime(uint32_t seconds, char* out) {
    SYSTEMTIME local;
    if (!localTimeOf(seconds, &local) || !today_)
        return 0;
    // As writeDateTime: a part that cannot be made is left out, one that does not fit is
    // formatDateTimeInto's to make.
    Day& d = *today_;
    if (d.consoleBytes == 0) {
        WCHAR date[40];
        int units = shortDate(local, date, 40);
        if (units <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            return 0;
        if (units <= 0)
            date[0] = 0;
        size_t bytes = consoleTextOf(date, d.console, sizeof d.console - 1);
        if (bytes == 0)
            return 0;
        d.console[bytes - 1] = ' ';
        d.consoleBytes = bytes;
    }
    uint32_t second = local.wHour * 3600u + local.wMinute * 60u + local.wSecond;
    Times* t = timesFor(offset_);
    if (t && !t->isPut(second)) {
        Minute& m = t->minutes[second / 60];
        if (m.state == 0)
            t->makeMinute(m, local);
        char text[64];
        size_t bytes = m.state == 1 ? consoleTimeOfDay(local, text, sizeof text) : 0;
        if (bytes == 0 || !t->puts(m, second, text, bytes - 1))
            t = nullptr;
    }
    if (t)
        return put(d, *t, second, out);
    return wholeTime(local, second, out);
}

// The times of day of offset, made when first met (at most a few dozen offsets: beyond them,
// none).
LocalClock::Times* LocalClock::timesFor(int32_t offset) {
    if (lastTimes_ && lastTimes_->offset == offset)
        return lastTimes_;
    for (auto& times : times_)
        if (times->offset == offset)
            return lastTimes_ = times.get();
    if (times_.size() >= 32)
        return nullptr;
    Times* made = static_cast<Times*>(std::calloc(1, sizeof(Times)));
    if (!made)
        return nullptr;
    made->offset = offset;
    times_.emplace_back(made);
    return lastTimes_ = made;
}

// The date of the last local time told, and the second's time of day kept whole.
size_t LocalClock::wholeTime(const SYSTEMTIME& local, uint32_t second, char* out) {
    if (!whole_)
        whole_.reset(static_cast<TimeOfDay*>(std::calloc(86400, sizeof(TimeOfDay))));
    if (!whole_)
        return 0;
    TimeOfDay& t = whole_[second];
    if (t.bytes == 0 || t.offset != offset_) {
        size_t bytes = consoleTimeOfDay(local, t.text, sizeof t.text);
        if (bytes == 0)
            return 0;
        t.bytes = static_cast<uint8_t>(bytes);
        t.offset = offset_;
    }
    const Day& d = *today_;
    std::memcpy(out, d.console, d.consoleBytes);
    std::memcpy(out + d.consoleBytes, t.text, t.bytes);
    return d.consoleBytes + t.bytes;
}
