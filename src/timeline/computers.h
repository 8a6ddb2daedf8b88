// The lists the records of a log are filed into: one list for every record whatever its
// computer, as for the log of one machine, or one for each computer that a filter accepts, as
// for the log a collector gathers from many.
#pragma once

#include "eventlog/event_log_reader.h"
#include "name_table.h"
#include "user_list.h"

#include <cstdint>
#include <memory>
#include <vector>

class ComputerLists {
  public:
    // One list for every record.
    ComputerLists();
    // A list for each computer whose name accepts(context, name) takes; the records of the
    // others are passed over.
    ComputerLists(int (*accepts)(const void* context, const WCHAR* name), const void* context);
    ComputerLists(const ComputerLists&) = delete;
    ComputerLists& operator=(const ComputerLists&) = delete;

    // The list of the computer of the reader's current record; none when its records are
    // passed over. Records nearly always come in runs of one computer: the last one's spelling
    // is compared first.
    UserList* listOf(EventLogReader& reader) {
        if (!accepts_)
            return &parts_[0]->list;
        const WCHAR* computer = reader.computer();
        const size_t units = computer ? reader.computerUnits() : 0;
        if (last_ && units == lastUnits_ && sameUnits(computer, lastText_, units))
            return last_->taken ? &last_->list : nullptr;
        return find(computer ? computer : WSTR(""), units);
    }

    // Whether each computer has a list of its own.
    int byComputer() const { return accepts_ != nullptr; }

    // The lists, in order of their computers' names without regard to case once sorted.
    size_t size() const { return parts_.size(); }
    UserList& list(size_t i) { return parts_[i]->list; }
    // The name as the first record met spelled it (the newest, as logs are read); empty for
    // the one list of every record.
    const WString& name(size_t i) const { return parts_[i]->name; }
    void sort();
    // Back to no list filed, as made (the memory of those filed stays taken).
    void clear();

  private:
    struct Part {
        explicit Part(BlockPool* pool) : list(pool) {}
        WString name;
        int taken = 1; // the filter accepted it
        UserList list;
    };
    UserList* find(const WCHAR* computer, size_t units);

    BlockPool pool_; // the lists' memory: they go first
    int (*accepts_)(const void*, const WCHAR*) = nullptr;
    const void* context_ = nullptr;
    std::vector<std::unique_ptr<Part>> parts_; // the computers accepted
    Part refused_{&pool_};                     // the one part of all those that were not
    // The name to its part: its place in parts_ plus one, or kRefused; folded, and as each
    // spelling met was spelled.
    NameTable numbers_{1};
    NameTable spelled_{0};
    // The part of the last record, and its name as spelled there when it is short.
    Part* last_ = nullptr;
    static constexpr size_t kLastUnits = 32;
    size_t lastUnits_ = 0;
    WCHAR lastText_[kLastUnits];
};
