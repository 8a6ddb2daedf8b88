#include "line_writer.h"

#include "machine_text.h"
#include "report_text.h"
#include "timeline/event_store.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

namespace {

// The two digits of 0 to 99 as a little-endian word.
uint64_t digitPair(uint32_t value) {
    uint16_t pair;
    std::memcpy(&pair, kDigitPairs + 2 * value, 2);
    return pair;
}

// How many of the eight characters of word (the first in its low byte) are leading zeros, at
// most seven.
size_t leadingZeros(uint64_t word) {
    uint64_t others = word ^ 0x3030303030303030ull; // no bits in a '0'
    if (others == 0)
        return 7;
#if defined(__GNUC__)
    size_t zeros = static_cast<size_t>(__builtin_ctzll(others)) / 8;
#else
    size_t zeros = 0;
    while ((others >> 8 * zeros & 0xFF) == 0)
        ++zeros;
#endif
    return zeros < 7 ? zeros : 7;
}

} // namespace

// Below 10^8, in at most eight characters: the eight digits with the leading zeros as spaces,
// their last max(width, digits) written as one word.
void LineWriter::smallNumber(uint32_t value, size_t width) {
    uint32_t high = value / 10000, low = value % 10000;
    uint64_t word = digitPair(high / 100) | digitPair(high % 100) << 16 |
                    digitPair(low / 100) << 32 | digitPair(low % 100) << 48;
    size_t zeros = leadingZeros(word);
    uint64_t blank = (uint64_t(1) << 8 * zeros) - 1;
    word = (word & ~blank) | (0x2020202020202020ull & blank);
    size_t length = width > 8 - zeros ? width : 8 - zeros;
    word >>= 8 * (8 - length);
    char* at = room(8);
    std::memcpy(at, &word, 8);
    at_ = at + length;
}

void LineWriter::anyNumber(long long value, size_t width) {
    // The digits end 24 bytes into digits, and are copied as one block of 24.
    char digits[48];
    const char* first = OutputBuffer::decimal(digits + 24, value);
    size_t length = static_cast<size_t>(digits + 24 - first);
    if (width > length)
        spaces(width - length);
    char* at = room(24);
    std::memcpy(at, first, 24);
    at_ = at + length;
}

void LineWriter::longConsole(const char* text, size_t length) {
    sync();
    out_.putUtf8Text(text, length);
    resume();
}

size_t LineWriter::name(const WCHAR* text) {
    if (!text)
        return 0;
    sync();
    size_t units = out_.putMapped(text);
    resume();
    return units;
}

size_t LineWriter::storedName(const WCHAR* text) {
#if defined(__SSE2__) && defined(__GNUC__)
    static_assert(NameStore::kReadPast >= 7, "a step reads the seven units past its first");
    if (!text)
        return 0;
    // Printable ASCII, eight units a step, each step's bytes written whole and counted as far
    // as they are printable (a unit is printable when it is below 0x7F once 0x20 is taken off
    // and the sign bit flipped); at most kMostAscii of them.
    const __m128i shift = _mm_set1_epi16(0x7FE0);
    const __m128i bound = _mm_set1_epi16(static_cast<short>(-0x8000 + 0x5F));
    char* at = room(kMostAscii);
    size_t units = 0;
    for (;;) {
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + units));
        __m128i printable = _mm_cmplt_epi16(_mm_add_epi16(eight, shift), bound);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + units), _mm_packus_epi16(eight, eight));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(printable));
        if (mask != 0xFFFFu) {
            units += static_cast<unsigned>(__builtin_ctz(~mask)) / 2;
            break;
        }
        units += 8;
        if (units == kMostAscii)
            break;
    }
    at_ = at + units;
    // The rest, from a unit that is not printable ASCII or after many that are, the careful way.
    return text[units] == 0 ? units : units + name(text + units);
#else
    return name(text);
#endif
}

void LineWriter::csv(const WCHAR* text) {
    if (!text)
        return;
    sync();
    out_.putCsv(text);
    resume();
}

void LineWriter::json(const WCHAR* text) {
    sync();
    if (text)
        out_.putJson(text);
    else
        out_.putNarrow("null", 4);
    resume();
}

// A date and time the clock does not make: the text it stands for.
void LineWriter::dateTimeText(uint32_t seconds, LocalClock& clock) {
    DateTimeText when(seconds, &clock);
    name(when.text());
}

void LineWriter::duration(uint32_t seconds, const DurationFormat& format) {
    char* at = room(kConsoleDurationBytes);
    size_t bytes = consoleDuration(at, seconds, format);
    if (bytes > 0) {
        at_ = at + bytes - 1;
        return;
    }
    WCHAR text[kDurationUnits];
    formatDuration(text, seconds, format);
    name(text);
}

void LineWriter::isoTime(uint32_t seconds, LocalClock& clock) {
    char* at = room(kIsoTimeBytes);
    at_ = at + ::isoTime(clock, seconds, at);
}

void LineWriter::newline() {
    char* at = room(1);
    *at = '\n';
    at_ = at + 1;
    out_.setEnd(at_, 1);
}

void LineWriter::end() {
    newline();
    out_.flushLines(kLineRoom); // handOverLines, on the buffer at hand
}

void LineWriter::endCsv() {
    // kCsvLineEnd ends with its "\n".
    ascii(kCsvLineEnd, std::strlen(kCsvLineEnd) - 1);
    end();
}

void LineWriter::close() {
    sync();
    handOverLines();
}
