#include "log_set.h"

#include <chrono>
#include <random>

namespace {

constexpr uint64_t kMix = 0x9e3779b97f4a7c15ull;

uint64_t mixed(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
#else
    return (a ^ (a >> 29)) * (b | 1) ^ (a >> 32);
#endif
}

} // namespace

LogSet::LogSet(const WCHAR* sourceName, const std::vector<WString>& files) : files_(files) {
    if (files_.empty()) {
        logs_.emplace_back(new EventLogReader(sourceName));
    } else {
        for (const WString& file : files_)
            logs_.emplace_back(new EventLogReader(sourceName, file.c_str()));
        // The table's slots cannot be chosen by a log: where a record goes depends on a secret
        // of the process.
        std::random_device device;
        const uint64_t clock =
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        secret_[0] = (uint64_t(device()) << 32 | device()) ^ clock;
        secret_[1] = (uint64_t(device()) << 32 | device()) | 1;
    }
    current_ = logs_[0].get();
}

void LogSet::reopen() {
    for (auto& log : logs_)
        log->reopen();
    started_ = 0;
    taken_ = SIZE_MAX;
    current_ = logs_[0].get();
    seen_.clear();
    seenCount_ = 0;
    duplicates_ = 0;
}

uint32_t LogSet::newestMet() const {
    uint32_t newest = 0;
    for (const auto& log : logs_)
        if (log->recordsMet() > 0 && log->newestMet() > newest)
            newest = log->newestMet();
    return newest;
}

// Each log moves on only when its record was given: the others' records stay where their
// readers keep them.
int LogSet::readMerged() {
    const size_t count = logs_.size();
    for (;;) {
        if (!started_) {
            started_ = 1;
            waiting_.assign(count, 0);
            for (size_t i = 0; i < count; ++i)
                waiting_[i] = static_cast<char>(logs_[i]->readNext());
        } else if (taken_ != SIZE_MAX) {
            waiting_[taken_] = static_cast<char>(logs_[taken_]->readNext());
        }
        size_t best = SIZE_MAX;
        uint32_t bestTime = 0;
        for (size_t i = count; i-- > 0;)
            if (waiting_[i] && (best == SIZE_MAX || logs_[i]->time() > bestTime)) {
                best = i;
                bestTime = logs_[i]->time();
            }
        taken_ = best;
        if (best == SIZE_MAX)
            return 0;
        current_ = logs_[best].get();
        if (!isDuplicate(*current_))
            return 1;
        ++duplicates_;
    }
}

// A record is the same as one given before when its computer, number, time and event ID are:
// the source is the same for every record read. Each record given is kept, so that its copy is
// found in whatever order the logs give them; their clocks may step back.
int LogSet::isDuplicate(EventLogReader& reader) {
    uint64_t name = secret_[0];
    const WCHAR* computer = reader.computer();
    for (size_t i = 0; i < reader.computerUnits(); ++i)
        name = mixed(name ^ static_cast<uint16_t>(computer[i]), secret_[1]);
    name = mixed(name ^ reader.computerUnits(), secret_[1]);
    const Seen key = {uint64_t(reader.recordNumber()) << 32 | reader.time(), reader.kind(),
                      static_cast<uint32_t>(name >> 32) | 1};
    if (2 * (seenCount_ + 1) > seen_.size())
        grow();
    const size_t mask = seen_.size() - 1;
    for (size_t slot = slotOf(key) & mask;; slot = (slot + 1) & mask) {
        Seen& at = seen_[slot];
        if (at.computer == 0) {
            at = key;
            ++seenCount_;
            return 0;
        }
        if (at.numberAndTime == key.numberAndTime && at.kind == key.kind &&
            at.computer == key.computer)
            return 1;
    }
}

size_t LogSet::slotOf(const Seen& key) const {
    return static_cast<size_t>(
        mixed(key.numberAndTime ^ (uint64_t(key.computer) << 32 | key.kind), secret_[1]));
}

// Twice the slots, each key placed again.
void LogSet::grow() {
    std::vector<Seen> old;
    old.swap(seen_);
    seen_.assign(old.empty() ? size_t(1) << 16 : 2 * old.size(), Seen{0, 0, 0});
    const size_t mask = seen_.size() - 1;
    for (const Seen& key : old) {
        if (key.computer == 0)
            continue;
        size_t slot = slotOf(key) & mask;
        while (seen_[slot].computer != 0)
            slot = (slot + 1) & mask;
        seen_[slot] = key;
    }
}
