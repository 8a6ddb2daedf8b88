// The /time report: each user's logon sessions with their ends and lengths, and the total.
#pragma once

#include "eventlog/event_kind.h"
#include "eventlog/log_set.h"
#include "report_options.h"
#include "timeline/user_list.h"

// The command: 0, or 1 when the report is incomplete (said on standard error).
int runLogonTimeCommand(const ReportOptions& options = ReportOptions());
void printLogonTimes(LogSet& logs, const ReportOptions& options = ReportOptions());

// The events that end the logons of one timeline (its events in time order): the next reboot
// (the list's, from reboots), or the next event of the user with the same session number or a
// reboot of the timeline; none while the session is still running. Answers are walked to, or,
// once the walks of the timeline would take more than a few steps for each of its events, read
// from an index of the timeline made then.
class SessionEnds {
  public:
    SessionEnds(RebootCursor& reboots, const SessionEvent* events, size_t count)
        : reboots_(reboots), events_(events), count_(count) {}
    // The end of the logon at place logon. The reboots stand in front of the user's events of
    // the same time, as copies inserted into the timeline after them would: a reboot at the
    // logon's own time comes before it and does not end it, one at the time of a later event
    // comes before that event and does.
    const SessionEvent* of(size_t logon) {
        const SessionEvent* reboot = reboots_.firstAfter(events_[logon].time);
        const SessionEvent* next = nextInSession(logon, reboot);
        return next && (!reboot || next->time < reboot->time) ? next : reboot;
    }

  private:
    // The next event of the logon's session number or reboot of the timeline, or one no earlier
    // than reboot's time when that comes first; none when there is neither. Mostly one of the
    // next few events.
    const SessionEvent* nextInSession(size_t logon, const SessionEvent* reboot) {
        const SessionEvent* from = events_ + logon;
        if (next_.empty() && count_ - logon > kNear) {
            for (const SessionEvent* at = from + 1; at <= from + kNear; ++at)
                if ((reboot && reboot->time <= at->time) || at->kind == Reboot ||
                    at->sessionId == from->sessionId)
                    return at;
        }
        return searched(logon, reboot);
    }
    const SessionEvent* searched(size_t logon, const SessionEvent* reboot);
    void makeIndex();
    static constexpr size_t kNear = 4;
    static constexpr size_t kWalkSteps = 64;

    RebootCursor& reboots_;
    const SessionEvent* events_;
    size_t count_;
    size_t walked_ = 0; // the steps of the walks past the near events so far
    // Once made: for each event, the place of the next one of its session number or reboot of
    // the timeline; count_ when none is.
    std::vector<uint32_t> next_;
};
