#include "binxml.h"

#include "formats/little_endian.h"

#include <cstring>
#include <unordered_map>

using namespace binxml;

namespace {

// Templates inside values inside templates: real logs nest two or three deep.
constexpr int kMaxNesting = 16;
constexpr int kMaxDepth = 64; // elements inside elements
// Nodes one record may expand to: templates that instantiate templates could otherwise
// multiply the work of a few bytes past any bound. Real records have a few hundred.
constexpr uint64_t kMaxNodes = 100000;
// What a string costs the event besides its units: its place in the list.
constexpr uint64_t kStringCost = sizeof(std::u16string);

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

// Where in the event a value goes, as its attribute (or the content of its element) says.
enum Target : uint8_t {
    NoTarget,
    ProviderTarget,
    SourceNameTarget,
    QualifiersTarget,
    TimeCreatedTarget,
    UserSidTarget,
    EventIdTarget,
    LevelTarget,
    TaskTarget,
    KeywordsTarget,
    RecordIdTarget,
    ComputerTarget,
    DataTarget,
    BinaryTarget,
};

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

// A typed value: literal text in the XML, or one of a template instance's substitutions.
struct TypedValue {
    uint8_t type;
    const uint8_t* bytes;
    uint32_t size;
};

struct Substitutions {
    const TypedValue* values = nullptr;
    uint32_t count = 0;
};

// One step of a template's plan: what the walk of its body does that puts anything anywhere.
struct PlanStep {
    enum Op : uint8_t { DataOpen, DataClose, Literal, Substitute } op;
    AttributeKind attribute;
    uint8_t optional;
    uint8_t depth; // the element the step is in, and its parent
    Kind current, parent;
    Target target;           // where a value here goes
    uint16_t index;          // Substitute: the value
    uint32_t literal, bytes; // Literal: where its text is among the plan's literals
};

struct TemplatePlan {
    int usable = 1; // 0: the body holds what a plan cannot (a template instance), so it is walked
    std::vector<PlanStep> steps;
    std::vector<uint8_t> literals;
};

} // namespace

struct TemplateCache::Plans {
    std::unordered_map<uint64_t, TemplatePlan> byKey;
};

namespace {

int sameName(const uint8_t* units, uint16_t count, const char* ascii) {
    size_t length = std::strlen(ascii);
    if (count != length)
        return 0;
    for (size_t i = 0; i < length; ++i)
        if (readLe16(units + 2 * i) != static_cast<unsigned char>(ascii[i]))
            return 0;
    return 1;
}

void appendUnits(std::u16string& out, const uint8_t* units, size_t count) {
    size_t at = out.size();
    out.resize(at + count);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&out[at], units, 2 * count); // the file's order is this machine's
#else
    for (size_t i = 0; i < count; ++i)
        out[at + i] = static_cast<char16_t>(readLe16(units + 2 * i));
#endif
}

uint64_t readLe64(const uint8_t* p) {
    return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32;
}

// A number from a value: its integer types, or decimal or 0x-hexadecimal text.
uint64_t numberOf(const TypedValue& v) {
    switch (v.type) {
    case Int8Type:
    case UInt8Type:
        return v.size >= 1 ? v.bytes[0] : 0;
    case Int16Type:
    case UInt16Type:
        return v.size >= 2 ? readLe16(v.bytes) : 0;
    case Int32Type:
    case UInt32Type:
    case HexInt32Type:
    case BoolType:
        return v.size >= 4 ? readLe32(v.bytes) : 0;
    case Int64Type:
    case UInt64Type:
    case HexInt64Type:
    case FileTimeType:
        return v.size >= 8 ? readLe64(v.bytes) : 0;
    case SizeType:
        return v.size >= 8 ? readLe64(v.bytes) : v.size >= 4 ? readLe32(v.bytes) : 0;
    case StringType: {
        uint64_t n = 0;
        uint32_t i = 0, base = 10;
        if (v.size >= 4 && readLe16(v.bytes) == '0' && (readLe16(v.bytes + 2) | 0x20) == 'x') {
            i = 2;
            base = 16;
        }
        for (; 2 * i + 1 < v.size && i < 24; ++i) { // no number has more digits
            uint16_t c = readLe16(v.bytes + 2 * i);
            uint16_t lower = c | 0x20;
            int digit = c >= '0' && c <= '9'                         ? c - '0'
                        : base == 16 && lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                                     : -1;
            if (digit < 0)
                break;
            n = n * base + static_cast<uint64_t>(digit);
        }
        return n;
    }
    default:
        return 0;
    }
}

