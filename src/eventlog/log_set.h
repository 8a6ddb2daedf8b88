// The logs a report reads, walked as one: the machine's own log of a source, or any number of
// saved logs. Each log is walked newest first in its own order, and the walks are merged by
// time; a record found in two of the saved logs (a copy of a log taken a day after another) is
// given once.
#pragma once

#include "event_log_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

class LogSet {
  public:
    // The machine's log that the source writes to, when files is empty; else the saved logs.
    LogSet(const WCHAR* sourceName, const std::vector<WString>& files);
    LogSet(const LogSet&) = delete;
    LogSet& operator=(const LogSet&) = delete;

    size_t size() const { return logs_.size(); }
    EventLogReader& log(size_t i) { return *logs_[i]; }
    const EventLogReader& log(size_t i) const { return *logs_[i]; }
    // The path of a saved log; none for the machine's own.
    const WCHAR* path(size_t i) const { return files_.empty() ? nullptr : files_[i].c_str(); }

    // Starts new walks of every log.
    void reopen();
    // 1 when a record is current (current() has it): of the logs' next records, the newest, the
    // log given later first among those of one time; 0 once every walk ended.
    int readNext() {
        if (logs_.size() == 1)
            return logs_[0]->readNext();
        return readMerged();
    }
    EventLogReader& current() { return *current_; }

    // The newest time of the records the walks met, of every source and log; 0 with none.
    uint32_t newestMet() const;
    // Records given once that two logs held.
    uint64_t duplicates() const { return duplicates_; }
    // Whether the walk must be made again from the start, every record then kept for the
    // search for copies (see isDuplicate); readNext said 0 early. reopen starts it.
    int mustRestart() const { return restart_; }

  private:
    // A record given, as the copies of it in other logs are found: its number, time, event ID
    // and a keyed hash of its computer's name (never 0).
    struct Given {
        uint32_t number;
        uint32_t time;
        uint32_t kind;
        uint32_t computer;
        bool operator==(const Given& o) const {
            return number == o.number && time == o.time && kind == o.kind && computer == o.computer;
        }
    };
    // What each log gave, walking back: while its numbers fell at each record (as a log numbers
    // its records), in order, to be searched by number; after that, in the table of such logs.
    // Records given, one after another, in a block that doubles from 64 KiB: a hundred small
    // logs take little, and a log of a million records grows into whole huge pages, a few page
    // faults, not thousands.
    class GivenArray {
      public:
        GivenArray() = default;
        ~GivenArray() { releaseBlock(items_, capacity_ * sizeof(Given)); }
        GivenArray(const GivenArray&) = delete;
        GivenArray& operator=(const GivenArray&) = delete;
        void push(const Given& record) {
            if (size_ == capacity_)
                grow();
            items_[size_++] = record;
        }
        const Given* begin() const { return items_; }
        const Given* end() const { return items_ + size_; }
        int empty() const { return size_ == 0; }
        const Given& back() const { return items_[size_ - 1]; }
        void release() {
            releaseBlock(items_, capacity_ * sizeof(Given));
            items_ = nullptr;
            size_ = capacity_ = 0;
        }

      private:
        void grow();
        Given* items_ = nullptr;
        size_t size_ = 0, capacity_ = 0;
    };
    struct Trail {
        GivenArray given;
        uint32_t lowest = UINT32_MAX, highest = 0; // of the records kept
        // The times they span: a copy has the record's time, and logs of many servers given
        // in turns span the same numbers, but seldom the same second.
        uint32_t earliest = UINT32_MAX, latest = 0;
        int falling = 1;
        int any = 0;       // a record was given (or found a copy)
        uint32_t last = 0; // the number of the last one
        // The numbers of the records not kept: no other log could give a copy of them later.
        uint32_t skippedLowest = UINT32_MAX, skippedHighest = 0;
        std::vector<WCHAR> spelling; // the last computer's name met, and its hash
        uint32_t spellingHash = 0;
    };
    // An entry of the table: a record given by a log whose numbers did not fall.
    struct Tabled {
        Given record;
        size_t log; // its log, plus one; 0 for an empty slot
    };

    int readMerged();
    size_t bestOf(size_t count);
    int staysAhead(size_t log) const;
    void hullOf(size_t log);
    int isDuplicate(size_t log);
    uint32_t computerHash(Trail& trail, EventLogReader& reader);
    uint32_t computerOf(Given& record, Trail& trail, EventLogReader& reader);
    int tabledElsewhere(Given& record, size_t log, Trail& trail, EventLogReader& reader);
    int skippedElsewhere(uint32_t number, size_t log) const;
    void table(const Given& record, size_t log);
    size_t slotOf(const Given& record) const;
    void grow();

    std::vector<std::unique_ptr<EventLogReader>> logs_;
    std::vector<WString> files_;
    EventLogReader* current_ = nullptr;
    // The merge: whether each log has a record waiting (its current one), and the log whose
    // record was given last, which moves on at the next read.
    std::vector<char> waiting_;
    size_t taken_ = SIZE_MAX;
    size_t runnerUp_ = SIZE_MAX; // the best of the others when taken_ began giving
    // The span of the numbers the others gave when taken_ began giving.
    uint32_t hullLowest_ = UINT32_MAX, hullHighest_ = 0;
    // The highest number the others may still give while their numbers fall (UINT64_MAX when
    // one's do not), when taken_ began giving: a record above it has no copy to come.
    uint64_t othersHead_ = UINT64_MAX;
    int recordAll_ = 0; // keep every record: a walk found that one not kept may have a copy
    int restart_ = 0;
    int anySkipped_ = 0;
    int started_ = 0;
    uint64_t duplicates_ = 0;
    std::vector<std::unique_ptr<Trail>> trails_;
    std::vector<Tabled> table_;
    size_t tabled_ = 0;
    uint64_t secret_[2] = {};
};
