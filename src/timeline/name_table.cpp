#include "name_table.h"

#include <cstring>

namespace {

constexpr uint64_t kHashStart = 0xcbf29ce484222325ull;
constexpr uint64_t kHashStep = 0x100000001b3ull;

WCHAR folded(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c;
}

// One name's part of the hash of its key: folded a unit at a time, or as spelled four at a time.
uint64_t hashName(uint64_t hash, NameText name, int folds) {
    if (!name.text)
        return (hash ^ '!') * kHashStep * kHashStep;
    hash = (hash ^ '=') * kHashStep;
    size_t i = 0;
    if (!folds) {
        for (; i + 4 <= name.units; i += 4) {
            uint64_t word;
            std::memcpy(&word, name.text + i, 8);
            hash = (hash ^ word) * kHashStep;
            hash ^= hash >> 32;
        }
    }
    for (; i < name.units; ++i)
        hash =
            (hash ^ static_cast<char16_t>(folds ? folded(name.text[i]) : name.text[i])) * kHashStep;
    return hash * kHashStep;
}

// The key past one name's part, or none when the part is not that name's.
const WCHAR* matchName(const WCHAR* key, NameText name, int folds) {
    if (!name.text)
        return key[0] == '!' && key[1] == 0 ? key + 2 : nullptr;
    if (*key++ != '=')
        return nullptr;
    if (!folds) {
        if (std::memcmp(key, name.text, sizeof(WCHAR) * name.units) != 0)
            return nullptr;
        key += name.units;
    } else {
        for (size_t i = 0; i < name.units; ++i, ++key)
            if (*key != folded(name.text[i]))
                return nullptr;
    }
    return *key == 0 ? key + 1 : nullptr;
}

size_t startOf(uint64_t hash, size_t mask) {
    return static_cast<size_t>(hash ^ hash >> 29) & mask;
}

} // namespace

// The user name, then the domain, each after a mark of whether it is present and before a
// zero: a missing name is a key of its own, apart from every present name, even the empty one.
WString NameTable::keyOf(NameText domain, NameText userName) const {
    WString key;
    for (NameText name : {userName, domain}) {
        key += name.text ? WCHAR('=') : WCHAR('!');
        for (size_t i = 0; i < name.units; ++i)
            key += folds_ ? folded(name.text[i]) : name.text[i];
        key += WCHAR(0);
    }
    return key;
}

uint64_t NameTable::hashOf(NameText domain, NameText userName) const {
    return hashName(hashName(kHashStart, userName, folds_), domain, folds_);
}

int NameTable::hasKey(const WString& key, NameText domain, NameText userName) const {
    // A name holds no zero unit, so the key's length says whether the lengths match.
    if (key.size() != userName.units + domain.units + 4)
        return 0;
    const WCHAR* rest = matchName(key.c_str(), userName, folds_);
    return rest && matchName(rest, domain, folds_);
}

// The slot holding the key of the names, or the empty one where it would go.
const NameTable::Slot* NameTable::slotOf(uint64_t hash, NameText domain, NameText userName) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = startOf(hash, mask);; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.key == 0 || (slot.hash == hash && hasKey(keys_[slot.key - 1], domain, userName)))
            return &slot;
    }
}

void NameTable::grow() {
    std::vector<Slot> old(slots_.size() < 64 ? 64 : 2 * slots_.size(), Slot{0, 0});
    old.swap(slots_);
    size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.key == 0)
            continue;
        size_t i = startOf(slot.hash, mask);
        while (slots_[i].key != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

uint32_t NameTable::find(NameText domain, NameText userName) const {
    if (slots_.empty())
        return 0;
    const Slot* slot = slotOf(hashOf(domain, userName), domain, userName);
    return slot->key ? values_[slot->key - 1] : 0;
}

int NameTable::store(NameText domain, NameText userName, uint32_t value) {
    if (2 * (keys_.size() + 2) > slots_.size())
        grow();
    uint64_t hash = hashOf(domain, userName);
    Slot& slot = const_cast<Slot&>(*slotOf(hash, domain, userName));
    if (slot.key != 0) {
        values_[slot.key - 1] = value;
        return 1;
    }
    keys_.push_back(keyOf(domain, userName));
    values_.push_back(value);
    slot.hash = hash;
    slot.key = static_cast<uint32_t>(keys_.size());
    return 0;
}

void NameTable::clear() {
    slots_.clear();
    keys_.clear();
    values_.clear();
}
