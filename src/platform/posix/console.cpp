#include "platform.h"

#include <cstdio>

// Linux terminals and pipes take UTF-8.
void writeConsoleText(const WCHAR* text, size_t length) {
    std::string bytes;
    appendUtf8(bytes, text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}
