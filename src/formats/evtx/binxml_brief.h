// The short record of a record read straight from its template's values, for the records that
// nearly every chunk holds: one instance of a template whose plan the chunk's cache has.
#pragma once

#include "binxml.h"
#include "formats/evt/event_record.h"

#include <cstdint>

// What a short record holds of an event: its source and computer names and data where they lie
// in the chunk, and the sizes alone of the parts of the full record it leaves out; their layout,
// the event ID, the time the event was created (a FILETIME) and System/EventRecordID (0 when the
// event has none).
struct EvtxBrief {
    EvtRecordBlocks blocks; // the SID and strings without their bytes
    EvtRecordLayout layout;
    uint32_t eventId;
    uint64_t timeCreated;
    uint64_t recordId;
};

// The brief of a record, [offset, end) of its chunk, for a record that is one instance of a
// template whose plan cache has for the chunk, with values of the types the plan's quick steps
// take and no more than a brief shows, whose short record can be laid out: its cost is taken from
// budget as decodeEventXml takes it. 0 for any other record, and for one that the budget or a
// record's bounds would stop, with nothing taken: decodeEventXml then decodes it (or fails) as
// ever. For a record given a brief, decodeEventXml makes the event whose short record it is.
int decodeEventBrief(const uint8_t* chunk, uint32_t chunkSize, uint32_t offset, uint32_t end,
                     TemplateCache& cache, uint32_t chunkId, DecodeBudget& budget,
                     EvtxBrief& brief);
