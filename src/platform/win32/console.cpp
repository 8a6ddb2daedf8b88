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
void writeConsoleText(const char* text, size_t length) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        std::fflush(stdout);
        WString wide = utf8ToUtf16(std::string(text, length));
        const WCHAR* units = wide.data();
        size_t left = wide.size();
        while (left > 0) {
            DWORD chunk = left > 16384 ? 16384 : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!WriteConsoleW(out, units, chunk, &written, nullptr) || written == 0) {
                consoleFailed() = 1;
                return;
            }
            units += written;
            left -= written;
        }
        return;
    }
    std::fwrite(text, 1, length, stdout);
}

int standardOutputFailed() {
    flushOutput();
    return std::fflush(stdout) != 0 || std::ferror(stdout) || consoleFailed();
}

void platformStartup() {}

// FormatMessage's own sentence without its final period and line end.
void systemErrorText(LONG status, char* out, size_t size) {
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(status), 0, out, static_cast<DWORD>(size), nullptr);
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r' ||
                          out[length - 1] == '.' || out[length - 1] == ' '))
        out[--length] = 0;
    if (length == 0)
        std::snprintf(out, size, "an unexpected failure, number %ld", static_cast<long>(status));
}

// Windows' own event log says nothing of which part of a log is damaged.
void describeEventLogDamage(HANDLE, char* out, size_t size) {
    if (size > 0)
        out[0] = 0;
}
