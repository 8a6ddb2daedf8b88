#include "platform.h"

#include <clocale>
#include <cstdio>

// Linux terminals and pipes take UTF-8. One thread writes, so stdio's lock is not taken.
void writeConsoleText(const WCHAR* text, size_t length) {
    char bytes[3 * 512];
    while (length > 0) {
        size_t chunk = length < 512 ? length : 512;
        if (chunk < length && (text[chunk - 1] & 0xFC00) == 0xD800)
            --chunk; // keep a surrogate pair together
        fwrite_unlocked(bytes, 1, encodeUtf8(text, chunk, bytes), stdout);
        text += chunk;
        length -= chunk;
    }
}

int standardOutputFailed() {
    flushOutput();
    return std::fflush(stdout) != 0 || std::ferror(stdout);
}

void platformStartup() {
    std::setlocale(LC_ALL, "");
}
