#include "platform.h"

void appendUtf16(WString& out, char32_t c) {
    appendUtf16CodePoint(out, c);
}

size_t encodeUtf8(const WCHAR* text, size_t length, char* out) {
    return utf16ToUtf8(text, length, out);
}

void appendUtf8(std::string& out, const WCHAR* text, size_t length) {
    size_t start = out.size();
    out.resize(start + 3 * length);
    out.resize(start + encodeUtf8(text, length, &out[start]));
}

WString utf8ToUtf16(const std::string& text) {
    return utf8ToUtf16Units<WString>(text);
}

std::string toUtf8(const WCHAR* text) {
    std::string out;
    if (text)
        appendUtf8(out, text, wcslen(text));
    return out;
}
