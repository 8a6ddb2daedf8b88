#include "platform.h"

namespace {

// Windows' C runtime folds only ASCII letters in these comparisons under the "C" locale.
template <typename Char> unsigned foldAscii(Char c) {
    unsigned u = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

template <typename Char> int compareIgnoringCase(const Char* a, const Char* b) {
    for (;; ++a, ++b) {
        if (*a == *b) { // the usual case: the same unit, folded or not
            if (*a == 0)
                return 0;
            continue;
        }
        unsigned x = foldAscii(*a), y = foldAscii(*b);
        if (x != y)
            return x < y ? -1 : 1;
    }
}

} // namespace

size_t wcslen(const WCHAR* s) {
    const WCHAR* p = s;
    while (*p)
        ++p;
    return static_cast<size_t>(p - s);
}

WCHAR* wcscpy(WCHAR* dest, const WCHAR* src) {
    WCHAR* d = dest;
    while ((*d++ = *src++) != 0) {
    }
    return dest;
}

WCHAR* wcscat(WCHAR* dest, const WCHAR* src) {
    wcscpy(dest + wcslen(dest), src);
    return dest;
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c)
            return s;
        if (*s == 0)
            return nullptr;
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c));
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
    return compareIgnoringCase(a, b);
}

int _stricmp(const char* a, const char* b) {
    return compareIgnoringCase(a, b);
}
