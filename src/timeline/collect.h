// Filling a UserList from the event log, in the passes each report needs.
#pragma once

#include "eventlog/event_log_reader.h"
#include "user_list.h"

// One pass: every record under its user; reboots under the pseudo-user -\SYSTEM. Returns 1.
int collectAllEvents(EventLogReader& reader, UserList& list);

// Two passes: logons and logoffs under their users, then every reboot copied into every user's
// timeline. Returns 1.
int collectSessionEvents(EventLogReader& reader, UserList& list);
