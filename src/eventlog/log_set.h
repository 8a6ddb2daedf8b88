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

  private:
    int readMerged();
    int isDuplicate(EventLogReader& reader);

    std::vector<std::unique_ptr<EventLogReader>> logs_;
    std::vector<WString> files_;
    EventLogReader* current_ = nullptr;
    // The merge: whether each log has a record waiting (its current one), and the log whose
    // record was given last, which moves on at the next read.
    std::vector<char> waiting_;
    size_t taken_ = SIZE_MAX;
    int started_ = 0;
    uint64_t duplicates_ = 0;
    // The records given so far when there are several logs, in an open-addressed table: each
    // by its number and time, its event ID and a keyed hash of its computer's name (never 0:
    // an empty slot has 0).
    struct Seen {
        uint64_t numberAndTime;
        uint32_t kind;
        uint32_t computer;
    };
    size_t slotOf(const Seen& key) const;
    void grow();
    std::vector<Seen> seen_;
    size_t seenCount_ = 0;
    uint64_t secret_[2] = {};
};
