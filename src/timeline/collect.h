// Filling the lists of a report from the event logs, in the passes each report needs.
#pragma once

#include "computers.h"
#include "eventlog/log_set.h"
#include "user_list.h"

// One pass: every record under its user; reboots under the pseudo-user -\SYSTEM. Returns 1.
int collectAllEvents(LogSet& logs, ComputerLists& lists);

// One pass: logons and logoffs under their users (logoffs without their session names), and the
// reboots into each list's own. Returns 1.
int collectSessionEvents(LogSet& logs, ComputerLists& lists);
