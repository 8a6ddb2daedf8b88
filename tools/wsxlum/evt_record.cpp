#include "evt_record.h"

#include "formats/little_endian.h"

std::vector<uint8_t> sessionPayload(uint32_t sessionId, const std::u16string& names) {
    std::vector<uint8_t> p(8, 0);
    appendZeroTerminated(p, names);
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
