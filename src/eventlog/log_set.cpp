#include "log_set.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
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
    restart_ = 0;
    anySkipped_ = 0;
    trails_.clear();
    for (size_t i = 0; logs_.size() > 1 && i < logs_.size(); ++i)
        trails_.emplace_back(new Trail);
    table_.clear();
    tabled_ = 0;
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
// readers keep them. The log that gave last mostly gives next too (logs archived one after
// another are given whole, one by one): it is compared with the best of the others, found once
// when it began giving, and the others are looked at again only when it loses.
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
        if (taken_ == SIZE_MAX || !waiting_[taken_] || !staysAhead(taken_))
            taken_ = bestOf(count);
        if (taken_ == SIZE_MAX)
            return 0;
        current_ = logs_[taken_].get();
        const int copy = isDuplicate(taken_);
        if (copy < 0)
            return 0;
        if (!copy)
            return 1;
        ++duplicates_;
    }
}

// The waiting log with the newest record, the later log of those of one time; SIZE_MAX when
// none waits. The best of the others is kept for staysAhead.
size_t LogSet::bestOf(size_t count) {
    size_t best = SIZE_MAX;
    runnerUp_ = SIZE_MAX;
    for (size_t i = count; i-- > 0;) {
        if (!waiting_[i])
            continue;
        if (best == SIZE_MAX || logs_[i]->time() > logs_[best]->time()) {
            runnerUp_ = best;
            best = i;
        } else if (runnerUp_ == SIZE_MAX || logs_[i]->time() > logs_[runnerUp_]->time()) {
            runnerUp_ = i;
        }
    }
    hullOf(best);
    othersHead_ = 0;
    for (size_t i = 0; i < count; ++i)
        if (i != best && waiting_[i])
            othersHead_ = trails_[i]->falling
                              ? std::max<uint64_t>(othersHead_, logs_[i]->recordNumber())
                              : UINT64_MAX;
    return best;
}

// Whether log, which gave last, still has the newest record: the others have not moved since.
int LogSet::staysAhead(size_t log) const {
    if (runnerUp_ == SIZE_MAX)
        return 1;
    const uint32_t mine = logs_[log]->time(), theirs = logs_[runnerUp_]->time();
    return mine > theirs || (mine == theirs && log > runnerUp_);
}

// The record's computer hash, taken when first needed.
uint32_t LogSet::computerOf(Given& record, Trail& trail, EventLogReader& reader) {
    if (!record.computer)
        record.computer = computerHash(trail, reader);
    return record.computer;
}

// Records nearly always come in runs of one computer: its name is hashed when it changes.
uint32_t LogSet::computerHash(Trail& trail, EventLogReader& reader) {
    const WCHAR* name = reader.computer();
    const size_t units = reader.computerUnits();
    if (units == trail.spelling.size() && trail.spellingHash &&
        std::equal(name, name + units, trail.spelling.begin()))
        return trail.spellingHash;
    uint64_t hash = secret_[0];
    for (size_t i = 0; i < units; ++i)
        hash = mixed(hash ^ static_cast<uint16_t>(name[i]), secret_[1]);
    hash = mixed(hash ^ units, secret_[1]);
    trail.spelling.assign(name, name + units);
    trail.spellingHash = static_cast<uint32_t>(hash >> 32) | 1;
    return trail.spellingHash;
}

