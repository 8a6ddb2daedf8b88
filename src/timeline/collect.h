// Filling a UserList from the event log, in the passes each report needs.
#pragma once

#include "eventlog/event_log_reader.h"
#include "user_list.h"

// One pass: every record under its user; reboots under the pseudo-user -\SYSTEM. Returns 1.
int collectAllEvents(EventLogReader& reader, UserList& list);

// One pass: logons and logoffs under their users (logoffs without their session names), and the
// reboots into the list's own. Returns 1.
int collectSessionEvents(EventLogReader& reader, UserList& list);