void appendAscii(std::u16string& out, const char* text) {
    while (*text)
        out += static_cast<char16_t>(static_cast<unsigned char>(*text++));
}

void appendNumber(std::u16string& out, uint64_t n, int hex, int width = 0) {
    char buf[24];
    int i = sizeof buf;
    buf[--i] = 0;
    do {
        int digit = static_cast<int>(hex ? n % 16 : n % 10);
        buf[--i] = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
        n /= hex ? 16 : 10;
        --width;
    } while (n > 0 || width > 0);
    appendAscii(out, buf + i);
}

// A value as the text of an insertion string.
void appendText(std::u16string& out, const TypedValue& v) {
    switch (v.type & ~ArrayFlag) {
    case NullType:
        return;
    case StringType: {
        size_t count = v.size / 2;
        while (count > 0 && readLe16(v.bytes + 2 * (count - 1)) == 0)
            --count; // the terminator some writers include
        appendUnits(out, v.bytes, count);
        return;
    }
    case AnsiStringType:
        for (uint32_t i = 0; i < v.size && v.bytes[i]; ++i)
            out += static_cast<char16_t>(v.bytes[i]);
        return;
    case Int8Type:
        if (v.size >= 1 && static_cast<int8_t>(v.bytes[0]) < 0) {
            out += u'-';
            appendNumber(out, static_cast<uint64_t>(-static_cast<int8_t>(v.bytes[0])), 0);
            return;
        }
        break;
    case Int16Type:
        if (v.size >= 2 && static_cast<int16_t>(readLe16(v.bytes)) < 0) {
            out += u'-';
            appendNumber(out, static_cast<uint64_t>(-static_cast<int16_t>(readLe16(v.bytes))), 0);
            return;
        }
        break;
    case Int32Type:
        if (v.size >= 4 && static_cast<int32_t>(readLe32(v.bytes)) < 0) {
            out += u'-';
            appendNumber(out, 0u - static_cast<uint64_t>(static_cast<int32_t>(readLe32(v.bytes))),
                         0);
            return;
        }
        break;
    case Int64Type:
        if (v.size >= 8 && static_cast<int64_t>(readLe64(v.bytes)) < 0) {
            out += u'-';
            appendNumber(out, 0u - readLe64(v.bytes), 0);
            return;
        }
        break;
    case BoolType:
        appendAscii(out, numberOf(v) ? "true" : "false");
        return;
    case HexInt32Type:
    case HexInt64Type:
        appendAscii(out, "0x");
        appendNumber(out, numberOf(v), 1, (v.type & ~ArrayFlag) == HexInt64Type ? 16 : 8);
        return;
    case GuidType:
        if (v.size >= 16) {
            out += u'{';
            appendNumber(out, readLe32(v.bytes), 1, 8);
            out += u'-';
            appendNumber(out, readLe16(v.bytes + 4), 1, 4);
            out += u'-';
            appendNumber(out, readLe16(v.bytes + 6), 1, 4);
            out += u'-';
            for (int i = 8; i < 16; ++i) {
                if (i == 10)
                    out += u'-';
                appendNumber(out, v.bytes[i], 1, 2);
            }
            out += u'}';
        }
        return;
    case SidType:
        if (v.size >= 8 && v.size >= 8u + 4u * v.bytes[1]) {
            appendAscii(out, "S-");
            appendNumber(out, v.bytes[0], 0);
            out += u'-';
            uint64_t authority = 0;
            for (int i = 2; i < 8; ++i)
                authority = authority << 8 | v.bytes[i];
            appendNumber(out, authority, 0);
            for (uint32_t i = 0; i < v.bytes[1]; ++i) {
                out += u'-';
                appendNumber(out, readLe32(v.bytes + 8 + 4 * i), 0);
            }
        }
        return;
    case BinaryType:
        for (uint32_t i = 0; i < v.size; ++i)
            appendNumber(out, v.bytes[i], 1, 2);
        return;
    default:
        break;
    }
    if ((v.type & ~ArrayFlag) >= Int8Type && (v.type & ~ArrayFlag) <= UInt64Type)
        appendNumber(out, numberOf(v), 0);
    else if ((v.type & ~ArrayFlag) == SizeType || (v.type & ~ArrayFlag) == FileTimeType)
        appendNumber(out, numberOf(v), 0);
}

