// Names of users to their entries: a user name and a domain, each of which may be missing, in an
// open-addressed table. A lookup hashes the names as it reads them and compares them with the
// kept key of each slot of the same hash: no key is built for it. Lookups are made for every
// record of a log, so theirs is the code here. The hash is keyed with a secret of the process,
// so that names cannot be chosen to share slots; what is found never depends on it.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A name and its length in units; a missing name has no text.
struct NameText {
    const WCHAR* text;
    size_t units;
};

// Whether units units at a and at b are the same: four a step (in the steps of a hash of a name
// as spelled), the last step ending with them.
inline int sameUnits(const WCHAR* a, const WCHAR* b, size_t units) {
    if (units < 4) {
        for (size_t i = 0; i < units; ++i)
            if (a[i] != b[i])
                return 0;
        return 1;
    }
    uint64_t x, y;
    size_t last = units - 4;
    for (size_t i = 0; i < last; i += 4) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return 0;
    }
    std::memcpy(&x, a + last, 8);
    std::memcpy(&y, b + last, 8);
    return x == y;
}

class NameTable {
  public:
    // Folding tables match names without regard to ASCII case, a unit at a time; the others as
    // they are spelled, four units a step.
    explicit NameTable(int folds);

    // The value stored for the names; 0 when none is. Names looked up as spelled are first
    // looked for among the keys met lately, by a hash of their ends and lengths only.
    uint32_t find(NameText domain, NameText userName) const {
        if (!recent_.empty()) {
            uint32_t entry = recent_[recentOf(domain, userName)];
            if (entry && matches(entries_[entry - 1], domain, userName))
                return entries_[entry - 1].value;
        }
        return findHashed(domain, userName);
    }
    // Stores value (not 0) for the names; 1 when it replaced a value stored before.
    int store(NameText domain, NameText userName, uint32_t value);
    void clear();
    size_t size() const { return entries_.size(); }

  private:
    // A key: the user name's units, then the domain's, folded in a folding table. A short key
    // is kept in its entry, so that a lookup reads one line of memory for it; a longer one in
    // texts_.
    static constexpr size_t kHeldUnits = 20;
    struct alignas(64) Entry {
        uint64_t hash;
        uint32_t text;       // where the key's units start in texts_, when it is kept there
        uint32_t userSize;   // the user name's units plus one; 0 for a missing name
        uint32_t domainSize; // the same for the domain
        uint32_t value;
        WCHAR held[kHeldUnits];
    };
    static_assert(sizeof(Entry) == 64, "an entry is one line of memory");
    static constexpr uint32_t kHeld = UINT32_MAX; // Entry::text of a key held in its entry
    static constexpr uint64_t kMix = 0x9e3779b97f4a7c15ull;

    static uint32_t sizeOf(NameText name) {
        return name.text ? static_cast<uint32_t>(name.units + 1) : 0;
    }
    static WCHAR folded(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }
    static uint64_t load4(const WCHAR* units) {
        uint64_t word;
        std::memcpy(&word, units, 8);
        return word;
    }
    // Each step carries what came before into the high bits, where the keys met lately are
    // placed.
    static uint64_t step(uint64_t hash, uint64_t word) { return (hash + word) * kMix; }

    // A keyed hash of words: each step multiplies the word and what came before by a secret, to
    // 128 bits, and folds the halves together, which no choice of words can undo without the
    // secrets of the process.
    class KeyedHash {
      public:
        explicit KeyedHash(const uint64_t key[2]) : hash_(key[0]), key_(key[1]) {}
        void add(uint64_t word) { hash_ = foldedProduct(hash_ ^ word, key_); }
        uint64_t finish() const { return foldedProduct(hash_, key_ ^ kMix); }

