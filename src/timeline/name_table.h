// Names of users to their entries: a user name and a domain, each of which may be missing, in an
// open-addressed table. A lookup hashes the names as it reads them and compares them with the
// kept key of each slot of the same hash: no key is built for it.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A name and its length in units; a missing name has no text.
struct NameText {
    const WCHAR* text;
    size_t units;
};

class NameTable {
  public:
    // Folding tables match names without regard to ASCII case; the others as they are spelled,
    // four units a step.
    explicit NameTable(int folds) : folds_(folds) {}

    // The value stored for the names; 0 when none is.
    uint32_t find(NameText domain, NameText userName) const;
    // Stores value (not 0) for the names; 1 when it replaced a value stored before.
    int store(NameText domain, NameText userName, uint32_t value);
    void clear();
    size_t size() const { return keys_.size(); }

  private:
    struct Slot {
        uint64_t hash;
        uint32_t key; // its key's place in keys_, plus one; 0 for an empty slot
    };
    uint64_t hashOf(NameText domain, NameText userName) const;
    int hasKey(const WString& key, NameText domain, NameText userName) const;
    const Slot* slotOf(uint64_t hash, NameText domain, NameText userName) const;
    WString keyOf(NameText domain, NameText userName) const;
    void grow();

    int folds_;
    std::vector<Slot> slots_;
    std::vector<WString> keys_;
    std::vector<uint32_t> values_; // by key
};
