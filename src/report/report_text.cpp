#include "report_text.h"

#include "eventlog/event_kind.h"
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
    WCHAR line[96];
    if (formatDateTimeInto(line, sizeof line / sizeof line[0], seconds, WSTR(" "), 1)) {
        printOut("%S", line);
        return;
    }
    if (WCHAR* text = formatDateTime(seconds, WSTR(" "), 1)) {
        printOut("%S", text);
        std::free(text);
    }
}

void printNotEnabledWarning() {
    printOut("\nWARNING: Velmor auditing not currently enabled.\n"
             "Use /on option to enable and reboot.\n\n");
}

namespace {

// The result code in words for a diagnostic line.
void printCause(DWORD error) {
    if (const char* text = errorText(static_cast<LONG>(error)))
        printError(" (%s)", text);
    else if (error != ERROR_SUCCESS)
        printError(" (error %u)", static_cast<unsigned>(error));
}

// One line on standard error when the report does not show the whole log; 1 then, else 0.
int reportWalkEnd(const EventLogReader& reader) {
    switch (reader.walkEnd()) {
    case WalkComplete:
        return 0;
    case WalkNotOpened:
        printError("vlmaudit: the event log could not be opened");
        printCause(reader.walkError());
        printError("; no records are shown.\n");
        return 1;
    case WalkReadFailed:
        printError("vlmaudit: reading the event log failed");
        printCause(reader.walkError());
        printError("; older records are not shown.\n");
        return 1;
    case WalkMalformed:
        printError("vlmaudit: a malformed %s record of wsxlum",
                   reader.kind() == Logon ? "logon" : "logoff");
        if (WCHAR* when = formatDateTime(reader.time(), WSTR(" "), 1)) {
            printError(" dated %S", when);
            std::free(when);
        }
        printError(" stopped the report; older records are not shown.\n");
        return 1;
    }
    return 1;
}

} // namespace

int runReport(void (*printReport)(EventLogReader&)) {
    if (!isAuditingEnabled())
        printNotEnabledWarning();
    EventLogReader reader(WSTR("wsxlum"));
    printReport(reader);
    return reportWalkEnd(reader);
}
