// The collection passes over logs written by the project's writer.
#include "eventlog/event_kind.h"
#include "formats/evt/evt_writer.h"
#include "support/support.h"
#include "timeline/collect.h"
#include "wsxlum/evt_record.h"

namespace {

struct Seen {
    std::string user;
    uint32_t kind, time, sessionId;
    bool operator==(const Seen& o) const {
        return user == o.user && kind == o.kind && time == o.time && sessionId == o.sessionId;
    }
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << s.user << "/" << s.kind << "@" << s.time << "#" << s.sessionId;
}

// Every user in list order, with their events and the list's reboots among them (in front of
// events of the same time).
std::vector<Seen> contents(UserList& list) {
    std::vector<Seen> out;
    list.rewind();
    while (UserEntry* entry = list.next()) {
        std::string user = toUtf8(entry->domain) + "\\" + toUtf8(entry->userName);
        auto reboot = list.reboots().begin();
        std::vector<SessionEvent> events;
        list.timelineOf(*entry, events);
        for (size_t i = 0;; ++i) {
            const SessionEvent* e = i < events.size() ? &events[i] : nullptr;
            for (; reboot != list.reboots().end() && (!e || reboot->time <= e->time); ++reboot)
                out.push_back({user, Reboot, reboot->time, 0});
            if (!e)
                break;
            out.push_back({user, e->kind, e->time, e->sessionId});
        }
    }
    return out;
}

class Collect : public testing::Test {
  protected:
    void log(const std::vector<EvtRecordFields>& records) {
        std::string error;
        ASSERT_TRUE(appendEvtRecords(sandbox.root() + "/eventlog/Application.evt", records,
                                     kDefaultEvtMaxSize, &error))
            << error;
    }
    std::vector<Seen> all() {
        LogSet logs(WSTR("wsxlum"), {});
        ComputerLists lists;
        EXPECT_EQ(collectAllEvents(logs, lists), 1);
        return contents(lists.list(0));
    }
    std::vector<Seen> sessions() {
        LogSet logs(WSTR("wsxlum"), {});
        ComputerLists lists;
        EXPECT_EQ(collectSessionEvents(logs, lists), 1);
        return contents(lists.list(0));
    }
    Sandbox sandbox;
};

TEST_F(Collect, OnlyRebootsGiveTheSystemUserOrNothing) {
    log({sessionRecord(Reboot, 10), sessionRecord(Reboot, 20)});
    EXPECT_EQ(all(),
              (std::vector<Seen>{{"-\\SYSTEM", Reboot, 10, 0}, {"-\\SYSTEM", Reboot, 20, 0}}));
    EXPECT_TRUE(sessions().empty());
}

TEST_F(Collect, EveryRebootReachesEveryUser) {
    log({sessionRecord(Reboot, 5), sessionRecord(Logon, 100, 3, u"s\\D\\bob"),
         sessionRecord(Logoff, 200, 3, u"s\\D\\bob"), sessionRecord(Reboot, 200),
         sessionRecord(Logon, 300, 1, u"c\\E\\eve")});
    EXPECT_EQ(sessions(), (std::vector<Seen>{{"D\\bob", Reboot, 5, 0},
                                             {"D\\bob", Logon, 100, 3},
                                             {"D\\bob", Reboot, 200, 0},
                                             {"D\\bob", Logoff, 200, 3},
                                             {"E\\eve", Reboot, 5, 0},
                                             {"E\\eve", Reboot, 200, 0},
                                             {"E\\eve", Logon, 300, 1}}));
    // Users met last in the newest-first walk stand first; equal times keep the log's order.
    // Reboots keep whatever session number the reader last parsed.
    EXPECT_EQ(all(), (std::vector<Seen>{{"D\\bob", Logon, 100, 3},
                                        {"D\\bob", Logoff, 200, 3},
                                        {"-\\SYSTEM", Reboot, 5, 3},
                                        {"-\\SYSTEM", Reboot, 200, 1},
                                        {"E\\eve", Logon, 300, 1}}));
}

TEST_F(Collect, CaseVariantsAreOneUserNamedAsTheNewestRecord) {
    log({sessionRecord(Logon, 1, 1, u"s\\dom\\ALICE"),
         sessionRecord(Logoff, 2, 1, u"s\\DOM\\Alice")});
    EXPECT_EQ(all(),
              (std::vector<Seen>{{"DOM\\Alice", Logon, 1, 1}, {"DOM\\Alice", Logoff, 2, 1}}));
}

TEST_F(Collect, RecordsWithoutDomainOrUserAreSkipped) {
    EvtRecordFields other = sessionRecord(Logon, 4, 9, u"s\\D\\x");
    other.eventId = 7; // a kind that carries no names
    log({sessionRecord(Logon, 1, 1, u"Console\\alice"), sessionRecord(Logon, 2, 2, u"alone"),
         sessionRecord(Logon, 3, 3, u"s\\D\\u"), other});
    EXPECT_EQ(all(), (std::vector<Seen>{{"D\\u", Logon, 3, 3}}));
    EXPECT_EQ(sessions(), (std::vector<Seen>{{"D\\u", Logon, 3, 3}}));
}

TEST_F(Collect, AMalformedRecordStopsEachPassThere) {
    EvtRecordFields bad = sessionRecord(Logon, 150, 1, u"s\\D\\u");
    bad.data[0] = static_cast<uint8_t>(bad.data.size() - 2); // the size misses the terminator
    log({sessionRecord(Reboot, 50), sessionRecord(Logon, 100, 1, u"s\\D\\old"), bad,
         sessionRecord(Logon, 200, 2, u"s\\D\\new"), sessionRecord(Reboot, 300)});
    EXPECT_EQ(sessions(),
              (std::vector<Seen>{{"D\\new", Logon, 200, 2}, {"D\\new", Reboot, 300, 0}}));
}

} // namespace
