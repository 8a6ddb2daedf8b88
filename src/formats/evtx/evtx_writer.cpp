#include "evtx_writer.h"

#include "binxml.h"
#include "crc32.h"
#include "evtx_file.h"
#include "formats/file_io.h"
#include "formats/little_endian.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace binxml;

namespace {

constexpr uint32_t kTemplateId = 0x766c6d61; // "vlma"
constexpr uint64_t kClassicKeyword = 0x0080000000000000ull;

// The template's substitutions, in the order of their values.
enum Slot : uint16_t {
    ProviderSlot,
    QualifiersSlot,
    EventIdSlot,
    LevelSlot,
    TaskSlot,
    KeywordsSlot,
    TimeSlot,
    RecordIdSlot,
    ChannelSlot,
    ComputerSlot,
    UserSlot,
    StringsSlot,
    BinarySlot,
    SlotCount,
};

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}

void put64(std::vector<uint8_t>& b, uint64_t v) {
    put32(b, static_cast<uint32_t>(v));
    put32(b, static_cast<uint32_t>(v >> 32));
}

void putUnits(std::vector<uint8_t>& b, const std::u16string& s) {
    for (char16_t c : s)
        put16(b, c);
}

// Binary XML of one record, written at a known place of its chunk: offsets in it count from
// the chunk's start.
class RecordXml {
  public:
    RecordXml(uint32_t at, std::vector<std::pair<uint16_t, uint32_t>>& names)
        : at_(at), names_(names) {}
    std::vector<uint8_t> bytes;

    uint32_t here() const { return at_ + static_cast<uint32_t>(bytes.size()); }

    // A name, stored here (every name of the template occurs once).
    void name(const char* ascii) {
        std::u16string text(ascii, ascii + std::strlen(ascii));
        names_.push_back({nameHash(text), here()});
        put32(bytes, 0); // the next name of its hash bucket, set with the chunk's table
        put16(bytes, nameHash(text));
        put16(bytes, static_cast<uint16_t>(text.size()));
        putUnits(bytes, text);
        put16(bytes, 0);
    }

    // <name ...: returns where the element's size and its attributes' size go.
    std::pair<size_t, size_t> open(const char* tag, int hasAttributes) {
        bytes.push_back(hasAttributes ? OpenStartElement | HasMore : OpenStartElement);
        put16(bytes, 0xFFFF); // no dependency
        size_t size = bytes.size();
        put32(bytes, 0);
        put32(bytes, here() + 4);
        name(tag);
        size_t attributes = bytes.size();
        if (hasAttributes)
            put32(bytes, 0);
        return {size, attributes};
    }
    void attribute(const char* tag, int more) {
        bytes.push_back(more ? Attribute | HasMore : Attribute);
        put32(bytes, here() + 4);
        name(tag);
    }
    void endAttributes(size_t at) { writeLe32(&bytes[at], sizeSince(at)); }
    void close(size_t sizeAt) { writeLe32(&bytes[sizeAt], sizeSince(sizeAt)); }

    void text(const char* ascii) {
        bytes.push_back(Value);
        bytes.push_back(StringType);
        put16(bytes, static_cast<uint16_t>(std::strlen(ascii)));
        for (const char* p = ascii; *p; ++p)
            put16(bytes, static_cast<uint8_t>(*p));
    }
    void substitution(Slot slot, ValueType type, int optional) {
        bytes.push_back(optional ? OptionalSubstitution : NormalSubstitution);
        put16(bytes, slot);
        bytes.push_back(type);
    }

    // <tag>%slot</tag>
    void leaf(const char* tag, Slot slot, ValueType type, int optional = 0) {
        std::pair<size_t, size_t> at = open(tag, 0);
        bytes.push_back(CloseStartElement);
        substitution(slot, type, optional);
        bytes.push_back(EndElement);
        close(at.first);
    }
    // <tag attribute="%slot"/>
    void empty(const char* tag, const char* attributeName, Slot slot, ValueType type,
               int optional) {
        std::pair<size_t, size_t> at = open(tag, 1);
        attribute(attributeName, 0);
        substitution(slot, type, optional);
        endAttributes(at.second);
        bytes.push_back(CloseEmptyElement);
        close(at.first);
    }

