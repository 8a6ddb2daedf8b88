#include "report_options.h"

namespace {

WCHAR foldUnit(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c;
}

// pattern[0, length) against the whole of text: the usual wildcard walk, which goes back only to
// the last * seen.
int matchesWildcards(const WCHAR* pattern, size_t length, const WCHAR* text) {
    size_t p = 0;
    size_t star = SIZE_MAX;
    const WCHAR* retry = nullptr;
    for (;;) {
        if (p < length && pattern[p] == '*') {
            star = p++;
            retry = text;
        } else if (*text && p < length &&
                   (pattern[p] == '?' || foldUnit(pattern[p]) == foldUnit(*text))) {
            ++p;
            ++text;
        } else if (!*text && p == length) {
            return 1;
        } else if (star != SIZE_MAX && *retry) {
            p = star + 1;
            text = ++retry;
        } else {
            return 0;
        }
    }
}

} // namespace

int matchesUserPattern(const WString& pattern, const WCHAR* domain, const WCHAR* userName) {
    size_t slash = pattern.find(WCHAR('\\'));
    if (slash == WString::npos)
        return matchesWildcards(pattern.data(), pattern.size(), userName ? userName : WSTR(""));
    return matchesWildcards(pattern.data(), slash, domain ? domain : WSTR("")) &&
           matchesWildcards(pattern.data() + slash + 1, pattern.size() - slash - 1,
                            userName ? userName : WSTR(""));
}
