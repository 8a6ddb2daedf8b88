// The ends of logons, against a walk over every later event.
#include "eventlog/event_kind.h"
#include "report/logon_times.h"
#include "support/support.h"

#include <random>

namespace {

// What ends a logon, by the rule itself: the first later event of its session number or reboot
// of the timeline, unless the list's first reboot after the logon comes no later.
const SessionEvent* walkedEnd(RebootCursor& reboots, const SessionEvent* logon,
                              const SessionEvent* end) {
    const SessionEvent* reboot = reboots.firstAfter(logon->time);
    for (const SessionEvent* event = logon + 1; event != end; ++event) {
        if (reboot && reboot->time <= event->time)
            return reboot;
        if (event->kind == Reboot || event->sessionId == logon->sessionId)
            return event;
    }
    return reboot;
}

// Each row is a shape of timeline: its length, how many session numbers it draws from, and how
// often an event is a logoff, a reboot of the timeline, or a reboot of the list.
TEST(SessionEnds, AreThoseOfAWalkOverEveryLaterEvent) {
    const struct {
        const char* what;
        size_t events;
        uint32_t numbers;
        int logoffs, timelineReboots, listReboots; // in a hundred
    } rows[] = {
        {"short, few numbers", 20, 3, 40, 5, 5},
        {"distinct numbers, no logoff", 3000, UINT32_MAX, 0, 0, 0},
        {"distinct numbers, rare reboots", 3000, UINT32_MAX, 0, 0, 1},
        {"many numbers, some logoffs", 3000, 500, 30, 0, 0},
        {"many numbers, reboots in the timeline", 3000, 500, 30, 1, 1},
        {"one number", 500, 1, 50, 0, 2},
        {"long walks to the logoff", 2000, 40, 3, 0, 0},
    };
    std::mt19937 random(7);
    for (const auto& row : rows) {
        std::vector<SessionEvent> events, listReboots;
        uint32_t time = 1000;
        for (size_t i = 0; i < row.events; ++i) {
            time += random() % 3; // equal times too
            int draw = static_cast<int>(random() % 100);
            uint32_t number = static_cast<uint32_t>(random() % row.numbers);
            if (draw < row.listReboots)
                listReboots.push_back({time, 0, Reboot, nullptr});
            uint32_t kind = draw < row.timelineReboots                 ? Reboot
                            : draw < row.timelineReboots + row.logoffs ? Logoff
                                                                       : Logon;
            events.push_back({time, number, kind, nullptr});
        }
        RebootCursor walked(listReboots), indexed(listReboots);
        SessionEnds ends(indexed, events.data(), events.size());
        size_t logons = 0, mismatches = 0;
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].kind != Logon)
                continue;
            ++logons;
            mismatches +=
                ends.of(i) != walkedEnd(walked, &events[i], events.data() + events.size());
        }
        EXPECT_GT(logons, 0u) << row.what;
        EXPECT_EQ(mismatches, 0u) << row.what;
    }
}

} // namespace