      private:
        static uint64_t foldedProduct(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
            unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
            return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
#else
            uint64_t aLow = a & 0xFFFFFFFF, aHigh = a >> 32, bLow = b & 0xFFFFFFFF, bHigh = b >> 32;
            uint64_t low = aLow * bLow, middle = aHigh * bLow, other = aLow * bHigh;
            uint64_t carry = (low >> 32) + (middle & 0xFFFFFFFF) + (other & 0xFFFFFFFF);
            uint64_t high = aHigh * bHigh + (middle >> 32) + (other >> 32) + (carry >> 32);
            return (a * b) ^ high;
#endif
        }
        uint64_t hash_;
        uint64_t key_;
    };
    // One name's units, four a word, the last word filled with zero units; folded in a folding
    // table.
    void hashName(KeyedHash& hash, NameText name) const {
        size_t i = 0;
        if (!folds_)
            for (; i + 4 <= name.units; i += 4)
                hash.add(load4(name.text + i));
        while (i < name.units) {
            uint64_t word = 0;
            for (int shift = 0; shift < 64 && i < name.units; shift += 16, ++i)
                word |=
                    uint64_t(static_cast<char16_t>(folds_ ? folded(name.text[i]) : name.text[i]))
                    << shift;
            hash.add(word);
        }
    }
    // The last four units of a name, or all of them.
    static uint64_t endOf(NameText name) {
        if (name.units >= 4)
            return load4(name.text + name.units - 4);
        uint64_t word = 0;
        for (size_t i = 0; i < name.units; ++i)
            word = word << 16 | static_cast<char16_t>(name.text[i]);
        return word;
    }
    size_t recentOf(NameText domain, NameText userName) const {
        uint64_t hash =
            step(step(uint64_t(sizeOf(userName)) << 32 | sizeOf(domain), endOf(userName)),
                 endOf(domain));
        return static_cast<size_t>(hash >> recentShift_);
    }
    // The sizes of the names, then their units.
    uint64_t hashOf(NameText domain, NameText userName) const {
        KeyedHash hash(key_);
        hash.add(uint64_t(sizeOf(userName)) << 32 | sizeOf(domain));
        hashName(hash, userName);
        hashName(hash, domain);
        return hash.finish();
    }

    static int sameFolded(const WCHAR* key, const WCHAR* text, size_t units) {
        for (size_t i = 0; i < units; ++i)
            if (key[i] != folded(text[i]))
                return 0;
        return 1;
    }
    const WCHAR* keyOf(const Entry& entry) const {
        return entry.text == kHeld ? entry.held : texts_.data() + entry.text;
    }
    int matches(const Entry& entry, NameText domain, NameText userName) const {
        if (entry.userSize != sizeOf(userName) || entry.domainSize != sizeOf(domain))
            return 0;
        const WCHAR* key = keyOf(entry);
        if (folds_)
            return sameFolded(key, userName.text, userName.units) &&
                   sameFolded(key + userName.units, domain.text, domain.units);
        return sameUnits(key, userName.text, userName.units) &&
               sameUnits(key + userName.units, domain.text, domain.units);
    }

    // The place of the slot holding the key of the names, or of the empty one where it would go.
    size_t slotOf(uint64_t hash, NameText domain, NameText userName) const {
        size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(hash >> shift_);; i = (i + 1) & mask) {
            uint32_t slot = slots_[i];
            if (slot == 0)
                return i;
            const Entry& entry = entries_[slot - 1];
            if (entry.hash == hash && matches(entry, domain, userName))
                return i;
        }
    }
    uint32_t findHashed(NameText domain, NameText userName) const;
    void grow();

    int folds_;
    uint64_t key_[2];             // the process's secret
    std::vector<uint32_t> slots_; // an entry's place plus one; 0 for an empty slot
    int shift_ = 0;               // a hash's high bits left when shifted by it choose its slot
    std::vector<Entry> entries_;
    std::vector<WCHAR> texts_;
    // Keys met lately, by recentOf: an entry's place plus one, or 0. Only for spelled names.
    mutable std::vector<uint32_t> recent_;
    int recentShift_ = 0;
};
