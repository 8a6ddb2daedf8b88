#include "platform.h"

namespace {

const char32_t kReplacement = 0xFFFD;

} // namespace

// Writes c as UTF-8 at out; returns the bytes written (1 to 4).
size_t putUtf8(char* out, char32_t c) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Decodes one UTF-8 sequence at text[i] and moves i past it. An ill-formed sequence gives one
// U+FFFD for its maximal subpart (the longest start of a well-formed sequence it holds, or one
// byte), as Unicode recommends: lead bytes C0, C1 and F5 to FF, overlongs, surrogates, code
// points past U+10FFFF and truncations all stop at the first byte that cannot follow.
char32_t nextCodePoint(const std::string& text, size_t& i) {
    unsigned char b = static_cast<unsigned char>(text[i++]);
    if (b < 0x80)
        return b;
    int extra = b >= 0xC2 && b <= 0xDF   ? 1
                : b >= 0xE0 && b <= 0xEF ? 2
                : b >= 0xF0 && b <= 0xF4 ? 3
                                         : 0;
    if (extra == 0)
        return kReplacement;
    // The second byte's range depends on the lead; the others are 80 to BF.
    unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    char32_t c = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size())
            return kReplacement;
        unsigned char next = static_cast<unsigned char>(text[i]);
        if (next < low || next > high)
            return kReplacement;
        c = (c << 6) | (next & 0x3F);
        ++i;
        low = 0x80;
        high = 0xBF;
    }
    return c;
}

void appendUtf16(WString& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<WCHAR>(c);
    } else {
        c -= 0x10000;
        out += static_cast<WCHAR>(0xD800 | (c >> 10));
        out += static_cast<WCHAR>(0xDC00 | (c & 0x3FF));
    }
}

size_t encodeUtf8(const WCHAR* text, size_t length, char* out) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<char16_t>(text[i]) < 0x80) { // most text is ASCII: copy a run at once
            size_t end = i;
            while (end < length && static_cast<char16_t>(text[end]) < 0x80)
                out[used++] = static_cast<char>(text[end++]);
            i = end - 1;
            continue;
        }
        used += putUtf8(out + used, codePointAt(text, length, i));
    }
    return used;
}

void appendUtf8(std::string& out, const WCHAR* text, size_t length) {
    size_t start = out.size();
    out.resize(start + 3 * length);
    out.resize(start + encodeUtf8(text, length, &out[start]));
}

WString utf8ToUtf16(const std::string& text) {
    WString out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        appendUtf16(out, nextCodePoint(text, i));
    return out;
}

std::string toUtf8(const WCHAR* text) {
    std::string out;
    if (text)
        appendUtf8(out, text, wcslen(text));
    return out;
}