    // The template's body: the classic event, as Windows logs ReportEvent's records.
    void classicEvent() {
        bytes.insert(bytes.end(), {FragmentHeader, 1, 1, 0});
        std::pair<size_t, size_t> event = open("Event", 1);
        attribute("xmlns", 0);
        text("http://schemas.microsoft.com/win/2004/08/events/event");
        endAttributes(event.second);
        bytes.push_back(CloseStartElement);
        std::pair<size_t, size_t> system = open("System", 0);
        bytes.push_back(CloseStartElement);
        empty("Provider", "Name", ProviderSlot, StringType, 0);
        std::pair<size_t, size_t> id = open("EventID", 1);
        attribute("Qualifiers", 0);
        substitution(QualifiersSlot, UInt16Type, 0);
        endAttributes(id.second);
        bytes.push_back(CloseStartElement);
        substitution(EventIdSlot, UInt16Type, 0);
        bytes.push_back(EndElement);
        close(id.first);
        leaf("Level", LevelSlot, UInt8Type);
        leaf("Task", TaskSlot, UInt16Type);
        leaf("Keywords", KeywordsSlot, HexInt64Type);
        empty("TimeCreated", "SystemTime", TimeSlot, FileTimeType, 0);
        leaf("EventRecordID", RecordIdSlot, UInt64Type);
        leaf("Channel", ChannelSlot, StringType);
        leaf("Computer", ComputerSlot, StringType);
        empty("Security", "UserID", UserSlot, SidType, 1);
        bytes.push_back(EndElement);
        close(system.first);
        std::pair<size_t, size_t> data = open("EventData", 0);
        bytes.push_back(CloseStartElement);
        leaf("Data", StringsSlot, static_cast<ValueType>(StringType | ArrayFlag), 1);
        leaf("Binary", BinarySlot, BinaryType, 1);
        bytes.push_back(EndElement);
        close(data.first);
        bytes.push_back(EndElement);
        close(event.first);
        bytes.push_back(EndOfStream);
    }

  private:
    uint32_t sizeSince(size_t at) const { return static_cast<uint32_t>(bytes.size() - at - 4); }
    uint32_t at_;
    std::vector<std::pair<uint16_t, uint32_t>>& names_;
};

uint64_t fileTimeOf(uint32_t seconds) {
    return (static_cast<uint64_t>(seconds) + 11644473600ull) * 10000000ull;
}

// Level and keywords for a legacy event type, as Windows logs ReportEvent's records.
void levelOf(uint16_t eventType, uint8_t* level, uint64_t* keywords) {
    *keywords = kClassicKeyword;
    *level = eventType == 1 ? 2 : eventType == 2 ? 3 : eventType == 4 ? 4 : 0;
    if (eventType == 8)
        *keywords |= 0x0020000000000000ull;
    if (eventType == 16)
        *keywords |= 0x0010000000000000ull;
}

