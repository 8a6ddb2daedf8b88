// The XML event log file (.evtx) of every Windows since Vista: a 4 KiB file header, then 64 KiB
// chunks, each with its own header, the names and templates its records share, and records of
// binary XML. Each record is handed out as the EVENTLOGRECORD Windows' legacy API gives for it.
#pragma once

#include "binxml.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kEvtxHeaderBlock = 0x1000;
constexpr uint32_t kEvtxChunkSize = 0x10000;
constexpr uint32_t kEvtxChunkHeaderSize = 0x200;
constexpr uint32_t kEvtxRecordSignature = 0x00002a2a;
constexpr uint32_t kEvtxFlagDirty = 0x1;
constexpr uint32_t kEvtxFlagNoChecksums = 0x4;

// Whether bytes begin like a .evtx file.
int isEvtxSignature(const uint8_t* bytes, size_t size);

class EvtxFile {
  public:
    // Takes the file, checks its header, passes over every chunk whose signature or checksums
    // fail (checksums only where the file keeps them), and orders the records of the sound
    // chunks by record identifier, newest first. 0 when it is no .evtx file.
    int load(std::vector<uint8_t> bytes);

    // Records, newest first; a framing error inside a sound chunk counts as one more record
    // that cannot be decoded, in the place of the record it broke.
    size_t recordCount() const { return records_.size(); }
    // The EVENTLOGRECORD of record i into out; 0 when it cannot be decoded.
    int decodeRecord(size_t i, std::vector<uint8_t>& out) const;
    uint64_t recordId(size_t i) const { return records_[i].id; }

    size_t chunkCount() const { return chunkCount_; }
    // Chunks passed over for a bad signature or checksum (not those never written).
    const std::vector<size_t>& skippedChunks() const { return skipped_; }

    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    struct Entry {
        uint64_t id;
        uint32_t offset; // of the record in the file
        uint32_t size;   // 0: a record that cannot be framed
    };
    int chunkIsSound(size_t chunk, int checksums) const;
    void collectRecords(size_t chunk);

    std::vector<uint8_t> bytes_;
    std::vector<Entry> records_;
    std::vector<size_t> skipped_;
    size_t chunkCount_ = 0;
};

// The legacy record fields of an event (the mapping Windows' ReadEventLogW applies).
struct EvtRecordFields;
void legacyFieldsOf(const EvtxEvent& event, uint64_t writtenTime, EvtRecordFields& fields);
