// Memory for a list's entries, events and names: taken from the system in blocks that grow with
// the list and given back all at once when the list goes, so that filling a list of a million
// events costs no malloc or free per event.
#pragma once

#include "block_pool.h"
#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Arena {
  public:
    // Its small blocks come from pool where one is given (it outlives the arena).
    explicit Arena(BlockPool* pool = nullptr) : pool_(pool) {}
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // size bytes at a multiple of alignment (a power of two; by default, aligned for any
    // object); none when memory runs out.
    void* allocate(size_t size, size_t alignment = alignof(std::max_align_t));
    // duplicateString's contract, from the arena: none for none or when memory runs out,
    // otherwise a copy with its terminator that lives as long as the arena.
    WCHAR* duplicateString(const WCHAR* s);

    // What was handed out so far, block by block in the order they were taken: block i's
    // pieces lie in [blockStart(i), blockStart(i) + blockUsed(i)).
    size_t blockCount() const { return blocks_.size(); }
    const uint8_t* blockStart(size_t i) const { return static_cast<uint8_t*>(blocks_[i].memory); }
    size_t blockUsed(size_t i) const {
        return i + 1 == blocks_.size() ? blocks_[i].size - left_ : blocks_[i].used;
    }

  private:
    struct Block {
        void* memory;
        size_t size;
        size_t used; // set when the next block is taken
    };
    BlockPool* pool_;
    std::vector<Block> blocks_;
    // Grows as the list does, up to a limit; small at first, as a list may hold a few entries
    // (one computer's of many).
    size_t nextBlockSize_ = 256;
    uint8_t* next_ = nullptr;
    size_t left_ = 0;
};
