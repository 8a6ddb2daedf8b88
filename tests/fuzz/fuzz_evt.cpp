// The .evt stand-in on arbitrary files: the reader walks to the end; when the first byte says
// so the writer appends a record first (only to a file it can read whole) and the log is
// walked again.
#include "eventlog/event_log_reader.h"
#include "formats/evt/evt_writer.h"
#include "wsxlum/evt_record.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string logPath() {
    static std::string path = [] {
        char dir[] = "/tmp/vlmaudit-fuzz-XXXXXX";
        std::string root = mkdtemp(dir) ? dir : "/tmp";
        setenv("VLMAUDIT_ROOT", root.c_str(), 1);
        return root + "/eventlog/Application.evt";
    }();
    return path;
}

int walk() {
    EventLogReader reader(WSTR("wsxlum"));
    int records = 0;
    while (reader.readNext() && records < 1000000)
        ++records;
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (4u << 20))
        return 0;
    std::string path = logPath();
    std::string dir = path.substr(0, path.rfind('/'));
    std::string mkdir = "mkdir -p " + dir;
    static int made = system(mkdir.c_str());
    (void)made;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    walk();
    if (data[0] & 1) {
        std::string error;
        if (appendEvtRecords(path, {sessionRecord(kEvtLogon, 7, 3, u"s\\D\\u")}, 0x10000, &error) &&
            walk() < 1)
            std::abort(); // a log the writer appended to yields at least that record
    }
    return 0;
}
