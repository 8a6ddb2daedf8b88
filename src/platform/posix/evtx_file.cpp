#include "evtx_file.h"

#include "crc32.h"
#include "event_record.h"
#include "little_endian.h"

#include <algorithm>
#include <cstring>

namespace {

const char kFileSignature[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', 0};
const char kChunkSignature[8] = {'E', 'l', 'f', 'C', 'h', 'n', 'k', 0};

constexpr uint64_t kAuditSuccess = 0x0020000000000000ull;
constexpr uint64_t kAuditFailure = 0x0010000000000000ull;

uint64_t readLe64(const uint8_t* p) {
    return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32;
}

// Seconds since 1970 of a FILETIME, within the 32 bits a legacy record has.
uint32_t secondsOf(uint64_t fileTime) {
    const uint64_t k1970 = 116444736000000000ull;
    if (fileTime <= k1970)
        return 0;
    uint64_t seconds = (fileTime - k1970) / 10000000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
}

// EventType as Windows gives it for an event of the new log: audits by their keywords, the
// rest by level.
uint16_t eventTypeOf(const EvtxEvent& event) {
    if (event.keywords & kAuditSuccess)
        return 0x0008; // EVENTLOG_AUDIT_SUCCESS
    if (event.keywords & kAuditFailure)
        return 0x0010; // EVENTLOG_AUDIT_FAILURE
    switch (event.level) {
    case 0:
        return 0x0000; // EVENTLOG_SUCCESS
    case 1:
    case 2:
        return 0x0001; // EVENTLOG_ERROR_TYPE
    case 3:
        return 0x0002; // EVENTLOG_WARNING_TYPE
    default:
        return 0x0004; // EVENTLOG_INFORMATION_TYPE
    }
}

} // namespace

int isEvtxSignature(const uint8_t* bytes, size_t size) {
    return size >= sizeof kFileSignature &&
           std::memcmp(bytes, kFileSignature, sizeof kFileSignature) == 0;
}

void legacyFieldsOf(const EvtxEvent& event, uint64_t writtenTime, EvtRecordFields& fields) {
    fields.source = event.sourceName.empty() ? event.provider : event.sourceName;
    fields.computer = event.computer;
    fields.eventId = (event.qualifiers & 0xFFFF) << 16 | (event.eventId & 0xFFFF);
    fields.eventType = eventTypeOf(event);
    fields.category = static_cast<uint16_t>(event.task);
    fields.timeGenerated = secondsOf(event.timeCreated);
    fields.timeWritten = secondsOf(writtenTime);
    fields.strings = event.strings;
    fields.userSid = event.userSid;
    fields.data = event.binary;
}

int EvtxFile::chunkIsSound(size_t chunk, int checksums) const {
    const uint8_t* c = bytes_.data() + kEvtxHeaderBlock + chunk * kEvtxChunkSize;
    if (std::memcmp(c, kChunkSignature, sizeof kChunkSignature) != 0)
        return 0;
    uint32_t freeSpace = readLe32(c + 48);
    if (freeSpace < kEvtxChunkHeaderSize || freeSpace > kEvtxChunkSize)
        return 0;
    if (!checksums)
        return 1;
    uint32_t header = crc32(c + 128, kEvtxChunkHeaderSize - 128, crc32(c, 120));
    return header == readLe32(c + 124) &&
           crc32(c + kEvtxChunkHeaderSize, freeSpace - kEvtxChunkHeaderSize) == readLe32(c + 52);
}

// The records of a sound chunk, up to its free space. A record whose frame is broken (no
// signature, a size that does not fit, the size not repeated at its end) stands for the rest
// of the chunk, as one record that cannot be decoded.
void EvtxFile::collectRecords(size_t chunk) {
    uint32_t base = kEvtxHeaderBlock + static_cast<uint32_t>(chunk) * kEvtxChunkSize;
    const uint8_t* c = bytes_.data() + base;
    uint32_t end = readLe32(c + 48);
    uint64_t nextId = readLe64(c + 24);
    for (uint32_t pos = kEvtxChunkHeaderSize; pos < end;) {
        uint32_t size = end - pos >= 8 ? readLe32(c + pos + 4) : 0;
        if (end - pos < 28 || readLe32(c + pos) != kEvtxRecordSignature || size < 28 ||
            size > end - pos || readLe32(c + pos + size - 4) != size) {
            records_.push_back({nextId, base + pos, 0});
            return;
        }
        uint64_t id = readLe64(c + pos + 8);
        records_.push_back({id, base + pos, size});
        nextId = id + 1;
        pos += size;
    }
}

int EvtxFile::load(std::vector<uint8_t> bytes) {
    bytes_ = std::move(bytes);
    records_.clear();
    skipped_.clear();
    chunkCount_ = 0;
    if (bytes_.size() < 128 || !isEvtxSignature(bytes_.data(), bytes_.size()))
        return 0;
    int checksums = !(readLe32(bytes_.data() + 120) & kEvtxFlagNoChecksums);
    if (bytes_.size() > kEvtxHeaderBlock)
        chunkCount_ = (bytes_.size() - kEvtxHeaderBlock) / kEvtxChunkSize;
    static const uint8_t kUnused[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t chunk = 0; chunk < chunkCount_; ++chunk) {
        if (chunkIsSound(chunk, checksums))
            collectRecords(chunk);
        else if (std::memcmp(bytes_.data() + kEvtxHeaderBlock + chunk * kEvtxChunkSize, kUnused,
                             sizeof kUnused) != 0)
            skipped_.push_back(chunk); // damaged, rather than never written
    }
    // Newest first across the chunks, however the log wrapped; where an identifier occurs
    // twice (a stale chunk), the first readable copy counts.
    std::stable_sort(records_.begin(), records_.end(), [](const Entry& a, const Entry& b) {
        return a.id != b.id ? a.id > b.id : a.size != 0 && b.size == 0;
    });
    records_.erase(std::unique(records_.begin(), records_.end(),
                               [](const Entry& a, const Entry& b) { return a.id == b.id; }),
                   records_.end());
    return 1;
}

int EvtxFile::decodeRecord(size_t i, std::vector<uint8_t>& out) const {
    const Entry& entry = records_[i];
    if (entry.size == 0)
        return 0;
    uint32_t chunkStart =
        kEvtxHeaderBlock + (entry.offset - kEvtxHeaderBlock) / kEvtxChunkSize * kEvtxChunkSize;
    uint32_t at = entry.offset - chunkStart;
    EvtxEvent event;
    if (!decodeEventXml(bytes_.data() + chunkStart, kEvtxChunkSize, at + 24, at + entry.size - 4,
                        event))
        return 0;
    EvtRecordFields fields;
    legacyFieldsOf(event, readLe64(bytes_.data() + entry.offset + 16), fields);
    uint64_t number = event.recordId ? event.recordId : entry.id;
    buildEvtRecordInto(fields, static_cast<uint32_t>(number), out);
    return 1;
}