// At least the units appendText gives for a value, and the steps it takes.
uint64_t textUnitsBound(const TypedValue& v) {
    switch (v.type & ~ArrayFlag) {
    case StringType:
        return v.size / 2;
    case AnsiStringType:
        return v.size;
    case BinaryType:
        return 2u * static_cast<uint64_t>(v.size);
    default: // numbers, a GUID, a SID (11 units for each 4 bytes)
        return 48u + 3u * static_cast<uint64_t>(v.size);
    }
}

// Binary data from a value: its bytes, or hexadecimal text.
void appendBytes(std::vector<uint8_t>& out, const TypedValue& v) {
    if (v.type == BinaryType) {
        out.insert(out.end(), v.bytes, v.bytes + v.size);
        return;
    }
    if (v.type != StringType)
        return;
    int high = -1;
    for (uint32_t i = 0; 2 * i + 1 < v.size; ++i) {
        uint16_t c = readLe16(v.bytes + 2 * i) | 0x20;
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
}

// A walk over the binary XML of one record, which fills an EvtxEvent.
class Decoder {
  public:
    Decoder(const uint8_t* chunk, uint32_t chunkSize, EvtxEvent& event, TemplateCache* cache,
            uint32_t chunkId, DecodeBudget& budget)
        : chunk_(chunk), chunkSize_(chunkSize), event_(event), cache_(cache), chunkId_(chunkId),
          budget_(budget) {}

    // A fragment: its header, then a template instance or elements, to its end of stream.
    // Elements in a template's definition have a dependency identifier in their header (11
    // bytes); those of a record's own fragment, or of a value of binary XML, have none (9).
    int fragment(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting,
                 int definition);

  private:
    int fits(uint32_t pos, uint32_t size, uint32_t end) const {
        return pos <= end && end - pos >= size;
    }
    int walk(uint32_t pos, uint32_t end, const Substitutions& subs, int nesting);
    // Takes nodes from the record's bound and the chunk's budget; 0 when either is spent.
    int spendNodes(uint64_t count);
    // The same for bytes the event may grow by, taken before it grows.
    int grow(uint64_t bytes);
    // The name at a chunk offset: its units and count; 0 when it does not fit the chunk.
    int nameAt(uint32_t offset, const uint8_t** units, uint16_t* count) const;
    // Moves pos past a name stored right here (an offset after the node's start).
    int skipResidentName(uint32_t nodeStart, uint32_t nameOffset, uint32_t& pos, uint32_t end);
    Kind elementKind(uint32_t nameOffset) const;
    AttributeKind attributeKind(uint32_t nameOffset) const;

    int templateInstance(uint32_t& pos, uint32_t end, int nesting);
    int element(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting);
    // Value nodes of an attribute or of content: text, substitutions, references.
    int valueNode(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting,
                  AttributeKind attribute);
    int deliver(const TypedValue& value, AttributeKind attribute);
    // The same for a value whose place is known.
    int put(const TypedValue& value, Target target);
    int dataValue(const TypedValue& value);
    int closeData();
    int closeElement();
    int skipProcessingInstruction(uint32_t& pos, uint32_t end);
    int countedText(uint32_t& pos, uint32_t end, uint32_t header, AttributeKind attribute);
    // Records a step of the plan being made, or applies it to the event.
    int step(PlanStep::Op op, AttributeKind attribute, const TypedValue* literal);
    int substitute(uint16_t index, int optional, AttributeKind attribute, const Substitutions& subs,
                   int nesting);
    // A step at the element the walk is in now; setContext puts the walk back there.
    PlanStep here(PlanStep::Op op, AttributeKind attribute) const;
    void setContext(const PlanStep& step);
    TemplatePlan* planFor(uint32_t body, uint32_t bodySize, int nesting);
    int runPlan(const TemplatePlan& plan, const Substitutions& subs, int nesting);

    const uint8_t* chunk_;
    uint32_t chunkSize_;
    EvtxEvent& event_;
    TemplateCache* cache_;
    uint32_t chunkId_;
    TemplatePlan* recording_ = nullptr; // the plan being made: steps are kept, not applied
    Kind path_[kMaxDepth];
    int depth_ = 0;
    DecodeBudget& budget_;
    uint64_t nodes_ = 0;
    uint64_t eventBytes_ = 0;
    int definition_ = 0; // walking a template's definition
    // The Data element being read (they do not nest): open, given a value, its last string
    // open for more text, given an empty substitution.
    struct {
        int open, given, joining, emptyValue;
    } data_ = {0, 0, 0, 0};
};

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

// Text "2022-06-08T23:48:10.8321722Z" as a FILETIME, for events written without templates.
uint64_t fileTimeOfText(const TypedValue& v) {
    int field[6] = {0, 0, 0, 0, 0, 0};
    int f = 0;
    for (uint32_t i = 0; 2 * i + 1 < v.size && f < 6 && i < 40; ++i) {
        uint16_t c = readLe16(v.bytes + 2 * i);
        if (c >= '0' && c <= '9' && field[f] < 100000)
            field[f] = field[f] * 10 + (c - '0');
        else if (c >= '0' && c <= '9')
            return 0;
        else if (c == '.' || c == 'Z')
            break;
        else
            ++f;
    }
    int64_t y = field[0], m = field[1], d = field[2];
    if (y < 1601 || m < 1 || m > 12 || d < 1 || d > 31)
        return 0;
    // Days since 1601-01-01 by the proleptic Gregorian calendar.
    y -= m <= 2;
    int64_t era = y / 400, yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 584754;
    int64_t seconds = days * 86400 + field[3] * 3600 + field[4] * 60 + field[5];
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000u;
}

int Decoder::spendNodes(uint64_t count) {
    nodes_ += count;
    if (nodes_ > kMaxNodes || count > budget_.nodes)
        return 0;
    budget_.nodes -= count;
    return 1;
}

int Decoder::grow(uint64_t bytes) {
    if (bytes > kMaxEventBytes - eventBytes_ || bytes > budget_.bytes)
        return 0;
    eventBytes_ += bytes;
    budget_.bytes -= bytes;
    return 1;
}

// The insertion strings of a Data element, by one rule whatever mix of values it holds. Text
// (a value of any type but a string array, or literal text) extends the element's open string,
// or opens one. A string array is text in which each zero unit closes the open string (an empty
// one when none is open): each terminated item is an insertion string of its own, as Windows'
// legacy view of the event has them, and an unterminated last item stays open for text after
// it. At its end (closeData), a Data element that was given nothing is one empty string; one
// whose only value was an empty substitution is none.
int Decoder::dataValue(const TypedValue& v) {
    std::vector<std::u16string>& strings = event_.strings;
    data_.given = 1;
    if (v.type != (StringType | ArrayFlag)) {
        const int opens = !data_.joining || strings.empty();
        if (!grow(2 * textUnitsBound(v) + (opens ? kStringCost : 0)))
            return 0;
        if (opens)
            strings.emplace_back();
        data_.joining = 1;
        appendText(strings.back(), v);
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
        if (!data_.joining || strings.empty())
            strings.emplace_back();
        appendUnits(strings.back(), v.bytes + 2 * start, i - start);
        data_.joining = i == units; // no terminator: text may follow
    }
    return 1;
}

int Decoder::closeData() {
    int none = data_.open && !data_.given && !data_.emptyValue;
    data_ = {0, 0, 0, 0};
    if (!none)
        return 1;
    if (!grow(kStringCost))
        return 0;
    event_.strings.emplace_back();
    return 1;
}

int Decoder::closeElement() {
    if (path_[--depth_] == DataKind)
        return step(PlanStep::DataClose, Content, nullptr);
    return 1;
}

int Decoder::step(PlanStep::Op op, AttributeKind attribute, const TypedValue* literal) {
    if (recording_) {
        if (op == PlanStep::Literal && attribute == IgnoredAttribute)
            return 1; // goes nowhere
        PlanStep s = here(op, attribute);
        if (literal) {
            s.literal = static_cast<uint32_t>(recording_->literals.size());
            s.bytes = literal->size;
            recording_->literals.insert(recording_->literals.end(), literal->bytes,
                                        literal->bytes + literal->size);
        }
        recording_->steps.push_back(s);
        return 1;
    }
    switch (op) {
    case PlanStep::DataOpen:
        data_ = {1, 0, 0, 0};
        return 1;
    case PlanStep::DataClose:
        return closeData();
    case PlanStep::Literal:
        return deliver(*literal, attribute);
    case PlanStep::Substitute:
        break;
    }
    return 1;
}

int Decoder::substitute(uint16_t index, int optional, AttributeKind attribute,
                        const Substitutions& subs, int nesting) {
    if (index >= subs.count)
        return optional; // no value to put here
    const TypedValue& v = subs.values[index];
    if (v.type == NullType || (optional && v.size == 0)) {
        data_.emptyValue = 1;
        return 1;
    }
    if (v.type == BinXmlType) {
        uint32_t at = static_cast<uint32_t>(v.bytes - chunk_);
        return fragment(at, at + v.size, subs, nesting + 1, 0);
    }
    return deliver(v, attribute);
}

PlanStep Decoder::here(PlanStep::Op op, AttributeKind attribute) const {
    return {op,
            attribute,
            0,
            static_cast<uint8_t>(depth_),
            depth_ > 0 ? path_[depth_ - 1] : OtherKind,
            depth_ > 1 ? path_[depth_ - 2] : OtherKind,
            depth_ > 0 ? targetOf(attribute, path_[depth_ - 1]) : NoTarget,
            0,
            0,
            0};
}

// The element a step is in, as the walk of the template had it there.
void Decoder::setContext(const PlanStep& s) {
    depth_ = s.depth;
    if (depth_ > 0)
        path_[depth_ - 1] = s.current;
    if (depth_ > 1)
        path_[depth_ - 2] = s.parent;
}

// Values go straight where the plan says; the walk is put in a step's place only for a value
// of binary XML, whose own walk needs it.
int Decoder::runPlan(const TemplatePlan& plan, const Substitutions& subs, int nesting) {
    const PlanStep start = here(PlanStep::DataOpen, Content);
    if (!spendNodes(plan.steps.size())) // a node a step, counted at once
        return 0;
    for (const PlanStep& s : plan.steps) {
        if (s.op == PlanStep::Substitute) {
            const TypedValue* v = s.index < subs.count ? &subs.values[s.index] : nullptr;
            if (v && v->type != BinXmlType) {
                if (v->type == NullType || (s.optional && !v->size))
                    data_.emptyValue = 1;
                else if (!put(*v, s.target))
                    return 0;
                continue;
            }
            setContext(s);
            if (!substitute(s.index, s.optional, s.attribute, subs, nesting))
                return 0;
        } else if (s.op == PlanStep::Literal) {
            TypedValue text = {StringType, plan.literals.data() + s.literal, s.bytes};
            if (!put(text, s.target))
                return 0;
        } else if (!step(s.op, s.attribute, nullptr)) {
            return 0;
        }
    }
    setContext(start);
    return 1;
}

// The plan of the template whose body is here, made by walking the body once in the context
// the walk is in now; none without a cache, or while another plan is being made.
TemplatePlan* Decoder::planFor(uint32_t body, uint32_t bodySize, int nesting) {
    if (!cache_ || recording_)
        return nullptr;
    // The chunk, the body's offset in it (below 64 KiB), and the context (a depth below 64, and
    // two kinds below 16).
    const PlanStep start = here(PlanStep::DataOpen, Content);
    uint64_t key = static_cast<uint64_t>(chunkId_) << 32 | static_cast<uint64_t>(body) << 16 |
                   static_cast<uint64_t>(start.depth) << 8 |
                   static_cast<uint64_t>(start.current) << 4 | static_cast<uint64_t>(start.parent);
    auto found = cache_->plans->byKey.find(key);
    if (found != cache_->plans->byKey.end())
        return &found->second;
    TemplatePlan plan;
    recording_ = &plan;
    int ok = fragment(body, body + bodySize, Substitutions(), nesting + 1, 1);
    recording_ = nullptr;
    setContext(start);
    if (!ok)
        return nullptr; // walked again, to fail where it fails
    return &cache_->plans->byKey.emplace(key, std::move(plan)).first->second;
}

int Decoder::deliver(const TypedValue& v, AttributeKind attribute) {
    return depth_ > 0 ? put(v, targetOf(attribute, path_[depth_ - 1])) : 1;
}

// Whatever grows the event is paid for first, by a bound of what it adds.
int Decoder::put(const TypedValue& v, Target target) {
    switch (target) {
    case ProviderTarget:
    case SourceNameTarget: {
        if (!grow(2 * textUnitsBound(v)))
            return 0;
        // Appended: an attribute's value may come in parts.
        appendText(target == ProviderTarget ? event_.provider : event_.sourceName, v);
        break;
    }
    case QualifiersTarget:
        event_.qualifiers = static_cast<uint32_t>(numberOf(v));
        break;
    case TimeCreatedTarget:
        event_.timeCreated = v.type == StringType ? fileTimeOfText(v) : numberOf(v);
        break;
    case UserSidTarget:
        if (v.type != SidType)
            break;
        if (!grow(v.size))
            return 0;
        event_.userSid.assign(v.bytes, v.bytes + v.size);
        break;
    case EventIdTarget:
        event_.eventId = static_cast<uint32_t>(numberOf(v));
        break;
    case LevelTarget:
        event_.level = static_cast<uint32_t>(numberOf(v));
        break;
    case TaskTarget:
        event_.task = static_cast<uint32_t>(numberOf(v));
        break;
    case KeywordsTarget:
        event_.keywords = numberOf(v);
        break;
    case RecordIdTarget:
        event_.recordId = numberOf(v);
        break;
    case ComputerTarget:
        if (!grow(2 * textUnitsBound(v)))
            return 0;
        appendText(event_.computer, v);
        break;
    case DataTarget:
        return dataValue(v);
    case BinaryTarget:
        if (!grow(v.size)) // its bytes, or twice as many units of text
            return 0;
        appendBytes(event_.binary, v);
        break;
    case NoTarget:
        break;
    }
    return 1;
}

int Decoder::skipProcessingInstruction(uint32_t& pos, uint32_t end) {
    uint32_t start = pos;
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

int Decoder::valueNode(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting,
                       AttributeKind attribute) {
    if (!spendNodes(1))
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
        if (recording_) {
            PlanStep s = here(PlanStep::Substitute, attribute);
            s.optional = token == OptionalSubstitution;
            s.index = index;
            recording_->steps.push_back(s);
            return 1;
        }
        return substitute(index, token == OptionalSubstitution, attribute, subs, nesting);
    }
    if (token == CharReference) {
        if (!fits(pos, 3, end))
            return 0;
        TypedValue unit = {StringType, chunk_ + pos + 1, 2};
        pos += 3;
        return step(PlanStep::Literal, attribute, &unit);
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
                TypedValue text = {StringType, unit, 2};
                return step(PlanStep::Literal, attribute, &text);
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
    TypedValue text = {StringType, chunk_ + pos + header, bytes};
    pos += header + bytes;
    return step(PlanStep::Literal, attribute, &text);
}

int Decoder::element(uint32_t& pos, uint32_t end, const Substitutions& subs, int nesting) {
    uint32_t start = pos;
    uint8_t token = chunk_[pos];
    // The token, a dependency identifier in a template's definition, the size, the name.
    const uint32_t header = definition_ ? 11 : 9;
    if (!fits(pos, header, end) || depth_ >= kMaxDepth || !spendNodes(1))
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
    if (kind == DataKind && !step(PlanStep::DataOpen, Content, nullptr))
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
    uint32_t start = pos;
    if (recording_)
        recording_->usable = 0; // its values are the record's: the body is walked each time
    if (nesting > kMaxNesting || !fits(pos, 10, end) || !spendNodes(1))
        return 0;
    uint32_t definition = readLe32(chunk_ + pos + 6);
    pos += 10;
    if (!fits(definition, 24, chunkSize_))
        return 0;
    uint32_t bodySize = readLe32(chunk_ + definition + 20);
    uint32_t body = definition + 24;
    if (!fits(body, bodySize, chunkSize_))
        return 0;
    if (definition > start) { // defined here, on first use in the chunk
        if (definition != pos || !fits(pos, 24 + bodySize, end))
            return 0;
        pos = body + bodySize;
    }
    // The substitution values: a count, (size, type) pairs, then the values in order.
    if (!fits(pos, 4, end))
        return 0;
    uint32_t count = readLe32(chunk_ + pos);
    pos += 4;
    if (count > (end - pos) / 4 || !spendNodes(count))
        return 0;
    // Templates have a few dozen values: those live on the stack.
    TypedValue local[32];
    std::vector<TypedValue> more(count > 32 ? count : 0);
    TypedValue* values = count > 32 ? more.data() : local;
    // The sizes are summed before any is checked: below 2^16 each, they cannot wrap.
    const uint8_t* sizes = chunk_ + pos;
    uint32_t data = pos + 4 * count;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t size = readLe16(sizes + 4 * i);
        values[i] = {sizes[4 * i + 2], chunk_ + data, size};
        data += size;
    }
    if (data > end)
        return 0;
    pos = data;
    Substitutions subs{values, count};
    if (recording_) // a plan of the outer template cannot hold this one: walk it only for bounds
        return fragment(body, body + bodySize, subs, nesting + 1, 1);
    if (TemplatePlan* plan = planFor(body, bodySize, nesting)) {
        if (plan->usable)
            return runPlan(*plan, subs, nesting + 1);
    }
    return fragment(body, body + bodySize, subs, nesting + 1, 1);
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
        if (token == FragmentHeader)
            ok = fits(pos, 4, end) ? (pos += 4, 1) : 0;
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

} // namespace

TemplateCache::TemplateCache() : plans(new Plans) {}
TemplateCache::~TemplateCache() = default;
void TemplateCache::clear() {
    plans->byKey.clear();
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
    event.eventId = event.qualifiers = event.level = event.task = 0;
    event.keywords = event.timeCreated = event.recordId = 0;
    event.userSid.clear();
    event.strings.clear();
    event.binary.clear();
    if (end > chunkSize || offset > end)
        return 0;
    DecodeBudget own;
    Decoder decoder(chunk, chunkSize, event, cache, chunkId, budget ? *budget : own);
    return decoder.fragment(offset, end, Substitutions(), 0, 0);
}
