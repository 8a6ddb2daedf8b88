#include "binxml_brief.h"

#include "binxml_decoder.h"

namespace binxml {

namespace {

// The plan of the template instantiated with body at the top of a record, when the cache has it.
const TemplatePlan* planAt(TemplateCache& cache, uint32_t chunkId, uint32_t body) {
    TemplateCache::Plans& plans = *cache.plans;
    const PlanKey key = {chunkId, body, 0, OtherKind, OtherKind};
    if (plans.last && plans.lastKey == key)
        return plans.last;
    auto found = plans.byKey.find(key);
    if (found == plans.byKey.end())
        return nullptr;
    plans.lastKey = key;
    return plans.last = &found->second;
}

// The number of a target: the value of the last quick step that puts it, read as that step reads
// it (two bytes and eight are the usual).
inline uint64_t numberOf(const Substitutions& subs, const BriefShape& shape, Target target) {
    const uint32_t at = shape.number[target];
    if (at == 0)
        return 0;
    const TypedValue v = subs.value(at - 1);
    const uint8_t bytes = shape.numberBytes[target];
    if (v.size < bytes)
        return 0;
    return bytes == 2   ? readLe16(v.bytes)
           : bytes == 8 ? readLe64(v.bytes)
           : bytes == 4 ? readLe32(v.bytes)
                        : v.bytes[0];
}

// What the event gets from a brief's record besides the parts a short record holds.
struct Tally {
    uint64_t grown = 0; // bytes the event grows by (EventBuilder::grow)
    uint64_t stringBytes = 0;
    uint64_t strings = 0;
};

// A text step: the text without the zero units that end it (EventBuilder::putString).
EvtRecordBlock textOf(const Substitutions& subs, uint32_t value, Tally& tally) {
    if (value == 0)
        return {nullptr, 0};
    const TypedValue v = subs.value(value - 1);
    tally.grown += v.size & ~1u;
    return {v.bytes, textBytes(v)};
}

// What a Value or Data step puts, as Decoder::substitute takes its value: the value (in v), an
// empty one, none (the record has too few values for an optional step), or nothing a brief shows
// (the step fails, or the value is binary XML, walked where it lies).
enum StepValue { NotBrief, Given, EmptyValue, NoValue };
StepValue stepValue(const BriefShape::Put& s, const Substitutions& subs, TypedValue* v) {
    if (s.index >= subs.count)
        return s.optional ? NoValue : NotBrief;
    *v = subs.value(s.index);
    if (v->type == NullType || (s.optional && v->size == 0))
        return EmptyValue;
    return v->type == BinXmlType ? NotBrief : Given;
}

// A string array given to a Data element of its own: each item an insertion string, as
// EventBuilder::dataValue has them.
void tallyArray(const TypedValue& v, Tally& tally) {
    const uint32_t units = v.size / 2;
    uint32_t zeros = 0;
    for (uint32_t i = 0; i < units; ++i)
        zeros += readLe16(v.bytes + 2 * i) == 0;
    tally.grown += 2u * static_cast<uint64_t>(units) + (1u + uint64_t(zeros)) * kStringCost;
    tally.stringBytes += 2u * static_cast<uint64_t>(units - zeros);
    if (units > 0)
        tally.strings += zeros + (readLe16(v.bytes + 2 * (units - 1)) != 0);
}

// The parts of a brief from the values, as the plan's quick steps put them; 0 when a value is
// not for a brief.
int tallyValues(const TemplatePlan& plan, const Substitutions& subs, EvtxBrief& brief,
                Tally& tally) {
    const BriefShape& shape = plan.brief;
    const EvtRecordBlock provider = textOf(subs, shape.provider, tally);
    const EvtRecordBlock sourceName = textOf(subs, shape.sourceName, tally);
    brief.blocks.source = sourceName.size > 0 ? sourceName : provider;
    brief.blocks.computer = textOf(subs, shape.computer, tally);
    brief.blocks.userSid = {nullptr, 0};
    brief.blocks.data = {nullptr, 0};
    TypedValue v = {};
    StepValue got = shape.hasSid ? stepValue(shape.sid, subs, &v) : NoValue;
    if (got == NotBrief)
        return 0;
    if (got == Given && v.type == SidType) { // other types put no SID
        tally.grown += v.size;
        brief.blocks.userSid.size = v.size;
    }
    got = shape.hasBinary ? stepValue(shape.binary, subs, &v) : NoValue;
    if (got == NotBrief || (got == Given && v.type != BinaryType)) // text made bytes: walked
        return 0;
    if (got == Given) {
        tally.grown += v.size;
        brief.blocks.data = {v.bytes, v.size};
    }
    for (uint32_t k = 0; k < shape.dataCount; ++k) {
        got = stepValue(shape.data[k], subs, &v);
        if (got == NotBrief || (got == Given && v.type != (StringType | ArrayFlag)))
            return 0;
        if (got == Given) {
            tallyArray(v, tally);
        } else if (got == NoValue) { // a Data element given nothing holds one empty string
            tally.grown += kStringCost;
            ++tally.strings;
        }
    }
    // Each string ends with a zero unit.
    brief.blocks.strings = {nullptr, static_cast<size_t>(tally.stringBytes + 2 * tally.strings)};
    brief.blocks.stringCount = static_cast<size_t>(tally.strings);
    brief.eventId = static_cast<uint32_t>((numberOf(subs, shape, QualifiersTarget) & 0xFFFF) << 16 |
                                          (numberOf(subs, shape, EventIdTarget) & 0xFFFF));
    brief.timeCreated = numberOf(subs, shape, TimeCreatedTarget);
    brief.recordId = numberOf(subs, shape, RecordIdTarget);
    return 1;
}

} // namespace

} // namespace binxml

