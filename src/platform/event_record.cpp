#include "event_record.h"

#include "little_endian.h"

namespace {

void appendString(std::vector<uint8_t>& out, const std::u16string& s) {
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

void padToFour(std::vector<uint8_t>& out) {
    while (out.size() % 4 != 0)
        out.push_back(0);
}

} // namespace

std::vector<uint8_t> buildEvtRecord(const EvtRecordFields& fields, uint32_t recordNumber) {
    std::vector<uint8_t> r;
    buildEvtRecordInto(fields, recordNumber, r);
    return r;
}

void buildEvtRecordInto(const EvtRecordFields& fields, uint32_t recordNumber,
                        std::vector<uint8_t>& r) {
    r.assign(kEventRecordHeaderSize, 0);
    appendString(r, fields.source);
    appendString(r, fields.computer);
    padToFour(r);
    uint32_t sidOffset = static_cast<uint32_t>(r.size());
    r.insert(r.end(), fields.userSid.begin(), fields.userSid.end());
    uint32_t stringOffset = static_cast<uint32_t>(r.size());
    for (const std::u16string& s : fields.strings)
        appendString(r, s);
    uint32_t dataOffset = static_cast<uint32_t>(r.size());
    r.insert(r.end(), fields.data.begin(), fields.data.end());
    padToFour(r);
    uint32_t length = static_cast<uint32_t>(r.size()) + 4;
    r.resize(length);
    uint8_t* h = r.data();
    writeLe32(h, length);
    writeLe32(h + 4, kEventRecordSignature);
    writeLe32(h + 8, recordNumber);
    writeLe32(h + 12, fields.timeGenerated);
    writeLe32(h + 16, fields.timeWritten ? fields.timeWritten : fields.timeGenerated);
    writeLe32(h + 20, fields.eventId);
    writeLe16(h + 24, fields.eventType);
    writeLe16(h + 26, static_cast<uint16_t>(fields.strings.size()));
    writeLe16(h + 28, fields.category);
    writeLe32(h + 36, stringOffset);
    writeLe32(h + 40, static_cast<uint32_t>(fields.userSid.size()));
    writeLe32(h + 44, sidOffset);
    writeLe32(h + 48, static_cast<uint32_t>(fields.data.size()));
    writeLe32(h + 52, dataOffset);
    writeLe32(h + length - 4, length);
}
