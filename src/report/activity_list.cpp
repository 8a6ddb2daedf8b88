#include "activity_list.h"

#include "eventlog/event_kind.h"
#include "line_writer.h"
#include "machine_text.h"
#include "parts.h"
#include "report_text.h"
#include "timeline/collect.h"

#include <string>
#include <utility>
#include <vector>

namespace {

const size_t kUserColumn = 22;  // 'domain\user' padded to this width
const size_t kLabelColumn = 32; // the event label starts after this many characters

AsciiText labelOf(uint32_t kind) {
    switch (kind) {
    case Reboot:
        return {" REBOOT  ", 9};
    case Logon:
        return {" LOGON   ", 9};
    case Logoff:
        return {" LOGOFF  ", 9};
    default:
        return {"", 0};
    }
}

// What every line of a user begins with, made once for the user: the padded name in text, the
// name fields in CSV and JSON. Those made are kept up to a bound on their bytes; past it, one
// is made again for each line, so that many users of long names cost no more than their lines.
class UserPrefixes {
  public:
    // computer: what CSV puts before the user's fields (see computerField).
    UserPrefixes(int format, std::string computer)
        : format_(format), computer_(std::move(computer)) {}
    // What CSV puts first on every line: the computer's field, under /computer.
    const std::string& computer() const { return computer_; }
    const std::string& of(const UserEntry& user) {
        if (user.ordinal < known_.size() && known_[user.ordinal])
            return made_[user.ordinal];
        return make(user);
    }

  private:
    const std::string& make(const UserEntry& user);
    void format(std::string& text, const UserEntry& user) const;
    static constexpr size_t kMostKept = size_t(4) << 20;
    int format_;
    std::string computer_;
    std::vector<std::string> made_; // by ordinal; empty until made
    std::vector<char> known_;
    size_t kept_ = 0;   // the bytes of those made
    std::string again_; // the last one made past the bound
};

const std::string& UserPrefixes::make(const UserEntry& user) {
    if (kept_ >= kMostKept) {
        again_.clear();
        format(again_, user);
        return again_;
    }
    if (user.ordinal >= made_.size()) {
        made_.resize(user.ordinal + 1);
        known_.resize(user.ordinal + 1);
    }
    std::string& text = made_[user.ordinal];
    known_[user.ordinal] = 1;
    format(text, user);
    kept_ += text.size();
    return text;
}

void UserPrefixes::format(std::string& text, const UserEntry& user) const {
    if (format_ == FormatCsv) {
        formatText(text, "%C,%C,", user.domain, user.userName);
    } else if (format_ == FormatJson) {
        formatText(text, "\"domain\": %J, \"user\": %J, ", user.domain, user.userName);
    } else {
        size_t width = user.nameWidth;
        formatText(text, "%S\\%S %s", user.domain, user.userName,
                   width < kUserColumn ? spaces(kUserColumn - width) : "");
    }
}

// Longer names push the later columns right instead of being cut.
void printActivityLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock,
                       UserPrefixes& prefixes) {
    LineWriter line;
    line.console(prefixes.of(user));
    size_t width = user.nameWidth < kUserColumn ? kUserColumn : user.nameWidth;
    if (event.kind != Reboot) {
        width += line.storedName(event.sessionName) + 1;
        line.literal(" ");
    }
    width += 1; // the space after the user
    line.spaces(width < kLabelColumn ? kLabelColumn - width : 0);
    line.ascii(labelOf(event.kind));
    if (event.kind != Reboot) {
        line.number(static_cast<int>(event.sessionId), 4);
        line.literal("   ");
    } else {
        line.literal("       ");
    }
    line.dateTime(event.time, clock);
    line.end();
}

AsciiText eventName(uint32_t kind) {
    return kind == Reboot  ? AsciiText{"REBOOT", 6}
           : kind == Logon ? AsciiText{"LOGON", 5}
                           : AsciiText{"LOGOFF", 6};
}

// What stands before each field of a line in CSV and in JSON (the time, the epoch, the event,
// the user's fields, the session name and number) and after the last; and after the event of a
// reboot, which has no more.
struct LineTexts {
    AsciiText before[7];
    AsciiText afterReboot;
};
constexpr LineTexts kCsvLine = {{asciiText(""), asciiText(","), asciiText(","), asciiText(","),
                                 asciiText(""), asciiText(","), asciiText("")},
                                asciiText(",,,,")};