using namespace binxml;

// The record's fragment is its header, the template instance and its values, then its end.
int decodeEventBrief(const uint8_t* chunk, uint32_t chunkSize, uint32_t offset, uint32_t end,
                     TemplateCache& cache, uint32_t chunkId, DecodeBudget& budget,
                     EvtxBrief& brief) {
    if (end > chunkSize || offset > end || !fits(offset, 5, end) ||
        (chunk[offset] & ~HasMore) != FragmentHeader ||
        (chunk[offset + 4] & ~HasMore) != TemplateInstance)
        return 0;
    uint32_t body = 0, bodySize = 0, at = 0;
    if (!instanceHeader(chunk, chunkSize, offset + 4, end, &body, &bodySize, &at) ||
        !fits(at, 4, end))
        return 0;
    const uint32_t count = readLe32(chunk + at);
    at += 4;
    uint32_t starts[33];
    if (count > 32 || count > (end - at) / 4)
        return 0;
    const uint8_t* pairs = chunk + at;
    const uint32_t data = valueStarts(pairs, count, at + 4 * count, starts);
    if (data > end || (data < end && chunk[data] != EndOfStream))
        return 0;
    const TemplatePlan* plan = planAt(cache, chunkId, body);
    const Substitutions subs = {chunk, pairs, starts, count};
    if (!plan || !plan->usable || !plan->brief.usable || !expectedValues(*plan, subs))
        return 0;
    // Nodes: the fragment's header, the instance, its values, and a node a step of the plan.
    const uint64_t nodes = 2u + uint64_t(count) + plan->steps.size();
    Tally tally;
    if (!tallyValues(*plan, subs, brief, tally) || nodes > kMaxNodes || nodes > budget.nodes ||
        tally.grown > kMaxEventBytes || tally.grown > budget.bytes ||
        !layOutEvtRecord(brief.blocks, brief.layout))
        return 0;
    budget.nodes -= nodes;
    budget.bytes -= tally.grown;
    return 1;
}
