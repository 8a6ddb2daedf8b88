#include "parts.h"

#include "machine_text.h"
#include "time_text.h"

ReportLists::ReportLists(const ReportOptions& options)
    : pattern_(options.computer.c_str(), options.computer.size()),
      lists_(options.hasComputers() ? ComputerLists(accepts, &pattern_) : ComputerLists()) {}

int ReportLists::accepts(const void* pattern, const WCHAR* name) {
    return static_cast<const Wildcards*>(pattern)->matches(name);
}

void beginPart(const ReportOptions& options, const ComputerLists& lists, size_t part,
               const char* key, int spaced) {
    if (!options.hasComputers())
        return;
    if (options.format == FormatText)
        printOut("%sComputer: %S\n", part && !spaced ? "\n" : "", lists.name(part).c_str());
    else if (options.format == FormatJson)
        printOut("%s{\"computer\": %J, \"%s\": [", part ? ", " : "", lists.name(part).c_str(), key);
}

void endPart(const ReportOptions& options, int any) {
    if (options.hasComputers() && options.format == FormatJson)
        printOut("%s]}", any ? "\n" : "");
}

void beginDocument(const ReportOptions& options, const char* key) {
    printOut("{\"%s\": [", options.hasComputers() ? "computers" : key);
}

namespace {

// A moment of the context: {"time": ..., "epoch": ...}.
void printMoment(LocalClock& clock, uint32_t seconds) {
    char time[kIsoTimeBytes], number[kNumberBytes];
    isoTime(clock, seconds, time);
    printOut("{\"time\": \"%s\", \"epoch\": %s}", time, decimalText(seconds, number));
}

// One side of the window: a moment, or null where it is open.
void printBound(LocalClock& clock, int64_t seconds, int bounded) {
    if (bounded)
        printMoment(clock, static_cast<uint32_t>(seconds));
    else
        printOut("null");
}

} // namespace

void endDocument(LogSet& logs, const ReportOptions& options, LocalClock& clock) {
    const uint32_t now = runningEnd(logs, options);
    printOut(", \"now\": ");
    printBound(clock, now, now != 0 || options.files.empty());
    printOut(", \"window\": ");
    if (options.hasWindow()) {
        printOut("{\"since\": ");
        printBound(clock, options.since, options.since != INT64_MIN);
        printOut(", \"until\": ");
        printBound(clock, options.until, options.until != INT64_MAX);
        printOut("}");
    } else {
        printOut("null");
    }
    printOut(", \"logs\": [");
    for (size_t i = 0; i < logs.size(); ++i) {
        const EventLogReader& log = logs.log(i);
        char records[kNumberBytes];
        printOut("%s\n  {\"path\": %J, \"records\": %s, \"oldest\": ", i ? "," : "",
                 logs.path(i) ? logs.path(i) : WSTR("Application"),
                 decimalText(static_cast<int64_t>(log.recordsMet()), records));
        printBound(clock, log.oldestMet(), log.recordsMet() > 0);
        printOut(", \"newest\": ");
        printBound(clock, log.newestMet(), log.recordsMet() > 0);
        const WalkEnd end = log.walkEnd();
        printOut(", \"damaged\": %s}",
                 end == WalkDamaged || end == WalkMalformed || end == WalkReadFailed ? "true"
                                                                                     : "false");
    }
    printOut("\n]}\n");
}

void printCsvHeaderOf(const ReportOptions& options, const char* header) {
    if (!options.hasComputers()) {
        printCsvHeader(header);
        return;
    }
    std::string withComputer = "computer,";
    withComputer += header;
    printCsvHeader(withComputer.c_str());
}

std::string computerField(const ReportOptions& options, const ComputerLists& lists, size_t part) {
    std::string field;
    if (options.hasComputers())
        formatText(field, "%C,", lists.name(part).c_str());
    return field;
}

uint32_t runningEnd(const LogSet& logs, const ReportOptions& options) {
    return options.files.empty() ? currentSecondsSince1970() : logs.newestMet();
}
