// Writing .evtx files as Windows writes the Application log: 64 KiB chunks with checksums, and
// in each chunk one template for the classic event shape, defined by its first record and
// instantiated by every record with the record's values.
#pragma once

#include "formats/evt/event_record.h"

#include <string>
#include <vector>

// The whole file for the records, in order, numbered from firstRecordId.
std::vector<uint8_t> buildEvtxFile(const std::vector<EvtRecordFields>& records,
                                   uint64_t firstRecordId = 1);

// Writes a new file (and its directory), the records numbered from firstRecordId; an existing
// file is left as it is: .evtx logs are written whole. 1 on success; otherwise 0 and *error says
// why.
int writeEvtxFile(const std::string& path, const std::vector<EvtRecordFields>& records,
                  std::string* error, uint64_t firstRecordId = 1);
