#include "binxml.h"

#include "binxml_decoder.h"
#include "formats/little_endian.h"

#include <cstring>

namespace binxml {

int Decoder::nameAt(uint32_t offset, const uint8_t** units, uint16_t* count) const {
    if (!fits(offset, 8, chunkSize_))
        return 0;
    *count = readLe16(chunk_ + offset + 6);
    if (!fits(offset + 8, 2u * *count, chunkSize_))
        return 0;
    *units = chunk_ + offset + 8;
    return 1;
}

int Decoder::skipResidentName(uint32_t nodeStart, uint32_t nameOffset, uint32_t& pos,
                              uint32_t end) {
    if (nameOffset <= nodeStart)
        return 1; // defined earlier in the chunk
    const uint8_t* units;
    uint16_t count;
    if (nameOffset != pos || !nameAt(nameOffset, &units, &count) ||
        !fits(pos, 8u + 2u * count + 2u, end))
        return 0;
    pos += 8u + 2u * count + 2u;
    return 1;
}

Kind Decoder::elementKind(uint32_t nameOffset) const {
    const uint8_t* u;
    uint16_t n;
    if (!nameAt(nameOffset, &u, &n))
        return OtherKind;
    Kind parent = depth_ > 0 ? path_[depth_ - 1] : OtherKind;
    if (depth_ == 0)
        return sameName(u, n, "Event") ? EventKind : OtherKind;
    if (parent == EventKind)
        return sameName(u, n, "System")      ? SystemKind
               : sameName(u, n, "EventData") ? EventDataKind
                                             : OtherKind;
    if (parent == EventDataKind)
        return sameName(u, n, "Data")     ? DataKind
               : sameName(u, n, "Binary") ? BinaryKind
                                          : OtherKind;
    if (parent != SystemKind)
        return OtherKind;
    static const struct {
        const char* name;
        Kind kind;
    } kSystem[] = {{"Provider", ProviderKind},
                   {"EventID", EventIdKind},
                   {"Level", LevelKind},
                   {"Task", TaskKind},
                   {"Keywords", KeywordsKind},
                   {"TimeCreated", TimeCreatedKind},
                   {"EventRecordID", RecordIdKind},
                   {"Computer", ComputerKind},
                   {"Security", SecurityKind}};
    for (const auto& entry : kSystem)
        if (sameName(u, n, entry.name))
            return entry.kind;
    return OtherKind;
}

AttributeKind Decoder::attributeKind(uint32_t nameOffset) const {
    const uint8_t* u;
    uint16_t n;
    if (depth_ == 0 || !nameAt(nameOffset, &u, &n))
        return IgnoredAttribute;
    switch (path_[depth_ - 1]) {
    case ProviderKind:
        return sameName(u, n, "Name")              ? NameAttribute
               : sameName(u, n, "EventSourceName") ? SourceNameAttribute
                                                   : IgnoredAttribute;
    case EventIdKind:
        return sameName(u, n, "Qualifiers") ? QualifiersAttribute : IgnoredAttribute;
    case TimeCreatedKind:
        return sameName(u, n, "SystemTime") ? SystemTimeAttribute : IgnoredAttribute;
    case SecurityKind:
        return sameName(u, n, "UserID") ? UserIdAttribute : IgnoredAttribute;
    default:
        return IgnoredAttribute;
    }
}

int Decoder::closeElement() {
    if (path_[--depth_] == DataKind)
        return emit(here(PlanStep::DataClose, Content), nullptr);
    return 1;
}

int Decoder::skipProcessingInstruction(uint32_t& pos, uint32_t end) {
    uint32_t start = pos;
    if (!event_.spendNodes(1))
        return 0;
    if (chunk_[pos] == PITarget) {
        if (!fits(pos, 5, end))
            return 0;
        pos += 5;
        return skipResidentName(start, readLe32(chunk_ + start + 1), pos, end);
    }
    if (!fits(pos, 3, end) || !fits(pos + 3, 2u * readLe16(chunk_ + pos + 1), end))
        return 0;
    pos += 3 + 2u * readLe16(chunk_ + pos + 1);
    return 1;
}

// Kept out of the walk, whose usual node in a record is a template instance: inlined, it would
// make the walk's every call set up the room it needs.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int Decoder::valueNode(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting,
                       AttributeKind attribute) {
    if (!event_.spendNodes(1))
        return 0;
    uint8_t token = chunk_[pos] & ~HasMore;
    if (token == Value) // its type (a string), a count of units, the units
        return fits(pos, 2, end) && chunk_[pos + 1] == StringType &&
               countedText(pos, end, 4, attribute);
    if (token == NormalSubstitution || token == OptionalSubstitution) {
        if (!fits(pos, 4, end))
            return 0;
        uint16_t index = readLe16(chunk_ + pos + 1);
        pos += 4;
        PlanStep s = here(PlanStep::Substitute, attribute);
        s.optional = token == OptionalSubstitution;
        s.declared = chunk_[pos - 1];
        s.index = index;
        return emit(s, nullptr, subs, nesting);
    }
    if (token == CharReference) {
        if (!fits(pos, 3, end))
            return 0;
        TypedValue unit = {chunk_ + pos + 1, 2, StringType};
        pos += 3;
        return emit(here(PlanStep::Literal, attribute), &unit);
    }
    if (token == EntityReference) {
        uint32_t start = pos;
        if (!fits(pos, 5, end))
            return 0;
        uint32_t nameOffset = readLe32(chunk_ + pos + 1);
        pos += 5;
        const uint8_t* u;
        uint16_t n;
        if (!skipResidentName(start, nameOffset, pos, end) || !nameAt(nameOffset, &u, &n))
            return 0;
        static const struct {
            const char* name;
            uint8_t unit;
        } kEntities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& entity : kEntities) {
            if (sameName(u, n, entity.name)) {
                uint8_t unit[2] = {entity.unit, 0};
                TypedValue text = {unit, 2, StringType};
                return emit(here(PlanStep::Literal, attribute), &text);
            }
        }
        return 1;
    }
    if (token == CDataSection) // a count of units, the units
        return countedText(pos, end, 3, attribute);
    return 0;
}

