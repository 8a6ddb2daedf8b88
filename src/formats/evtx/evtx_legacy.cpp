// The legacy record of an event of the new log, as Windows' ReadEventLogW gives it, or its short
// record.
#include "evtx_file.h"

#include "binxml_brief.h"
#include "formats/evt/event_record.h"
#include "formats/little_endian.h"

#include <cstring>

namespace {

constexpr uint64_t kAuditSuccess = 0x0020000000000000ull;
constexpr uint64_t kAuditFailure = 0x0010000000000000ull;

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
    const uint64_t keywords = event.numbers[EvtxKeywords];
    if (keywords & kAuditSuccess)
        return 0x0008; // EVENTLOG_AUDIT_SUCCESS
    if (keywords & kAuditFailure)
        return 0x0010; // EVENTLOG_AUDIT_FAILURE
    switch (static_cast<uint32_t>(event.numbers[EvtxLevel])) {
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

EvtRecordBlock blockOf(const EventBytes& bytes) {
    return {bytes.data(), bytes.size()};
}

uint32_t eventIdOf(const EvtxEvent& event) {
    return static_cast<uint32_t>((event.numbers[EvtxQualifiers] & 0xFFFF) << 16 |
                                 (event.numbers[EvtxEventId] & 0xFFFF));
}

// The texts and bytes the record of event holds.
EvtRecordBlocks blocksOf(const EvtxEvent& event) {
    return {blockOf(event.sourceName.empty() ? event.provider : event.sourceName),
            blockOf(event.computer),
            blockOf(event.userSid),
            blockOf(event.strings),
            event.stringCount,
            blockOf(event.binary)};
}

} // namespace

int buildLegacyRecord(const EvtxEvent& event, uint64_t writtenTime, uint32_t recordNumber,
                      EvtRecordFields& fields, RecordBytes& out) {
    fields.eventId = eventIdOf(event);
    fields.eventType = eventTypeOf(event);
    fields.category = static_cast<uint16_t>(event.numbers[EvtxTask]);
    fields.timeGenerated = secondsOf(event.numbers[EvtxTimeCreated]);
    fields.timeWritten = secondsOf(writtenTime);
    const EvtRecordBlocks blocks = blocksOf(event);
    EvtRecordLayout layout;
    if (!layOutEvtRecord(blocks, layout))
        return 0;
    writeEvtRecord(fields, blocks, layout, recordNumber, out.extend(layout.length));
    return 1;
}

int buildShortRecord(const EvtxEvent& event, uint32_t recordNumber, RecordBytes& out) {
    EvtxBrief brief = {blocksOf(event), {}, eventIdOf(event), event.numbers[EvtxTimeCreated], 0};
    if (!layOutEvtRecord(brief.blocks, brief.layout))
        return 0;
    writeShortRecord(brief, recordNumber, out);
    return 1;
}

void writeShortRecord(const EvtxBrief& brief, uint32_t recordNumber, RecordBytes& out) {
    const EvtRecordBlocks& blocks = brief.blocks;
    const EvtRecordLayout& layout = brief.layout;
    // The names below 16 MiB and the rest below the full record's length: no sum wraps. The
    // rest lies as the full record's does, four bytes apart, as the record begins and ends.
    const uint32_t restBytes = layout.length - layout.dataOffset;
    const uint32_t computerAt = static_cast<uint32_t>(kShortSource + blocks.source.size + 2);
    uint32_t rest = static_cast<uint32_t>(computerAt + blocks.computer.size + 2);
    rest += (4 - (rest + restBytes) % 4) % 4;
    const uint32_t dataBytes = static_cast<uint32_t>(blocks.data.size);
    uint8_t* r = out.extend(rest + restBytes);
    std::memset(r + rest - 8, 0, 8); // the computer's zero unit and padding, before the fields
    copyRecordPart(r + kShortSource, blocks.source.bytes, blocks.source.size);
    writeLe16(r + computerAt - 2, 0);
    copyRecordPart(r + computerAt, blocks.computer.bytes, blocks.computer.size);
    writeLe32(r, rest + restBytes);
    writeLe32(r + kShortEventId, brief.eventId);
    writeLe32(r + kShortTimeGenerated, secondsOf(brief.timeCreated));
    writeLe32(r + kShortDataOffset, layout.dataOffset);
    writeLe32(r + kShortRest, rest);
    writeLe32(r + kShortRecordNumber, recordNumber);
    writeLe32(r + rest + dataBytes, 0); // the data's padding, before the length over it
    copyRecordPart(r + rest, blocks.data.bytes, dataBytes);
    writeLe32(r + rest + restBytes - 4, layout.length);
}
