// Binary XML, the form in which .evtx records hold their events: tokens for elements,
// attributes and text, templates defined once per chunk and instantiated by each record with
// an array of typed substitution values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace binxml {

enum Token : uint8_t {
    EndOfStream = 0x00,
    OpenStartElement = 0x01,
    CloseStartElement = 0x02,
    CloseEmptyElement = 0x03,
    EndElement = 0x04,
    Value = 0x05,
    Attribute = 0x06,
    CDataSection = 0x07,
    CharReference = 0x08,
    EntityReference = 0x09,
    PITarget = 0x0A,
    PIData = 0x0B,
    TemplateInstance = 0x0C,
    NormalSubstitution = 0x0D,
    OptionalSubstitution = 0x0E,
    FragmentHeader = 0x0F,
    HasMore = 0x40, // on elements: attributes follow; on attributes and values: more follow
};

enum ValueType : uint8_t {
    NullType = 0x00,
    StringType = 0x01,
    AnsiStringType = 0x02,
    Int8Type = 0x03,
    UInt8Type = 0x04,
    Int16Type = 0x05,
    UInt16Type = 0x06,
    Int32Type = 0x07,
    UInt32Type = 0x08,
    Int64Type = 0x09,
    UInt64Type = 0x0A,
    Real32Type = 0x0B,
    Real64Type = 0x0C,
    BoolType = 0x0D,
    BinaryType = 0x0E,
    GuidType = 0x0F,
    SizeType = 0x10,
    FileTimeType = 0x11,
    SystemTimeType = 0x12,
    SidType = 0x13,
    HexInt32Type = 0x14,
    HexInt64Type = 0x15,
    BinXmlType = 0x21,
    ArrayFlag = 0x80,
};

// The name hash the format stores beside each name.
uint16_t nameHash(const std::u16string& name);

} // namespace binxml

// Bytes of an event as the legacy record holds them (texts in UTF-16LE): those of one value
// where they lie, in the chunk or in a template's plan, until more are added to them; then a copy
// of their own. Valid while the chunk and its plans are.
class EventBytes {
  public:
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    int empty() const { return size_ == 0; }
    void clear() {
        data_ = nullptr;
        size_ = 0;
        owned_ = 0;
    }
    // The bytes of a value, which stay where they are while the event is read.
    void refer(const uint8_t* bytes, size_t size) {
        data_ = bytes;
        size_ = size;
        owned_ = 0;
    }
    // Bytes added at the end: referred to where nothing is held yet, else copied.
    void add(const uint8_t* bytes, size_t size) {
        if (size_ == 0)
            refer(bytes, size);
        else if (size > 0)
            std::memcpy(extend(size), bytes, size);
    }
    // Room for size more bytes at the end, for the caller to write.
    uint8_t* extend(size_t size) {
        if (!owned_ || own_.size() - size_ < size)
            makeRoom(size);
        uint8_t* at = own_.data() + size_;
        size_ += size;
        return at;
    }
    void addZeroUnit() {
        uint8_t* zero = extend(2);
        zero[0] = zero[1] = 0;
    }

  private:
    void makeRoom(size_t size);

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    int owned_ = 0; // data_ is own_'s, whose first size_ bytes are held (the rest is room)
    std::vector<uint8_t> own_;
};

// The numbers of an event, by their place in EvtxEvent::numbers.
enum EvtxNumber : uint8_t {
    EvtxQualifiers,  // System/EventID/@Qualifiers
    EvtxTimeCreated, // System/TimeCreated/@SystemTime, a FILETIME
    EvtxEventId,     // System/EventID (16 bits)
    EvtxLevel,       // System/Level
    EvtxTask,        // System/Task
    EvtxKeywords,    // System/Keywords
    EvtxRecordId,    // System/EventRecordID
    kEvtxNumbers,
};

// What a record says about its event, as far as the legacy event log record needs it. Its texts
// are UTF-16LE without a zero unit.
struct EvtxEvent {
    EventBytes provider;                 // System/Provider/@Name
    EventBytes sourceName;               // System/Provider/@EventSourceName
    EventBytes computer;                 // System/Computer
    uint64_t numbers[kEvtxNumbers] = {}; // by EvtxNumber
    EventBytes userSid;                  // System/Security/@UserID
    // EventData/Data, in order: each string ended by a zero unit (the last one once the record
    // is decoded).
    EventBytes strings;
    uint32_t stringCount = 0;
    EventBytes binary; // EventData/Binary
};

// The templates of a file's chunks as far as they were walked: what each puts where, so that
// the records that share a template (nearly all of a chunk) are not walked token by token.
// Valid for one file's bytes; cleared when other bytes are decoded.
class TemplateCache {
  public:
    TemplateCache();
    ~TemplateCache();
    TemplateCache(const TemplateCache&) = delete;
    TemplateCache& operator=(const TemplateCache&) = delete;
    void clear();
    size_t bytes() const; // what the plans hold
    struct Plans;
    std::unique_ptr<Plans> plans;
};

// The largest event one record may decode to, its strings, data and other texts together: the
// largest record the reader takes.
constexpr uint64_t kMaxEventBytes = 16u << 20;

// The work the records of one chunk may cost together: nodes walked (elements, values,
// template instances and their substitutions) and bytes the events grow by. The real logs'
// chunks spend at most 8,400 nodes and 134 KB, under a tenth of it; a chunk of templates that
// instantiate templates spends it all in milliseconds, and its remaining records fail. The
// bytes are what keep a file of many such chunks, each decoded ahead on its own thread, from
// costing hundreds of megabytes and seconds.
struct DecodeBudget {
    uint64_t nodes = 1u << 20;
    uint64_t bytes = 2u << 20;
};

// What decoding cost, counted as a budget is taken from: nodes walked and bytes grown.
struct DecodeWork {
    uint64_t nodes = 0;
    uint64_t bytes = 0;
};

// What a walk over a whole file may spend decoding its records: a chunk's budget, and this much
// more for each chunk the file's size holds (half a node and three bytes for each of its bytes),
// so that a walk costs at most in proportion to the file's size, however its chunks spend their
// own budgets. Real logs spend at most a fifth of the nodes and half the bytes.
constexpr DecodeWork kWalkWorkPerChunk = {32u << 10, 192u << 10};

// Decodes the binary XML of one record, [offset, end) of its chunk (offsets in binary XML count
// from the chunk's start); the event refers to the chunk's bytes and the cache's plans. 0 when it
// cannot be decoded: a token, offset or size that does not fit, templates and elements nested
// deeper than the format needs, an event past kMaxEventBytes, or the budget spent (taken from as
// the record decodes; without one, the record has a chunk's budget of its own). With a cache,
// chunkId names the chunk among the file's.
int decodeEventXml(const uint8_t* chunk, uint32_t chunkSize, uint32_t offset, uint32_t end,
                   EvtxEvent& event, TemplateCache* cache = nullptr, uint32_t chunkId = 0,
                   DecodeBudget* budget = nullptr);
