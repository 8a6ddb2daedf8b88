#include "utf16.h"

namespace {

const char32_t kReplacement = 0xFFFD;

} // namespace

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

// An ill-formed sequence gives one U+FFFD for its maximal subpart (the longest start of a
// well-formed sequence it holds, or one byte), as Unicode recommends: lead bytes C0, C1 and F5
// to FF, overlongs, surrogates, code points past U+10FFFF and truncations all stop at the first
// byte that cannot follow.
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

std::u16string toU16(const std::string& utf8) {
    return utf8ToUtf16Units<std::u16string>(utf8);
}

std::string fromU16(const char16_t* text, size_t length) {
    std::string out(3 * length, '\0');
    out.resize(utf16ToUtf8(text, length, &out[0]));
    return out;
}
