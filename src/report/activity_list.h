// The /list report: every event of the source in time order, one line each, in fixed columns.
#pragma once

#include "eventlog/event_log_reader.h"

void runActivityListCommand();
void printActivityList(EventLogReader& reader);
