// The legacy record of an event of the new log, as Windows' ReadEventLogW gives it.
#include "evtx_file.h"

#include "formats/evt/event_record.h"

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

} // namespace

int buildLegacyRecord(const EvtxEvent& event, uint64_t writtenTime, uint32_t recordNumber,
                      EvtRecordFields& fields, RecordBytes& out) {
    fields.eventId = static_cast<uint32_t>((event.numbers[EvtxQualifiers] & 0xFFFF) << 16 |
                                           (event.numbers[EvtxEventId] & 0xFFFF));
    fields.eventType = eventTypeOf(event);
    fields.category = static_cast<uint16_t>(event.numbers[EvtxTask]);
    fields.timeGenerated = secondsOf(event.numbers[EvtxTimeCreated]);
    fields.timeWritten = secondsOf(writtenTime);
    const EvtRecordBlocks blocks = {
        blockOf(event.sourceName.empty() ? event.provider : event.sourceName),
        blockOf(event.computer),
        blockOf(event.userSid),
        blockOf(event.strings),
        event.stringCount,
        blockOf(event.binary)};
    EvtRecordLayout layout;
    if (!layOutEvtRecord(blocks, layout))
        return 0;
    writeEvtRecord(fields, blocks, layout, recordNumber, out.extend(layout.length));
    return 1;
}
