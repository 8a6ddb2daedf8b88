#include "platform.h"

#include <cstdarg>
#include <cstdio>

namespace {

void appendNarrow(WString& out, const char* text) {
    while (*text)
        out += static_cast<WCHAR>(static_cast<unsigned char>(*text++));
}

// Integer conversions with an optional minimum width, right-aligned as printf does.
void appendNumber(WString& out, const char* conversion, int width, long long value) {
    char spec[16];
    std::snprintf(spec, sizeof spec, "%%%d%s", width, conversion);
    char digits[32];
    std::snprintf(digits, sizeof digits, spec, value);
    appendNarrow(out, digits);
}

// Names come from a log that any process allowed to report events can fill: control
// characters (C0, DEL and C1, which includes the 8-bit CSI) never reach the terminal raw. Each
// becomes one U+FFFD, so column widths stay as counted.
void appendPrintable(WString& out, const WCHAR* text) {
    for (; *text; ++text) {
        char16_t unit = static_cast<char16_t>(*text);
        out += unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) ? static_cast<WCHAR>(0xFFFD) : *text;
    }
}

} // namespace

void printOut(const char* format, ...) {
    WString out;
    va_list args;
    va_start(args, format);
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            out += static_cast<WCHAR>(static_cast<unsigned char>(*p));
            continue;
        }
        ++p;
        int width = 0;
        while (*p >= '0' && *p <= '9')
            width = width * 10 + (*p++ - '0');
        switch (*p) {
        case 'S':
            if (const WCHAR* text = va_arg(args, const WCHAR*))
                appendPrintable(out, text);
            break;
        case 's':
            if (const char* text = va_arg(args, const char*))
                appendNarrow(out, text);
            break;
        case 'd':
            appendNumber(out, "lld", width, va_arg(args, int));
            break;
        case 'u':
            appendNumber(out, "lld", width, va_arg(args, unsigned));
            break;
        case '%':
            out += WCHAR('%');
            break;
        default: // an unknown conversion is printed as it stands
            out += WCHAR('%');
            if (!*p)
                --p;
            else
                out += static_cast<WCHAR>(static_cast<unsigned char>(*p));
            break;
        }
    }
    va_end(args);
    writeConsoleText(out.data(), out.size());
}
