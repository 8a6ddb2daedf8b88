// The /list report: every event of the source in time order, one line each, in fixed columns.
#pragma once

#include "eventlog/log_set.h"
#include "report_options.h"

// The command: 0, or 1 when the report is incomplete (said on standard error).
int runActivityListCommand(const ReportOptions& options = ReportOptions());
void printActivityList(LogSet& logs, const ReportOptions& options = ReportOptions());
