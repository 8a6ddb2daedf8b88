#include "paths.h"

#include "platform.h"

std::basic_string<char16_t> argumentUnits(const char* argument) {
    std::string text(argument);
    WString out;
    for (size_t i = 0; i < text.size();) {
        size_t start = i;
        char32_t c = nextCodePoint(text, i);
        if (c != 0xFFFD || text.compare(start, i - start, "\xEF\xBF\xBD") == 0) {
            appendUtf16(out, c);
            continue;
        }
        for (; start < i; ++start)
            out += static_cast<WCHAR>(0xDC00 | static_cast<unsigned char>(text[start]));
    }
    return out;
}

std::string pathBytes(const char16_t* path) {
    std::string out;
    for (size_t i = 0; path[i];) {
        char16_t unit = path[i];
        size_t units =
            unit >= 0xD800 && unit <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF ? 2
                                                                                               : 1;
        if (unit >= 0xDC80 && unit <= 0xDCFF)
            out += static_cast<char>(unit & 0xFF);
        else
            appendUtf8(out, path + i, units);
        i += units;
    }
    return out;
}
