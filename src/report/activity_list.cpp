#include "activity_list.h"

#include "eventlog/event_kind.h"
#include "machine_text.h"
#include "report_text.h"
#include "timeline/collect.h"

#include <string>
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

// What every line of a user begins with, made once for the user: the padded name in text, the
// name fields in CSV and JSON.
class UserPrefixes {
  public:
    explicit UserPrefixes(int format) : format_(format) {}
    const char* of(const UserEntry& user);

  private:
    int format_;
    std::vector<std::string> made_; // by ordinal; empty until made
    std::vector<char> known_;
};

const char* UserPrefixes::of(const UserEntry& user) {
    if (user.ordinal >= made_.size()) {
        made_.resize(user.ordinal + 1);
        known_.resize(user.ordinal + 1);
    }
    std::string& text = made_[user.ordinal];
    if (known_[user.ordinal])
        return text.c_str();
    known_[user.ordinal] = 1;
    if (format_ == FormatCsv) {
        formatText(text, "%C,%C,", user.domain, user.userName);
    } else if (format_ == FormatJson) {
        formatText(text, "\"domain\": %J, \"user\": %J, ", user.domain, user.userName);
    } else {
        size_t width = user.nameWidth;
        formatText(text, "%S\\%S %s", user.domain, user.userName,
                   width < kUserColumn ? spaces(kUserColumn - width) : "");
    }
    return text.c_str();
}

// Longer names push the later columns right instead of being cut. One line is one call.
void printActivityLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock,
                       UserPrefixes& prefixes) {
    size_t width = user.nameWidth;
    if (width < kUserColumn)
        width = kUserColumn;
    if (event.kind != Reboot)
        width += lengthOf(event.sessionName) + 1;
    width += 1; // the space after the user
    const char* labelPadding = width < kLabelColumn ? spaces(kLabelColumn - width) : "";
    ConsoleDateTime when(event.time, clock);
    if (event.kind != Reboot)
        printOut("%P%S %s%s%4d   %P\n", prefixes.of(user), event.sessionName, labelPadding,
                 labelOf(event.kind), static_cast<int>(event.sessionId), when.text());
    else
        printOut("%P%s%s       %P\n", prefixes.of(user), labelPadding, labelOf(event.kind),
                 when.text());
}

const char* eventName(uint32_t kind) {
    return kind == Reboot ? "REBOOT" : kind == Logon ? "LOGON" : "LOGOFF";
}

void printCsvLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock,
                  UserPrefixes& prefixes) {
    char when[kIsoTimeBytes];
    isoTime(clock, event.time, when);
    if (event.kind == Reboot)
        printOut("%s,%u,REBOOT,,,,%s", when, event.time, kCsvLineEnd);
    else
        printOut("%s,%u,%s,%P%C,%d%s", when, event.time, eventName(event.kind), prefixes.of(user),
                 event.sessionName, static_cast<int>(event.sessionId), kCsvLineEnd);
}

void printJsonLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock, int first,
                   UserPrefixes& prefixes) {
    char when[kIsoTimeBytes];
    isoTime(clock, event.time, when);
    if (event.kind == Reboot)
        printOut("%s\n  {\"time\": \"%s\", \"epoch\": %u, \"event\": \"%s\", \"domain\": null, "
                 "\"user\": null, \"session\": null, \"session_number\": null}",
                 first ? "" : ",", when, event.time, eventName(event.kind));
    else
        printOut("%s\n  {\"time\": \"%s\", \"epoch\": %u, \"event\": \"%s\", %P\"session\": %J, "
                 "\"session_number\": %d}",
                 first ? "" : ",", when, event.time, eventName(event.kind), prefixes.of(user),
                 event.sessionName ? event.sessionName : WSTR(""),
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
    UserPrefixes prefixes(options.format);
    list.resetCursors();
    while (UserEntry* user = list.nextEarliest()) {
        const SessionEvent& event = *user->currentEvent();
        if (filtered && ((event.kind != Reboot && !shown.empty() && !shown[user->ordinal]) ||
                         event.time < options.since || event.time >= options.until))
            continue;
        if (options.format == FormatCsv)
            printCsvLine(*user, event, clock, prefixes);
        else if (options.format == FormatJson)
            printJsonLine(*user, event, clock, first, prefixes);
        else
            printActivityLine(*user, event, clock, prefixes);
        first = 0;
    }
    if (options.format == FormatJson)
        printOut("%s]}\n", first ? "" : "\n");
}
