// EVENTLOGRECORD, the record ReadEventLogW returns, built from its fields as the event log
// service lays it out: the 56-byte header, the source and computer names, the user's SID, the
// strings, the data, padding to four bytes and the length repeated at the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

constexpr uint32_t kEventRecordHeaderSize = 56;
constexpr uint32_t kEventRecordSignature = 0x654c664c; // "LfLe"
// The largest record built: the largest a reader takes.
constexpr uint32_t kLargestEventRecord = 16u << 20;

struct EvtRecordFields {
    std::u16string source;
    std::u16string computer = u"VLMHOST";
    uint32_t eventId = 0;
    uint16_t eventType = 4; // information
    uint16_t category = 0;
    uint32_t timeGenerated = 0;
    uint32_t timeWritten = 0; // 0: the same as timeGenerated
    std::vector<std::u16string> strings;
    std::vector<uint8_t> userSid;
    std::vector<uint8_t> data;
    // .evtx: the System/EventRecordID written, as a collector keeps the number the record had
    // on its own computer; 0 for the log's own number.
    uint64_t eventRecordId = 0;
};

// Appends the UTF-16LE units of s and a zero unit.
void appendZeroTerminated(std::vector<uint8_t>& out, const std::u16string& s);

// The texts and bytes of a record, wherever they are kept.
struct EvtRecordParts {
    const std::u16string& source;
    const std::u16string& computer;
    const std::vector<std::u16string>& strings;
    const std::vector<uint8_t>& userSid;
    const std::vector<uint8_t>& data;
};

std::vector<uint8_t> buildEvtRecord(const EvtRecordFields& fields, uint32_t recordNumber);
// The same into out, whose memory is reused: 1, or 0 (out empty) for a record larger than
// kLargestEventRecord, whose 32-bit lengths and offsets would not hold.
int buildEvtRecordInto(const EvtRecordFields& fields, uint32_t recordNumber,
                       std::vector<uint8_t>& out);
// The same with the texts and bytes from parts: only the numbers are taken from fields.
int buildEvtRecordInto(const EvtRecordFields& fields, const EvtRecordParts& parts,
                       uint32_t recordNumber, std::vector<uint8_t>& out);
// The same appended to out (left as it was on 0): records built where they are kept need no copy.
int appendEvtRecord(const EvtRecordFields& fields, const EvtRecordParts& parts,
                    uint32_t recordNumber, std::vector<uint8_t>& out);

// The texts and bytes of a record as it holds them, wherever they are kept: the source and
// computer names in UTF-16LE without their zero unit, the strings one after another each with its
// own.
struct EvtRecordBlock {
    const uint8_t* bytes;
    size_t size;
};
struct EvtRecordBlocks {
    EvtRecordBlock source, computer, userSid, strings;
    size_t stringCount;
    EvtRecordBlock data;
};
// Where the parts of a record go, and its length.
struct EvtRecordLayout {
    uint32_t namesEnd, sidOffset, stringOffset, dataOffset, length;
};
// Where the parts go, from their sizes in bytes (the names without their zero units); 0 when the
// record would be larger than kLargestEventRecord. Each size is at most a few times that: the sums
// stay far from wrapping.
inline int layOutEvtRecord(uint64_t sourceBytes, uint64_t computerBytes, uint64_t sidBytes,
                           uint64_t stringBytes, uint64_t dataBytes, EvtRecordLayout& at) {
    const uint64_t namesEnd = kEventRecordHeaderSize + sourceBytes + computerBytes + 4;
    const uint64_t sid = (namesEnd + 3) & ~uint64_t(3), strings = sid + sidBytes,
                   data = strings + stringBytes;
    const uint64_t length = ((data + dataBytes + 3) & ~uint64_t(3)) + 4;
    if (length > kLargestEventRecord)
        return 0;
    at = {static_cast<uint32_t>(namesEnd), static_cast<uint32_t>(sid),
          static_cast<uint32_t>(strings), static_cast<uint32_t>(data),
          static_cast<uint32_t>(length)};
    return 1;
}
// The same for blocks; 0 too when a block or the count of strings is too large.
inline int layOutEvtRecord(const EvtRecordBlocks& b, EvtRecordLayout& layout) {
    const size_t kMost = kLargestEventRecord;
    if (b.source.size > kMost || b.computer.size > kMost || b.userSid.size > kMost ||
        b.strings.size > kMost || b.data.size > kMost || b.stringCount > 0xFFFF)
        return 0;
    return layOutEvtRecord(b.source.size, b.computer.size, b.userSid.size, b.strings.size,
                           b.data.size, layout);
}
// Bytes copied where the sizes are those of a record's names and small blocks, a few dozen
// bytes: in words that overlap, rather than by a call.
inline void copyRecordPart(uint8_t* to, const uint8_t* from, size_t n) {
    if (n >= 8 && n <= 32) {
        if (n > 16) {
            std::memcpy(to, from, 16);
            std::memcpy(to + n - 16, from + n - 16, 16);
        } else {
            std::memcpy(to, from, 8);
            std::memcpy(to + n - 8, from + n - 8, 8);
        }
    } else if (n > 0) {
        std::memcpy(to, from, n);
    }
}
// The record written whole at out (layout.length bytes, the padding zeroed): only the numbers are
// taken from fields.
void writeEvtRecord(const EvtRecordFields& fields, const EvtRecordBlocks& blocks,
                    const EvtRecordLayout& layout, uint32_t recordNumber, uint8_t* out);

// A short record: what a reader of sessions takes from an EVENTLOGRECORD, for a log that makes
// its records as they are read (a .evtx file) rather than keeping them. Each field is 32 bits:
// the short record's length (a multiple of four), the event ID, TimeGenerated, the full record's
// DataOffset, where the rest of the full record begins here, and the RecordNumber; then the
// source name and the computer name, each with its zero unit, and up to three zero bytes; then
// the rest: the full record's bytes from its DataOffset to its end (the data, the padding and the
// length repeated), as far from a multiple of four as there. The SID and strings that the full
// record holds between its computer name and its data are left out.
constexpr uint32_t kShortEventId = 4;
constexpr uint32_t kShortTimeGenerated = 8;
constexpr uint32_t kShortDataOffset = 12;
constexpr uint32_t kShortRest = 16;
constexpr uint32_t kShortRecordNumber = 20;
constexpr uint32_t kShortSource = 24;

// The fields of a record (as buildEvtRecord lays them out, or as any event log gives them);
// 0 when its offsets or lengths do not fit in size bytes.
int parseEvtRecord(const uint8_t* record, uint32_t size, EvtRecordFields& fields);
