#include "eventlog/event_kind.h"
#include "support/support.h"
#include "timeline/user_list.h"

#include <cstring>

namespace {

std::vector<uint32_t> times(UserEntry* entry) {
    std::vector<uint32_t> out;
    for (SessionEvent* e = entry->firstEvent; e; e = e->next)
        out.push_back(e->time);
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
    const struct {
        const WCHAR *domain, *user;
        UserEntry* expected;
    } before[] = {{WSTR("dom"), WSTR("alice"), first},
                  {WSTR("dom"), WSTR("alice"), first},
                  {WSTR("DOM"), WSTR("Alice"), first},
                  {WSTR("DOM"), WSTR("Alice_Long_Namf"), nullptr},
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

TEST(UserEntry, KeepsEventsInTimeOrderNewcomersBeforeEqualTimes) {
    UserEntry entry(WSTR("D"), WSTR("u"));
    entry.insertEvent(WSTR("a"), 1, Logon, 50);
    entry.insertEvent(WSTR("b"), 2, Logon, 10);
    entry.insertEvent(WSTR("c"), 3, Logon, 30);
    EXPECT_EQ(times(&entry), (std::vector<uint32_t>{10, 30, 50}));
    entry.insertEvent(WSTR("d"), 4, Logoff, 30);
    entry.insertMarker(Reboot, 0xFFFFFFFFu);
    entry.insertMarker(Reboot, 0);
    EXPECT_EQ(times(&entry), (std::vector<uint32_t>{0, 10, 30, 30, 50, 0xFFFFFFFFu}));
    SessionEvent* second30 = entry.firstEvent->next->next;
    EXPECT_EQ(toUtf8(second30->sessionName), "d");
    EXPECT_EQ(second30->next->sessionId, 3u);
    EXPECT_EQ(entry.firstEvent->sessionName, nullptr);
    EXPECT_EQ(entry.firstEvent->sessionId, 0u);
}

TEST(UserEntry, CursorWalksAndStopsAtTheEnd) {
    UserEntry entry(WSTR("D"), WSTR("u"));
    EXPECT_EQ(entry.currentEvent(), nullptr);
    entry.insertMarker(Reboot, 1);
    entry.insertMarker(Reboot, 2);
    entry.rewindEvents();
    EXPECT_EQ(entry.currentEvent()->time, 1u);
    EXPECT_EQ(entry.advance()->time, 2u);
    EXPECT_EQ(entry.advance(), nullptr);
    EXPECT_EQ(entry.advance(), nullptr);
}

TEST(UserList, MergeVisitsEveryEventOnceInTimeOrderTiesNearerTheHead) {
    UserList list;
    EXPECT_EQ(list.nextEarliest(), nullptr); // empty
    UserEntry* a = list.addUser(WSTR("D"), WSTR("a"));
    UserEntry* b = list.addUser(WSTR("D"), WSTR("b")); // head
    UserEntry* c = list.addUser(WSTR("D"), WSTR("c")); // head; c has no events
    (void)c;
    for (uint32_t t : {5u, 20u, 40u})
        a->insertMarker(Reboot, t);
    for (uint32_t t : {1u, 20u, 30u})
        b->insertMarker(Reboot, t);
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
// user newer filings first. Times are few, so that ties abound.
TEST(UserList, MergeOfEventsFiledNewestFirstEqualsTheGeneralMerge) {
    std::vector<std::pair<uint32_t, uint32_t>> filed; // (user, time), newest first
    uint32_t time = 1000;
    for (uint32_t i = 0; i < 3000; ++i) {
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
                    users[filed[i].first]->insertEvent(nullptr, i, Logon, filed[i].second);
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

// Each user's timeline, whole and in order, for batches of users that end where the list does,
// or after a long timeline.
TEST(UserList, GathersEachUsersTimelineInBatches) {
    UserList list;
    for (uint32_t u = 0; u < 21; ++u) {
        UserEntry* user = list.addUser(WSTR("D"), WString(1, static_cast<WCHAR>('a' + u)).c_str());
        uint32_t events = u == 20 ? 70000 : (u * 37) % 50; // the head's fills a batch alone
        for (uint32_t i = 0; i < events; ++i)              // newest first, with a few out of order
            user->insertEvent(WSTR("s"), u, Logon, events - i + (i % 7 == 0 ? 3 : 0));
    }
    std::vector<SessionEvent*> events;
    std::vector<size_t> starts;
    UserEntry* user = list.head;
    for (UserEntry* batch = list.head; batch;) {
        UserEntry* after = UserList::gatherTimelines(batch, events, starts);
        ASSERT_NE(after, batch);
        if (batch == list.head) { // a batch holds a bounded number of events, beyond one user's
            EXPECT_EQ(starts.size(), 2u);
        }
        for (size_t k = 0; k + 1 < starts.size(); ++k, user = user->next) {
            std::vector<SessionEvent*> walked, gathered(&events[starts[k]], &events[starts[k + 1]]);
            for (SessionEvent* e = user->firstEvent; e; e = e->next)
                walked.push_back(e);
            EXPECT_EQ(gathered, walked);
        }
        EXPECT_EQ(user, after);
        batch = after;
    }
    EXPECT_EQ(user, nullptr);
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
