// The in-memory model both reports are built from: one entry per user (domain and user name),
// each with that user's events in time order.
#pragma once

#include "arena.h"
#include "event_store.h"
#include "name_table.h"
#include "platform.h"

#include <cstdint>
#include <utility>
#include <vector>

// Asks the processor for memory that is read soon, so that the wait for it overlaps the work on
// what is at hand.
inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// One event of a timeline, as the reports read it.
struct SessionEvent {
    uint32_t time;
    uint32_t sessionId;
    uint32_t kind;
    WCHAR* sessionName; // its list's copy; none for reboots, and for the logoffs of /time
};

class UserEntry {
  public:
    // Its names are copied into arena.
    UserEntry(const WCHAR* domain, const WCHAR* userName, Arena& arena);
    UserEntry(const UserEntry&) = delete;
    UserEntry& operator=(const UserEntry&) = delete;

    // The event the merge chose this entry for (see UserList::nextEarliest).
    const SessionEvent* currentEvent() const { return &current; }

    UserEntry* next = nullptr;
    WCHAR* userName; // own copies; none when the copy could not be made
    WCHAR* domain;
    size_t nameWidth;     // the columns of 'domain\user' printed (a missing name counts none)
    uint32_t ordinal = 0; // how many users its list had before it
    SessionEvent current = {};
};

// The first reboot later than a time, for times asked mostly in order, as along a timeline: the
// cursor steps forward from the answer before, and searches when the steps would be many or the
// time went back.
class RebootCursor {
  public:
    explicit RebootCursor(const std::vector<SessionEvent>& reboots)
        : begin_(reboots.data()), end_(begin_ + reboots.size()), at_(begin_) {}
    // None when there is none.
    const SessionEvent* firstAfter(uint32_t time);

  private:
    const SessionEvent* begin_;
    const SessionEvent* end_;
    const SessionEvent* at_; // the answer before: every reboot in front of it is not later
};

class UserList {
  public:
    // Its memory comes from pool where one is given (it outlives the list), else from its own.
    explicit UserList(BlockPool* pool = nullptr)
        : pool_(pool ? *pool : ownPool_), arena_(&pool_), events_(pool_), names_(pool_) {}
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    // Domain and user name compare without regard to case, the user name first.
    UserEntry* findUser(const WCHAR* domain, const WCHAR* userName) const;
    // The same with the lengths of the names known.
    UserEntry* findUser(NameText domain, NameText userName) const {
        uint32_t number = userNumber(domain, userName);
        return number ? byOrdinal_[number - 1] : nullptr;
    }
    // The ordinal of the entry findUser finds, plus one; 0 when there is none.
    uint32_t userNumber(NameText domain, NameText userName) const {
        if (uint32_t spelled = spelled_.find(domain, userName))
            return spelled;
        return findFolded(domain, userName);
    }
    // Links a new entry in front of the list, without looking for an existing one; none when it
    // cannot be allocated.
    UserEntry* addUser(const WCHAR* domain, const WCHAR* userName);

    // Files an event under user; kind is one of EventKind's. The session name is copied, or
    // shared with an earlier event of the user that has the same. 0 when the event could not be
    // kept (it is dropped).
    int fileEvent(UserEntry& user, const WCHAR* sessionName, uint32_t sessionId, uint32_t kind,
                  uint32_t time) {
        return fileEvent(user.ordinal, sessionName, sessionName ? wcslen(sessionName) : 0,
                         sessionId, kind, time);
    }
    // The same with the units of the session name known, for the user of an ordinal.
    int fileEvent(uint32_t ordinal, const WCHAR* sessionName, size_t nameUnits, uint32_t sessionId,
                  uint32_t kind, uint32_t time);
    size_t eventCount(const UserEntry& user) const { return owners_[user.ordinal].count; }
    // The user's timeline into events: its events in time order, those of one time the last
    // filed first.
    void timelineOf(const UserEntry& user, std::vector<SessionEvent>& events);

    void rewind() { cursor = head; }
    UserEntry* next();

    // The merge over all users: after resetCursors, each nextEarliest returns the entry whose
    // current event is the earliest not yet visited (ties to the entry nearer the head).
    void resetCursors();
    UserEntry* nextEarliest() { return backwards_ ? nextFiledBackwards() : nextMerged(); }

