// The XML event log file (.evtx) of every Windows since Vista: a 4 KiB file header, then 64 KiB
// chunks, each with its own header, the names and templates its records share, and records of
// binary XML. Each record is handed out as the EVENTLOGRECORD Windows' legacy API gives for it.
#pragma once

#include "binxml.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr uint32_t kEvtxHeaderBlock = 0x1000;
constexpr uint32_t kEvtxChunkSize = 0x10000;
constexpr uint32_t kEvtxChunkHeaderSize = 0x200;
constexpr uint32_t kEvtxRecordSignature = 0x00002a2a;
constexpr uint32_t kEvtxFlagDirty = 0x1;
constexpr uint32_t kEvtxFlagNoChecksums = 0x4;

// Whether bytes begin like a .evtx file.
int isEvtxSignature(const uint8_t* bytes, size_t size);

// Where a walk over the records is: records come newest first (or oldest first), by record
// identifier across the chunks, the way the log wrapped.
struct EvtxCursor {
    int backwards = 1;
    size_t chunk = 0;    // among the chunks in the walk's order
    size_t record = 0;   // among the records of that chunk, in the walk's order
    uint64_t lastId = 0; // of the record last given; 0 before the first
    int ended = 0;       // at the end, or at a record that cannot be decoded
};

class EvtxFile {
  public:
    EvtxFile();
    ~EvtxFile();
    EvtxFile(const EvtxFile&) = delete;
    EvtxFile& operator=(const EvtxFile&) = delete;

    // A file in memory, or an open file whose chunks are read as a walk reaches them (the
    // descriptor stays the caller's). Checks the file header and reads the chunk headers,
    // passing over chunks whose signature or header checksum fails. 0 when it is no .evtx file.
    int load(std::vector<uint8_t> bytes);
    int open(int fd);

    // The next record of the walk into out: 1; 0 at the end; -1 where a record of a sound chunk
    // cannot be decoded, which ends the walk. A chunk whose data checksum fails (in a file that
    // keeps checksums) is passed over whole when the walk reaches it.
    int next(EvtxCursor& cursor, std::vector<uint8_t>& out);

    size_t chunkCount() const { return chunkCount_; }
    // Chunks passed over for a bad signature or checksum, so far (not those never written).
    const std::vector<size_t>& skippedChunks() const { return skipped_; }

  private:
    struct Entry {
        uint64_t id;
        uint32_t offset; // of the record in its chunk
        uint32_t size;   // 0: a record whose frame is broken
    };
    int readAt(uint64_t offset, uint8_t* out, size_t size) const;
    int chunkHeaderIsSound(const uint8_t* header) const;
    // Reads chunk order_[i] and its records; 0 when its data fails the checksum.
    int loadChunk(size_t i);
    void skip(size_t chunk);

    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
    std::vector<uint8_t> bytes_; // the whole file, when it was given in memory
    int fd_ = -1;
    uint64_t fileSize_ = 0;
    int checksums_ = 1;
    size_t chunkCount_ = 0;
    std::vector<size_t> order_; // sound chunks, newest records first
    std::vector<size_t> skipped_;
    // The chunk last read: its index among order_, its bytes and records (file order).
    size_t loaded_ = static_cast<size_t>(-1);
    int loadedSound_ = 0;
    std::vector<uint8_t> chunk_;
    std::vector<Entry> records_;
};

// The legacy record of an event (the mapping Windows' ReadEventLogW applies) into out; fields
// holds its numbers on the way.
struct EvtRecordFields;
void buildLegacyRecord(const EvtxEvent& event, uint64_t writtenTime, uint32_t recordNumber,
                       EvtRecordFields& fields, std::vector<uint8_t>& out);
