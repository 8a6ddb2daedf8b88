#include "user_list.h"

#include "eventlog/event_kind.h"
#include "output_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The ordinal is kept beside the kind in two bits of a word.
constexpr size_t kMostUsers = size_t(1) << 30;

NameText nameText(const WCHAR* name) {
    return {name, name ? wcslen(name) : 0};
}

// The first of [from, to) later than time, or to: halving the range without a branch on the
// comparison, which a walk along a timeline cannot predict.
const SessionEvent* firstLater(const SessionEvent* from, const SessionEvent* to, uint32_t time) {
    if (from == to)
        return to;
    size_t count = static_cast<size_t>(to - from);
    while (count > 1) {
        size_t half = count / 2;
        from = from[half].time <= time ? from + half : from;
        count -= half;
    }
    return from->time <= time ? from + 1 : from;
}

} // namespace

UserEntry::UserEntry(const WCHAR* domain, const WCHAR* userName, Arena& arena) {
    this->userName = arena.duplicateString(userName);
    this->domain = arena.duplicateString(domain);
    nameWidth = (this->userName ? mappedColumns(this->userName) : 0) +
                (this->domain ? mappedColumns(this->domain) : 0) + 1;
}

const SessionEvent* RebootCursor::firstAfter(uint32_t time) {
    if (at_ != begin_ && at_[-1].time > time) {
        at_ = firstLater(begin_, at_, time);
    } else {
        // Mostly the answer before, or a few past it.
        for (int steps = 0; at_ != end_ && at_->time <= time; ++at_) {
            if (++steps == 4) {
                at_ = firstLater(at_, end_, time);
                break;
            }
        }
    }
    return at_ == end_ ? nullptr : at_;
}

void UserList::setReboots(std::vector<uint32_t> times) {
    std::sort(times.begin(), times.end());
    reboots_.clear();
    reboots_.reserve(times.size());
    for (uint32_t time : times)
        reboots_.push_back({time, 0, Reboot, nullptr});
}

UserEntry* UserList::findUser(const WCHAR* domain, const WCHAR* userName) const {
    return findUser(nameText(domain), nameText(userName));
}

uint32_t UserList::findFolded(NameText domain, NameText userName) const {
    uint32_t found = folded_.find(domain, userName);
    if (!found)
        return 0;
    // A log that spells one name in ever more ways does not grow the spellings without end.
    if (spelled_.size() > 4 * byOrdinal_.size() + 1024)
        spelled_.clear();
    spelled_.store(domain, userName, found);
    return found;
}

UserEntry* UserList::addUser(const WCHAR* domain, const WCHAR* userName) {
    if (byOrdinal_.size() == kMostUsers)
        return nullptr;
    void* memory = arena_.allocate(sizeof(UserEntry), alignof(UserEntry));
    if (!memory)
        return nullptr;
    UserEntry* entry = new (memory) UserEntry(domain, userName, arena_);
    entry->ordinal = static_cast<uint32_t>(byOrdinal_.size());
    byOrdinal_.push_back(entry);
    owners_.emplace_back();
    entry->next = head;
    head = entry;
    settled_ = 0;
    // The newest entry is the one nearest the head; spellings kept for the one it stands in
    // front of are forgotten.
    if (folded_.store(nameText(domain), nameText(userName), entry->ordinal + 1))
        spelled_.clear();
    return entry;
}

UserEntry* UserList::next() {
    UserEntry* entry = cursor;
    if (entry)
        cursor = entry->next;
    return entry;
}

// A logon and its logoff usually follow one another and name the same session: they share one
// copy of the name. 0 when the copy could not be made.
uint32_t UserList::nameOf(Owner& owner, const WCHAR* sessionName, size_t units) {
    const int held = units <= kHeldUnits;
    if (owner.lastName && owner.lastUnits == units &&
        sameUnits(held ? owner.held : names_.text(owner.lastName), sessionName, units))
        return owner.lastName;
    owner.lastUnits = static_cast<uint32_t>(units);
    if (held)
        std::memcpy(owner.held, sessionName, sizeof(WCHAR) * units);
    return owner.lastName = names_.add(sessionName, units);
}

int UserList::fileEvent(uint32_t ordinal, const WCHAR* sessionName, size_t nameUnits,
                        uint32_t sessionId, uint32_t kind, uint32_t time) {
    Owner& owner = owners_[ordinal];
    uint32_t name = sessionName ? nameOf(owner, sessionName, nameUnits) : 0;
    if ((sessionName && !name) ||
        !events_.append({time, sessionId, name, ordinal << 2 | (kind & 3)}))
        return 0;
    owner.outOfOrder |= time > owner.lastTime;
    owner.lastTime = time;
    ++owner.count;
    settled_ = 0;
    return 1;
}

// Each user's events, read from the newest filed back, stand in their timeline's order when they
// were filed newest first; any other user's are sorted by time, keeping that order for ties.
void UserList::settle() {
    if (settled_)
        return;
    starts_.assign(1, 0);
    for (const Owner& owner : owners_)
        starts_.push_back(starts_.back() + owner.count);
    std::vector<uint32_t> filled(starts_.begin(), starts_.end() - 1);
    positions_.resize(events_.size());
    for (uint32_t position = events_.size(); position-- > 0;)
        positions_[filled[events_.at(position).owner()]++] = position;
    for (size_t ordinal = 0; ordinal < owners_.size(); ++ordinal)
        if (owners_[ordinal].outOfOrder)
            std::stable_sort(
                positions_.begin() + starts_[ordinal], positions_.begin() + starts_[ordinal + 1],
                [this](uint32_t a, uint32_t b) { return events_.at(a).time < events_.at(b).time; });
    settled_ = 1;
}

void UserList::timelineOf(const UserEntry& user, std::vector<SessionEvent>& events) {
    settle();
    const uint32_t* position = positions_.data() + starts_[user.ordinal];
    size_t count = starts_[user.ordinal + 1] - starts_[user.ordinal];
    events.resize(count);
    // A user's events lie among everyone's: the event some steps ahead is asked for early.
    const size_t kAhead = 16;
    for (size_t i = 0; i < count; ++i) {
        if (i + kAhead < count)
            prefetch(&events_.at(position[i + kAhead]));
        events[i] = eventOf(events_.at(position[i]));
    }
}
