// The /time report: each user's logon sessions with their ends and lengths, and the total.
#pragma once

#include "eventlog/event_log_reader.h"
#include "report_options.h"
#include "timeline/user_list.h"

// The command: 0, or 1 when the report is incomplete (said on standard error).
int runLogonTimeCommand(const ReportOptions& options = ReportOptions());
void printLogonTimes(EventLogReader& reader, const ReportOptions& options = ReportOptions());

// The event that ends a logon: the next reboot (the list's), or the next event of the same
// user with the same session number; none while the session is still running.
SessionEvent* findSessionEnd(const UserList& list, SessionEvent* logon);
