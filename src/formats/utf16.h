// UTF-8 and UTF-16, for the texts the formats hold and for the platform's WCHAR strings.
// Unpaired surrogates and ill-formed UTF-8 become U+FFFD. The templates take any 16-bit unit:
// char16_t here, wchar_t in the Windows API.
#pragma once

#include <cstddef>
#include <string>

// Writes c as UTF-8 at out; returns the bytes written (1 to 4).
size_t putUtf8(char* out, char32_t c);
// Decodes the code point at text[i] and moves i past it; U+FFFD for each maximal ill-formed
// subpart.
char32_t nextCodePoint(const std::string& text, size_t& i);

// The code point at text[i], a unit or a surrogate pair (i then moves to its second unit);
// U+FFFD for an unpaired surrogate.
template <class Unit> inline char32_t utf16CodePointAt(const Unit* text, size_t length, size_t& i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
        char32_t low = static_cast<char16_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}

// Appends one code point (a surrogate pair above U+FFFF).
template <class Units> void appendUtf16CodePoint(Units& out, char32_t c) {
    using Unit = typename Units::value_type;
    if (c < 0x10000) {
        out += static_cast<Unit>(c);
    } else {
        c -= 0x10000;
        out += static_cast<Unit>(0xD800 | (c >> 10));
        out += static_cast<Unit>(0xDC00 | (c & 0x3FF));
    }
}

// Writes the UTF-8 of text into out, which holds at least 3 bytes per unit; returns the bytes.
template <class Unit> size_t utf16ToUtf8(const Unit* text, size_t length, char* out) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<char16_t>(text[i]) < 0x80) { // most text is ASCII: copy a run at once
            size_t end = i;
            while (end < length && static_cast<char16_t>(text[end]) < 0x80)
                out[used++] = static_cast<char>(text[end++]);
            i = end - 1;
            continue;
        }
        used += putUtf8(out + used, utf16CodePointAt(text, length, i));
    }
    return used;
}

template <class Units> Units utf8ToUtf16Units(const std::string& text) {
    Units out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        appendUtf16CodePoint(out, nextCodePoint(text, i));
    return out;
}

std::u16string toU16(const std::string& utf8);
std::string fromU16(const char16_t* text, size_t length);
inline std::string fromU16(const std::u16string& text) {
    return fromU16(text.data(), text.size());
}
