#include "event_store.h"

#include <cstring>

static_assert(sizeof(FiledEvent) == 16, "filed events are four words");

int EventStore::addBlock() {
    if (blocks_.size() + 1 >= size_t(1) << (32 - kBlockShift))
        return 0; // positions would run out
    void* block = pool_.take(kBlockBytes);
    if (!block)
        return 0;
    blocks_.push_back(static_cast<FiledEvent*>(block));
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
        if (size < size_t(kPlaceMask) + 1)
            size = size_t(kPlaceMask) + 1;
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
