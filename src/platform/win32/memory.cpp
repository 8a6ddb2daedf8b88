#include "platform.h"

void* reserveBlock(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseBlock(void* block, size_t size) {
    (void)size;
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
}
