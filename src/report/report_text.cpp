#include "report_text.h"

#include "eventlog/event_kind.h"
#include "platform.h"
#include "settings/audit_settings.h"
#include "time_text.h"

#include <cstdlib>

namespace {

const char kSpaces[] = "                                ";
static_assert(sizeof kSpaces - 1 == kMostSpaces, "kMostSpaces spaces");

} // namespace

const char* spaces(size_t count) {
    return kSpaces + kMostSpaces - (count < kMostSpaces ? count : kMostSpaces);
}

DateTimeText::DateTimeText(uint32_t seconds, LocalClock* clock) {
    if (formatDateTimeInto(local_, sizeof local_ / sizeof local_[0], seconds, WSTR(" "), 1, clock))
        text_ = local_;
    else
        text_ = heap_ = formatDateTime(seconds, WSTR(" "), 1);
}

DateTimeText::~DateTimeText() {
    std::free(heap_);
}

ConsoleDateTime::ConsoleDateTime(uint32_t seconds, LocalClock& clock) {
    if (clock.consoleDateTime(seconds, bytes_))
        return;
    DateTimeText when(seconds, &clock);
    if (when.text())
        formatText(slow_, "%S", when.text());
    text_ = slow_.c_str();
}

void printNotEnabledWarning() {
    printOut("\nWARNING: Velmor auditing not currently enabled.\n"
             "Use /on option to enable and reboot.\n\n");
}

namespace {

// The result code in words for a diagnostic line.
void printCause(DWORD error) {
    if (error != ERROR_SUCCESS)
        printError(" (%s)", errorText(static_cast<LONG>(error)));
}

// The log a diagnostic is about: of several, each is named by its path.
void printLogName(const WCHAR* path) {
    printError("the event log");
    if (path)
        printError(" %S", path);
}

// One line on standard error when the report does not show the whole log; 1 then, else 0.
// path names the log, when it is one of several.
int reportWalkEnd(const EventLogReader& reader, const WCHAR* path) {
    switch (reader.walkEnd()) {
    case WalkComplete:
        return 0;
    case WalkNotOpened:
        printError("vlmaudit: ");
        printLogName(path);
        printError(" could not be opened");
        printCause(reader.walkError());
        printError("; no records are shown.\n");
        return 1;
    case WalkReadFailed:
        printError("vlmaudit: reading ");
        printLogName(path);
        printError(" failed");
        printCause(reader.walkError());
        printError("; older records are not shown.\n");
        return 1;
    case WalkDamaged:
        // Every record that could be read was shown: only the damage is news.
        printError("vlmaudit: ");
        printLogName(path);
        printError(" is damaged");
        if (*reader.damage())
            printError(" (%s)", reader.damage());
        printError("; every record that could be read is shown.\n");
        return 1;
    case WalkMalformed:
        printError("vlmaudit: a malformed %s record of wsxlum",
                   reader.kind() == Logon ? "logon" : "logoff");
        if (path)
            printError(" in %S", path);
        DateTimeText when(reader.time());
        if (when.text())
            printError(" dated %S", when.text());
        // Of several logs, only that one stops: the others' older records are shown.
        printError(path ? " stopped the reading of that log; its older records are not shown.\n"
                        : " stopped the report; older records are not shown.\n");
        return 1;
    }
    return 1;
}

} // namespace

int runReport(void (*printReport)(LogSet&, const ReportOptions&), const ReportOptions& options) {
    int saved = !options.files.empty();
    if (!saved && !isAuditingEnabled()) {
        if (options.format == FormatText)
            printNotEnabledWarning();
        else
            printError("vlmaudit: WARNING: Velmor auditing not currently enabled. "
                       "Use /on option to enable and reboot.\n");
    }
    LogSet logs(WSTR("wsxlum"), options.files);
    // A saved log that cannot be opened is said, each on its line; the report needs them all.
    int unopened = 0;
    for (size_t i = 0; saved && i < logs.size(); ++i) {
        if (logs.log(i).isOpen())
            continue;
        printError("vlmaudit: /file: %S could not be opened", logs.path(i));
        printCause(logs.log(i).openError());
        printError(".\n");
        unopened = 1;
    }
    if (unopened)
        return 1;
    printReport(logs, options);
    int incomplete = 0;
    for (size_t i = 0; i < logs.size(); ++i)
        incomplete |= reportWalkEnd(logs.log(i), logs.size() > 1 ? logs.path(i) : nullptr);
    return incomplete;
}

void printWindowHeader(const ReportOptions& options, const char* note) {
    printOut("Window:");
    if (options.since != INT64_MIN) {
        DateTimeText since(static_cast<uint32_t>(options.since));
        printOut(" from %S", since.text());
    }
    if (options.until != INT64_MAX) {
        DateTimeText until(static_cast<uint32_t>(options.until));
        printOut(" until %S", until.text());
    }
    printOut("%s\n\n", note);
}
