#include "user_list.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

int sameText(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

} // namespace

UserEntry::UserEntry(const WCHAR* domain, const WCHAR* userName, Arena* arena, EventStore* events)
    : ownArena_(arena ? nullptr : new (std::nothrow) Arena),
      arena_(arena ? arena : ownArena_.get()), events_(events) {
    this->userName = arena_ ? arena_->duplicateString(userName) : nullptr;
    this->domain = arena_ ? arena_->duplicateString(domain) : nullptr;
    nameWidth = (this->userName ? wcslen(this->userName) : 0) +
                (this->domain ? wcslen(this->domain) : 0) + 1;
}

int UserEntry::insertEvent(const WCHAR* sessionName, uint32_t sessionId, uint32_t kind,
                           uint32_t time) {
    Arena* store = events_ ? &events_->arena : arena_;
    void* memory = store ? store->allocate(sizeof(SessionEvent), alignof(SessionEvent)) : nullptr;
    if (!memory)
        return 0;
    if (events_ && time > events_->earliest)
        events_->newestFirst = 0;
    else if (events_)
        events_->earliest = time;
    // In front of the first event at the same time or later: records come newest first, so
    // that is nearly always the start.
    SessionEvent** link = &firstEvent;
    while (*link && (*link)->time < time)
        link = &(*link)->next;
    // A logon and its logoff usually stand side by side and name the same session: they
    // share one copy of the name, which lives as long as both.
    WCHAR* name =
        *link && (*link)->sessionName && sessionName && sameText((*link)->sessionName, sessionName)
            ? (*link)->sessionName
            : arena_->duplicateString(sessionName);
    SessionEvent* event = new (memory) SessionEvent(name, sessionId, kind, time, ordinal);
    event->next = *link;
    *link = event;
    ++eventCount;
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

// Entries live in the arena; an entry's own arena is only for an entry made on its own.
UserList::~UserList() {
    for (UserEntry* entry = head; entry; entry = entry->next)
        entry->~UserEntry();
}

void UserList::setReboots(std::vector<uint32_t> times) {
    std::sort(times.begin(), times.end());
    reboots_.clear();
    reboots_.reserve(times.size());
    for (uint32_t time : times)
        if (void* memory = arena_.allocate(sizeof(SessionEvent), alignof(SessionEvent)))
            reboots_.push_back(new (memory) SessionEvent(nullptr, 0, 1, time));
}

SessionEvent* UserList::firstRebootAfter(uint32_t time) const {
    auto after = std::upper_bound(reboots_.begin(), reboots_.end(), time,
                                  [](uint32_t t, const SessionEvent* e) { return t < e->time; });
    return after == reboots_.end() ? nullptr : *after;
}

UserEntry* UserList::findUser(const WCHAR* domain, const WCHAR* userName) const {
    return findUser({domain, domain ? wcslen(domain) : 0},
                    {userName, userName ? wcslen(userName) : 0});
}

UserEntry* UserList::findUser(NameText domain, NameText userName) const {
    if (uint32_t spelled = spelled_.find(domain, userName))
        return byOrdinal_[spelled - 1];
    uint32_t found = folded_.find(domain, userName);
    if (!found)
        return nullptr;
    // A log that spells one name in ever more ways does not grow the spellings without end.
    if (spelled_.size() > 4 * byOrdinal_.size() + 1024)
        spelled_.clear();
    spelled_.store(domain, userName, found);
    return byOrdinal_[found - 1];
}

UserEntry* UserList::addUser(const WCHAR* domain, const WCHAR* userName) {
    void* memory = arena_.allocate(sizeof(UserEntry), alignof(UserEntry));
    if (!memory)
        return nullptr;
    UserEntry* entry = new (memory) UserEntry(domain, userName, &arena_, &events_);
    entry->ordinal = static_cast<uint32_t>(byOrdinal_.size());
    byOrdinal_.push_back(entry);
    entry->next = head;
    head = entry;
    // The newest entry is the one nearest the head; spellings kept for the one it stands in
    // front of are forgotten.
    if (folded_.store({domain, domain ? wcslen(domain) : 0},
                      {userName, userName ? wcslen(userName) : 0}, entry->ordinal + 1))
        spelled_.clear();
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
        if (event->next)
            prefetch(event->next); // read when this entry is chosen next
        pending_.push_back({event->time, position, entry});
        std::push_heap(pending_.begin(), pending_.end(), later);
    }
}

