#include "line_writer.h"

#include "machine_text.h"
#include "report_text.h"

void LineWriter::spaces(size_t count) {
    static const char kSpaces[kMostSpaces + 1] = "                                ";
    char* at = room(kMostSpaces);
    std::memcpy(at, kSpaces, kMostSpaces);
    at_ = at + count;
}

void LineWriter::number(long long value, size_t width) {
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

void LineWriter::console(const char* text, size_t length) {
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

void LineWriter::dateTime(uint32_t seconds, LocalClock& clock) {
    char* at = room(kConsoleDateTimeBytes);
    size_t bytes = clock.consoleDateTime(seconds, at);
    if (bytes > 0) {
        at_ = at + bytes - 1;
        return;
    }
    // The clock does not make this one: the text it stands for.
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
    handOverLines();
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
