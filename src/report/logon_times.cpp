#include "logon_times.h"

#include "eventlog/event_kind.h"
#include "day_totals.h"
#include "line_writer.h"
#include "machine_text.h"
#include "parts.h"
#include "report_text.h"
#include "time_text.h"
#include "timeline/collect.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t kSessionColumn = 11; // three spaces and the session name, padded to this width
const size_t kLookAhead = 8;      // events ahead whose session names are asked for early

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

AsciiText endName(SessionEnd end) {
    switch (end) {
    case SessionEnd::Logoff:
        return {"LOGOFF", 6};
    case SessionEnd::Reboot:
        return {"REBOOT", 6};
    case SessionEnd::Running:
        return {"RUNNING", 7};
    default:
        return {"LOGON", 5};
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

// One logon: how it ended, and the time it counts (within the window, when one is given).
struct Session {
    SessionEvent* logon;
    SessionEnd end;
    uint32_t endTime;
    int64_t counted;
};

// The session of a logon, at place at of the timeline of ends; 0 when a window is given and the
// session was not open in it.
int sessionOf(SessionEnds& ends, SessionEvent& logon, size_t at, const ReportOptions& options,
              uint32_t now, Session* session) {
    const SessionEvent* closing = ends.of(at);
    session->logon = &logon;
    session->end = !closing                  ? SessionEnd::Running
                   : closing->kind == Reboot ? SessionEnd::Reboot
                   : closing->kind == Logoff ? SessionEnd::Logoff
                                             : SessionEnd::Other;
    session->endTime = closing ? closing->time : now;
    // A logon later than the clock would wrap to over a century: it counts as nothing.
    session->counted = secondsInside(options, logon.time, session->endTime);
    return logon.time < options.until &&
           (session->endTime > options.since || logon.time >= options.since);
}

// Writes the line of one logon.
void printLogonLine(const Session& session, LineText& with) {
    const SessionEvent& logon = *session.logon;
    LineWriter line;
    line.literal("   ");
    size_t width = 3 + line.storedName(logon.sessionName);
    line.spaces(width < kSessionColumn ? kSessionColumn - width : 0);
    line.literal(" ");
    line.number(static_cast<int>(logon.sessionId));
    line.literal(" LOGON:");
    line.dateTime(logon.time, with.clock);
    line.ascii(labelOf(session.end), 8);
    line.dateTime(session.endTime, with.clock);
    line.literal(" Total:");
    line.duration(static_cast<uint32_t>(session.counted), with.duration);
    line.end();
}

// What stands before each field of a session in CSV and in JSON (the session name and number,
// the logon and its epoch, the end, its time and epoch, the seconds) and after the last.
constexpr AsciiText kCsvSession[] = {asciiText(""),  asciiText(","), asciiText(","),
                                     asciiText(","), asciiText(","), asciiText(","),
                                     asciiText(","), asciiText(","), asciiText("")};
constexpr AsciiText kJsonSession[] = {asciiText("\"session\": "),
                                      asciiText(", \"session_number\": "),
                                      asciiText(", \"logon\": \""),
                                      asciiText("\", \"logon_epoch\": "),
                                      asciiText(", \"end\": \""),
                                      asciiText("\", \"end_time\": \""),
                                      asciiText("\", \"end_epoch\": "),
                                      asciiText(", \"seconds\": "),
                                      asciiText("}")};

// A session's line of CSV (after the user's fields), or the rest of its object of JSON: one
// function for each, so that each text is a constant.
template <int json>
void printMachineSession(const Session& session, const std::string& userFields, LocalClock& clock) {
    const SessionEvent& logon = *session.logon;
    constexpr const AsciiText* before = json ? kJsonSession : kCsvSession;
    LineWriter line;
    if (!json)
        line.console(userFields);
    line.ascii(before[0]);
    line.field(logon.sessionName, json);
    line.ascii(before[1]);
    line.number(static_cast<int>(logon.sessionId));
    line.ascii(before[2]);
    line.isoTime(logon.time, clock);
    line.ascii(before[3]);
    line.number(logon.time);
    line.ascii(before[4]);
    line.ascii(endName(session.end));
    line.ascii(before[5]);
    line.isoTime(session.endTime, clock);
    line.ascii(before[6]);
    line.number(session.endTime);
    line.ascii(before[7]);
    line.number(session.counted);
    line.ascii(before[8]);
    if (json)
        line.close();
    else
        line.endCsv();
}

// The lines of a report in its format: text, CSV or JSON. A user's lines begin with the first
// of them, so that a user without any is not shown when a window is given.
class TimesWriter {
  public:
    TimesWriter(const ReportOptions& options, LineText& with) : options_(options), with_(with) {}
    void beginReport();
    void beginPart(const ComputerLists& lists, size_t part);
    void endPart();
    void beginUser(const UserEntry& user);
    void session(const UserEntry& user, const Session& session);
    void day(const UserEntry& user, int64_t day, int64_t seconds);
    void endUser();
    void endReport(LogSet& logs);

  private:
    void startItem(const UserEntry& user);
    const ReportOptions& options_;
    LineText& with_;
    int format() const { return options_.format; }
    std::string computer_;   // the computer's field in CSV, under /computer
    std::string userFields_; // the user's name fields in CSV or JSON, made once for the user
    int userOpen_ = 0;
    int anyUser_ = 0;
    int anyItem_ = 0;
    uint32_t textTotal_ = 0; // the text's total wraps at 32 bits, as it always has
    int64_t total_ = 0;
};

void TimesWriter::beginReport() {
    if (format() == FormatCsv)
        printCsvHeaderOf(options_, options_.daily ? "domain,user,date,seconds"
                                                  : "domain,user,session,session_number,logon,"
                                                    "logon_epoch,end,end_time,end_epoch,seconds");
    else if (format() == FormatJson)
        beginDocument(options_, "users");
    else if (options_.hasWindow())
        printWindowHeader(options_, options_.daily ? "; each day counts the time inside it"
                                                   : "; lengths count only the time inside it");
}

void TimesWriter::beginPart(const ComputerLists& lists, size_t part) {
    // Each user's times end with an empty line: one between parts is there already.
    ::beginPart(options_, lists, part, "users", anyUser_);
    computer_ = computerField(options_, lists, part);
    anyUser_ = 0;
}

void TimesWriter::endPart() {
    ::endPart(options_, anyUser_);
}

void TimesWriter::beginUser(const UserEntry& user) {
    userOpen_ = 1;
    anyItem_ = 0;
    textTotal_ = 0;
    total_ = 0;
    userFields_.clear();
    if (format() == FormatCsv)
        formatText(userFields_, "%s%C,%C,", computer_.c_str(), user.domain, user.userName);
    else if (format() == FormatJson)
        formatText(userFields_, "\"domain\": %J, \"user\": %J, ", user.domain, user.userName);
    if (format() == FormatText)
        printOut("User: %S\\%S\n", user.domain, user.userName);
    else if (format() == FormatJson)
        printOut("%s\n  {\"domain\": %J, \"user\": %J, \"%s\": [", anyUser_ ? "," : "", user.domain,
                 user.userName, options_.daily ? "days" : "sessions");
    anyUser_ = 1;
}

void TimesWriter::startItem(const UserEntry& user) {
    if (!userOpen_)
        beginUser(user);
    if (format() == FormatJson) {
        LineWriter line;
        if (anyItem_)
            line.literal(",");
        line.newline();
        line.literal("    {");
        line.console(userFields_);
        line.close();
    }
    anyItem_ = 1;
}

void TimesWriter::session(const UserEntry& user, const Session& session) {
    startItem(user);
    textTotal_ += static_cast<uint32_t>(session.counted);
    total_ += session.counted;
    if (format() == FormatText)
        printLogonLine(session, with_);
    else if (format() == FormatCsv)
        printMachineSession<0>(session, userFields_, with_.clock);
    else
        printMachineSession<1>(session, userFields_, with_.clock);
}

void TimesWriter::day(const UserEntry& user, int64_t day, int64_t seconds) {
    startItem(user);
    textTotal_ += static_cast<uint32_t>(seconds);
    total_ += seconds;
    LineWriter line;
    if (format() == FormatText) {
        int64_t year = 0;
        unsigned month = 0, dayOfMonth = 0;
        civilFromDays(day, &year, &month, &dayOfMonth);
        SYSTEMTIME local = {};
        local.wYear = static_cast<WORD>(year);
        local.wMonth = static_cast<WORD>(month);
        local.wDay = static_cast<WORD>(dayOfMonth);
        local.wDayOfWeek = static_cast<WORD>(((day % 7) + 11) % 7); // 1970-01-01 was a Thursday
        WCHAR text[32];
        if (with_.clock.shortDate(local, text, 32) <= 0)
            text[0] = 0;
        line.literal("   ");
        line.name(text);
        line.literal(" Total:");
        line.duration(static_cast<uint32_t>(seconds), with_.duration);
        line.end();
        return;
    }
    char date[kIsoTimeBytes];
    isoDate(day, date);
    if (format() == FormatCsv) {
        line.console(userFields_);
        line.ascii(date, std::strlen(date));
        line.literal(",");
        line.number(seconds);
        line.endCsv();
    } else {
        line.literal("\"date\": \"");
        line.ascii(date, std::strlen(date));
        line.literal("\", \"seconds\": ");
        line.number(seconds);
        line.literal("}");
        line.close();
    }
}

void TimesWriter::endUser() {
    if (!userOpen_)
        return;
    userOpen_ = 0;
    char total[kNumberBytes];
    if (format() == FormatText) {
        printDuration("   Total time=%S\n", textTotal_, with_.duration);
        printOut("\n");
    } else if (format() == FormatJson) {
        printOut("%s], \"total_seconds\": %s}", anyItem_ ? "\n  " : "", decimalText(total_, total));
    }
}

void TimesWriter::endReport(LogSet& logs) {
    if (format() != FormatJson)
        return;
    printOut("%s]", anyUser_ && !options_.hasComputers() ? "\n" : "");
    endDocument(logs, options_, with_.clock);
}

void printUserTimes(RebootCursor& reboots, const UserEntry& user, SessionEvent* events,
                    size_t count, const ReportOptions& options, uint32_t now, TimesWriter& writer,
                    DayTotals& days) {
    // Without a window every user is shown, even one with no logon, as the report always did.
    if (!options.hasWindow())
        writer.beginUser(user);
    SessionEnds ends(reboots, events, count);
    for (size_t i = 0; i < count; ++i) {
        // The name of the event some steps ahead, which lies wherever it was copied.
        if (i + kLookAhead < count && events[i + kLookAhead].sessionName)
            prefetch(events[i + kLookAhead].sessionName);
        Session session;
        if (events[i].kind != Logon || !sessionOf(ends, events[i], i, options, now, &session))
            continue;
        if (!options.daily) {
            writer.session(user, session);
        } else {
            int64_t from = events[i].time > options.since ? events[i].time : options.since;
            days.add(from, from + session.counted);
        }
    }
    int64_t day = 0, seconds = 0;
    while (options.daily && days.next(&day, &seconds))
        writer.day(user, day, seconds);
    writer.endUser();
}

} // namespace

// The walks past the near events may take some steps for each event of the timeline; when
// they would take more, the index is made.
const SessionEvent* SessionEnds::searched(size_t logon, const SessionEvent* reboot) {
    if (next_.empty()) {
        size_t budget = kWalkSteps * (count_ + 1) - walked_;
        const SessionEvent* from = events_ + logon;
        const SessionEvent* end = events_ + count_;
        const SessionEvent* last = count_ - logon - 1 <= budget ? end : from + 1 + budget;
        const SessionEvent* at = from + 1;
        for (; at != last; ++at)
            if ((reboot && reboot->time <= at->time) || at->kind == Reboot ||
                at->sessionId == from->sessionId)
                break;
        walked_ += static_cast<size_t>(at - from);
        if (at != last)
            return at;
        if (last == end)
            return nullptr;
        makeIndex();
    }
    return next_[logon] < count_ ? events_ + next_[logon] : nullptr;
}

// The places sorted by session number, and by place within one: each is followed by the next
// of its number. The reboots are then taken in, walking back.
void SessionEnds::makeIndex() {
    std::vector<uint32_t> order(count_);
    for (size_t i = 0; i < count_; ++i)
        order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
        return events_[a].sessionId != events_[b].sessionId
                   ? events_[a].sessionId < events_[b].sessionId
                   : a < b;
    });
    next_.assign(count_, static_cast<uint32_t>(count_));
    for (size_t k = 1; k < count_; ++k)
        if (events_[order[k - 1]].sessionId == events_[order[k]].sessionId)
            next_[order[k - 1]] = order[k];
    uint32_t reboot = static_cast<uint32_t>(count_);
    for (size_t i = count_; i-- > 0;) {
        if (reboot < next_[i])
            next_[i] = reboot;
        if (events_[i].kind == Reboot)
            reboot = static_cast<uint32_t>(i);
    }
}

int runLogonTimeCommand(const ReportOptions& options) {
    return runReport(printLogonTimes, options);
}

void printLogonTimes(LogSet& logs, const ReportOptions& options) {
    ReportLists report(options);
    ComputerLists& lists = report.lists();
    collectSessionEvents(logs, lists);
    const uint32_t now = runningEnd(logs, options);
    std::vector<SessionEvent> events;
    LineText with;
    TimesWriter writer(options, with);
    DayTotals days(with.clock);
    UserPattern pattern(options.user);
    writer.beginReport();
    for (size_t part = 0; part < lists.size(); ++part) {
        UserList& list = lists.list(part);
        writer.beginPart(lists, part);
        for (UserEntry* user = list.head; user; user = user->next) {
            if (!options.user.empty() && !pattern.matches(user->domain, user->userName))
                continue;
            list.timelineOf(*user, events);
            RebootCursor reboots(list.reboots());
            printUserTimes(reboots, *user, events.data(), events.size(), options, now, writer,
                           days);
        }
        writer.endPart();
    }
    writer.endReport(logs);
}
