#include "activity_list.h"

#include "eventlog/event_kind.h"
#include "machine_text.h"
#include "report_text.h"
#include "timeline/collect.h"

#include <vector>

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

const char* eventName(uint32_t kind) {
    return kind == Reboot ? "REBOOT" : kind == Logon ? "LOGON" : "LOGOFF";
}

void printCsvLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock) {
    char when[kIsoTimeBytes];
    isoTime(clock, event.time, when);
    if (event.kind == Reboot)
        printOut("%s,%u,REBOOT,,,,%s", when, event.time, kCsvLineEnd);
    else
        printOut("%s,%u,%s,%C,%C,%C,%d%s", when, event.time, eventName(event.kind), user.domain,
                 user.userName, event.sessionName, static_cast<int>(event.sessionId), kCsvLineEnd);
}

void printJsonLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock, int first) {
    char when[kIsoTimeBytes];
    isoTime(clock, event.time, when);
    printOut("%s\n  {\"time\": \"%s\", \"epoch\": %u, \"event\": \"%s\", ", first ? "" : ",", when,
             event.time, eventName(event.kind));
    if (event.kind == Reboot)
        printOut("\"domain\": null, \"user\": null, \"session\": null, \"session_number\": null}");
    else
        printOut("\"domain\": %J, \"user\": %J, \"session\": %J, \"session_number\": %d}",
                 user.domain, user.userName, event.sessionName ? event.sessionName : WSTR(""),
                 static_cast<int>(event.sessionId));
}

// By user ordinal, whether the user's events are shown (reboots always are).
std::vector<char> usersShown(UserList& list, const ReportOptions& options) {
    std::vector<char> shown;
    if (options.user.empty())
        return shown;
    for (UserEntry* user = list.head; user; user = user->next) {
        if (user->ordinal >= shown.size())
            shown.resize(user->ordinal + 1);
        shown[user->ordinal] =
            static_cast<char>(matchesUserPattern(options.user, user->domain, user->userName));
    }
    return shown;
}

} // namespace

int runActivityListCommand(const ReportOptions& options) {
    return runReport(printActivityList, options);
}

void printActivityList(EventLogReader& reader, const ReportOptions& options) {
    UserList list;
    collectAllEvents(reader, list);
    LocalClock clock;
    std::vector<char> shown = usersShown(list, options);
    int filtered = !shown.empty() || options.hasWindow();
    if (options.format == FormatCsv)
        printCsvHeader("time,epoch,event,domain,user,session,session_number");
    else if (options.format == FormatJson)
        printOut("{\"events\": [");
    else if (options.hasWindow())
        printWindowHeader(options, "");
    int first = 1;
    list.resetCursors();
    while (UserEntry* user = list.nextEarliest()) {
        const SessionEvent& event = *user->currentEvent();
        if (filtered && ((event.kind != Reboot && !shown.empty() && !shown[user->ordinal]) ||
                         event.time < options.since || event.time >= options.until))
            continue;
        if (options.format == FormatCsv)
            printCsvLine(*user, event, clock);
        else if (options.format == FormatJson)
            printJsonLine(*user, event, clock, first);
        else
            printActivityLine(*user, event, clock);
        first = 0;
    }
    if (options.format == FormatJson)
        printOut("%s]}\n", first ? "" : "\n");
}
