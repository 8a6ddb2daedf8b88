// The merge of a list's timelines into one walk in time order.
#include "user_list.h"

#include <algorithm>

bool UserList::later(const Pending& a, const Pending& b) {
    return a.time != b.time ? a.time > b.time : a.ordinal < b.ordinal;
}

void UserList::push(uint32_t ordinal) {
    if (taken_[ordinal] == starts_[ordinal + 1])
        return;
    pending_.push_back({events_.at(positions_[taken_[ordinal]]).time, ordinal});
    std::push_heap(pending_.begin(), pending_.end(), later);
}

UserEntry* UserList::select(const FiledEvent& filed) {
    selected = byOrdinal_[filed.owner()];
    selected->current = eventOf(filed);
    return selected;
}

void UserList::resetCursors() {
    cursor = nullptr;
    selected = nullptr;
    pending_.clear();
    run_.clear();
    runNext_ = 0;
    // Events filed newest first stand in their store in the reverse of the merge's order, but
    // for ties between users: no heap is needed.
    backwards_ = events_.newestFirst();
    if (backwards_) {
        walkBlock_ = events_.blockCount();
        walkStart_ = walkAt_ = nullptr;
        following_ = previousFiled();
        return;
    }
    settle();
    taken_.assign(starts_.begin(), starts_.end() - 1);
    for (uint32_t ordinal = 0; ordinal < owners_.size(); ++ordinal)
        push(ordinal);
}

// One step of the merge: ties go to the entry nearer the head, as a walk from the head that
// keeps the first of equal times would choose.
UserEntry* UserList::nextMerged() {
    if (selected) {
        ++taken_[selected->ordinal];
        push(selected->ordinal);
    }
    selected = nullptr;
    if (pending_.empty())
        return nullptr;
    std::pop_heap(pending_.begin(), pending_.end(), later);
    uint32_t ordinal = pending_.back().ordinal;
    pending_.pop_back();
    return select(events_.at(positions_[taken_[ordinal]]));
}

// The block before the one walked, from its end; none past the first.
const FiledEvent* UserList::previousBlock() {
    while (walkAt_ == walkStart_) {
        if (walkBlock_ == 0)
            return nullptr;
        --walkBlock_;
        walkStart_ = events_.block(walkBlock_);
        walkAt_ = walkStart_ + events_.usedIn(walkBlock_);
    }
    return --walkAt_;
}

// Within a user, events of one time keep their timeline's order, which is the reverse of their
// filing; between users, the one nearer the head (added later) goes first.
UserEntry* UserList::nextFiledBackwards() {
    if (runNext_ < run_.size())
        return select(*run_[runNext_++]);
    const FiledEvent* first = following_;
    if (!first)
        return selected = nullptr;
    following_ = previousFiled();
    if (following_ && following_->time == first->time)
        return startRun(first);
    return select(*first);
}

// A run of events of one time: between users, the merge's order.
UserEntry* UserList::startRun(const FiledEvent* first) {
    run_.clear();
    runNext_ = 0;
    int mixed = 0;
    run_.push_back(first);
    do {
        mixed |= following_->owner() != first->owner();
        run_.push_back(following_);
        following_ = previousFiled();
    } while (following_ && following_->time == first->time);
    if (mixed)
        std::stable_sort(run_.begin(), run_.end(), [](const FiledEvent* a, const FiledEvent* b) {
            return a->owner() > b->owner();
        });
    return select(*run_[runNext_++]);
}
