// parseRecord on arbitrary records. The first byte chooses whether the record is given the
// source name wsxlum (so the payload rules are reached) or kept as it is.
#include "eventlog/event_log_reader.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20))
        return 0;
    static EventLogReader* reader = [] {
        setenv("VLMAUDIT_ROOT", "/nonexistent/vlmaudit-fuzz", 1);
        return new EventLogReader(WSTR("wsxlum"));
    }();
    uint8_t* record = static_cast<uint8_t*>(std::malloc(size - 1 ? size - 1 : 1));
    std::memcpy(record, data + 1, size - 1);
    static const uint8_t source[] = {'w', 0, 's', 0, 'x', 0, 'l', 0, 'u', 0, 'm', 0, 0, 0};
    if ((data[0] & 1) && size - 1 >= 56 + sizeof source)
        std::memcpy(record + 56, source, sizeof source);
    if (reader->takeRecord(record, static_cast<uint32_t>(size - 1)) == 1) {
        // Every name must be a terminated string inside the record, the computer's too, as
        // long as its units say.
        size_t total = 0;
        for (const WCHAR* name : {reader->sessionName(), reader->domain(), reader->userName(),
                                  static_cast<const WCHAR*>(reader->computer())})
            total += name ? wcslen(name) : 0;
        if (total > size ||
            (reader->computer() ? wcslen(reader->computer()) : 0) != reader->computerUnits())
            std::abort();
    }
    return 0;
}
