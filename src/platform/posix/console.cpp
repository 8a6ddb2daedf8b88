#include "paths.h"
#include "platform.h"

#include <clocale>
#include <cstdio>

const char kCsvLineEnd[] = "\r\n";

std::vector<WString> wideArguments(int argc, char** argv) {
    std::vector<WString> out;
    for (int i = 0; i < argc; ++i)
        out.push_back(argumentUnits(argv[i]));
    return out;
}

// Linux terminals and pipes take UTF-8. One thread writes, so stdio's lock is not taken.
void writeConsoleText(const char* text, size_t length) {
    fwrite_unlocked(text, 1, length, stdout);
}

int standardOutputFailed() {
    flushOutput();
    return std::fflush(stdout) != 0 || std::ferror(stdout);
}

void platformStartup() {
    std::setlocale(LC_ALL, "");
}

void systemErrorText(LONG status, char* out, size_t size) {
    std::snprintf(out, size, "an unexpected failure, number %ld", static_cast<long>(status));
}
