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
