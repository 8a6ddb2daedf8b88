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
                out += text;
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