// Text whose count of units ends a header of the given size, the units after it.
int Decoder::countedText(uint32_t& pos, uint32_t end, uint32_t header, AttributeKind attribute) {
    if (!fits(pos, header, end))
        return 0;
    uint32_t bytes = 2u * readLe16(chunk_ + pos + header - 2);
    if (!fits(pos + header, bytes, end))
        return 0;
    TypedValue text = {chunk_ + pos + header, bytes, StringType};
    pos += header + bytes;
    return emit(here(PlanStep::Literal, attribute), &text);
}

int Decoder::element(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting) {
    uint32_t start = pos;
    uint8_t token = chunk_[pos];
    // The token, a dependency identifier in a template's definition, the size, the name.
    const uint32_t header = definition_ ? 11 : 9;
    if (!fits(pos, header, end) || depth_ >= kMaxDepth || !event_.spendNodes(1))
        return 0;
    uint32_t nameOffset = readLe32(chunk_ + pos + header - 4);
    pos += header;
    if (!skipResidentName(start, nameOffset, pos, end))
        return 0;
    if (token & HasMore) {
        if (!fits(pos, 4, end))
            return 0;
        pos += 4; // the size of the attribute list
    }
    Kind kind = elementKind(nameOffset);
    path_[depth_++] = kind;
    if (kind == DataKind && !emit(here(PlanStep::DataOpen, Content), nullptr))
        return 0;
    // Attributes; a value may be several parts, each but the last flagged.
    while (pos < end && (chunk_[pos] & ~HasMore) == Attribute) {
        uint32_t attributeStart = pos;
        if (!fits(pos, 5, end))
            return 0;
        uint32_t attributeName = readLe32(chunk_ + pos + 1);
        pos += 5;
        if (!skipResidentName(attributeStart, attributeName, pos, end))
            return 0;
        AttributeKind attribute = attributeKind(attributeName);
        for (int more = 1; more;) {
            if (pos >= end)
                return 0;
            more = chunk_[pos] & HasMore;
            if (!valueNode(pos, end, subs, nesting, attribute))
                return 0;
        }
    }
    if (pos >= end)
        return 0;
    if (chunk_[pos] == CloseEmptyElement) {
        ++pos;
        return closeElement();
    }
    if (chunk_[pos] != CloseStartElement)
        return 0;
    ++pos;
    for (;;) {
        if (pos >= end)
            return 0;
        uint8_t next = chunk_[pos] & ~HasMore;
        if (chunk_[pos] == EndElement) {
            ++pos;
            return closeElement();
        }
        int ok = next == OpenStartElement             ? element(pos, end, subs, nesting)
                 : next == TemplateInstance           ? templateInstance(pos, end, nesting)
                 : next == PITarget || next == PIData ? skipProcessingInstruction(pos, end)
                                                      : valueNode(pos, end, subs, nesting, Content);
        if (!ok)
            return 0;
    }
}

