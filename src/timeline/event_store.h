// The events of a list as they were filed, sixteen bytes each, and their session names, in
// blocks: a number names an event or a name for as long as its store lives.
#pragma once

#include "block_pool.h"
#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct FiledEvent {
    uint32_t time;
    uint32_t sessionId;
    uint32_t name;         // the number of its session name in its list; 0 for none
    uint32_t ownerAndKind; // its user's ordinal times four, plus its kind (1 to 3)

    uint32_t owner() const { return ownerAndKind >> 2; }
    uint32_t kind() const { return ownerAndKind & 3; }
};

class EventStore {
  public:
    // Its blocks come from pool, which outlives it.
    explicit EventStore(BlockPool& pool) : pool_(pool) {}
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // 0 when memory runs out or positions do.
    int append(const FiledEvent& event) {
        if (size_ == capacity_ && !addBlock())
            return 0;
        if (event.time > earliest_)
            newestFirst_ = 0;
        earliest_ = event.time;
        blocks_.back()[size_ & kBlockMask] = event;
        ++size_;
        return 1;
    }
    uint32_t size() const { return size_; }
    const FiledEvent& at(uint32_t position) const {
        return blocks_[position >> kBlockShift][position & kBlockMask];
    }
    // The blocks, in the order they were taken: block i holds the events from position
    // i * kBlockEvents on, usedIn(i) of them.
    size_t blockCount() const { return blocks_.size(); }
    const FiledEvent* block(size_t i) const { return blocks_[i]; }
    size_t usedIn(size_t i) const {
        return i + 1 < blocks_.size() ? kBlockEvents : size_ - (i << kBlockShift);
    }
    // Whether each event was filed no later than the one before, as they are when the log is
    // read newest first and its clock never went back.
    int newestFirst() const { return newestFirst_; }

  private:
    static constexpr uint32_t kBlockShift = 12; // 64 KiB blocks, many to a huge page
    static constexpr uint32_t kBlockEvents = uint32_t(1) << kBlockShift;
    static constexpr uint32_t kBlockMask = kBlockEvents - 1;
    static constexpr size_t kBlockBytes = sizeof(FiledEvent) << kBlockShift;
    // A list of a few events (one computer's of many) takes a piece of that size: the first
    // block starts small and doubles, moved, until it is whole.
    static constexpr uint32_t kFirstEvents = 4;
    int addBlock();

    BlockPool& pool_;
    std::vector<FiledEvent*> blocks_;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0; // the events the blocks hold
    uint32_t earliest_ = UINT32_MAX;
    int newestFirst_ = 1;
};

// Session names, copied one after another. A name is known by its block's number and its place
// there, in one word: no table of them is kept.
class NameStore {
  public:
    // Its blocks come from pool, which outlives it.
    explicit NameStore(BlockPool& pool) : pool_(pool) {}
    NameStore(const NameStore&) = delete;
    NameStore& operator=(const NameStore&) = delete;

    // Units that may be read past the terminator of every copy (their values are any), so that
    // a copy can be read many units a step.
    static constexpr size_t kReadPast = 8;

    // The number of a copy of the units of text and a terminator; 0 when memory or numbers run
    // out.
    uint32_t add(const WCHAR* text, size_t units);
    // The copy numbered number; none for 0.
    WCHAR* text(uint32_t number) const {
        return number ? blocks_[number >> kPlaceBits].memory + (number & kPlaceMask) : nullptr;
    }

  private:
    static constexpr uint32_t kPlaceBits = 15; // 64 KiB blocks, many to a huge page
    static constexpr uint32_t kPlaceMask = (uint32_t(1) << kPlaceBits) - 1;
    // The first block's units: each next one twice the last, up to a whole block, so that a
    // list of a few names takes little.
    static constexpr size_t kFirstUnits = 64;
    struct Block {
        WCHAR* memory;
        size_t units;
    };
    BlockPool& pool_;
    std::vector<Block> blocks_;
    size_t used_ = 0; // the units taken in the last block
};
