#include "platform.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Characters a name must not send to a terminal as they are: C0, DEL and C1 controls (C1 holds
// the 8-bit CSI); every character Unicode says is ignorable by default, which a terminal draws as
// nothing (U+200B in "al\u200Bice" makes another user look like alice; tag characters after a
// name hide a word), the bidirectional controls among them that reorder a line; and the
// interlinear annotation marks U+FFF9 to U+FFFB, which hide the text they enclose.
int isHidden(char32_t c) {
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
    // U+FFFD. (A unit other than zero is never the last: the pair check may read the next.)
    void putMapped(const WCHAR* text) {
        char* bytes = bytes_;
        size_t used = used_;
        for (;;) {
            // Printable ASCII goes as it is, while there is room for the longest character; two
            // units a step, the second read only after the first is known not to be the last.
            while (used <= kBytes - 5 && isPrintableAscii(text[0])) {
                bytes[used] = static_cast<char>(text[0]);
                if (!isPrintableAscii(text[1])) {
                    ++used;
                    ++text;
                    break;
                }
                bytes[used + 1] = static_cast<char>(text[1]);
                used += 2;
                text += 2;
            }
            while (used <= kBytes - 4 && isPrintableAscii(*text))
                bytes[used++] = static_cast<char>(*text++);
            if (*text == 0)
                break;
            if (used > kBytes - 4) {
                used_ = used;
                flush();
                used = 0;
                continue;
            }
            size_t i = 0;
            char32_t c = codePointAt(text, 2, i);
            text += i + 1;
            used += putUtf8(bytes + used, isHidden(c) ? 0xFFFD : c);
        }
        used_ = used;
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
    // A UTF-16 text as a JSON string: controls and the characters a terminal would hide as
    // escapes, a lone surrogate as the escape of its unit.
    void putJson(const WCHAR* text) {
        put('"');
        if (putPlain(text, '"', '\\')) {
            put('"');
            return;
        }
        for (size_t length = wcslen(text), i = 0; i < length; ++i) {
            char16_t unit = static_cast<char16_t>(text[i]);
            char32_t c = codePointAt(text, length, i);
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c == '\n') {
                putNarrow("\\n", 2);
            } else if (c == '\t') {
                putNarrow("\\t", 2);
            } else if (c == 0xFFFD && unit != 0xFFFD) {
                putEscape(unit);
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
    int putPlain(const WCHAR* text, WCHAR a, WCHAR b) {
        size_t length = 0;
        for (; isPrintableAscii(text[length]); ++length)
            if (text[length] == a || text[length] == b)
                return 0;
        if (text[length] != 0 || length > kBytes - used_)
            return 0;
        for (size_t i = 0; i < length; ++i)
            bytes_[used_ + i] = static_cast<char>(text[i]);
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

// Integer conversions with an optional minimum width, right-aligned as printf does.
void putNumber(OutputBuffer& out, int width, long long value) {
    char digits[24];
    size_t length = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    if (magnitude <= UINT32_MAX) { // the usual numbers: two digits a step, in 32 bits
        static const char kPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233"
            "34353637383940414243444546474849505152535455565758596061626364656667"
            "6869707172737475767778798081828384858687888990919293949596979899";
        uint32_t small = static_cast<uint32_t>(magnitude);
        while (small >= 100) {
            length += 2;
            std::memcpy(digits + sizeof digits - length, kPairs + 2 * (small % 100), 2);
            small /= 100;
        }
        if (small >= 10) {
            length += 2;
            std::memcpy(digits + sizeof digits - length, kPairs + 2 * small, 2);
        } else {
            digits[sizeof digits - 1 - length++] = static_cast<char>('0' + small);
        }
    } else {
        do {
            digits[sizeof digits - 1 - length++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude > 0);
    }
    if (value < 0)
        digits[sizeof digits - 1 - length++] = '-';
    size_t padding =
        width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    out.putAscii(digits + sizeof digits - length, length, padding);
}

// Names come from a log that any process allowed to report events can fill: control
// characters never reach the terminal raw. Each becomes one U+FFFD, so column widths stay as
// counted.
void putPrintable(OutputBuffer& out, const WCHAR* text) {
    out.putMapped(text);
}

void writeErrorText(void*, const char* text, size_t length) {
    std::fwrite(text, 1, length, stderr);
}

void appendText(void* context, const char* text, size_t length) {
    static_cast<std::string*>(context)->append(text, length);
}

void noteOverflow(void* context, const char*, size_t) {
    *static_cast<int*>(context) = 1;
}

// One conversion, its argument taken from args; an unknown one is printed as it stands (only
// the percent sign for one cut off by the format's end, conversion 0).
void putConversion(OutputBuffer& out, char conversion, int width, va_list* args) {
    switch (conversion) {
    case 'S':
        if (const WCHAR* text = va_arg(*args, const WCHAR*))
            putPrintable(out, text);
        break;
    case 'C':
        if (const WCHAR* text = va_arg(*args, const WCHAR*))
            out.putCsv(text);
        break;
    case 'J':
        if (const WCHAR* text = va_arg(*args, const WCHAR*))
            out.putJson(text);
        else
            out.putNarrow("null", 4);
        break;
    case 's':
        if (const char* text = va_arg(*args, const char*))
            out.putNarrow(text);
        break;
    case 'P':
        if (const char* text = va_arg(*args, const char*))
            out.putUtf8Text(text, std::strlen(text));
        break;
    case 'd':
        putNumber(out, width, va_arg(*args, int));
        break;
    case 'u':
        putNumber(out, width, va_arg(*args, unsigned));
        break;
    case '%':
        out.put('%');
        break;
    default:
        out.put('%');
        if (conversion)
            out.put(conversion);
        break;
    }
}

// Calls each with the next piece of format: a run of narrow text (conversion 0, run and its
// length), or a conversion and its width (a conversion cut off by the end comes as 0 with no
// run); stops when it returns 0.
template <typename Each> void walkFormat(const char* format, Each each) {
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            // The C library finds the end of a run many bytes a step.
            const char* end = std::strchr(p, '%');
            if (!end)
                end = p + std::strlen(p);
            if (!each(p, static_cast<size_t>(end - p), char(0), 0))
                return;
            p = end - 1;
            continue;
        }
        ++p;
        int width = 0;
        while (*p >= '0' && *p <= '9')
            width = width * 10 + (*p++ - '0');
        if (!each(nullptr, size_t(0), *p, width))
            return;
        if (!*p)
            return;
    }
}

void formatTo(OutputBuffer& out, const char* format, va_list* args) {
    walkFormat(format, [&](const char* run, size_t length, char conversion, int width) {
        if (run)
            out.putNarrow(run, length);
        else
            putConversion(out, conversion, width, args);
        return 1;
    });
}

// Standard output's formats taken apart once, by address: a report writes its lines with a few
// formats again and again, and reading each byte of them for each line cost more than the lines'
// own text. The text is kept and compared too, so that a format need not be a literal.
class FormatCache {
  public:
    void format(OutputBuffer& out, const char* format, va_list* args);

  private:
    struct Piece {
        uint16_t at, length; // of a run, in the format
        char isRun;
        char plain; // a run of ASCII without a line end
        char conversion;
        int width;
    };
    struct Entry {
        const char* format = nullptr;
        size_t count = 0;
        Piece pieces[24];
        char text[192];
    };
    static int compile(const char* format, Entry& entry);
    Entry entries_[32];
};

int FormatCache::compile(const char* format, Entry& entry) {
    entry.format = nullptr;
    size_t length = std::strlen(format);
    if (length >= sizeof entry.text)
        return 0;
    size_t count = 0;
    int fits = 1;
    walkFormat(format, [&](const char* run, size_t runLength, char conversion, int width) {
        if (count == sizeof entry.pieces / sizeof entry.pieces[0])
            return fits = 0;
        Piece& piece = entry.pieces[count++];
        piece.at = static_cast<uint16_t>(run ? run - format : 0);
        piece.length = static_cast<uint16_t>(runLength);
        piece.isRun = run != nullptr;
        piece.conversion = conversion;
        piece.width = width;
        piece.plain = 1;
        for (size_t i = 0; i < runLength; ++i)
            if (run[i] == '\n' || static_cast<unsigned char>(run[i]) >= 0x80)
                piece.plain = 0;
        return 1;
    });
    if (!fits)
        return 0;
    std::memcpy(entry.text, format, length + 1);
    entry.count = count;
    entry.format = format;
    return 1;
}

void FormatCache::format(OutputBuffer& out, const char* format, va_list* args) {
    Entry& entry = entries_[(reinterpret_cast<uintptr_t>(format) >> 3) % 32];
    if ((entry.format != format || std::strcmp(entry.text, format) != 0) &&
        !compile(format, entry)) {
        formatTo(out, format, args);
        return;
    }
    for (size_t i = 0; i < entry.count; ++i) {
        const Piece& piece = entry.pieces[i];
        if (!piece.isRun)
            putConversion(out, piece.conversion, piece.width, args);
        else if (piece.plain)
            out.putAscii(entry.text + piece.at, piece.length, 0);
        else
            out.putNarrow(entry.text + piece.at, piece.length);
    }
}

// Standard output's lines go to the console in large blocks of whole lines: one hand-over per
// line made a long report spend as much on stdio as on its lines. Each block goes in two
// writes, the last byte apart, so that stdio holds back the same bytes of a pipe or a file as
// when each line came on its own, and a message on standard error lands among the lines where
// it always did.
void writeStandardOutput(void*, const char* text, size_t length) {
    if (length > 1 && static_cast<unsigned char>(text[length - 1]) < 0x80) {
        writeConsoleText(text, length - 1);
        text += length - 1;
        length = 1;
    }
    writeConsoleText(text, length);
}

constexpr size_t kStandardOutputBytes = 64u << 10;
// Room kept for the next lines before the finished ones are handed over.
constexpr size_t kLineRoom = 4u << 10;

FormatCache& formats() {
    static FormatCache cache;
    return cache;
}

OutputBuffer& standardOutput() {
    static char bytes[kStandardOutputBytes];
    static OutputBuffer out({writeStandardOutput, nullptr}, bytes, sizeof bytes);
    return out;
}

} // namespace

void printOut(const char* format, ...) {
    OutputBuffer& out = standardOutput();
    va_list args;
    va_start(args, format);
    formats().format(out, format, &args);
    va_end(args);
    out.flushLines(kLineRoom);
}

void flushOutput() {
    standardOutput().flush();
}

void formatText(std::string& out, const char* format, ...) {
    char bytes[2048];
    OutputBuffer buffer({appendText, &out}, bytes, sizeof bytes);
    va_list args;
    va_start(args, format);
    formatTo(buffer, format, &args);
    va_end(args);
}

size_t consoleTextOf(const WCHAR* text, char* out, size_t size) {
    // Gathered where there is room to spare: the buffer wants some for its longest character.
    char bytes[256];
    std::string longer;
    const char* made = bytes;
    size_t length = 0;
    if (size + 8 <= sizeof bytes) {
        int overflow = 0;
        OutputBuffer buffer({noteOverflow, &overflow}, bytes, sizeof bytes);
        buffer.putMapped(text);
        length = overflow ? size : buffer.used();
        buffer.forget();
    } else {
        formatText(longer, "%S", text);
        made = longer.c_str();
        length = longer.size();
    }
    if (length + 1 > size)
        return 0;
    std::memcpy(out, made, length);
    out[length] = 0;
    return length + 1;
}

// Standard output's finished lines go first: where both streams reach one terminal or file,
// the message follows the lines before it.
void printError(const char* format, ...) {
    standardOutput().flushLines();
    {
        char bytes[2048];
        OutputBuffer out({writeErrorText, nullptr}, bytes, sizeof bytes);
        va_list args;
        va_start(args, format);
        formatTo(out, format, &args);
        va_end(args);
    }
    std::fflush(stderr);
}

const char* errorText(LONG status) {
    switch (status) {
    case ERROR_SUCCESS:
        return "no failure";
    case ERROR_FILE_NOT_FOUND:
        return "the file does not exist";
    case ERROR_ACCESS_DENIED:
        return "access is denied";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "not enough memory";
    case ERROR_BADDB:
        return "the registry cannot be read";
    case ERROR_WRITE_FAULT:
        return "the registry could not be written";
    case ERROR_EVENTLOG_FILE_CORRUPT:
        return "the event log file is corrupt";
    case ERROR_FILE_CORRUPT:
        return "the file is damaged";
    case ERROR_INVALID_HANDLE:
        return "the handle is not valid";
    case ERROR_HANDLE_EOF:
        return "the end of the file was reached";
    case ERROR_INVALID_PARAMETER:
        return "a parameter is not valid";
    case ERROR_INSUFFICIENT_BUFFER:
        return "a record is larger than the reader takes";
    case ERROR_MORE_DATA:
        return "more data is available than fits";
    case ERROR_KEY_DELETED:
        return "the registry key was deleted meanwhile";
    default: {
        static char text[160];
        systemErrorText(status, text, sizeof text);
        return text;
    }
    }
}
