// What the values of one record put into its event: the fields each element and attribute
// fills, the Data element's rule for insertion strings, and the bounds of what a record costs.
#pragma once

#include "binxml.h"
#include "binxml_values.h"

#include <cstdint>
#include <string>

namespace binxml {

// The elements whose content or attributes become fields.
enum Kind : uint8_t {
    OtherKind,
    EventKind,
    SystemKind,
    ProviderKind,
    EventIdKind,
    LevelKind,
    TaskKind,
    KeywordsKind,
    TimeCreatedKind,
    RecordIdKind,
    ComputerKind,
    SecurityKind,
    EventDataKind,
    DataKind,
    BinaryKind,
};

// Where a value goes: the content of the element, or one of its attributes.
enum AttributeKind : uint8_t {
    Content,
    IgnoredAttribute,
    NameAttribute,
    SourceNameAttribute,
    QualifiersAttribute,
    SystemTimeAttribute,
    UserIdAttribute,
};

// Where in the event a value goes, as its attribute (or the content of its element) says: the
// numbers first, each as its place among the event's numbers.
enum Target : uint8_t {
    QualifiersTarget = EvtxQualifiers,
    TimeCreatedTarget = EvtxTimeCreated,
    EventIdTarget = EvtxEventId,
    LevelTarget = EvtxLevel,
    TaskTarget = EvtxTask,
    KeywordsTarget = EvtxKeywords,
    RecordIdTarget = EvtxRecordId,
    NoTarget = kEvtxNumbers,
    ProviderTarget,
    SourceNameTarget,
    UserSidTarget,
    ComputerTarget,
    DataTarget,
    BinaryTarget,
};

Target targetOf(AttributeKind attribute, Kind kind);

// What a string costs the event besides its units: its place in the list.
constexpr uint64_t kStringCost = sizeof(std::u16string);

// Nodes one record may expand to: templates that instantiate templates could otherwise
// multiply the work of a few bytes past any bound. Real records have a few hundred.
constexpr uint64_t kMaxNodes = 100000;

class EventBuilder {
  public:
    EventBuilder(EvtxEvent& event, DecodeBudget& budget) : event_(event), budget_(budget) {}

    // Takes nodes from the record's bound and the chunk's budget; 0 when either is spent.
    int spendNodes(uint64_t count) {
        nodes_ += count;
        if (nodes_ > kMaxNodes || count > budget_.nodes)
            return 0;
        budget_.nodes -= count;
        return 1;
    }
    // Takes bytes from the chunk's budget alone (what a template's plan copies); 0 when spent.
    int spendBytes(uint64_t bytes) {
        if (bytes > budget_.bytes)
            return 0;
        budget_.bytes -= bytes;
        return 1;
    }
    // Puts a value where target says; 0 when the event would grow past its bounds. What grows
    // the event is paid for first, by a bound of what it adds.
    int put(const TypedValue& v, Target target) {
        if (target < NoTarget) {
            setNumber(target, target == TimeCreatedTarget && v.type == StringType
                                  ? fileTimeOfText(v)
                                  : numberOf(v));
            return 1;
        }
        switch (target) {
        case ProviderTarget:
        case SourceNameTarget:
        case ComputerTarget:
            return putText(v, target);
        case NoTarget:
            return 1;
        case UserSidTarget:
            if (v.type != SidType)
                return 1;
            if (!grow(v.size))
                return 0;
            event_.userSid.refer(v.bytes, v.size);
            return 1;
        case BinaryTarget:
            if (v.type != BinaryType)
                return putGrowing(v, target);
            if (!grow(v.size))
                return 0;
            event_.binary.add(v.bytes, v.size);
            return 1;
        default:
            return putGrowing(v, target);
        }
    }
    void setNumber(Target target, uint64_t number) { event_.numbers[target] = number; }
    // A name's text; appended, as an attribute's value may come in parts.
    int putText(const TypedValue& v, Target target);
    // The same for a value of StringType.
    int putString(const TypedValue& v, Target target) {
        if (!grow(v.size & ~1u)) // its units
            return 0;
        nameOf(target).add(v.bytes, textBytes(v));
        return 1;
    }

    // A Data element: opened, given values (put to DataTarget), perhaps an empty substitution,
    // closed.
    void openData() { data_ = {1, 0, 0, 0}; }
    void emptyValue() { data_.emptyValue = 1; }
    int closeData() {
        const int none = data_.open && !data_.given && !data_.emptyValue;
        data_ = {0, 0, 0, 0};
        return none ? closeEmptyData() : 1;
    }

  private:
    EventBytes& nameOf(Target target) {
        return target == ProviderTarget     ? event_.provider
               : target == SourceNameTarget ? event_.sourceName
                                            : event_.computer;
    }
    int putGrowing(const TypedValue& v, Target target);
    // Takes bytes the event may grow by, before it grows.
    int grow(uint64_t bytes) {
        if (bytes > kMaxEventBytes - eventBytes_ || bytes > budget_.bytes)
            return 0;
        eventBytes_ += bytes;
        budget_.bytes -= bytes;
        return 1;
    }
    int dataValue(const TypedValue& value);
    int closeEmptyData(); // a Data element given nothing: one empty string
    void openString();

    EvtxEvent& event_;
    DecodeBudget& budget_;
    uint64_t nodes_ = 0;
    uint64_t eventBytes_ = 0;
    // The Data element being read (they do not nest): open, given a value, its last string
    // open for more text, given an empty substitution.
    struct {
        int open, given, joining, emptyValue;
    } data_ = {0, 0, 0, 0};
};

} // namespace binxml
