// Memory for the lists of a report, in small pieces carved one after another out of chunks of
// whole huge pages, and given back all at once when the pool goes: the lists of a hundred
// computers share the huge pages one list would use, instead of each touching pages of its own.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class BlockPool {
  public:
    BlockPool() = default;
    ~BlockPool();
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // size bytes, zeroed, at a multiple of 64, for as long as the pool lives; none when memory
    // runs out. Pieces larger than a quarter of a chunk are blocks of their own.
    void* take(size_t size);
    // The bytes of the pieces taken so far.
    size_t taken() const { return taken_; }

  private:
    static constexpr size_t kChunk = size_t(2) << 20;
    struct Block {
        void* memory;
        size_t size;
    };
    std::vector<Block> blocks_; // chunks and blocks of their own
    uint8_t* next_ = nullptr;
    size_t left_ = 0;
    size_t taken_ = 0;
};