    // The reboots of the log, in time order, kept once for all users: the logon time report
    // finds the reboot that ends a session here instead of in a copy in every timeline.
    void setReboots(std::vector<uint32_t> times);
    // The same a reboot at a time: each is gathered, then all are kept at once.
    void addReboot(uint32_t time) { gathered_.push_back(time); }
    void settleReboots() { setReboots(std::move(gathered_)); }
    const std::vector<SessionEvent>& reboots() const { return reboots_; }

    UserEntry* head = nullptr;
    UserEntry* cursor = nullptr;
    UserEntry* selected = nullptr;

  private:
    // What filing keeps of each user, by ordinal, in one line of memory: a short last session
    // name is compared with the one filed next here, not in its copy.
    static constexpr size_t kHeldUnits = 22;
    struct alignas(64) Owner {
        uint32_t count = 0;
        uint32_t lastTime = UINT32_MAX; // of the last event filed
        uint32_t lastName = 0;          // the last session name filed
        uint32_t outOfOrder = 0;        // whether an event was filed later than the one before
        uint32_t lastUnits = 0;         // of the last session name filed
        WCHAR held[kHeldUnits];         // its units, when they are no more than these
    };
    static_assert(sizeof(Owner) == 64, "what is kept of a user is one line of memory");
    uint32_t nameOf(Owner& owner, const WCHAR* sessionName, size_t units);
    // userNumber for a spelling not met lately.
    uint32_t findFolded(NameText domain, NameText userName) const;
    SessionEvent eventOf(const FiledEvent& filed) const {
        return {filed.time, filed.sessionId, filed.kind(), names_.text(filed.name)};
    }
    void settle();

    BlockPool ownPool_;
    BlockPool& pool_;
    Arena arena_; // entries and their names
    EventStore events_;
    NameStore names_;
    std::vector<UserEntry*> byOrdinal_;
    std::vector<Owner> owners_;
    std::vector<SessionEvent> reboots_;
    std::vector<uint32_t> gathered_;
    // Beside the list, so that finding a user costs the same with ten users or ten thousand:
    // the case-folded 'domain\\user' of every entry, to the entry nearest the head (its ordinal
    // plus one). Records nearly always spell a user one way: the spellings met are kept too, and
    // a name found as it is spelled is not folded.
    NameTable folded_{1};
    mutable NameTable spelled_{0};
    // The timelines, once settled: the positions of each user's events in timeline order, the
    // users one after another by ordinal; starts_ has where each begins, and one more.
    int settled_ = 0;
    std::vector<uint32_t> positions_;
    std::vector<uint32_t> starts_;
    // The merge: users with events left, earliest first, then nearest the head; each user's
    // next event is the one at taken_ (by ordinal) in its part of positions_.
    struct Pending {
        uint32_t time;
        uint32_t ordinal;
    };
    static bool later(const Pending& a, const Pending& b);
    void push(uint32_t ordinal);
    UserEntry* select(const FiledEvent& filed);
    UserEntry* nextMerged();
    std::vector<Pending> pending_;
    std::vector<uint32_t> taken_;
    // The merge of events filed newest first: the store walked backwards, each run of equal
    // times put in the merge's order of their users.
    UserEntry* nextFiledBackwards();
    UserEntry* startRun(const FiledEvent* first);
    const FiledEvent* previousFiled() {
        if (walkAt_ == walkStart_)
            return previousBlock();
        // Names lie wherever they were copied: the one some events back is asked for early.
        if (walkAt_ - walkStart_ > 8)
            prefetch(names_.text(walkAt_[-9].name));
        return --walkAt_;
    }
    const FiledEvent* previousBlock();
    int backwards_ = 0;
    size_t walkBlock_ = 0; // the block walked, from walkStart_; its events before walkAt_ are left
    const FiledEvent* walkStart_ = nullptr;
    const FiledEvent* walkAt_ = nullptr;
    const FiledEvent* following_ = nullptr; // read ahead: the first event of the next run
    std::vector<const FiledEvent*> run_;
    size_t runNext_ = 0;
};
