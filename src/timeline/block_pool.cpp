#include "block_pool.h"

BlockPool::~BlockPool() {
    for (const Block& block : blocks_)
        releaseBlock(block.memory, block.size);
}

void* BlockPool::take(size_t size) {
    size = (size + 63) & ~size_t(63);
    taken_ += size;
    if (size > kChunk / 4) {
        // Whole huge pages when the size is made of them (see reserveBlock).
        void* memory = reserveBlock(size);
        if (memory)
            blocks_.push_back({memory, size});
        return memory;
    }
    if (size > left_) {
        void* chunk = reserveBlock(kChunk);
        if (!chunk)
            return nullptr;
        blocks_.push_back({chunk, kChunk});
        next_ = static_cast<uint8_t*>(chunk);
        left_ = kChunk;
    }
    void* piece = next_;
    next_ += size;
    left_ -= size;
    return piece;
}
