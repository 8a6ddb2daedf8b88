// The reports' lines written straight into standard output's buffer, piece by piece, as
// printOut would write them, without a format to read for each line.
#pragma once

#include "output_buffer.h"
#include "report_text.h"
#include "time_text.h"

#include <cstring>
#include <string>

// An ASCII text chosen at run time, and its length.
struct AsciiText {
    const char* text;
    size_t length;
};

// One line (or, for a document, the text up to the next line end) at a time: the pieces, then
// end or close, with nothing else written to standard output in between. Fixed pieces are
// copied as whole blocks into the room the buffer keeps, past their own end.
class LineWriter {
  public:
    LineWriter() : out_(standardOutputBuffer()), at_(out_.cursor(0)), limit_(out_.limit()) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // ASCII text without a line end; at most kMostAscii bytes.
    static constexpr size_t kMostAscii = 96;
    void ascii(const char* text, size_t length) {
        char* at = room(kMostAscii);
        if (length >= 8) { // eight bytes a step, the last step ending where the text does
            for (size_t i = 0; i + 8 < length; i += 8)
                std::memcpy(at + i, text + i, 8);
            std::memcpy(at + length - 8, text + length - 8, 8);
        } else {
            for (size_t i = 0; i < length; ++i)
                at[i] = text[i];
        }
        at_ = at + length;
    }
    void ascii(AsciiText text) { ascii(text.text, text.length); }
    // A string literal, ASCII without a line end.
    template <size_t N> void literal(const char (&text)[N]) {
        static_assert(N - 1 <= kMostAscii, "a short literal");
        ascii(text, N - 1);
    }
    // count spaces, count at most kMostSpaces (report_text.h).
    void spaces(size_t count) {
        char* at = room(kMostSpaces);
        std::memset(at, ' ', kMostSpaces);
        at_ = at + count;
    }
    // value in decimal, right-aligned in width characters (width at most kMostSpaces).
    void number(long long value, size_t width = 0) {
        if (static_cast<unsigned long long>(value) < 100000000 && width <= 8)
            smallNumber(static_cast<uint32_t>(value), width);
        else
            anyNumber(value, width);
    }
    // Text made ready for the console (as %P), of any length.
    void console(const char* text, size_t length) {
        if (length <= kMostAscii)
            ascii(text, length); // copied as it stands
        else
            longConsole(text, length);
    }
    void console(const std::string& text) { console(text.data(), text.size()); }
    // A name as one CSV field (nothing for a null pointer), or as a JSON string ("" for none).
    void field(const WCHAR* text, int json) {
        if (json)
            this->json(text ? text : WSTR(""));
        else
            csv(text);
    }
    // A UTF-16 text as %S writes it (nothing for a null pointer); the units it holds.
    size_t name(const WCHAR* text);
    // The same for a text that may be read some units past its terminator (a session name of a
    // NameStore, NameStore::kReadPast).
    size_t storedName(const WCHAR* text);
    // As %C and %J write it.
    void csv(const WCHAR* text);
    void json(const WCHAR* text);
    // The local date and time of seconds as the reports show them (as %P of ConsoleDateTime).
    void dateTime(uint32_t seconds, LocalClock& clock) {
        char* at = room(kConsoleDateTimeBytes);
        size_t bytes = clock.consoleDateTime(seconds, at);
        if (bytes > 0)
            at_ = at + bytes - 1;
        else
            dateTimeText(seconds, clock);
    }
    // A duration as %S of formatDuration writes it.
    void duration(uint32_t seconds, const DurationFormat& format);
    // The local ISO 8601 time of seconds (isoTime).
    void isoTime(uint32_t seconds, LocalClock& clock);
    // A line end within the text.
    void newline();
    // Ends the line ("\n") and hands the finished lines over as printOut does.
    void end();
    // The same with a CSV document's line end.
    void endCsv();
    // Leaves the text where it stands, without a line end, handing lines over as printOut does.
    void close();

  private:
    void smallNumber(uint32_t value, size_t width);
    void dateTimeText(uint32_t seconds, LocalClock& clock);
    void anyNumber(long long value, size_t width);
    void longConsole(const char* text, size_t length);
    // At least bytes of room (at most the buffer's) at the end of the line.
    char* room(size_t bytes) {
        if (static_cast<size_t>(limit_ - at_) < bytes) {
            out_.setEnd(at_, 0);
            at_ = out_.cursor(bytes);
            limit_ = out_.limit();
        }
        return at_;
    }
    // Hands the line so far to the buffer, for a piece the buffer writes itself.
    void sync() { out_.setEnd(at_, 0); }
    void resume() { at_ = out_.cursor(0); }
    OutputBuffer& out_;
    char* at_;
    char* limit_;
};

// The AsciiText of a string literal.
template <size_t N> constexpr AsciiText asciiText(const char (&text)[N]) {
    static_assert(N - 1 <= LineWriter::kMostAscii, "a short literal");
    return {text, N - 1};
}