// The substitution values of one record: (size, type) pairs, then the values.
void putValues(std::vector<uint8_t>& b, const EvtRecordFields& f, uint64_t id) {
    std::vector<uint8_t> values[SlotCount];
    uint8_t types[SlotCount] = {
        StringType, UInt16Type,   UInt16Type,   UInt8Type,
        UInt16Type, HexInt64Type, FileTimeType, UInt64Type,
        StringType, StringType,   SidType,      static_cast<uint8_t>(StringType | ArrayFlag),
        BinaryType};
    uint8_t level;
    uint64_t keywords;
    levelOf(f.eventType, &level, &keywords);
    putUnits(values[ProviderSlot], f.source);
    put16(values[QualifiersSlot], static_cast<uint16_t>(f.eventId >> 16));
    put16(values[EventIdSlot], static_cast<uint16_t>(f.eventId));
    values[LevelSlot].push_back(level);
    put16(values[TaskSlot], f.category);
    put64(values[KeywordsSlot], keywords);
    put64(values[TimeSlot], fileTimeOf(f.timeGenerated));
    put64(values[RecordIdSlot], f.eventRecordId ? f.eventRecordId : id);
    putUnits(values[ChannelSlot], u"Application");
    putUnits(values[ComputerSlot], f.computer);
    values[UserSlot] = f.userSid;
    for (const std::u16string& s : f.strings) {
        putUnits(values[StringsSlot], s);
        put16(values[StringsSlot], 0);
    }
    values[BinarySlot] = f.data;
    put32(b, SlotCount);
    for (int i = 0; i < SlotCount; ++i) {
        put16(b, static_cast<uint16_t>(values[i].size()));
        b.push_back(values[i].empty() && i >= UserSlot ? static_cast<uint8_t>(NullType) : types[i]);
        b.push_back(0);
    }
    for (const std::vector<uint8_t>& v : values)
        b.insert(b.end(), v.begin(), v.end());
}

// One chunk being filled.
class Chunk {
  public:
    explicit Chunk(uint64_t firstId) : bytes_(kEvtxChunkSize, 0), first_(firstId) {}

    // Appends the record; 0 when it does not fit in what is left.
    int add(const EvtRecordFields& f, uint64_t id) {
        uint32_t at = free_;
        RecordXml xml(at + 24, names_);
        xml.bytes.insert(xml.bytes.end(), {FragmentHeader, 1, 1, 0});
        xml.bytes.push_back(TemplateInstance);
        xml.bytes.push_back(1);
        put32(xml.bytes, kTemplateId);
        if (template_ == 0) { // defined by the chunk's first record
            template_ = xml.here() + 4;
            put32(xml.bytes, template_);
            put32(xml.bytes, 0); // the next template
            put32(xml.bytes, kTemplateId);
            xml.bytes.insert(xml.bytes.end(), 12, 0x5a); // the rest of the template's GUID
            size_t size = xml.bytes.size();
            put32(xml.bytes, 0);
            xml.classicEvent();
            writeLe32(&xml.bytes[size], static_cast<uint32_t>(xml.bytes.size() - size - 4));
        } else {
            put32(xml.bytes, template_);
        }
        putValues(xml.bytes, f, id);
        // An end of stream after the values, then zeros to a multiple of eight with the size
        // repeated, as Windows pads its records.
        xml.bytes.push_back(EndOfStream);
        while ((xml.bytes.size() + 28) % 8 != 0)
            xml.bytes.push_back(0);
        uint32_t size = static_cast<uint32_t>(xml.bytes.size()) + 28;
        if (size > kEvtxChunkSize - at)
            return 0;
        uint8_t* r = bytes_.data() + at;
        writeLe32(r, kEvtxRecordSignature);
        writeLe32(r + 4, size);
        writeLe32(r + 8, static_cast<uint32_t>(id));
        writeLe32(r + 12, static_cast<uint32_t>(id >> 32));
        uint64_t written = fileTimeOf(f.timeWritten ? f.timeWritten : f.timeGenerated);
        writeLe32(r + 16, static_cast<uint32_t>(written));
        writeLe32(r + 20, static_cast<uint32_t>(written >> 32));
        std::memcpy(r + 24, xml.bytes.data(), xml.bytes.size());
        writeLe32(r + size - 4, size);
        last_ = at;
        free_ += size;
        ++count_;
        return 1;
    }

    int empty() const { return count_ == 0; }

