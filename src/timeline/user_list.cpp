#include "user_list.h"

#include "eventlog/duplicate_string.h"

#include <algorithm>
#include <cstdlib>
#include <new>

SessionEvent::SessionEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind,
                           uint32_t time)
    : time(time), sessionId(sessionId), kind(kind), sessionName(duplicateString(sessionName)) {}

SessionEvent::~SessionEvent() {
    std::free(sessionName);
}

UserEntry::UserEntry(const WCHAR* domain, const WCHAR* userName)
    : userName(duplicateString(userName)), domain(duplicateString(domain)) {}

UserEntry::~UserEntry() {
    while (firstEvent) {
        SessionEvent* event = firstEvent;
        firstEvent = event->next;
        delete event;
    }
    std::free(userName);
    std::free(domain);
}

int UserEntry::insertEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind,
                           uint32_t time) {
    SessionEvent* event = new (std::nothrow) SessionEvent(sessionName, sessionId, kind, time);
    if (!event)
        return 0;
    SessionEvent** link = &firstEvent;
    while (*link && (*link)->time < time)
        link = &(*link)->next;
    event->next = *link;
    *link = event;
    return 1;
}

int UserEntry::insertMarker(uint32_t kind, uint32_t time) {
    return insertEvent(nullptr, 0, kind, time);
}

void UserEntry::insertMarkers(uint32_t kind, const std::vector<uint32_t>& ascendingTimes) {
    SessionEvent** link = &firstEvent;
    for (uint32_t time : ascendingTimes) {
        while (*link && (*link)->time < time)
            link = &(*link)->next;
        SessionEvent* marker = new (std::nothrow) SessionEvent(nullptr, 0, kind, time);
        if (!marker)
            continue;
        marker->next = *link;
        *link = marker;
        link = &marker->next;
    }
}

SessionEvent* UserEntry::advance() {
    if (eventCursor)
        eventCursor = eventCursor->next;
    return eventCursor;
}

UserList::~UserList() {
    while (head) {
        UserEntry* entry = head;
        head = entry->next;
        delete entry;
    }
}

// The key of a user in the index: domain and user name folded as the name comparison folds
// them (ASCII letters), joined by a separator no name can hold. A missing name is a key of its
// own, apart from every present name, even the empty one.
const WString& UserList::keyOf(const WCHAR* domain, const WCHAR* userName) const {
    size_t userLength = userName ? wcslen(userName) : 0;
    size_t domainLength = domain ? wcslen(domain) : 0;
    key_.resize(userLength + domainLength + 4);
    WCHAR* out = &key_[0];
    for (const WCHAR* name : {userName, domain}) {
        *out++ = name ? WCHAR('=') : WCHAR('!');
        for (const WCHAR* p = name; p && *p; ++p)
            *out++ = *p >= 'A' && *p <= 'Z' ? static_cast<WCHAR>(*p + 32) : *p;
        *out++ = 0;
    }
    return key_;
}

UserEntry* UserList::findUser(const WCHAR* domain, const WCHAR* userName) const {
    auto found = index_.find(keyOf(domain, userName));
    return found == index_.end() ? nullptr : found->second;
}

UserEntry* UserList::addUser(const WCHAR* domain, const WCHAR* userName) {
    UserEntry* entry = new (std::nothrow) UserEntry(domain, userName);
    if (!entry)
        return nullptr;
    entry->next = head;
    head = entry;
    index_[keyOf(domain, userName)] = entry; // the newest entry is the one nearest the head
    return entry;
}

UserEntry* UserList::next() {
    UserEntry* entry = cursor;
    if (entry)
        cursor = entry->next;
    return entry;
}

bool UserList::later(const Pending& a, const Pending& b) {
    return a.time != b.time ? a.time > b.time : a.position > b.position;
}

void UserList::push(UserEntry* entry, size_t position) {
    if (SessionEvent* event = entry->currentEvent()) {
        pending_.push_back({event->time, position, entry});
        std::push_heap(pending_.begin(), pending_.end(), later);
    }
}

void UserList::resetCursors() {
    pending_.clear();
    size_t position = 0;
    for (UserEntry* entry = head; entry; entry = entry->next, ++position) {
        entry->rewindEvents();
        push(entry, position);
    }
    cursor = nullptr;
    selected = nullptr;
}

// One step of the merge: ties go to the entry nearer the head, as a walk from the head that
// keeps the first of equal times would choose.
UserEntry* UserList::nextEarliest() {
    if (selected) {
        selected->advance();
        push(selected, selectedPosition_);
    }
    selected = nullptr;
    if (pending_.empty())
        return nullptr;
    std::pop_heap(pending_.begin(), pending_.end(), later);
    selected = pending_.back().entry;
    selectedPosition_ = pending_.back().position;
    pending_.pop_back();
    return selected;
}
