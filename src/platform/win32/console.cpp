#include "platform.h"

#include <cstdio>
#include <shellapi.h>

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

const char kCsvLineEnd[] = "\n";

namespace {

// Whether the wide argument has the narrow one's name part (up to its colon, if any).
int sameName(const char* narrow, const WCHAR* wide) {
    for (; *narrow && *narrow != ':'; ++narrow, ++wide)
        if (*wide != static_cast<unsigned char>(*narrow))
            return 0;
    return *wide == static_cast<unsigned char>(*narrow);
}

WString fromAnsi(const char* text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::vector<WCHAR> wide(units > 0 ? static_cast<size_t>(units) : 1, 0);
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    return WString(wide.data());
}

} // namespace

// The C runtime made argv from the same command line in the ANSI code page; an argument whose
// name part differs means the two were split apart differently, and argv wins, read in that
// code page. The program's own path is not compared: a folder may have any name.
std::vector<WString> wideArguments(int argc, char** argv) {
    std::vector<WString> out;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && count == argc && i < argc && (i == 0 || sameName(argv[i], wide[i]));
         ++i)
        out.push_back(wide[i]);
    if (wide)
        LocalFree(wide);
    if (static_cast<int>(out.size()) == argc)
        return out;
    out.clear();
    for (int i = 0; i < argc; ++i)
        out.push_back(fromAnsi(argv[i]));
    return out;
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

// Windows makes each record whole: ReadEventLogW serves.
BOOL readShortEventRecords(HANDLE, DWORD, void*, DWORD, DWORD*, DWORD*) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
