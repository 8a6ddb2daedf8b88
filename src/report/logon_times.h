// The /time report: each user's logon sessions with their ends and lengths, and the total.
#pragma once

#include "eventlog/event_log_reader.h"
#include "report_options.h"
#include "timeline/user_list.h"

// The command: 0, or 1 when the report is incomplete (said on standard error).
int runLogonTimeCommand(const ReportOptions& options = ReportOptions());
void printLogonTimes(EventLogReader& reader, const ReportOptions& options = ReportOptions());

// The events that end the logons of one timeline (its events in time order): the next reboot
// (the list's, from reboots), or the next event of the user with the same session number or a
// reboot of the timeline; none while the session is still running. Asked in timeline order,
// each answer costs a short walk, or, where the walk would be long, a search in an index of the
// timeline made once for it.
class SessionEnds {
  public:
    SessionEnds(RebootCursor& reboots, const SessionEvent* events, size_t count)
        : reboots_(reboots), events_(events), count_(count) {}
    // The end of the logon at place logon.
    const SessionEvent* of(size_t logon);

  private:
    size_t nextInSession(size_t logon);
    void makeIndex();

    RebootCursor& reboots_;
    const SessionEvent* events_;
    size_t count_;
    // Once made: for each event, the place of the next one of its session number or reboot of
    // the timeline; count_ when none is.
    std::vector<uint32_t> next_;
};