void UserList::resetCursors() {
    cursor = nullptr;
    selected = nullptr;
    pending_.clear();
    run_.clear();
    runNext_ = 0;
    // Events filed newest first stand in their store in the reverse of the merge's order, but
    // for ties between users: no heap is needed.
    backwards_ = events_.newestFirst;
    if (backwards_) {
        walkBlock_ = events_.arena.blockCount();
        walkBytes_ = 0;
        following_ = previousFiled();
        return;
    }
    size_t position = 0;
    for (UserEntry* entry = head; entry; entry = entry->next, ++position) {
        entry->rewindEvents();
        push(entry, position);
    }
}

// One step of the merge: ties go to the entry nearer the head, as a walk from the head that
// keeps the first of equal times would choose.
UserEntry* UserList::nextEarliest() {
    if (backwards_)
        return nextFiledBackwards();
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

// Every piece of the store is one event, so its blocks are arrays of them.
static_assert(sizeof(SessionEvent) % alignof(SessionEvent) == 0, "events lie end to end");

SessionEvent* UserList::previousFiled() {
    while (walkBytes_ == 0) {
        if (walkBlock_ == 0)
            return nullptr;
        --walkBlock_;
        walkBytes_ = events_.arena.blockUsed(walkBlock_);
    }
    walkBytes_ -= sizeof(SessionEvent);
    return reinterpret_cast<SessionEvent*>(
        const_cast<uint8_t*>(events_.arena.blockStart(walkBlock_)) + walkBytes_);
}

// Within a user, events of one time keep their timeline's order, which is the reverse of their
// filing; between users, the one nearer the head (added later) goes first.
UserEntry* UserList::nextFiledBackwards() {
    if (runNext_ == run_.size()) {
        run_.clear();
        runNext_ = 0;
        if (!following_)
            return selected = nullptr;
        int mixed = 0;
        SessionEvent* first = following_;
        do {
            mixed |= following_->owner != first->owner;
            run_.push_back(following_);
            following_ = previousFiled();
        } while (following_ && following_->time == first->time);
        if (mixed)
            std::stable_sort(
                run_.begin(), run_.end(),
                [](const SessionEvent* a, const SessionEvent* b) { return a->owner > b->owner; });
    }
    SessionEvent* event = run_[runNext_++];
    selected = byOrdinal_[event->owner];
    selected->eventCursor = event;
    return selected;
}

UserEntry* UserList::gatherTimelines(UserEntry* first, std::vector<SessionEvent*>& events,
                                     std::vector<size_t>& starts) {
    // Enough walks at once to keep the processor's outstanding reads busy.
    const size_t kBatch = 8;
    SessionEvent* cursor[kBatch];
    size_t filled[kBatch];
    starts.assign(1, 0);
    size_t count = 0;
    UserEntry* user = first;
    // A batch ends at a few users' worth of events too: users with long timelines have their
    // events close together, and the pointers to them are memory of their own.
    const size_t kBatchEvents = size_t(1) << 16;
    for (; user && count < kBatch && starts.back() < kBatchEvents; user = user->next, ++count) {
        cursor[count] = user->firstEvent;
        filled[count] = starts.back();
        starts.push_back(starts.back() + user->eventCount);
    }
    events.resize(starts.back());
    for (size_t walking = count; walking > 0;) {
        walking = 0;
        for (size_t i = 0; i < count; ++i) {
            SessionEvent* event = cursor[i];
            if (!event || filled[i] == starts[i + 1])
                continue;
            events[filled[i]++] = event;
            if (event->sessionName)
                prefetch(event->sessionName);
            cursor[i] = event->next;
            ++walking;
        }
    }
    return user;
}
