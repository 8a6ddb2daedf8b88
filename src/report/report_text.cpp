#include "report_text.h"

#include "platform.h"
#include "settings/audit_settings.h"
#include "time_text.h"

#include <cstdlib>

void printSpaces(size_t count) {
    static const char kSpaces[] = "                                ";
    const size_t most = sizeof kSpaces - 1;
    for (; count > most; count -= most)
        printOut("%s", kSpaces);
    if (count > 0)
        printOut("%s", kSpaces + most - count);
}

void printDateTime(uint32_t seconds) {
    if (WCHAR* text = formatDateTime(seconds, WSTR(" "), 1)) {
        printOut("%S", text);
        std::free(text);
    }
}

void printNotEnabledWarning() {
    printOut("\nWARNING: Velmor auditing not currently enabled.\n"
             "Use /on option to enable and reboot.\n\n");
}

void runReport(void (*printReport)(EventLogReader&)) {
    if (!isAuditingEnabled())
        printNotEnabledWarning();
    EventLogReader reader(WSTR("wsxlum"));
    printReport(reader);
}
