#include "output_buffer.h"
#include "platform.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Integer conversions with an optional minimum width, right-aligned as printf does.
void putNumber(OutputBuffer& out, int width, long long value) {
    char digits[24];
    const char* first = OutputBuffer::decimal(digits + sizeof digits, value);
    size_t length = static_cast<size_t>(digits + sizeof digits - first);
    size_t padding =
        width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    out.putAscii(first, length, padding);
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

OutputBuffer& standardOutputBuffer() {
    return standardOutput();
}

void handOverLines() {
    standardOutput().flushLines(kLineRoom);
}

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
    // Printable ASCII, as most dates and times are, is written as it stands.
    size_t ascii = 0;
    while (ascii < size && static_cast<char16_t>(text[ascii]) - 0x20u < 0x5Fu)
        ++ascii;
    if (ascii < size && text[ascii] == 0) {
        for (size_t i = 0; i < ascii; ++i)
            out[i] = static_cast<char>(text[i]);
        out[ascii] = 0;
        return ascii + 1;
    }
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
