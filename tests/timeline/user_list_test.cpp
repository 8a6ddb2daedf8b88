#include "eventlog/event_kind.h"
#include "support/support.h"
#include "timeline/user_list.h"

#include <cstring>

namespace {

std::vector<SessionEvent> timeline(UserList& list, UserEntry* entry) {
    std::vector<SessionEvent> events;
    list.timelineOf(*entry, events);
    return events;
}

std::vector<uint32_t> times(UserList& list, UserEntry* entry) {
    std::vector<uint32_t> out;
    for (const SessionEvent& e : timeline(list, entry))
        out.push_back(e.time);
    return out;
}

TEST(UserList, FindsUsersWithoutRegardToCaseButApartByDomain) {
    UserList list;
    UserEntry* alice = list.addUser(WSTR("DOM"), WSTR("Alice"));
    EXPECT_EQ(list.findUser(WSTR("dom"), WSTR("ALICE")), alice);
    EXPECT_EQ(list.findUser(WSTR("DOM1"), WSTR("alice")), nullptr);
    UserEntry* other = list.addUser(WSTR("DOM2"), WSTR("alice"));
    EXPECT_EQ(list.findUser(WSTR("dom2"), WSTR("alice")), other);
    EXPECT_EQ(list.head, other); // new users go to the front
    EXPECT_EQ(toUtf8(alice->userName), "Alice");
    EXPECT_EQ(toUtf8(alice->domain), "DOM");
}

TEST(UserList, AMissingNameMatchesOnlyAMissingName) {
    UserList list;
    UserEntry* entry = list.addUser(nullptr, WSTR("x"));
    EXPECT_EQ(entry->domain, nullptr);
    EXPECT_EQ(list.findUser(nullptr, WSTR("X")), entry);
    EXPECT_EQ(list.findUser(WSTR(""), WSTR("x")), nullptr);
}

// Lookups go first by the spellings met before, then folded: a spelling met before a newer
// entry of the same folded names finds the newer one, and names that differ only past four units
// or in length are apart.
TEST(UserList, SpellingsMetBeforeFindWhatFoldedNamesFind) {
    UserList list;
    UserEntry* first = list.addUser(WSTR("DOM"), WSTR("Alice"));
    UserEntry* other = list.addUser(WSTR("DOM"), WSTR("Alice_Long_Name"));
    UserEntry* longer = list.addUser(WSTR("LongDomain"), WSTR("Alice_Long_Name"));
    const struct {
        const WCHAR *domain, *user;
        UserEntry* expected;
    } before[] = {{WSTR("dom"), WSTR("alice"), first},
                  {WSTR("dom"), WSTR("alice"), first},
                  {WSTR("DOM"), WSTR("Alice"), first},
                  {WSTR("DOM"), WSTR("Alice_Long_Namf"), nullptr},
                  {WSTR("LongDomain"), WSTR("Alice_Long_Name"), longer},
                  {WSTR("LONGDOMAIN"), WSTR("alice_long_name"), longer},
                  {WSTR("LongDomaio"), WSTR("Alice_Long_Name"), nullptr},
                  {WSTR("DOM"), WSTR("ALICE_LONG_NAME"), other},
                  {WSTR("DOM"), WSTR("Alice_Long_Name_"), nullptr},
                  {WSTR("DO"), WSTR("MAlice"), nullptr},
                  {nullptr, WSTR("Alice"), nullptr}};
    for (const auto& row : before)
        EXPECT_EQ(list.findUser(row.domain, row.user), row.expected) << toUtf8(row.user);
    UserEntry* newer = list.addUser(WSTR("Dom"), WSTR("ALICE"));
    for (const auto& row : before)
        EXPECT_EQ(list.findUser(row.domain, row.user), row.expected == first ? newer : row.expected)
            << toUtf8(row.user);
}

// Names of eight units whose words step by (t, -t * 0x9e3779b97f4a7c15): a hash that adds each
// word and multiplies by that number gives them all one value. Each row is a number of them, and
// a domain, spelled and folded; every name is found, as spelled and as folded, and no other.
TEST(UserList, NamesChosenToShareAHashAreKeptApartAndFound) {
    const struct {
        size_t names;
        const WCHAR* domain;
    } rows[] = {{2, WSTR("D")}, {3000, WSTR("D")}, {3000, WSTR("CORP-longer-domain-name")}};
    for (const auto& row : rows) {
        UserList list;
        std::vector<std::vector<WCHAR>> names;
        std::vector<UserEntry*> entries;
        for (uint64_t t = 0; names.size() < row.names; ++t) {
            uint64_t words[2] = {0x4e004e004e004e00ull + t,
                                 0x4e014e014e014e01ull - t * 0x9e3779b97f4a7c15ull};
            std::vector<WCHAR> name(9, 0);
            std::memcpy(name.data(), words, 16);
            int usable = 1;
            for (size_t i = 0; i < 8; ++i)
                usable &= name[i] != 0 && (name[i] < 'A' || name[i] > 'Z') &&
                          (name[i] < 'a' || name[i] > 'z');
            if (!usable)
                continue; // folding would make two of them one
            entries.push_back(list.addUser(row.domain, name.data()));
            names.push_back(name);
        }
        size_t wrong = 0;
        for (int pass = 0; pass < 2; ++pass) // folded first, then as spelled
            for (size_t i = 0; i < names.size(); ++i)
                wrong += list.findUser(row.domain, names[i].data()) != entries[i];
        EXPECT_EQ(wrong, 0u) << row.names;
        std::vector<WCHAR> other = names.back();
        ++other[7];
        EXPECT_EQ(list.findUser(row.domain, other.data()), nullptr) << row.names;
    }
}

TEST(UserList, KeepsEventsInTimeOrderNewcomersBeforeEqualTimes) {
    UserList list;
    UserEntry* entry = list.addUser(WSTR("D"), WSTR("u"));
    list.fileEvent(*entry, WSTR("a"), 1, Logon, 50);
    list.fileEvent(*entry, WSTR("b"), 2, Logon, 10);
    list.fileEvent(*entry, WSTR("c"), 3, Logon, 30);
    EXPECT_EQ(times(list, entry), (std::vector<uint32_t>{10, 30, 50}));
    list.fileEvent(*entry, WSTR("d"), 4, Logoff, 30);
    list.fileEvent(*entry, nullptr, 0, Reboot, 0xFFFFFFFFu);
    list.fileEvent(*entry, nullptr, 0, Reboot, 0);
    EXPECT_EQ(times(list, entry), (std::vector<uint32_t>{0, 10, 30, 30, 50, 0xFFFFFFFFu}));
    std::vector<SessionEvent> events = timeline(list, entry);
    EXPECT_EQ(toUtf8(events[2].sessionName), "d");
    EXPECT_EQ(events[2].kind, uint32_t(Logoff));
    EXPECT_EQ(events[3].sessionId, 3u);
    EXPECT_EQ(events[0].sessionName, nullptr);
    EXPECT_EQ(events[0].kind, uint32_t(Reboot));
    EXPECT_EQ(list.eventCount(*entry), 6u);
}

// Events of a user that follow one another with one name share a copy of it; each keeps its own
// name. Names of 22 units and fewer are compared where the user's last one is held, longer ones
// with its copy: names that differ only in their last unit, on either side of that length, and
// a name that comes back after another of its length (a's RDP#1, RDP#2, RDP#1 near the end).
TEST(UserList, EachEventKeepsItsSessionName) {
    UserList list;
    UserEntry* a = list.addUser(WSTR("D"), WSTR("a"));
    UserEntry* b = list.addUser(WSTR("D"), WSTR("b"));
    const WCHAR* names[] = {WSTR("RDP#1"),
                            WSTR("RDP#1"),
                            WSTR("RDP#12"),
                            WSTR("RDP#"),
                            WSTR(""),
                            WSTR("RDP#1"),
                            WSTR(""),
                            WSTR("RDP-Tcp#0123456789abcd"),
                            WSTR("RDP-Tcp#0123456789abce"),
                            WSTR("RDP-Tcp#0123456789abcd"),
                            WSTR("RDP-Tcp#0123456789abcde"),
                            WSTR("RDP-Tcp#0123456789abcdf"),
                            WSTR("RDP-Tcp#0123456789abcd"),
                            WSTR("RDP-Tcp#0123456789abcdf"),
                            WSTR("RDP#2"),
                            WSTR("RDP#2"),
                            WSTR("RDP#1"),
                            WSTR("RDP#1")};
    const size_t count = sizeof names / sizeof names[0];
    for (uint32_t i = 0; i < count; ++i)
        list.fileEvent(i % 3 ? *a : *b, names[i], i, Logon, 100 - i);
    std::vector<const WCHAR*> copies(count);
    for (UserEntry* user : {a, b}) {
        for (const SessionEvent& e : timeline(list, user)) {
            EXPECT_EQ(toUtf8(e.sessionName), toUtf8(names[e.sessionId])) << e.sessionId;
            copies[e.sessionId] = e.sessionName;
        }
    }
    // Shared: a's short name, b's name of 22 units, a's longer one.
    for (auto same : {std::make_pair(16, 17), std::make_pair(9, 12), std::make_pair(11, 13)})
        EXPECT_EQ(copies[same.first], copies[same.second]) << same.first;
}

// A list's first blocks of entries, events and names start small and grow as it does (a report
// of many computers keeps a list for each): events and names filed across each growth are kept,
// and a list of one event takes a few small pieces of its pool.
TEST(UserList, GrowsFromSmallBlocksKeepingEveryEventAndName) {
    const struct {
        uint32_t events;
        size_t mostBytes; // of the pool, or 0 for any
    } kCases[] = {{1, 1024}, {4, 0}, {5, 0}, {100, 0}, {4096, 0}, {4097, 0}, {20000, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.events);
        BlockPool pool;
        UserList list(&pool);
        UserEntry* entry = list.addUser(WSTR("D"), WSTR("u"));
        std::vector<WString> names;
        for (uint32_t i = 0; i < c.events; ++i) {
            names.push_back(WSTR("RDP-Tcp#") + WString(i % 7 + 1, WCHAR('a' + i % 26)));
            ASSERT_TRUE(list.fileEvent(*entry, names.back().c_str(), i, Logon, c.events - i));
        }
        if (c.mostBytes) {
            EXPECT_LE(pool.taken(), c.mostBytes);
        }
        std::vector<SessionEvent> events = timeline(list, entry);
        ASSERT_EQ(events.size(), c.events);
        for (const SessionEvent& e : events) {
            EXPECT_EQ(e.time, c.events - e.sessionId);
            EXPECT_EQ(toUtf8(e.sessionName), toUtf8(names[e.sessionId].c_str()));
        }
    }
}

// Each time is asked of a cursor that may have answered a later one before.
TEST(RebootCursor, FindsTheFirstRebootLaterThanEachTime) {
    std::vector<SessionEvent> reboots;
    for (uint32_t t = 10; t <= 200; t += 10)
        reboots.push_back({t, 0, Reboot, nullptr});
    reboots.insert(reboots.begin() + 3, {30, 0, Reboot, nullptr}); // two at 30
    RebootCursor cursor(reboots);
    const struct {
        uint32_t time, expected; // 0: none
    } asked[] = {{0, 10},    {5, 10},  {10, 20}, {29, 30},   {30, 40}, {31, 40}, {150, 160},
                 {150, 160}, {35, 40}, {9, 10},  {199, 200}, {200, 0}, {400, 0}, {30, 40}};
    for (const auto& row : asked) {
        const SessionEvent* found = cursor.firstAfter(row.time);
        EXPECT_EQ(found ? found->time : 0u, row.expected) << row.time;
    }
    std::vector<SessionEvent> none;
    RebootCursor empty(none);
    EXPECT_EQ(empty.firstAfter(0), nullptr);
}

TEST(UserList, MergeVisitsEveryEventOnceInTimeOrderTiesNearerTheHead) {
    UserList list;
    EXPECT_EQ(list.nextEarliest(), nullptr); // empty
    UserEntry* a = list.addUser(WSTR("D"), WSTR("a"));
    UserEntry* b = list.addUser(WSTR("D"), WSTR("b")); // head
    UserEntry* c = list.addUser(WSTR("D"), WSTR("c")); // head; c has no events
    (void)c;
    for (uint32_t t : {5u, 20u, 40u})
        list.fileEvent(*a, nullptr, 0, Reboot, t);
    for (uint32_t t : {1u, 20u, 30u})
        list.fileEvent(*b, nullptr, 0, Reboot, t);
    list.resetCursors();
    std::vector<std::pair<UserEntry*, uint32_t>> seen;
    while (UserEntry* entry = list.nextEarliest())
        seen.push_back({entry, entry->currentEvent()->time});
    std::vector<std::pair<UserEntry*, uint32_t>> expected = {{b, 1},  {a, 5},  {b, 20},
                                                             {a, 20}, {b, 30}, {a, 40}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(list.nextEarliest(), nullptr); // stays at the end
    EXPECT_EQ(list.cursor, nullptr);
}

// Events filed newest first are merged from their filing order; any other filing goes through
// the heap. Both must give one order: by time, ties to the user nearer the head, and within a
// user newer filings first. Times are few, so that ties abound; the events fill more than one
// of the store's blocks.
TEST(UserList, MergeOfEventsFiledNewestFirstEqualsTheGeneralMerge) {
    std::vector<std::pair<uint32_t, uint32_t>> filed; // (user, time), newest first
    uint32_t time = 100000;
    for (uint32_t i = 0; i < (1u << 17) + 3000; ++i) {
        time -= (i * 7919u) % 5 == 0 ? 1 : 0;
        filed.push_back({(i * 31u + i / 7) % 6, time});
    }
    auto merge = [&](int byUser) {
        UserList list;
        std::vector<UserEntry*> users;
        for (WCHAR name = 'a'; name < 'a' + 6; ++name)
            users.push_back(list.addUser(WSTR("D"), WString(1, name).c_str()));
        // One user after another is the same timelines, filed out of time order.
        for (uint32_t u = 0; u < (byUser ? 6u : 1u); ++u)
            for (uint32_t i = 0; i < filed.size(); ++i)
                if (!byUser || filed[i].first == u)
                    list.fileEvent(*users[filed[i].first], nullptr, i, Logon, filed[i].second);
        std::vector<uint32_t> order; // the filing index of each event, as merged
        list.resetCursors();
        while (UserEntry* entry = list.nextEarliest())
            order.push_back(entry->currentEvent()->sessionId);
        return order;
    };
    std::vector<uint32_t> backwards = merge(0), general = merge(1);
    EXPECT_EQ(backwards.size(), filed.size());
    EXPECT_EQ(backwards, general);
}

} // namespace

namespace {

// Pieces of every size the lists ask for, and larger than a block, each aligned as asked and
// apart from every other: a pattern written into each is still there when all are taken.
TEST(Arena, HandsOutAlignedPiecesThatNeverOverlap) {
    const struct {
        size_t size, alignment;
    } kinds[] = {{1, 1}, {14, 2}, {32, 8}, {100, 16}, {70000, 8}, {size_t(33) << 20, 16}};
    Arena arena;
    std::vector<std::pair<uint8_t*, size_t>> pieces;
    for (int round = 0; round < 400; ++round) {
        for (const auto& kind : kinds) {
            if (kind.size > 1000000 && round % 100 != 0)
                continue;
            auto* piece = static_cast<uint8_t*>(arena.allocate(kind.size, kind.alignment));
            ASSERT_NE(piece, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(piece) % kind.alignment, 0u) << kind.size;
            std::memset(piece, static_cast<int>(pieces.size() % 251), kind.size);
            pieces.push_back({piece, kind.size});
        }
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        const uint8_t* piece = pieces[i].first;
        size_t size = pieces[i].second;
        ASSERT_EQ(piece[0], i % 251);
        ASSERT_EQ(piece[size - 1], i % 251);
    }
    EXPECT_EQ(arena.allocate(size_t(2) << 30), nullptr); // more than is ever asked for
}

} // namespace

// A session name longer than a block of names gets a block of its own, the list's first name
// too (which starts one unit in), and the names after it are kept whole.
TEST(UserList, KeepsANameLongerThanABlockWhole) {
    UserList list;
    UserEntry* entry = list.addUser(WSTR("D"), WSTR("u"));
    std::vector<WCHAR> longName((size_t(1) << 20) + 3, WCHAR('n'));
    longName.back() = 0;
    list.fileEvent(*entry, longName.data(), 1, Logon, 10);
    list.fileEvent(*entry, WSTR("after"), 2, Logon, 20);
    std::vector<SessionEvent> events = timeline(list, entry);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::memcmp(events[0].sessionName, longName.data(), sizeof(WCHAR) * longName.size()),
              0);
    EXPECT_EQ(toUtf8(events[1].sessionName), "after");
}
