#include "computers.h"

#include <algorithm>

namespace {

constexpr uint32_t kRefused = 0x80000000u;

} // namespace

ComputerLists::ComputerLists() {
    parts_.emplace_back(new Part(&pool_));
}

ComputerLists::ComputerLists(int (*accepts)(const void*, const WCHAR*), const void* context)
    : accepts_(accepts), context_(context) {
    refused_.taken = 0;
}

UserList* ComputerLists::find(const WCHAR* computer, size_t units) {
    const NameText none = {nullptr, 0}, name = {computer, units};
    uint32_t number = spelled_.find(none, name);
    if (!number) {
        number = numbers_.find(none, name);
        if (!number) {
            // A name the filter refuses costs its keys alone: its records go nowhere.
            WString spelling(computer, units);
            number = kRefused;
            if (accepts_(context_, spelling.c_str())) {
                parts_.emplace_back(new Part(&pool_));
                parts_.back()->name.swap(spelling);
                number = static_cast<uint32_t>(parts_.size());
            }
            numbers_.store(none, name, number);
        }
        spelled_.store(none, name, number);
    }
    last_ = number == kRefused ? &refused_ : parts_[number - 1].get();
    // A name too long to keep is looked up each time (its copy would cost more).
    lastUnits_ = units <= kLastUnits ? units : SIZE_MAX;
    if (units <= kLastUnits)
        std::copy(computer, computer + units, lastText_);
    return last_->taken ? &last_->list : nullptr;
}

void ComputerLists::sort() {
    std::stable_sort(parts_.begin(), parts_.end(),
                     [](const std::unique_ptr<Part>& a, const std::unique_ptr<Part>& b) {
                         int order = _wcsicmp(a->name.c_str(), b->name.c_str());
                         return order != 0 ? order < 0 : a->name < b->name;
                     });
    // The numbers name places before the sort: records are not filed after it.
    numbers_.clear();
    spelled_.clear();
    last_ = nullptr;
}

void ComputerLists::clear() {
    parts_.clear();
    numbers_.clear();
    spelled_.clear();
    last_ = nullptr;
    if (!accepts_)
        parts_.emplace_back(new Part(&pool_));
}
