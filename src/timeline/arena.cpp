#include "arena.h"

#include <cstdint>
#include <cstring>

namespace {

// Blocks of 2 MiB and more are whole huge pages (see reserveBlock).
constexpr size_t kLargestBlock = size_t(32) << 20;
constexpr size_t kLargestRequest = size_t(1) << 30;

} // namespace

Arena::~Arena() {
    if (pool_)
        return; // the pool's
    for (const Block& block : blocks_)
        releaseBlock(block.memory, block.size);
}

void* Arena::allocate(size_t size, size_t alignment) {
    size_t skip = static_cast<size_t>(-reinterpret_cast<uintptr_t>(next_)) & (alignment - 1);
    if (!next_ || skip > left_ || size > left_ - skip) {
        if (size > kLargestRequest)
            return nullptr;
        size_t blockSize = nextBlockSize_;
        while (blockSize < size + alignment)
            blockSize *= 2;
        void* block = pool_ ? pool_->take(blockSize) : reserveBlock(blockSize);
        if (!block)
            return nullptr;
        if (!blocks_.empty())
            blocks_.back().used = blocks_.back().size - left_;
        blocks_.push_back({block, blockSize, 0});
        if (nextBlockSize_ < kLargestBlock)
            nextBlockSize_ *= 2;
        next_ = static_cast<uint8_t*>(block);
        left_ = blockSize;
        skip = static_cast<size_t>(-reinterpret_cast<uintptr_t>(next_)) & (alignment - 1);
    }
    void* out = next_ + skip;
    next_ += skip + size;
    left_ -= skip + size;
    return out;
}

WCHAR* Arena::duplicateString(const WCHAR* s) {
    if (!s)
        return nullptr;
    size_t bytes = 2 * (wcslen(s) + 1);
    WCHAR* copy = static_cast<WCHAR*>(allocate(bytes, alignof(WCHAR)));
    if (copy)
        std::memcpy(copy, s, bytes);
    return copy;
}
