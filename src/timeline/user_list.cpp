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

namespace {

WCHAR folded(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c;
}

constexpr uint64_t kHashStart = 0xcbf29ce484222325ull;
constexpr uint64_t kHashStep = 0x100000001b3ull;

} // namespace

// The key of a user in the index: domain and user name folded as the name comparison folds
// them (ASCII letters), joined by a separator no name can hold. A missing name is a key of its
// own, apart from every present name, even the empty one.
WString UserList::keyOf(const WCHAR* domain, const WCHAR* userName) const {
    WString key;
    for (const WCHAR* name : {userName, domain}) {
        key += name ? WCHAR('=') : WCHAR('!');
        for (const WCHAR* p = name; p && *p; ++p)
            key += folded(*p);
        key += WCHAR(0);
    }
    return key;
}

namespace {

// The hash of the key keyOf makes, from the names themselves: one name's part.
uint64_t hashName(uint64_t hash, const WCHAR* name) {
    if (!name)
        return (hash ^ '!') * kHashStep * kHashStep;
    hash = (hash ^ '=') * kHashStep;
    for (; *name; ++name)
        hash = (hash ^ static_cast<char16_t>(folded(*name))) * kHashStep;
    return hash * kHashStep;
}

} // namespace

uint64_t UserList::hashOf(const WCHAR* domain, const WCHAR* userName) {
    return hashName(hashName(kHashStart, userName), domain);
}

namespace {

// The key past the part of one name, or none when the part is not that name's.
const WCHAR* matchName(const WCHAR* key, const WCHAR* name) {
    if (!name)
        return key[0] == '!' && key[1] == 0 ? key + 2 : nullptr;
    if (*key++ != '=')
        return nullptr;
    for (; *name; ++name, ++key)
        if (*key != folded(*name))
            return nullptr;
    return *key == 0 ? key + 1 : nullptr;
}

} // namespace

int UserList::hasKey(const WString& key, const WCHAR* domain, const WCHAR* userName) {
    const WCHAR* rest = matchName(key.c_str(), userName);
    return rest && matchName(rest, domain);
}

// The slot holding the key of the names, or the empty one where it would go.
UserList::Slot* UserList::slotOf(uint64_t hash, const WCHAR* domain, const WCHAR* userName) const {
    size_t mask = slots_.size() - 1;
    Slot* slots = const_cast<Slot*>(slots_.data());
    for (size_t i = static_cast<size_t>(hash ^ hash >> 29) & mask;; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (slot.ordinal == 0 ||
            (slot.hash == hash && hasKey(keys_[slot.ordinal - 1], domain, userName)))
            return &slot;
    }
}

void UserList::grow() {
    std::vector<Slot> old(slots_.size() < 64 ? 64 : 2 * slots_.size(), Slot{0, 0});
    old.swap(slots_);
    size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.ordinal == 0)
            continue;
        size_t i = static_cast<size_t>(slot.hash ^ slot.hash >> 29) & mask;
        while (slots_[i].ordinal != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

UserEntry* UserList::findUser(const WCHAR* domain, const WCHAR* userName) const {
    if (slots_.empty())
        return nullptr;
    const Slot* slot = slotOf(hashOf(domain, userName), domain, userName);
    return slot->ordinal ? byOrdinal_[slot->ordinal - 1] : nullptr;
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
    keys_.push_back(keyOf(domain, userName));
    if (2 * (keys_.size() + 1) > slots_.size())
        grow();
    // The newest entry is the one nearest the head.
    uint64_t hash = hashOf(domain, userName);
    Slot* slot = slotOf(hash, domain, userName);
    slot->hash = hash;
    slot->ordinal = entry->ordinal + 1;
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
