// The /time report: each user's logon sessions with their ends and lengths, and the total.
#pragma once

#include "eventlog/event_log_reader.h"
#include "report_options.h"
#include "timeline/user_list.h"

// The command: 0, or 1 when the report is incomplete (said on standard error).
int runLogonTimeCommand(const ReportOptions& options = ReportOptions());
void printLogonTimes(EventLogReader& reader, const ReportOptions& options = ReportOptions());

// The event that ends a logon of a timeline whose events end before end: the next reboot (the
// list's, from reboots), or the next event of the user with the same session number; none while
// the session is still running.
const SessionEvent* findSessionEnd(RebootCursor& reboots, const SessionEvent* logon,
                                   const SessionEvent* end);
