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

namespace {

// All of a record but its parts' bytes: the header, the padding (written first: a part may
// follow it closely) and the length at the end.
void writeFrame(const EvtRecordFields& fields, const EvtRecordLayout& at, uint32_t recordNumber,
                uint32_t sidBytes, uint16_t stringCount, uint32_t dataBytes, uint8_t* h) {
    writeLe32(h + at.namesEnd, 0);               // to the SID's four-byte boundary, and past it
    writeLe32(h + at.dataOffset + dataBytes, 0); // to the length's
    writeLe32(h, at.length);
    writeLe32(h + 4, kEventRecordSignature);
    writeLe32(h + 8, recordNumber);
    writeLe32(h + 12, fields.timeGenerated);
    writeLe32(h + 16, fields.timeWritten ? fields.timeWritten : fields.timeGenerated);
    writeLe32(h + 20, fields.eventId);
    writeLe16(h + 24, fields.eventType);
    writeLe16(h + 26, stringCount);
    writeLe16(h + 28, fields.category);
    writeLe16(h + 30, 0); // reserved flags
    writeLe32(h + 32, 0); // closing record number
    writeLe32(h + 36, at.stringOffset);
    writeLe32(h + 40, sidBytes);
    writeLe32(h + 44, at.sidOffset);
    writeLe32(h + 48, dataBytes);
    writeLe32(h + 52, at.dataOffset);
    writeLe32(h + at.length - 4, at.length);
}

} // namespace

int appendEvtRecord(const EvtRecordFields& fields, const EvtRecordParts& parts,
                    uint32_t recordNumber, std::vector<uint8_t>& r) {
    // Each part checked before it is added: the sums stay far from wrapping.
    const uint64_t kMost = kLargestEventRecord;
    if (parts.source.size() > kMost || parts.computer.size() > kMost ||
        parts.userSid.size() > kMost || parts.data.size() > kMost || parts.strings.size() > 0xFFFF)
        return 0;
    uint64_t stringBytes = 0;
    for (const std::u16string& s : parts.strings) {
        if (s.size() > kMost || stringBytes > kMost)
            return 0;
        stringBytes += 2 * uint64_t(s.size()) + 2;
    }
    EvtRecordLayout at;
    if (!layOutEvtRecord(2 * uint64_t(parts.source.size()), 2 * uint64_t(parts.computer.size()),
                         parts.userSid.size(), stringBytes, parts.data.size(), at))
        return 0;
    const size_t start = r.size();
    r.resize(start + at.length);
    uint8_t* h = r.data() + start;
    const uint32_t sidBytes = static_cast<uint32_t>(parts.userSid.size());
    const uint32_t dataBytes = static_cast<uint32_t>(parts.data.size());
    writeFrame(fields, at, recordNumber, sidBytes, static_cast<uint16_t>(parts.strings.size()),
               dataBytes, h);
    putZeroTerminated(putZeroTerminated(h + kEventRecordHeaderSize, parts.source), parts.computer);
    std::copy(parts.userSid.begin(), parts.userSid.end(), h + at.sidOffset);
    uint8_t* text = h + at.stringOffset;
    for (const std::u16string& s : parts.strings)
        text = putZeroTerminated(text, s);
    std::copy(parts.data.begin(), parts.data.end(), h + at.dataOffset);
    return 1;
}

void writeEvtRecord(const EvtRecordFields& fields, const EvtRecordBlocks& b,
                    const EvtRecordLayout& at, uint32_t recordNumber, uint8_t* h) {
    writeFrame(fields, at, recordNumber, static_cast<uint32_t>(b.userSid.size),
               static_cast<uint16_t>(b.stringCount), static_cast<uint32_t>(b.data.size), h);
    uint8_t* names = h + kEventRecordHeaderSize;
    copyRecordPart(names, b.source.bytes, b.source.size);
    names += b.source.size;
    names[0] = names[1] = 0;
    copyRecordPart(names + 2, b.computer.bytes, b.computer.size);
    names += 2 + b.computer.size;
    names[0] = names[1] = 0;
    copyRecordPart(h + at.sidOffset, b.userSid.bytes, b.userSid.size);
    copyRecordPart(h + at.stringOffset, b.strings.bytes, b.strings.size);
    copyRecordPart(h + at.dataOffset, b.data.bytes, b.data.size);
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
