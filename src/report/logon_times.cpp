#include "logon_times.h"

#include "eventlog/event_kind.h"
#include "report_text.h"
#include "time_text.h"
#include "timeline/collect.h"

#include <vector>

namespace {

const size_t kSessionColumn = 11; // three spaces and the session name, padded to this width
const size_t kLookAhead = 8;      // lines ahead whose session names are asked for early

enum class SessionEnd {
    Logoff,  // its logoff
    Reboot,  // the machine rebooted first
    Running, // nothing ended it yet: measured up to now
    Other,   // a later logon in the same session number (its logoff is not in the log)
};

const char* labelOf(SessionEnd end) {
    switch (end) {
    case SessionEnd::Logoff:
        return " LOGOFF:";
    case SessionEnd::Reboot:
        return " REBOOT:";
    case SessionEnd::Running:
        return " CURTM :";
    default:
        return " LOGON :";
    }
}

// What a report's lines are written with, made once for the report.
struct LineText {
    LocalClock clock;
    DurationFormat duration;
};

void printDuration(const char* format, uint32_t seconds, const DurationFormat& duration) {
    WCHAR text[kDurationUnits];
    formatDuration(text, seconds, duration);
    printOut(format, text);
}

// Writes the line of one logon, in one write, and returns the session's length.
uint32_t printLogonLine(const UserList& list, SessionEvent& logon, LineText& with) {
    size_t width = 3 + (logon.sessionName ? wcslen(logon.sessionName) : 0);
    SessionEvent* closing = findSessionEnd(list, &logon);
    SessionEnd end = !closing                  ? SessionEnd::Running
                     : closing->kind == Reboot ? SessionEnd::Reboot
                     : closing->kind == Logoff ? SessionEnd::Logoff
                                               : SessionEnd::Other;
    uint32_t endTime = closing ? closing->time : currentSecondsSince1970();
    // A logon later than the clock would wrap to over a century: it counts as nothing.
    uint32_t length = endTime >= logon.time ? endTime - logon.time : 0;
    WCHAR duration[kDurationUnits];
    formatDuration(duration, length, with.duration);
    DateTimeText start(logon.time, &with.clock), finish(endTime, &with.clock);
    printOut("   %S%s %d LOGON:%S%s%S Total:%S\n", logon.sessionName,
             width < kSessionColumn ? spaces(kSessionColumn - width) : "",
             static_cast<int>(logon.sessionId), start.text(), labelOf(end), finish.text(),
             duration);
    return length;
}

void printUserTimes(const UserList& list, const UserEntry& user, SessionEvent* const* events,
                    size_t count, LineText& with) {
    printOut("User: %S\\%S\n", user.domain, user.userName);
    uint32_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        // The event two steps ahead, then the name of the one a step ahead, which has come.
        if (i + 2 * kLookAhead < count)
            prefetch(events[i + 2 * kLookAhead]);
        if (i + kLookAhead < count && events[i + kLookAhead]->sessionName)
            prefetch(events[i + kLookAhead]->sessionName);
        if (events[i]->kind == Logon)
            total += printLogonLine(list, *events[i], with);
    }
    printDuration("   Total time=%S\n", total, with.duration);
    printOut("\n");
}

} // namespace

// The reboots stand in front of the user's events of the same time, as copies inserted into
// the timeline after them would: a reboot at the logon's own time comes before it and does not
// end it, one at the time of a later event comes before that event and does.
SessionEvent* findSessionEnd(const UserList& list, SessionEvent* logon) {
    SessionEvent* reboot = list.firstRebootAfter(logon->time);
    for (SessionEvent* event = logon->next; event; event = event->next) {
        if (reboot && reboot->time <= event->time)
            return reboot;
        if (event->kind == Reboot || event->sessionId == logon->sessionId)
            return event;
    }
    return reboot;
}

int runLogonTimeCommand() {
    return runReport(printLogonTimes);
}

void printLogonTimes(EventLogReader& reader) {
    UserList list;
    collectSessionEvents(reader, list);
    std::vector<SessionEvent*> events;
    std::vector<size_t> starts;
    LineText with;
    for (UserEntry* batch = list.head; batch;) {
        UserEntry* after = UserList::gatherTimelines(batch, events, starts);
        size_t index = 0;
        for (UserEntry* user = batch; user != after; user = user->next, ++index)
            printUserTimes(list, *user, events.data() + starts[index],
                           starts[index + 1] - starts[index], with);
        batch = after;
    }
}
