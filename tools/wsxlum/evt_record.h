// The records of the source wsxlum, and text helpers, for the writer and the tests.
#pragma once

#include "formats/evt/event_record.h"
#include "formats/utf16.h"

#include <cstdint>
#include <string>
#include <vector>

// The payload of a logon or logoff: size, session number, 'session\domain\user' and its zero.
std::vector<uint8_t> sessionPayload(uint32_t sessionId, const std::u16string& names);

enum : uint32_t { kEvtReboot = 1, kEvtLogon = 2, kEvtLogoff = 3 };

// A record of the source wsxlum: a reboot (no payload) or a logon or logoff with its payload.
EvtRecordFields sessionRecord(uint32_t kind, uint32_t time, uint32_t sessionId = 0,
                              const std::u16string& names = u"");
