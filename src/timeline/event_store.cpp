#include "event_store.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(FiledEvent) == 16, "filed events are four words");

int EventStore::addBlock() {
    if (capacity_ < kBlockEvents) {
        // The first block, twice as large, its events moved: the pool keeps the old piece.
        const uint32_t events = capacity_ ? 2 * capacity_ : kFirstEvents;
        void* block = pool_.take(events * sizeof(FiledEvent));
        if (!block)
            return 0;
        if (size_)
            std::memcpy(block, blocks_[0], size_ * sizeof(FiledEvent));
        blocks_.assign(1, static_cast<FiledEvent*>(block));
        capacity_ = events;
        return 1;
    }
    if (blocks_.size() + 1 >= size_t(1) << (32 - kBlockShift))
        return 0; // positions would run out
    void* block = pool_.take(kBlockBytes);
    if (!block)
        return 0;
    blocks_.push_back(static_cast<FiledEvent*>(block));
    capacity_ += kBlockEvents;
    return 1;
}

// A name longer than a block has one of its own, at place 0. Place 0 of the first block is
// number 0, which names none.
uint32_t NameStore::add(const WCHAR* text, size_t units) {
    if (blocks_.empty() || blocks_.back().units - used_ < units + 1 + kReadPast) {
        if (blocks_.size() == size_t(1) << (32 - kPlaceBits))
            return 0;
        size_t start = blocks_.empty() ? 1 : 0;
        size_t size = start + units + 1 + kReadPast;
        const size_t whole = blocks_.empty()
                                 ? kFirstUnits
                                 : std::min(2 * blocks_.back().units, size_t(kPlaceMask) + 1);
        if (size < whole)
            size = whole;
        void* memory = pool_.take(sizeof(WCHAR) * size);
        if (!memory)
            return 0;
        used_ = start;
        blocks_.push_back({static_cast<WCHAR*>(memory), size});
    }
    Block& block = blocks_.back();
    std::memcpy(block.memory + used_, text, sizeof(WCHAR) * units);
    block.memory[used_ + units] = 0;
    uint32_t number = static_cast<uint32_t>((blocks_.size() - 1) << kPlaceBits | used_);
    used_ += units + 1;
    return number;
}
