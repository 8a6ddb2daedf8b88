#include "event_record.h"

#include "formats/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {

// The units of s and a zero unit, little-endian, at out; returns the end. A little-endian host
// holds them so already.
uint8_t* putZeroTerminated(uint8_t* out, const std::u16string& s) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, s.data(), 2 * s.size());
    out += 2 * s.size();
#else
    for (char16_t c : s) {
        *out++ = static_cast<uint8_t>(c);
        *out++ = static_cast<uint8_t>(c >> 8);
    }
#endif
    *out++ = 0;
    *out++ = 0;
    return out;
}

} // namespace

void appendZeroTerminated(std::vector<uint8_t>& out, const std::u16string& s) {
    size_t at = out.size();
    out.resize(at + 2 * s.size() + 2);
    putZeroTerminated(out.data() + at, s);
}

std::vector<uint8_t> buildEvtRecord(const EvtRecordFields& fields, uint32_t recordNumber) {
    std::vector<uint8_t> r;
    buildEvtRecordInto(fields, recordNumber, r);
    return r;
}

// The size is worked out first and the record written in place: a log of a million records
// is built record by record on the way to the reader.
int buildEvtRecordInto(const EvtRecordFields& fields, uint32_t recordNumber,
                       std::vector<uint8_t>& r) {
    return buildEvtRecordInto(
        fields, {fields.source, fields.computer, fields.strings, fields.userSid, fields.data},
        recordNumber, r);
}

int buildEvtRecordInto(const EvtRecordFields& fields, const EvtRecordParts& parts,
                       uint32_t recordNumber, std::vector<uint8_t>& r) {
    r.clear();
    return appendEvtRecord(fields, parts, recordNumber, r);
}

int appendEvtRecord(const EvtRecordFields& fields, const EvtRecordParts& parts,
                    uint32_t recordNumber, std::vector<uint8_t>& r) {
    // Sizes in 64 bits, each part checked before it is added: the sum stays far from wrapping.
    auto round4 = [](uint64_t n) { return (n + 3) & ~uint64_t(3); };
    const uint64_t kMost = kLargestEventRecord;
    if (parts.source.size() > kMost || parts.computer.size() > kMost ||
        parts.userSid.size() > kMost || parts.data.size() > kMost || parts.strings.size() > 0xFFFF)
        return 0;
    uint64_t sidOffset = round4(kEventRecordHeaderSize +
                                2 * (uint64_t(parts.source.size()) + parts.computer.size() + 2));
    uint64_t stringOffset = sidOffset + parts.userSid.size();
    uint64_t dataOffset = stringOffset;
    for (const std::u16string& s : parts.strings) {
        if (s.size() > kMost || dataOffset > kMost)
            return 0;
        dataOffset += 2 * uint64_t(s.size()) + 2;
    }
    if (round4(dataOffset + parts.data.size()) + 4 > kMost)
        return 0;
    uint32_t length = static_cast<uint32_t>(round4(dataOffset + parts.data.size()) + 4);
    const size_t at = r.size();
    r.resize(at + length);
    uint8_t* h = r.data() + at;
    putZeroTerminated(putZeroTerminated(h + kEventRecordHeaderSize, parts.source), parts.computer);
    std::copy(parts.userSid.begin(), parts.userSid.end(), h + sidOffset);
    uint8_t* text = h + stringOffset;
    for (const std::u16string& s : parts.strings)
        text = putZeroTerminated(text, s);
    std::copy(parts.data.begin(), parts.data.end(), h + dataOffset);
    writeLe32(h, length);
    writeLe32(h + 4, kEventRecordSignature);
    writeLe32(h + 8, recordNumber);
    writeLe32(h + 12, fields.timeGenerated);
    writeLe32(h + 16, fields.timeWritten ? fields.timeWritten : fields.timeGenerated);
    writeLe32(h + 20, fields.eventId);
    writeLe16(h + 24, fields.eventType);
    writeLe16(h + 26, static_cast<uint16_t>(parts.strings.size()));
    writeLe16(h + 28, fields.category);
    writeLe32(h + 36, static_cast<uint32_t>(stringOffset));
    writeLe32(h + 40, static_cast<uint32_t>(parts.userSid.size()));
    writeLe32(h + 44, static_cast<uint32_t>(sidOffset));
    writeLe32(h + 48, static_cast<uint32_t>(parts.data.size()));
    writeLe32(h + 52, static_cast<uint32_t>(dataOffset));
    writeLe32(h + length - 4, length);
    return 1;
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
