// The buffer formatted output is gathered in before it reaches the console.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Characters a name must not send to a terminal as they are: C0, DEL and C1 controls (C1 holds
// the 8-bit CSI); every character Unicode says is ignorable by default, which a terminal draws as
// nothing (U+200B in "al\u200Bice" makes another user look like alice; tag characters after a
// name hide a word), the bidirectional controls among them that reorder a line; and the
// interlinear annotation marks U+FFF9 to U+FFFB, which hide the text they enclose.
inline int isHidden(char32_t c) {
    if (c < 0xAD)
        return c < 0x20 || (c >= 0x7F && c <= 0x9F);
    static const struct {
        char32_t first, last;
    } kHidden[] = {
        {0x00AD, 0x00AD},   {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},
        {0x17B4, 0x17B5},   {0x180B, 0x180F}, {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x206F},   {0x3164, 0x3164}, {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
        {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
        {0xE0000, 0xE0FFF},
    };
    for (const auto& range : kHidden)
        if (c <= range.last)
            return c >= range.first;
    return 0;
}

// The columns a name takes as OutputBuffer::putMapped prints it: one for each UTF-16 unit, as the
// reports count them, but one for a hidden character outside the BMP, whose pair prints as one
// U+FFFD.
inline size_t mappedColumns(const WCHAR* text) {
    size_t columns = 0;
    while (*text) {
        size_t i = 0;
        char32_t c = codePointAt(text, 2, i);
        columns += i == 1 && isHidden(c) ? 1 : i + 1;
        text += i + 1;
    }
    return columns;
}

// The decimal digits of 0 to 99, two characters each.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233"
    "34353637383940414243444546474849505152535455565758596061626364656667"
    "6869707172737475767778798081828384858687888990919293949596979899";

// Where gathered text goes: a function, and what it writes into.
struct Sink {
    void (*write)(void* context, const char* text, size_t length);
    void* context;
};

// Formatted text gathered as UTF-8 in memory the owner gives, and handed to the sink in pieces
// that never split a character.
class OutputBuffer {
  public:
    OutputBuffer(Sink sink, char* bytes, size_t capacity)
        : sink_(sink), bytes_(bytes), kBytes(capacity) {}
    ~OutputBuffer() { flush(); }
    size_t used() const { return used_; }
    // Drops what is gathered.
    void forget() { used_ = lineEnd_ = 0; }
    // Hands over what is gathered.
    void flush() {
        if (used_ > 0)
            sink_.write(sink_.context, bytes_, used_);
        used_ = lineEnd_ = 0;
    }
    // Hands over the lines finished so far and keeps the start of the next one; not yet while
    // more than room bytes are free, so that a large buffer goes in blocks of whole lines.
    void flushLines(size_t room = SIZE_MAX) {
        if (lineEnd_ == 0 || kBytes - used_ > room)
            return;
        sink_.write(sink_.context, bytes_, lineEnd_);
        std::memmove(bytes_, bytes_ + lineEnd_, used_ - lineEnd_);
        used_ -= lineEnd_;
        lineEnd_ = 0;
    }
    // Writing in place: the end of what is gathered, with at least room bytes (at most the
    // capacity) free after it, what is gathered handed over first when there are not; limit is
    // where the free bytes end. The bytes written there count once the new end is given to
    // setEnd, with lineEnd when they end with a line.
    char* cursor(size_t room) {
        if (kBytes - used_ < room)
            flush();
        return bytes_ + used_;
    }
    char* limit() const { return bytes_ + kBytes; }
    void setEnd(char* end, int lineEnd) {
        used_ = static_cast<size_t>(end - bytes_);
        if (lineEnd)
            lineEnd_ = used_;
    }
    // value in decimal, written backwards from end (the 20 bytes before it are enough); returns
    // where it begins.
    static char* decimal(char* end, long long value) {
        char* p = end;
        unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        if (magnitude <= UINT32_MAX) { // the usual numbers: two digits a step, in 32 bits
            const char* kPairs = kDigitPairs;
            uint32_t small = static_cast<uint32_t>(magnitude);
            while (small >= 100) {
                p -= 2;
                std::memcpy(p, kPairs + 2 * (small % 100), 2);
                small /= 100;
            }
            if (small >= 10) {
                p -= 2;
                std::memcpy(p, kPairs + 2 * small, 2);
            } else {
                *--p = static_cast<char>('0' + small);
            }
        } else {
            do {
                *--p = static_cast<char>('0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude > 0);
        }
        if (value < 0)
            *--p = '-';
        return p;
    }
    void put(char c) {
        if (used_ + 2 > kBytes || c == '\n' || static_cast<unsigned char>(c) >= 0x80)
            putNarrow(&c, 1);
        else
            bytes_[used_++] = c;
    }
    void putNarrow(const char* text) { putNarrow(text, std::strlen(text)); }
    // ASCII text with no line end, after padding spaces.
    void putAscii(const char* text, size_t length, size_t padding) {
        if (length + padding > kBytes - used_) {
            for (; padding > 0; --padding)
                put(' ');
            putNarrow(text, length);
            return;
        }
        std::memset(bytes_ + used_, ' ', padding);
        std::memcpy(bytes_ + used_ + padding, text, length);
        used_ += padding + length;
    }
    // Narrow text: ASCII as it stands, any other byte as the Latin-1 character it names.
    // (The loops keep the count in a local: a store through char may alias any member.)
    void putNarrow(const char* text, size_t length) {
        char* bytes = bytes_;
        size_t used = used_, lineEnd = lineEnd_;
        size_t i = 0;
        if (length <= (kBytes - used) / 2) { // room for all of it: no check for each byte
            // Eight bytes a step while none is past ASCII and none ends a line.
            for (; length - i >= 8; i += 8) {
                uint64_t word;
                std::memcpy(&word, text + i, 8);
                uint64_t lineEnds = word ^ (kLowBits * '\n');
                if ((word | ((lineEnds - kLowBits) & ~lineEnds)) & kHighBits)
                    break;
                std::memcpy(bytes + used, &word, 8);
                used += 8;
            }
            for (; i < length && static_cast<unsigned char>(text[i]) < 0x80; ++i) {
                bytes[used++] = text[i];
                if (text[i] == '\n')
                    lineEnd = used;
            }
        }
        for (; i < length; ++i) {
            if (used + 2 > kBytes) {
                used_ = used;
                flush();
                used = lineEnd = 0;
            }
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                bytes[used++] = static_cast<char>(c);
                if (c == '\n')
                    lineEnd = used;
            } else {
                used += putUtf8(bytes + used, c);
            }
        }
        used_ = used;
        lineEnd_ = lineEnd;
    }
    // UTF-8 text as it stands, with no line end in it; a text longer than the buffer is handed
    // over in pieces cut between characters.
    void putUtf8Text(const char* text, size_t length) {
        while (length > kBytes - used_) {
            size_t part = kBytes - used_;
            while (part > 0 && (static_cast<unsigned char>(text[part]) & 0xC0) == 0x80)
                --part;
            std::memcpy(bytes_ + used_, text, part);
            used_ += part;
            text += part;
            length -= part;
            flush();
        }
        std::memcpy(bytes_ + used_, text, length);
        used_ += length;
    }
    // Zero-terminated UTF-16 text with every hidden character and every unpaired surrogate as
    // U+FFFD; returns its mappedColumns. (A unit other than zero is never the last: the pair
    // check may read the next.)
    size_t putMapped(const WCHAR* text) {
        const WCHAR* start = text;
        size_t hiddenPairs = 0;
        char* bytes = bytes_;
        size_t used = used_;
        const size_t capacity = kBytes; // a local: a store through char may alias any member
        for (;;) {
            // Printable ASCII goes as it is, while there is room for the longest character; four
            // units a step, each read only after the one before is known not to be the last.
            while (used + 8 <= capacity && isPrintableAscii(text[0])) {
                bytes[used] = static_cast<char>(text[0]);
                if (!isPrintableAscii(text[1])) {
                    used += 1;
                    text += 1;
                    break;
                }
                bytes[used + 1] = static_cast<char>(text[1]);
                if (!isPrintableAscii(text[2])) {
                    used += 2;
                    text += 2;
                    break;
                }
                bytes[used + 2] = static_cast<char>(text[2]);
                if (!isPrintableAscii(text[3])) {
                    used += 3;
                    text += 3;
                    break;
                }
                bytes[used + 3] = static_cast<char>(text[3]);
                used += 4;
                text += 4;
            }
            while (used + 4 <= capacity && isPrintableAscii(*text))
                bytes[used++] = static_cast<char>(*text++);
            if (*text == 0)
                break;
            if (used + 4 > capacity) {
                used_ = used;
                flush();
                used = 0;
                continue;
            }
            size_t i = 0;
            char32_t c = codePointAt(text, 2, i);
            text += i + 1;
            if (isHidden(c)) {
                c = 0xFFFD;
                hiddenPairs += i;
            }
            used += putUtf8(bytes + used, c);
        }
        used_ = used;
        return static_cast<size_t>(text - start) - hiddenPairs;
    }

    // A UTF-16 text as one CSV field, exactly (an unpaired surrogate as U+FFFD): quoted when it
    // holds a comma, a quote or a line end; after a ' when it begins as a formula would.
    void putCsv(const WCHAR* text) {
        if (*text != '=' && *text != '+' && *text != '-' && *text != '@' &&
            putPlain(text, ',', '"'))
            return;
        int quoted = 0;
        for (const WCHAR* p = text; *p; ++p)
            quoted |= *p == ',' || *p == '"' || *p == '\r' || *p == '\n';
        if (quoted)
            put('"');
        if (*text == '=' || *text == '+' || *text == '-' || *text == '@' || *text == '\t' ||
            *text == '\r')
            put('\'');
        for (size_t length = wcslen(text), i = 0; i < length; ++i) {
            char32_t c = codePointAt(text, length, i);
            if (c == '"')
                put('"');
            putCodePoint(c);
        }
        if (quoted)
            put('"');
    }
    // A UTF-16 text as a JSON string of Unicode characters only (I-JSON): controls and the
    // characters a terminal would hide as escapes, a lone surrogate as U+FFFD.
    void putJson(const WCHAR* text) {
        put('"');
        if (putPlain(text, '"', '\\')) {
            put('"');
            return;
        }
        for (size_t length = wcslen(text), i = 0; i < length; ++i) {
            char32_t c = codePointAt(text, length, i);
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c == '\n') {
                putNarrow("\\n", 2);
            } else if (c == '\t') {
                putNarrow("\\t", 2);
            } else if (c < 0x10000 && isHidden(c)) {
                putEscape(static_cast<char16_t>(c));
            } else if (isHidden(c)) { // a tag character: the escapes of its pair
                putEscape(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                putEscape(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                putCodePoint(c);
            }
        }
        put('"');
    }

  private:
    // A text of printable ASCII only, without either of two characters, as it stands: 1 when it
    // was one (and is written), 0 when it needs the careful way (nothing is written).
    // (It is copied as it is read, into the free bytes, and counted only when it was one.)
    int putPlain(const WCHAR* text, WCHAR a, WCHAR b) {
        char* bytes = bytes_ + used_;
        const size_t room = kBytes - used_;
        size_t length = 0;
        for (; isPrintableAscii(text[length]); ++length) {
            if (text[length] == a || text[length] == b || length == room)
                return 0;
            bytes[length] = static_cast<char>(text[length]);
        }
        if (text[length] != 0)
            return 0;
        used_ += length;
        return 1;
    }
    void putCodePoint(char32_t c) {
        if (used_ + 4 > kBytes)
            flush();
        used_ += putUtf8(bytes_ + used_, c);
    }
    void putEscape(char16_t unit) {
        static const char kHex[] = "0123456789abcdef";
        char escape[6] = {
            '\\',           'u', kHex[unit >> 12], kHex[unit >> 8 & 15], kHex[unit >> 4 & 15],
            kHex[unit & 15]};
        putNarrow(escape, sizeof escape);
    }
    static int isPrintableAscii(WCHAR unit) { return static_cast<char16_t>(unit) - 0x20u < 0x5Fu; }
    static constexpr uint64_t kLowBits = 0x0101010101010101ull; // one in each byte
    static constexpr uint64_t kHighBits = 0x8080808080808080ull;
    Sink sink_;
    char* bytes_;
    const size_t kBytes;
    size_t used_ = 0;
    size_t lineEnd_ = 0; // bytes up to the end of the last line put; names hold no line end
};

// Room kept in standard output's buffer for the next lines before the finished ones are handed
// over.
constexpr size_t kLineRoom = 4u << 10;

// Standard output's buffer, for lines written into it in place rather than through printOut's
// formats; handOverLines after each line (flushLines(kLineRoom) of this buffer) hands the
// finished ones to the console as printOut does.
OutputBuffer& standardOutputBuffer();
void handOverLines();
