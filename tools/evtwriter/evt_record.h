// Building EVENTLOGRECORDs as the event log service writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EvtRecordFields {
    std::u16string source;
    std::u16string computer = u"VLMHOST";
    uint32_t eventId = 0;
    uint16_t eventType = 4; // information
    uint16_t category = 0;
    uint32_t timeGenerated = 0;
    uint32_t timeWritten = 0; // 0: the same as timeGenerated
    std::vector<uint8_t> data;
};

// Header, source and computer names, no user SID and no strings, the data, padding to four
// bytes and the length repeated at the end.
std::vector<uint8_t> buildEvtRecord(const EvtRecordFields& fields, uint32_t recordNumber);

// The payload of a logon or logoff: size, session number, 'session\domain\user' and its zero.
std::vector<uint8_t> sessionPayload(uint32_t sessionId, const std::u16string& names);

enum : uint32_t { kEvtReboot = 1, kEvtLogon = 2, kEvtLogoff = 3 };

// A record of the source wsxlum: a reboot (no payload) or a logon or logoff with its payload.
EvtRecordFields sessionRecord(uint32_t kind, uint32_t time, uint32_t sessionId = 0,
                              const std::u16string& names = u"");

std::u16string toU16(const std::string& utf8);
std::string fromU16(const std::u16string& text);
