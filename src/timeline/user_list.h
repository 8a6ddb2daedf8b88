// The in-memory model both reports are built from: one entry per user (domain and user name),
// each with that user's events in time order.
#pragma once

#include "arena.h"
#include "name_table.h"
#include "platform.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

// Asks the processor for memory that is read soon. A user's events lie wherever the arena had
// room when each was read, so a walk along a timeline would otherwise wait on memory at every
// step; asking one step ahead lets the wait overlap the work on the current event.
inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// One event in one user's timeline. It lives in its list's arena.
class SessionEvent {
  public:
    // sessionName is already the arena's copy.
    SessionEvent(WCHAR* sessionName, uint32_t sessionId, uint32_t kind, uint32_t time,
                 uint32_t owner = 0)
        : time(time), sessionId(sessionId), kind(kind), owner(owner), sessionName(sessionName) {}
    SessionEvent(const SessionEvent&) = delete;
    SessionEvent& operator=(const SessionEvent&) = delete;

    SessionEvent* next = nullptr;
    uint32_t time;
    uint32_t sessionId;
    uint32_t kind;
    uint32_t owner;     // the ordinal of the user whose timeline holds it
    WCHAR* sessionName; // the arena's copy, perhaps shared with a neighbour; none for reboots
};

// The events of a list, in an arena of their own, so that they stand one after another in the
// order they were filed; and whether each was filed no later than the one before, as they are
// when the log is read newest first and its clock never went back.
struct EventStore {
    Arena arena;
    uint32_t earliest = UINT32_MAX; // the time of the last event filed, while newestFirst
    int newestFirst = 1;
};

class UserEntry {
  public:
    // Its names and its events' names come from arena, or from an arena of its own; its events
    // from events, or from that same arena.
    UserEntry(const WCHAR* domain, const WCHAR* userName, Arena* arena = nullptr,
              EventStore* events = nullptr);
    UserEntry(const UserEntry&) = delete;
    UserEntry& operator=(const UserEntry&) = delete;

    // Inserts in front of the first event at the same time or later. 0 when the event could not
    // be allocated (it is dropped).
    int insertEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind, uint32_t time);
    int insertMarker(uint32_t kind, uint32_t time);

    void rewindEvents() { eventCursor = firstEvent; }
    SessionEvent* currentEvent() const { return eventCursor; }
    SessionEvent* advance();

    UserEntry* next = nullptr;
    SessionEvent* firstEvent = nullptr;
    WCHAR* userName; // own copies; none when the copy could not be made
    WCHAR* domain;
    size_t nameWidth; // the characters of 'domain\user' (a missing name counts none)
    SessionEvent* eventCursor = nullptr;
    uint32_t ordinal = 0;  // how many users its list had before it
    size_t eventCount = 0; // the events in its timeline

  private:
    std::unique_ptr<Arena> ownArena_;
    Arena* arena_;
    EventStore* events_;
};

class UserList {
  public:
    UserList() = default;
    ~UserList();
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    // Domain and user name compare without regard to case, the user name first.
    UserEntry* findUser(const WCHAR* domain, const WCHAR* userName) const;
    // The same with the lengths of the names known.
    UserEntry* findUser(NameText domain, NameText userName) const;
    // Links a new entry in front of the list, without looking for an existing one; none when it
    // cannot be allocated.
    UserEntry* addUser(const WCHAR* domain, const WCHAR* userName);

    void rewind() { cursor = head; }
    UserEntry* next();

    // The merge over all users: after resetCursors, each nextEarliest returns the entry whose
    // current event is the earliest not yet visited (ties to the entry nearer the head).
    void resetCursors();
    UserEntry* nextEarliest();

    // The timelines of the users from first on, up to a batch of them, gathered side by side:
    // each user's events in order into events, and into starts where each user's events begin,
    // with one more for the end. Returns the user after the batch.
    static UserEntry* gatherTimelines(UserEntry* first, std::vector<SessionEvent*>& events,
                                      std::vector<size_t>& starts);

    // The reboots of the log, in time order, kept once for all users: the logon time report
    // finds the reboot that ends a session here instead of in a copy in every timeline.
    void setReboots(std::vector<uint32_t> times);
    // The first reboot later than time; none when there is none.
    SessionEvent* firstRebootAfter(uint32_t time) const;
    const std::vector<SessionEvent*>& reboots() const { return reboots_; }

    UserEntry* head = nullptr;
    UserEntry* cursor = nullptr;
    UserEntry* selected = nullptr;

  private:
    Arena arena_; // entries and names
    EventStore events_;
    std::vector<UserEntry*> byOrdinal_;
    std::vector<SessionEvent*> reboots_;
    // Beside the list, so that finding a user costs the same with ten users or ten thousand:
    // the case-folded 'domain\\user' of every entry, to the entry nearest the head (its ordinal
    // plus one). Records nearly always spell a user one way: the spellings met are kept too, and
    // a name found as it is spelled is not folded.
    NameTable folded_{1};
    mutable NameTable spelled_{0};
    // The merge: entries with a current event, earliest first, then nearest the head.
    struct Pending {
        uint32_t time;
        size_t position;
        UserEntry* entry;
    };
    static bool later(const Pending& a, const Pending& b);
    void push(UserEntry* entry, size_t position);
    std::vector<Pending> pending_;
    size_t selectedPosition_ = 0;
    // The merge of events filed newest first: their store walked backwards, each run of equal
    // times put in the merge's order of their users.
    UserEntry* nextFiledBackwards();
    SessionEvent* previousFiled();
    int backwards_ = 0;
    size_t walkBlock_ = 0, walkBytes_ = 0;
    SessionEvent* following_ = nullptr; // read ahead: the first event of the next run
    std::vector<SessionEvent*> run_;
    size_t runNext_ = 0;
};
