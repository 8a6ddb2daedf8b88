#include "binxml_event.h"

#include "formats/little_endian.h"

namespace binxml {

Target targetOf(AttributeKind attribute, Kind kind) {
    switch (attribute) {
    case NameAttribute:
        return ProviderTarget;
    case SourceNameAttribute:
        return SourceNameTarget;
    case QualifiersAttribute:
        return QualifiersTarget;
    case SystemTimeAttribute:
        return TimeCreatedTarget;
    case UserIdAttribute:
        return UserSidTarget;
    case IgnoredAttribute:
        return NoTarget;
    case Content:
        break;
    }
    switch (kind) {
    case EventIdKind:
        return EventIdTarget;
    case LevelKind:
        return LevelTarget;
    case TaskKind:
        return TaskTarget;
    case KeywordsKind:
        return KeywordsTarget;
    case RecordIdKind:
        return RecordIdTarget;
    case ComputerKind:
        return ComputerTarget;
    case DataKind:
        return DataTarget;
    case BinaryKind:
        return BinaryTarget;
    default:
        return NoTarget;
    }
}

// The insertion strings of a Data element, by one rule whatever mix of values it holds. Text
// (a value of any type but a string array, or literal text) extends the element's open string,
// or opens one. A string array is text in which each zero unit closes the open string (an empty
// one when none is open): each terminated item is an insertion string of its own, as Windows'
// legacy view of the event has them, and an unterminated last item stays open for text after
// it. At its end (closeData), a Data element that was given nothing is one empty string; one
// whose only value was an empty substitution is none.
int EventBuilder::dataValue(const TypedValue& v) {
    data_.given = 1;
    if (v.type != (StringType | ArrayFlag)) {
        const int opens = !data_.joining || event_.stringCount == 0;
        if (!grow(2 * textUnitsBound(v) + (opens ? kStringCost : 0)))
            return 0;
        if (opens)
            openString();
        data_.joining = 1;
        appendText(event_.strings, v);
        return 1;
    }
    const uint32_t units = v.size / 2;
    uint64_t items = 1;
    for (uint32_t i = 0; i < units; ++i)
        items += readLe16(v.bytes + 2 * i) == 0;
    if (!grow(2u * static_cast<uint64_t>(units) + items * kStringCost))
        return 0;
    for (uint32_t start = 0, i = 0; start < units; start = i + 1) {
        for (i = start; i < units && readLe16(v.bytes + 2 * i) != 0; ++i) {
        }
        if (!data_.joining || event_.stringCount == 0)
            openString();
        event_.strings.add(v.bytes + 2 * start, 2 * (i - start));
        data_.joining = i == units; // no terminator: text may follow
    }
    return 1;
}

int EventBuilder::closeEmptyData() {
    if (!grow(kStringCost))
        return 0;
    openString();
    return 1;
}

// A string after the last: the last one is ended by its zero unit.
void EventBuilder::openString() {
    if (event_.stringCount > 0)
        event_.strings.addZeroUnit();
    ++event_.stringCount;
}

int EventBuilder::putText(const TypedValue& v, Target target) {
    if (!grow(2 * textUnitsBound(v)))
        return 0;
    appendText(nameOf(target), v);
    return 1;
}

int EventBuilder::putGrowing(const TypedValue& v, Target target) {
    switch (target) {
    case DataTarget:
        return dataValue(v);
    case BinaryTarget:
        if (!grow(v.size)) // its bytes, or twice as many units of text
            return 0;
        appendBytes(event_.binary, v);
        break;
    default:
        break;
    }
    return 1;
}

} // namespace binxml