// A record is the same as one another log gave when its computer, number, time and event ID
// are: the source is the same for every record read. A log's numbers fall as it is walked back,
// so the records of another log can hold a copy only where their numbers span the record's, and
// there it is found by a binary search: logs archived one after another are never searched. The
// records of a log whose numbers did not fall (one that gathers records of other computers, or
// a damaged one) are kept in a table instead.
//
// A record is kept for the search only where a copy may still come: while the other logs'
// numbers fall, none of them can give a number above the next it will give. Logs archived one
// after another then keep nothing. Should a log whose numbers do not fall give a number of the
// span of records not kept, a copy may have been missed: the walk is made again, keeping all.
// -1 then; 1 for a copy, 0 for a record to give.
int LogSet::isDuplicate(size_t log) {
    EventLogReader& reader = *logs_[log];
    Trail& trail = *trails_[log];
    Given record = {reader.recordNumber(), reader.time(), reader.kind(), 0};
    if (trail.falling && trail.any && record.number >= trail.last) {
        trail.falling = 0;
        for (const Given& earlier : trail.given)
            table(earlier, log);
        trail.given.release();
    }
    trail.any = 1;
    trail.last = record.number;
    if (!trail.falling && !recordAll_ && anySkipped_ && skippedElsewhere(record.number, log)) {
        recordAll_ = restart_ = 1;
        return -1;
    }
    for (size_t other = 0;
         record.number >= hullLowest_ && record.number <= hullHighest_ && other < trails_.size();
         ++other) {
        const Trail& them = *trails_[other];
        if (other == log || !them.falling || record.number < them.lowest ||
            record.number > them.highest || record.time < them.earliest ||
            record.time > them.latest)
            continue; // the table holds the records of logs whose numbers did not fall
        // Their numbers fall: the first place whose number is not above the record's.
        const Given* at =
            std::partition_point(them.given.begin(), them.given.end(),
                                 [&](const Given& g) { return g.number > record.number; });
        if (at != them.given.end() && at->number == record.number && at->time == record.time &&
            at->kind == record.kind && at->computer == computerOf(record, trail, reader))
            return 1;
    }
    if (tabled_ > 0 && tabledElsewhere(record, log, trail, reader))
        return 1;
    if (!recordAll_ && trail.falling && record.number > othersHead_) {
        trail.skippedLowest = std::min(trail.skippedLowest, record.number);
        trail.skippedHighest = std::max(trail.skippedHighest, record.number);
        anySkipped_ = 1;
        return 0;
    }
    computerOf(record, trail, reader);
    if (trail.falling)
        trail.given.push(record);
    else
        table(record, log);
    trail.lowest = record.number < trail.lowest ? record.number : trail.lowest;
    trail.highest = record.number > trail.highest ? record.number : trail.highest;
    trail.earliest = std::min(trail.earliest, record.time);
    trail.latest = std::max(trail.latest, record.time);
    return 0;
}

// Whether the number lies in the span of the records another log did not keep.
int LogSet::skippedElsewhere(uint32_t number, size_t log) const {
    for (size_t other = 0; other < trails_.size(); ++other)
        if (other != log && number >= trails_[other]->skippedLowest &&
            number <= trails_[other]->skippedHighest)
            return 1;
    return 0;
}

// The numbers the logs but log gave span, which change only when another log gives.
void LogSet::hullOf(size_t log) {
    hullLowest_ = UINT32_MAX;
    hullHighest_ = 0;
    for (size_t other = 0; other < trails_.size(); ++other) {
        const Trail& them = *trails_[other];
        if (other == log || them.highest < them.lowest)
            continue;
        hullLowest_ = std::min(hullLowest_, them.lowest);
        hullHighest_ = std::max(hullHighest_, them.highest);
    }
}

// By number, time and event ID: the computer is compared only where those are the same.
size_t LogSet::slotOf(const Given& record) const {
    const uint64_t words = (uint64_t(record.number) << 32 | record.time) ^ record.kind * kMix;
    return static_cast<size_t>(mixed(words ^ secret_[0], secret_[1]));
}

int LogSet::tabledElsewhere(Given& record, size_t log, Trail& trail, EventLogReader& reader) {
    const size_t mask = table_.size() - 1;
    for (size_t slot = slotOf(record) & mask; table_[slot].log; slot = (slot + 1) & mask) {
        const Tabled& entry = table_[slot];
        if (entry.log != log + 1 && entry.record.number == record.number &&
            entry.record.time == record.time && entry.record.kind == record.kind &&
            entry.record.computer == computerOf(record, trail, reader))
            return 1;
    }
    return 0;
}

void LogSet::table(const Given& record, size_t log) {
    if (2 * (tabled_ + 1) > table_.size())
        grow();
    const size_t mask = table_.size() - 1;
    size_t slot = slotOf(record) & mask;
    for (; table_[slot].log; slot = (slot + 1) & mask)
        if (table_[slot].log == log + 1 && table_[slot].record == record)
            return; // once finds its copies: a log repeating a record makes no run of slots
    table_[slot] = {record, log + 1};
    ++tabled_;
}

// Twice the slots, each entry placed again.
void LogSet::grow() {
    std::vector<Tabled> old;
    old.swap(table_);
    table_.assign(old.empty() ? size_t(1) << 12 : 2 * old.size(), Tabled{{0, 0, 0, 0}, 0});
    tabled_ = 0;
    for (const Tabled& entry : old)
        if (entry.log)
            table(entry.record, entry.log - 1);
}

void LogSet::GivenArray::grow() {
    const size_t capacity = capacity_ ? 2 * capacity_ : (size_t(64) << 10) / sizeof(Given);
    Given* items = static_cast<Given*>(reserveBlock(capacity * sizeof(Given)));
    if (!items)
        std::abort(); // as the standard containers do when memory runs out
    if (size_)
        std::memcpy(items, items_, size_ * sizeof(Given));
    releaseBlock(items_, capacity_ * sizeof(Given));
    items_ = items;
    capacity_ = capacity;
}
