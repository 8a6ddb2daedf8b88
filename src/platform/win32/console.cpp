#include "platform.h"

#include <cstdio>

namespace {

// Whether the console refused text; redirected output keeps its error in the stream.
int& consoleFailed() {
    static int failed = 0;
    return failed;
}

} // namespace

// A console gets the text through its wide-character output, so every name shows intact
// whatever the code page. Redirected output is UTF-8; stdout stays in text mode, so the C
// runtime writes each "\n" as CRLF like every other Windows console tool.
void writeConsoleText(const WCHAR* text, size_t length) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        std::fflush(stdout);
        while (length > 0) {
            DWORD chunk = length > 16384 ? 16384 : static_cast<DWORD>(length);
            DWORD written = 0;
            if (!WriteConsoleW(out, text, chunk, &written, nullptr) || written == 0) {
                consoleFailed() = 1;
                return;
            }
            text += written;
            length -= written;
        }
        return;
    }
    std::string bytes;
    appendUtf8(bytes, text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

int standardOutputFailed() {
    flushOutput();
    return std::fflush(stdout) != 0 || std::ferror(stdout) || consoleFailed();
}

void platformStartup() {}