constexpr LineTexts kJsonLine = {
    {asciiText("  {\"time\": \""), asciiText("\", \"epoch\": "), asciiText(", \"event\": \""),
     asciiText("\", "), asciiText("\"session\": "), asciiText(", \"session_number\": "),
     asciiText("}")},
    asciiText(
        "\", \"domain\": null, \"user\": null, \"session\": null, \"session_number\": null}")};

// A line of CSV, or an object of JSON (after a comma unless it is the first): one function for
// each, so that each text is a constant.
template <int json>
void printMachineLine(const UserEntry& user, const SessionEvent& event, LocalClock& clock,
                      int first, UserPrefixes& prefixes) {
    constexpr const LineTexts& texts = json ? kJsonLine : kCsvLine;
    LineWriter line;
    if (json && !first)
        line.literal(",");
    if (json)
        line.newline();
    else if (!prefixes.computer().empty())
        line.console(prefixes.computer());
    line.ascii(texts.before[0]);
    line.isoTime(event.time, clock);
    line.ascii(texts.before[1]);
    line.number(event.time);
    line.ascii(texts.before[2]);
    line.ascii(eventName(event.kind));
    if (event.kind == Reboot) {
        line.ascii(texts.afterReboot);
    } else {
        line.ascii(texts.before[3]);
        line.console(prefixes.of(user));
        line.ascii(texts.before[4]);
        line.field(event.sessionName, json);
        line.ascii(texts.before[5]);
        line.number(static_cast<int>(event.sessionId));
        line.ascii(texts.before[6]);
    }
    if (json)
        line.close();
    else
        line.endCsv();
}

// By user ordinal, whether the user's events are shown (reboots always are).
std::vector<char> usersShown(UserList& list, const ReportOptions& options) {
    std::vector<char> shown;
    if (options.user.empty())
        return shown;
    UserPattern pattern(options.user);
    for (UserEntry* user = list.head; user; user = user->next) {
        if (user->ordinal >= shown.size())
            shown.resize(user->ordinal + 1);
        shown[user->ordinal] = static_cast<char>(pattern.matches(user->domain, user->userName));
    }
    return shown;
}

} // namespace

int runActivityListCommand(const ReportOptions& options) {
    return runReport(printActivityList, options);
}

namespace {

// The lines of one list; 1 when it wrote any.
int printListLines(UserList& list, const ReportOptions& options, LocalClock& clock,
                   UserPrefixes& prefixes) {
    int first = 1;
    std::vector<char> shown = usersShown(list, options);
    int filtered = !shown.empty() || options.hasWindow();
    list.resetCursors();
    while (UserEntry* user = list.nextEarliest()) {
        const SessionEvent& event = *user->currentEvent();
        if (filtered && ((event.kind != Reboot && !shown.empty() && !shown[user->ordinal]) ||
                         event.time < options.since || event.time >= options.until))
            continue;
        if (options.format == FormatCsv)
            printMachineLine<0>(*user, event, clock, first, prefixes);
        else if (options.format == FormatJson)
            printMachineLine<1>(*user, event, clock, first, prefixes);
        else
            printActivityLine(*user, event, clock, prefixes);
        first = 0;
    }
    return !first;
}

} // namespace

void printActivityList(LogSet& logs, const ReportOptions& options) {
    ReportLists report(options);
    ComputerLists& lists = report.lists();
    collectAllEvents(logs, lists);
    LocalClock clock;
    if (options.format == FormatCsv)
        printCsvHeaderOf(options, "time,epoch,event,domain,user,session,session_number");
    else if (options.format == FormatJson)
        beginDocument(options, "events");
    else if (options.hasWindow())
        printWindowHeader(options, "");
    int any = 0;
    for (size_t part = 0; part < lists.size(); ++part) {
        beginPart(options, lists, part, "events");
        UserPrefixes prefixes(options.format, computerField(options, lists, part));
        const int anyInPart = printListLines(lists.list(part), options, clock, prefixes);
        endPart(options, anyInPart);
        any = any || anyInPart;
    }
    if (options.format == FormatJson) {
        printOut("%s]", any && !options.hasComputers() ? "\n" : "");
        endDocument(logs, options, clock);
    }
}
