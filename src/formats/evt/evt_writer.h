// Appending records to a .evt file as the event log service does (Linux).
#pragma once

#include "event_record.h"

#include <string>
#include <vector>

constexpr uint32_t kDefaultEvtMaxSize = 16u << 20;

// Appends the records in order, creating the file (and its directory) when missing with the
// given maximum size. While the log is smaller than its maximum the file grows; after that the
// oldest whole records are overwritten and the log wraps around. The file is locked for the
// whole append, and a log that cannot be read whole is left untouched. A new log's first record
// is numbered firstRecordIfNew; an existing log goes on with its own numbers.
// 1 on success; otherwise 0 and *error says why.
int appendEvtRecords(const std::string& path, const std::vector<EvtRecordFields>& records,
                     uint32_t maxSizeIfNew, std::string* error, uint32_t firstRecordIfNew = 1);
