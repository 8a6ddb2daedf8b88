#include "duplicate_string.h"

#include <cstdlib>

WCHAR* duplicateString(const WCHAR* s) {
    if (!s)
        return nullptr;
    WCHAR* copy = static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * (wcslen(s) + 1)));
    if (copy)
        wcscpy(copy, s);
    return copy;
}
