// Memory for a list's entries, events and names: taken from the heap in large blocks and given
// back all at once when the list goes, so that filling a list of a million events costs no
// malloc or free per event.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Arena {
  public:
    Arena() = default;
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // size bytes aligned for any object; none when the heap has no more.
    void* allocate(size_t size);
    // duplicateString's contract, from the arena: none for none or when memory runs out,
    // otherwise a copy with its terminator that lives as long as the arena.
    WCHAR* duplicateString(const WCHAR* s);

  private:
    std::vector<void*> blocks_;
    uint8_t* next_ = nullptr;
    size_t left_ = 0;
};
