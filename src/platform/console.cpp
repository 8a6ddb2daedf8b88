#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Units a name must not send to a terminal as they are: C0, DEL and C1 controls (C1 holds the
// 8-bit CSI), and the bidirectional and invisible format controls that reorder or hide text
// (a name with U+202E could make a line read as another).
int isHidden(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
           unit == 0x200F || (unit >= 0x202A && unit <= 0x202E) ||
           (unit >= 0x2066 && unit <= 0x2069);
}

// Formatted text gathered and handed to the console in pieces that never split a surrogate
// pair.
class OutputBuffer {
  public:
    explicit OutputBuffer(void (*sink)(const WCHAR*, size_t)) : sink_(sink) {}
    ~OutputBuffer() { flush(0); }
    // Hands over what is gathered.
    void flush() { flush(0); }
    // Hands over the lines finished so far and keeps the start of the next one.
    void flushLines() {
        if (lineEnd_ == 0)
            return;
        sink_(units_, lineEnd_);
        std::memmove(units_, units_ + lineEnd_, (used_ - lineEnd_) * sizeof(WCHAR));
        used_ -= lineEnd_;
        lineEnd_ = 0;
    }
    void put(WCHAR unit) {
        if (used_ == kUnits)
            flush(1);
        units_[used_++] = unit;
        if (unit == '\n')
            lineEnd_ = used_;
    }
    void putNarrow(const char* text) { putNarrow(text, std::strlen(text)); }
    void putNarrow(const char* text, size_t length) {
        while (length > 0) {
            if (used_ == kUnits)
                flush(1);
            size_t room = kUnits - used_, chunk = length < room ? length : room;
            for (size_t i = 0; i < chunk; ++i) {
                units_[used_ + i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
                if (text[i] == '\n')
                    lineEnd_ = used_ + i + 1;
            }
            used_ += chunk;
            text += chunk;
            length -= chunk;
        }
    }

    // Puts text with every control character as U+FFFD.
    void putMapped(const WCHAR* text, size_t length) {
        while (length > 0) {
            if (used_ == kUnits)
                flush(1);
            size_t room = kUnits - used_, chunk = length < room ? length : room;
            for (size_t i = 0; i < chunk; ++i)
                units_[used_ + i] =
                    isHidden(static_cast<char16_t>(text[i])) ? static_cast<WCHAR>(0xFFFD) : text[i];
            used_ += chunk;
            text += chunk;
            length -= chunk;
        }
    }

  private:
    static constexpr size_t kUnits = 512;
    void flush(int keepHighSurrogate) {
        if (used_ == 0)
            return;
        size_t keep = keepHighSurrogate && (units_[used_ - 1] & 0xFC00) == 0xD800;
        sink_(units_, used_ - keep);
        if (keep)
            units_[0] = units_[used_ - 1];
        used_ = keep;
        lineEnd_ = 0;
    }
    void (*sink_)(const WCHAR*, size_t);
    WCHAR units_[kUnits];
    size_t used_ = 0;
    size_t lineEnd_ = 0; // units up to the end of the last line put; names hold no line end
};

// Integer conversions with an optional minimum width, right-aligned as printf does.
void putNumber(OutputBuffer& out, int width, long long value) {
    char digits[24];
    int length = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[sizeof digits - 1 - length++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0)
        digits[sizeof digits - 1 - length++] = '-';
    for (; width > length; --width)
        out.put(' ');
    out.putNarrow(digits + sizeof digits - length, static_cast<size_t>(length));
}

// Names come from a log that any process allowed to report events can fill: control
// characters never reach the terminal raw. Each becomes one U+FFFD, so column widths stay as
// counted.
void putPrintable(OutputBuffer& out, const WCHAR* text) {
    out.putMapped(text, wcslen(text));
}

void writeErrorText(const WCHAR* text, size_t length) {
    std::string bytes;
    appendUtf8(bytes, text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

void formatTo(OutputBuffer& out, const char* format, va_list args) {
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            const char* run = p;
            while (p[1] && p[1] != '%')
                ++p;
            out.putNarrow(run, static_cast<size_t>(p - run) + 1);
            continue;
        }
        ++p;
        int width = 0;
        while (*p >= '0' && *p <= '9')
            width = width * 10 + (*p++ - '0');
        switch (*p) {
        case 'S':
            if (const WCHAR* text = va_arg(args, const WCHAR*))
                putPrintable(out, text);
            break;
        case 's':
            if (const char* text = va_arg(args, const char*))
                out.putNarrow(text);
            break;
        case 'd':
            putNumber(out, width, va_arg(args, int));
            break;
        case 'u':
            putNumber(out, width, va_arg(args, unsigned));
            break;
        case '%':
            out.put('%');
            break;
        default: // an unknown conversion is printed as it stands
            out.put('%');
            if (!*p)
                --p;
            else
                out.put(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
            break;
        }
    }
}

// Standard output's text goes to the console a whole line at a time: a report line is made of
// several calls, and one hand-over per line is what keeps a long report fast.
OutputBuffer& standardOutput() {
    static OutputBuffer out(writeConsoleText);
    return out;
}

} // namespace

void printOut(const char* format, ...) {
    OutputBuffer& out = standardOutput();
    va_list args;
    va_start(args, format);
    formatTo(out, format, args);
    va_end(args);
    out.flushLines();
}

void flushOutput() {
    standardOutput().flush();
}

void printError(const char* format, ...) {
    {
        OutputBuffer out(writeErrorText);
        va_list args;
        va_start(args, format);
        formatTo(out, format, args);
        va_end(args);
    }
    std::fflush(stderr);
}

const char* errorText(LONG status) {
    switch (status) {
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
    default:
        return nullptr;
    }
}
