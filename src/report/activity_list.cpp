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

// Longer names push the later columns right instead of being cut. One line is one write.
void printActivityLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock) {
    size_t width = user.nameWidth;
    const char* userPadding = width < kUserColumn ? spaces(kUserColumn - width) : "";
    if (width < kUserColumn)
        width = kUserColumn;
    if (event.kind != Reboot)
        width += lengthOf(event.sessionName) + 1;
    width += 1; // the space after the user
    const char* labelPadding = width < kLabelColumn ? spaces(kLabelColumn - width) : "";
    DateTimeText when(event.time, &clock);
    if (event.kind != Reboot)
        printOut("%S\\%S %s%S %s%s%4d   %S\n", user.domain, user.userName, userPadding,
                 event.sessionName, labelPadding, labelOf(event.kind),
                 static_cast<int>(event.sessionId), when.text());
    else
        printOut("%S\\%S %s%s%s       %S\n", user.domain, user.userName, userPadding, labelPadding,
                 labelOf(event.kind), when.text());
}

} // namespace

int runActivityListCommand() {
    return runReport(printActivityList);
}

void printActivityList(EventLogReader& reader) {
    UserList list;
    collectAllEvents(reader, list);
    LocalClock clock;
    list.resetCursors();
    while (UserEntry* user = list.nextEarliest())
        printActivityLine(*user, *user->currentEvent(), clock);
}