    // Header, name and template tables, and checksums; the chunk is then complete.
    const std::vector<uint8_t>& finish(uint64_t firstNumber) {
        uint8_t* c = bytes_.data();
        std::memcpy(c, "ElfChnk", 8);
        uint64_t lastId = first_ + count_ - 1;
        writeLe32(c + 8, static_cast<uint32_t>(firstNumber));
        writeLe32(c + 12, static_cast<uint32_t>(firstNumber >> 32));
        writeLe32(c + 16, static_cast<uint32_t>(firstNumber + count_ - 1));
        writeLe32(c + 20, static_cast<uint32_t>((firstNumber + count_ - 1) >> 32));
        writeLe32(c + 24, static_cast<uint32_t>(first_));
        writeLe32(c + 28, static_cast<uint32_t>(first_ >> 32));
        writeLe32(c + 32, static_cast<uint32_t>(lastId));
        writeLe32(c + 36, static_cast<uint32_t>(lastId >> 32));
        writeLe32(c + 40, 128);
        writeLe32(c + 44, last_);
        writeLe32(c + 48, free_);
        // The first name of each hash bucket.
        for (const std::pair<uint16_t, uint32_t>& n : names_)
            if (readLe32(c + 128 + 4 * (n.first % 64)) == 0)
                writeLe32(c + 128 + 4 * (n.first % 64), n.second);
        writeLe32(c + 384 + 4 * (kTemplateId % 32), template_);
        writeLe32(c + 52, crc32(c + kEvtxChunkHeaderSize, free_ - kEvtxChunkHeaderSize));
        writeLe32(c + 124, crc32(c + 128, kEvtxChunkHeaderSize - 128, crc32(c, 120)));
        return bytes_;
    }
    uint32_t count() const { return count_; }

  private:
    std::vector<uint8_t> bytes_;
    std::vector<std::pair<uint16_t, uint32_t>> names_; // (hash, offset)
    uint64_t first_;
    uint32_t free_ = kEvtxChunkHeaderSize, last_ = kEvtxChunkHeaderSize, count_ = 0;
    uint32_t template_ = 0;
};

} // namespace

std::vector<uint8_t> buildEvtxFile(const std::vector<EvtRecordFields>& records,
                                   uint64_t firstRecordId) {
    std::vector<uint8_t> file(kEvtxHeaderBlock, 0);
    uint64_t id = firstRecordId, number = 1;
    size_t chunks = 0;
    for (size_t i = 0; i < records.size();) {
        Chunk chunk(id);
        while (i < records.size() && chunk.add(records[i], id)) {
            ++i;
            ++id;
        }
        if (chunk.empty())
            break; // a record larger than a chunk: the file ends before it
        const std::vector<uint8_t>& bytes = chunk.finish(number);
        number += chunk.count();
        file.insert(file.end(), bytes.begin(), bytes.end());
        ++chunks;
    }
    uint8_t* h = file.data();
    std::memcpy(h, "ElfFile", 8);
    writeLe32(h + 16, chunks ? static_cast<uint32_t>(chunks - 1) : 0);
    writeLe32(h + 24, static_cast<uint32_t>(id));
    writeLe32(h + 28, static_cast<uint32_t>(id >> 32));
    writeLe32(h + 32, 128);
    writeLe16(h + 36, 1);
    writeLe16(h + 38, 3);
    writeLe16(h + 40, static_cast<uint16_t>(kEvtxHeaderBlock));
    writeLe16(h + 42, static_cast<uint16_t>(chunks));
    writeLe32(h + 124, crc32(h, 120));
    return file;
}

int writeEvtxFile(const std::string& path, const std::vector<EvtRecordFields>& records,
                  std::string* error, uint64_t firstRecordId) {
    makeParentDirectories(path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (error)
            *error =
                path + ": " +
                (errno == EEXIST ? "exists; .evtx logs are written whole" : std::strerror(errno));
        return 0;
    }
    std::vector<uint8_t> bytes = buildEvtxFile(records, firstRecordId);
    int ok = writeAllAt(fd, bytes.data(), bytes.size(), 0);
    ok = close(fd) == 0 && ok;
    if (!ok && error)
        *error = path + ": " + std::strerror(errno);
    return ok;
}
