#include "event_record.h"

#include "little_endian.h"

void appendZeroTerminated(std::vector<uint8_t>& out, const std::u16string& s) {
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

namespace {

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
    r.clear();
    r.resize(kEventRecordHeaderSize, 0);
    appendZeroTerminated(r, fields.source);
    appendZeroTerminated(r, fields.computer);
    padToFour(r);
    uint32_t sidOffset = static_cast<uint32_t>(r.size());
    r.insert(r.end(), fields.userSid.begin(), fields.userSid.end());
    uint32_t stringOffset = static_cast<uint32_t>(r.size());
    for (const std::u16string& s : fields.strings)
        appendZeroTerminated(r, s);
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

namespace {

// The zero-terminated UTF-16 text at offset; 0 when it does not end before end.
int stringAt(const uint8_t* r, uint32_t offset, uint32_t end, std::u16string& out, uint32_t* next) {
    out.clear();
    for (uint32_t i = offset; i + 1 < end; i += 2) {
        uint16_t unit = readLe16(r + i);
        if (unit == 0) {
            *next = i + 2;
            return 1;
        }
        out += static_cast<char16_t>(unit);
    }
    return 0;
}

} // namespace

int parseEvtRecord(const uint8_t* r, uint32_t size, EvtRecordFields& f) {
    if (size < kEventRecordHeaderSize + 4 || readLe32(r) != size ||
        readLe32(r + 4) != kEventRecordSignature)
        return 0;
    uint32_t end = size - 4, next = 0;
    f = EvtRecordFields();
    f.timeGenerated = readLe32(r + 12);
    f.timeWritten = readLe32(r + 16);
    f.eventId = readLe32(r + 20);
    f.eventType = readLe16(r + 24);
    f.category = readLe16(r + 28);
    if (!stringAt(r, kEventRecordHeaderSize, end, f.source, &next) ||
        !stringAt(r, next, end, f.computer, &next))
        return 0;
    uint32_t sidLength = readLe32(r + 40), sidOffset = readLe32(r + 44);
    uint32_t dataLength = readLe32(r + 48), dataOffset = readLe32(r + 52);
    if (sidOffset > end || sidLength > end - sidOffset || dataOffset > end ||
        dataLength > end - dataOffset)
        return 0;
    f.userSid.assign(r + sidOffset, r + sidOffset + sidLength);
    f.data.assign(r + dataOffset, r + dataOffset + dataLength);
    next = readLe32(r + 36);
    for (uint16_t i = 0, count = readLe16(r + 26); i < count; ++i) {
        f.strings.emplace_back();
        if (next > end || !stringAt(r, next, end, f.strings.back(), &next))
            return 0;
    }
    return 1;
}
