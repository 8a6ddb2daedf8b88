// What both reports do alike around their lines: the computers' parts, the end of the sessions
// still running, and the context of a JSON document.
#pragma once

#include "eventlog/log_set.h"
#include "report_options.h"
#include "time_text.h"
#include "timeline/computers.h"
#include "wildcards.h"

#include <string>

// The lists of a report: one for every record, or with /computer one for each computer that
// matches, each a part of the report of its own.
class ReportLists {
  public:
    explicit ReportLists(const ReportOptions& options);
    ReportLists(const ReportLists&) = delete;
    ReportLists& operator=(const ReportLists&) = delete;
    ComputerLists& lists() { return lists_; }

  private:
    static int accepts(const void* pattern, const WCHAR* name);
    Wildcards pattern_;
    ComputerLists lists_;
};

// The start of a part: in text, its computer's line, after an empty line but for the first
// part or after one (spaced: the part before ended with one, as a user's times do); in JSON, the
// computer's object up to its array, named key. Nothing without /computer.
void beginPart(const ReportOptions& options, const ComputerLists& lists, size_t part,
               const char* key, int spaced = 0);
// The end of a part's array and object in JSON; any said that the array holds items.
void endPart(const ReportOptions& options, int any);
// The start of a JSON document: its array of computers or of key.
void beginDocument(const ReportOptions& options, const char* key);
// The end of a JSON document, after the array: the context, then the object's end.
void endDocument(LogSet& logs, const ReportOptions& options, LocalClock& clock);
// A CSV header, with the computer's column first under /computer.
void printCsvHeaderOf(const ReportOptions& options, const char* header);
// The computer's CSV field of part, with its comma, under /computer; empty otherwise.
std::string computerField(const ReportOptions& options, const ComputerLists& lists, size_t part);

// When the sessions still running end: with saved logs, at their newest record (of any source:
// a saved log says nothing of the time after it was saved), or 0 when none was read; otherwise
// at the present time.
uint32_t runningEnd(const LogSet& logs, const ReportOptions& options);
