#include "user_list.h"

#include "eventlog/duplicate_string.h"

#include <cstdlib>
#include <new>

namespace {

// Present names compare without regard to case; a missing name matches only a missing one.
int sameName(const WCHAR* a, const WCHAR* b) {
    if (!a || !b)
        return a == b;
    return _wcsicmp(a, b) == 0;
}

} // namespace

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

UserEntry* UserList::findUser(const WCHAR* domain, const WCHAR* userName) const {
    for (UserEntry* entry = head; entry; entry = entry->next)
        if (sameName(userName, entry->userName) && sameName(domain, entry->domain))
            return entry;
    return nullptr;
}

UserEntry* UserList::addUser(const WCHAR* domain, const WCHAR* userName) {
    UserEntry* entry = new (std::nothrow) UserEntry(domain, userName);
    if (!entry)
        return nullptr;
    entry->next = head;
    head = entry;
    return entry;
}

UserEntry* UserList::next() {
    UserEntry* entry = cursor;
    if (entry)
        cursor = entry->next;
    return entry;
}

void UserList::resetCursors() {
    rewind();
    while (UserEntry* entry = next())
        entry->rewindEvents();
    selected = nullptr;
}

UserEntry* UserList::nextEarliest() {
    if (selected)
        selected->advance();
    selected = nullptr;
    rewind();
    UserEntry* best = nullptr;
    while (UserEntry* entry = next()) {
        SessionEvent* event = entry->currentEvent();
        if (event && (!best || event->time < best->currentEvent()->time))
            best = entry;
    }
    selected = best;
    return best;
}
