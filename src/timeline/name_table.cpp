#include "name_table.h"

#include <chrono>
#include <random>

namespace {

constexpr size_t kMostRecent = size_t(1) << 18;

uint64_t mixed(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

struct Secret {
    uint64_t k0, k1;
};

// The process's secret: the system's random numbers, and, where those are few, the clock and
// where the program was loaded.
Secret makeSecret() {
    std::random_device device;
    uint64_t seed = uint64_t(device()) << 32 ^ device();
    seed ^= mixed(static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    seed ^= mixed(reinterpret_cast<uintptr_t>(&seed) ^ reinterpret_cast<uintptr_t>(&makeSecret));
    return {mixed(seed), mixed(seed ^ (uint64_t(device()) << 32 ^ device()))};
}

const Secret& secret() {
    static const Secret made = makeSecret();
    return made;
}

} // namespace

NameTable::NameTable(int folds) : folds_(folds) {
    const Secret& key = secret();
    key_[0] = key.k0;
    key_[1] = key.k1 | 1; // an odd multiplier loses no bits
}

uint32_t NameTable::findHashed(NameText domain, NameText userName) const {
    if (slots_.empty())
        return 0;
    uint32_t slot = slots_[slotOf(hashOf(domain, userName), domain, userName)];
    if (!slot)
        return 0;
    if (!recent_.empty())
        recent_[recentOf(domain, userName)] = slot;
    return entries_[slot - 1].value;
}

// The slots are twice as many as the keys, or more; the keys met lately are kept in eight times
// as many places, up to a limit, which keeps two keys from one place but for a few.
void NameTable::grow() {
    slots_.assign(slots_.size() < 64 ? 64 : 2 * slots_.size(), 0);
    shift_ = 64;
    for (size_t size = slots_.size(); size > 1; size /= 2)
        --shift_;
    if (!folds_ && slots_.size() <= kMostRecent / 4) {
        recent_.assign(4 * slots_.size(), 0);
        recentShift_ = shift_ - 2;
    }
    size_t mask = slots_.size() - 1;
    for (size_t e = 0; e < entries_.size(); ++e) {
        size_t i = static_cast<size_t>(entries_[e].hash >> shift_);
        while (slots_[i] != 0)
            i = (i + 1) & mask;
        slots_[i] = static_cast<uint32_t>(e + 1);
    }
}

int NameTable::store(NameText domain, NameText userName, uint32_t value) {
    if (2 * (entries_.size() + 2) > slots_.size())
        grow();
    uint64_t hash = hashOf(domain, userName);
    uint32_t& slot = slots_[slotOf(hash, domain, userName)];
    if (slot != 0) {
        entries_[slot - 1].value = value;
        return 1;
    }
    Entry entry = {hash, kHeld, sizeOf(userName), sizeOf(domain), value, {}};
    const int held = userName.units + domain.units <= kHeldUnits;
    if (!held)
        entry.text = static_cast<uint32_t>(texts_.size());
    WCHAR* to = entry.held;
    for (NameText name : {userName, domain}) {
        for (size_t i = 0; i < name.units; ++i) {
            WCHAR unit = folds_ ? folded(name.text[i]) : name.text[i];
            if (held)
                *to++ = unit;
            else
                texts_.push_back(unit);
        }
    }
    entries_.push_back(entry);
    slot = static_cast<uint32_t>(entries_.size());
    return 0;
}

void NameTable::clear() {
    slots_.clear();
    recent_.clear();
    entries_.clear();
    texts_.clear();
}
