#include "arena.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kBlock = 1u << 20;

} // namespace

Arena::~Arena() {
    for (void* block : blocks_)
        std::free(block);
}

void* Arena::allocate(size_t size) {
    size = (size + kAlign - 1) / kAlign * kAlign;
    if (size > left_) {
        size_t blockSize = size > kBlock ? size : kBlock;
        void* block = std::malloc(blockSize);
        if (!block)
            return nullptr;
        blocks_.push_back(block);
        next_ = static_cast<uint8_t*>(block);
        left_ = blockSize;
    }
    void* out = next_;
    next_ += size;
    left_ -= size;
    return out;
}

WCHAR* Arena::duplicateString(const WCHAR* s) {
    if (!s)
        return nullptr;
    size_t bytes = 2 * (wcslen(s) + 1);
    WCHAR* copy = static_cast<WCHAR*>(allocate(bytes));
    if (copy)
        std::memcpy(copy, s, bytes);
    return copy;
}
