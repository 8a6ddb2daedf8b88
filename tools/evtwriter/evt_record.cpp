#include "evt_record.h"

#include "little_endian.h"
#include "platform.h"

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
    std::vector<uint8_t> r(56, 0);
    appendString(r, fields.source);
    appendString(r, fields.computer);
    padToFour(r);
    uint32_t sidOffset = static_cast<uint32_t>(r.size());
    uint32_t dataOffset = sidOffset;
    r.insert(r.end(), fields.data.begin(), fields.data.end());
    padToFour(r);
    uint32_t length = static_cast<uint32_t>(r.size()) + 4;
    r.resize(length);
    uint8_t* h = r.data();
    writeLe32(h, length);
    writeLe32(h + 4, 0x654c664c);
    writeLe32(h + 8, recordNumber);
    writeLe32(h + 12, fields.timeGenerated);
    writeLe32(h + 16, fields.timeWritten ? fields.timeWritten : fields.timeGenerated);
    writeLe32(h + 20, fields.eventId);
    writeLe16(h + 24, fields.eventType);
    writeLe16(h + 26, 0); // strings
    writeLe16(h + 28, fields.category);
    writeLe32(h + 36, sidOffset); // StringOffset: no strings, so where they would start
    writeLe32(h + 40, 0);         // UserSidLength
    writeLe32(h + 44, sidOffset);
    writeLe32(h + 48, static_cast<uint32_t>(fields.data.size()));
    writeLe32(h + 52, dataOffset);
    writeLe32(h + length - 4, length);
    return r;
}

std::vector<uint8_t> sessionPayload(uint32_t sessionId, const std::u16string& names) {
    std::vector<uint8_t> p(8, 0);
    appendString(p, names);
    writeLe32(p.data(), static_cast<uint32_t>(p.size()));
    writeLe32(p.data() + 4, sessionId);
    return p;
}

EvtRecordFields sessionRecord(uint32_t kind, uint32_t time, uint32_t sessionId,
                              const std::u16string& names) {
    EvtRecordFields fields;
    fields.source = u"wsxlum";
    fields.eventId = kind;
    fields.timeGenerated = time;
    if (kind == kEvtLogon || kind == kEvtLogoff)
        fields.data = sessionPayload(sessionId, names);
    return fields;
}

std::u16string toU16(const std::string& utf8) {
    WString units = utf8ToUtf16(utf8);
    return std::u16string(units.begin(), units.end());
}

std::string fromU16(const std::u16string& text) {
    WString units(text.begin(), text.end());
    std::string out;
    appendUtf8(out, units.data(), units.size());
    return out;
}
