// The in-memory model both reports are built from: one entry per user (domain and user name),
// each with that user's events in time order.
#pragma once

#include "platform.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

// One event in one user's timeline.
class SessionEvent {
  public:
    SessionEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind, uint32_t time);
    ~SessionEvent();
    SessionEvent(const SessionEvent&) = delete;
    SessionEvent& operator=(const SessionEvent&) = delete;

    SessionEvent* next = nullptr;
    uint32_t time;
    uint32_t sessionId;
    uint32_t kind;
    WCHAR* sessionName; // own copy, or none (reboots)
};

class UserEntry {
  public:
    UserEntry(const WCHAR* domain, const WCHAR* userName);
    ~UserEntry();
    UserEntry(const UserEntry&) = delete;
    UserEntry& operator=(const UserEntry&) = delete;

    // Inserts in front of the first event at the same time or later. 0 when the event could not
    // be allocated (it is dropped).
    int insertEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind, uint32_t time);
    int insertMarker(uint32_t kind, uint32_t time);
    // insertMarker for each of the times in one walk (the times ascending). Markers go in front
    // of events of the same time, as one insertMarker call each would place them.
    void insertMarkers(uint32_t kind, const std::vector<uint32_t>& ascendingTimes);

    void rewindEvents() { eventCursor = firstEvent; }
    SessionEvent* currentEvent() const { return eventCursor; }
    SessionEvent* advance();

    UserEntry* next = nullptr;
    SessionEvent* firstEvent = nullptr;
    WCHAR* userName; // own copies; none when the copy could not be made
    WCHAR* domain;
    SessionEvent* eventCursor = nullptr;
};

class UserList {
  public:
    UserList() = default;
    ~UserList();
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    // Domain and user name compare without regard to case, the user name first.
    UserEntry* findUser(const WCHAR* domain, const WCHAR* userName) const;
    // Links a new entry in front of the list, without looking for an existing one; none when it
    // cannot be allocated.
    UserEntry* addUser(const WCHAR* domain, const WCHAR* userName);

    void rewind() { cursor = head; }
    UserEntry* next();

    // The merge over all users: after resetCursors, each nextEarliest returns the entry whose
    // current event is the earliest not yet visited (ties to the entry nearer the head).
    void resetCursors();
    UserEntry* nextEarliest();

    UserEntry* head = nullptr;
    UserEntry* cursor = nullptr;
    UserEntry* selected = nullptr;

  private:
    // Beside the list, so that finding a user costs the same with ten users or ten thousand:
    // the case-folded 'domain\user' of every entry, to the entry nearest the head.
    std::unordered_map<WString, UserEntry*> index_;
    const WString& keyOf(const WCHAR* domain, const WCHAR* userName) const;
    mutable WString key_; // built anew for each lookup, in a buffer kept from one to the next
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
};
