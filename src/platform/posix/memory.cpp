#include "platform.h"

#include <cstdint>
#include <sys/mman.h>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

} // namespace

// Blocks of whole huge pages are placed on a huge-page boundary and offered to the kernel's
// transparent huge pages, where it takes them only when asked: a million events then cost a
// few dozen page faults instead of tens of thousands.
void* reserveBlock(size_t size) {
    if (size == 0 || size % kHugePage != 0) {
        void* block =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return block == MAP_FAILED ? nullptr : block;
    }
    size_t span = size + kHugePage;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start)
        munmap(mapped, aligned - start);
    if (start + span > aligned + size)
        munmap(reinterpret_cast<void*>(aligned + size), start + span - (aligned + size));
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE); // advice: failure is harmless
#endif
    return reinterpret_cast<void*>(aligned);
}

void releaseBlock(void* block, size_t size) {
    if (block)
        munmap(block, size);
}