int Decoder::templateInstance(uint32_t& pos, uint32_t end, int nesting) {
    uint32_t body = 0, bodySize = 0;
    if (nesting > kMaxNesting || !fits(pos, 10, end) || !event_.spendNodes(1) ||
        !instanceHeader(chunk_, chunkSize_, pos, end, &body, &bodySize, &pos))
        return 0;
    // The substitution values: a count, (size, type) pairs, then the values in order.
    if (!fits(pos, 4, end))
        return 0;
    uint32_t count = readLe32(chunk_ + pos);
    pos += 4;
    if (count > (end - pos) / 4 || !event_.spendNodes(count))
        return 0;
    // Templates have a few dozen values: where they start lives on the stack.
    uint32_t local[33];
    std::vector<uint32_t> more(count > 32 ? count + 1 : 0);
    uint32_t* starts = count > 32 ? more.data() : local;
    // The sizes are summed before any is checked.
    const uint8_t* pairs = chunk_ + pos;
    const uint32_t data = valueStarts(pairs, count, pos + 4 * count, starts);
    if (data > end)
        return 0;
    pos = data;
    return instantiate(body, bodySize, Substitutions{chunk_, pairs, starts, count}, nesting);
}

int Decoder::fragment(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting,
                      int definition) {
    int outer = definition_;
    definition_ = definition;
    int ok = walk(pos, end, subs, nesting);
    definition_ = outer;
    return ok;
}

int Decoder::walk(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting) {
    if (nesting > kMaxNesting)
        return 0;
    while (pos < end) {
        uint8_t token = chunk_[pos] & ~HasMore;
        int ok;
        if (chunk_[pos] == EndOfStream)
            return 1;
        if (token == FragmentHeader) // a node too: a body of headers alone is walked for free else
            ok = fits(pos, 4, end) && event_.spendNodes(1) ? (pos += 4, 1) : 0;
        else if (token == TemplateInstance)
            ok = templateInstance(pos, end, nesting);
        else if (token == OpenStartElement)
            ok = element(pos, end, subs, nesting);
        else
            ok = valueNode(pos, end, subs, nesting, Content);
        if (!ok)
            return 0;
    }
    return 1;
}

} // namespace binxml

using namespace binxml;

TemplateCache::TemplateCache() : plans(new Plans) {}
TemplateCache::~TemplateCache() = default;
size_t TemplateCache::bytes() const {
    return plans->bytes;
}
void TemplateCache::clear() {
    plans->byKey.clear();
    plans->bytes = 0;
    plans->last = nullptr;
}

uint16_t binxml::nameHash(const std::u16string& name) {
    uint32_t hash = 0;
    for (char16_t c : name)
        hash = hash * 65599 + c;
    return static_cast<uint16_t>(hash);
}

int decodeEventXml(const uint8_t* chunk, uint32_t chunkSize, uint32_t offset, uint32_t end,
                   EvtxEvent& event, TemplateCache* cache, uint32_t chunkId, DecodeBudget* budget) {
    // Cleared field by field, so that a caller decoding record after record reuses the memory.
    event.provider.clear();
    event.sourceName.clear();
    event.computer.clear();
    for (uint64_t& number : event.numbers)
        number = 0;
    event.userSid.clear();
    event.strings.clear();
    event.stringCount = 0;
    event.binary.clear();
    if (end > chunkSize || offset > end)
        return 0;
    DecodeBudget own;
    Decoder decoder(chunk, chunkSize, event, cache, chunkId, budget ? *budget : own);
    if (!decoder.fragment(offset, end, Substitutions(), 0, 0))
        return 0;
    if (event.stringCount > 0)
        event.strings.addZeroUnit(); // the last string's
    return 1;
}