#include "activity_list.h"

#include "eventlog/event_kind.h"
#include "report_text.h"
#include "timeline/collect.h"

namespace {

const size_t kUserColumn = 22;  // 'domain\user' padded to this width
const size_t kLabelColumn = 32; // the event label starts after this many characters

const char* labelOf(uint32_t kind) {
    switch (kind) {
    case Reboot:
        return " REBOOT  ";
    case Logon:
        return " LOGON   ";
    case Logoff:
        return " LOGOFF  ";
    default:
        return "";
    }
}

size_t lengthOf(const WCHAR* s) {
    return s ? wcslen(s) : 0;
}

// Longer names push the later columns right instead of being cut.
void printActivityLine(const UserEntry& user, const SessionEvent& event) {
    printOut("%S\\%S ", user.domain, user.userName);
    size_t width = lengthOf(user.userName) + lengthOf(user.domain) + 1;
    if (width < kUserColumn) {
        printSpaces(kUserColumn - width);
        width = kUserColumn;
    }
    if (event.kind != Reboot) {
        printOut("%S ", event.sessionName);
        width += lengthOf(event.sessionName) + 1;
    }
    width += 1; // the space after the user
    if (width < kLabelColumn)
        printSpaces(kLabelColumn - width);
    printOut("%s", labelOf(event.kind));
    if (event.kind != Reboot)
        printOut("%4d   ", static_cast<int>(event.sessionId));
    else
        printSpaces(7);
    printDateTime(event.time);
    printOut("\n");
}

} // namespace

int runActivityListCommand() {
    return runReport(printActivityList);
}

void printActivityList(EventLogReader& reader) {
    UserList list;
    collectAllEvents(reader, list);
    list.resetCursors();
    while (UserEntry* user = list.nextEarliest())
        printActivityLine(*user, *user->currentEvent());
}
