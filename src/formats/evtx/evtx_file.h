// The XML event log file (.evtx) of every Windows since Vista: a 4 KiB file header, then 64 KiB
// chunks, each with its own header, the names and templates its records share, and records of
// binary XML. Each record is handed out as the EVENTLOGRECORD Windows' legacy API gives for it,
// or as its short record.
#pragma once

#include "binxml.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

constexpr uint32_t kEvtxHeaderBlock = 0x1000;
constexpr uint32_t kEvtxChunkSize = 0x10000;
constexpr uint32_t kEvtxChunkHeaderSize = 0x200;
constexpr uint32_t kEvtxRecordSignature = 0x00002a2a;
constexpr uint32_t kEvtxFlagDirty = 0x1;
constexpr uint32_t kEvtxFlagNoChecksums = 0x4;

// Whether bytes begin like a .evtx file.
int isEvtxSignature(const uint8_t* bytes, size_t size);

// A chunk's place in a walk: 0 is the first chunk the walk reads, whichever way it goes.
struct WalkPos {
    size_t index;
};
// A chunk's place in the file: its index among the 64 KiB blocks after the file header.
struct FileChunk {
    size_t index;
};

// Where a walk over the records is: records come newest first (or oldest first), by record
// identifier across the chunks, the way the log wrapped.
struct EvtxCursor {
    int backwards = 1;
    WalkPos chunk = {0};
    size_t record = 0;   // among the records of that chunk, in the walk's order
    uint64_t lastId = 0; // of the record last given in order, once inOrder
    int inOrder = 0;     // a record was given in order (whatever its identifier, 0 too)
    int ended = 0;       // at the end, or at a record that cannot be decoded
    int broken = 0;      // ended at a record that cannot be decoded
    // Records given aside: those of damaged chunks that no sound chunk header names, given
    // where their chunk is read, out of the walk's order.
    std::set<uint64_t> asideGiven;
    // What decoding the records the walk passed cost: those of the batches before the one it is
    // in, and those of that batch (whose first record is batchFirst) so far.
    DecodeWork spent;
    DecodeWork inBatch;
    size_t batchFirst = 0;
};

// Records (legacy or short) one after another, each written whole where it is appended: memory that
// is written before it is read, so it grows without being zeroed.
class RecordBytes {
  public:
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    void swap(RecordBytes& other) {
        bytes_.swap(other.bytes_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    // Room for size more bytes at the end, for the caller to write whole.
    uint8_t* extend(size_t size) {
        if (capacity_ - size_ < size)
            makeRoom(size);
        uint8_t* at = bytes_.get() + size_;
        size_ += size;
        return at;
    }

  private:
    void makeRoom(size_t size);

    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0, capacity_ = 0;
};

// Records of one chunk of a walk, from one of them on, decoded: what a walk takes them from.
struct EvtxBatch {
    struct Record {
        uint64_t id;
        uint32_t offset; // of its record in bytes
        uint32_t length;
        // 1 decoded; -1 it cannot be decoded; 2 and -2 the same for a record of a damaged chunk
        // outside the range a sound header of its chunk names, given aside (see EvtxCursor).
        int state;
        // Records right after it that a walk gives right after it (decoded, each beyond the one
        // before in the walk's order, in a batch not damaged): their bytes follow its own.
        uint32_t follow;
        // What decoding the batch's records cost, up to this one and with it.
        uint32_t nodes, bytes;
    };
    WalkPos chunk = {static_cast<size_t>(-1)};
    int backwards = 1;
    size_t first = 0; // the place in the chunk (as EvtxCursor::record) of records[0]
    int sound = 0;    // 0: the chunk is passed over (its header is unreadable)
    int damaged = 0;  // it fails a checksum: a record that cannot be decoded ends the chunk
    // A damaged chunk whose flaws are those of the chunk a running Windows writes (a dirty log's
    // current chunk: stale checksums and header, its newest record cut off): no damage.
    int live = 0;
    int last = 1; // no more records of the chunk follow
    std::vector<Record> records;
    RecordBytes bytes;
};

// What a walk gives next: a record, its end, or a record that cannot be decoded, which ends it.
enum class WalkStep { Record, End, Broken };
// What a batch gives a walk next: a record; nothing more (the walk goes on with the next batch,
// or past the chunk's last record with the next chunk); or a record that ends the walk.
enum class BatchStep { Record, Exhausted, Broken };

// A batch ends once its records fill this much, and a chunk takes several (records that expand
// far beyond the chunk's own bytes never gather whole).
constexpr size_t kEvtxBatchBytes = 256 << 10;

// Memory a huge record took is given back rather than kept for the rest of the walk.
void keepLittle(RecordBytes& bytes);

// What decoding reuses from one chunk to the next: each thread that decodes has its own.
class EvtxDecoder {
  public:
    EvtxDecoder();
    ~EvtxDecoder();
    EvtxDecoder(const EvtxDecoder&) = delete;
    EvtxDecoder& operator=(const EvtxDecoder&) = delete;

  private:
    friend class EvtxFile;
    struct Entry {
        uint64_t id;
        uint32_t offset; // of the record in its chunk
        uint32_t size;
    };
    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
    // The chunk last read: its place in the file, its bytes and records (identifier order).
    FileChunk loaded_ = {static_cast<size_t>(-1)};
    int loadedSound_ = 0;
    int loadedDamaged_ = 0;
    int loadedLive_ = 0;    // its flaws are those of a live log's current chunk
    int loadedClaimed_ = 0; // its header's checksum holds: the range it names is sound
    std::vector<uint8_t> chunk_;
    std::vector<Entry> entries_;
    DecodeBudget budget_; // what the loaded chunk's records may still cost
    DecodeWork work_;     // what every record it decoded cost
};

class EvtxFile {
  public:
    EvtxFile();
    ~EvtxFile();
    EvtxFile(const EvtxFile&) = delete;
    EvtxFile& operator=(const EvtxFile&) = delete;

    // A file in memory, or an open file whose chunks are read as a walk reaches them (the
    // descriptor stays the caller's). Checks the file header and reads the chunk headers,
    // passing over chunks whose signature or free space is wrong. 0 when it is no .evtx file.
    int load(std::vector<uint8_t> bytes);
    int open(int fd);

    // The next record of the walk into out; Broken once a record of a sound chunk could not be
    // decoded, which ends the walk. A chunk that fails its header or data checksum
    // (in a file that keeps checksums) is read as far as its records decode, and so is one whose
    // records stop being framed; the walk then goes on with the next chunk.
    WalkStep next(EvtxCursor& cursor, std::vector<uint8_t>& out);
    // The same without the copy: the record the cursor is at and its bytes (valid until the walk
    // that way moves on), for take() to pass.
    // The usual record, the next of the batch held, is given here; peekBatches sees to the rest.
    WalkStep peek(EvtxCursor& cursor, const EvtxBatch::Record** record, const uint8_t** bytes) {
        const EvtxBatch& held = batches_[cursor.backwards ? 0 : 1];
        if (held.chunk.index == cursor.chunk.index && cursor.chunk.index < order_.size() &&
            held.backwards == cursor.backwards && quickStep(cursor, held, record)) {
            *bytes = held.bytes.data() + (*record)->offset;
            return WalkStep::Record;
        }
        return peekBatches(cursor, record, bytes);
    }

    // The parts of next(), for a walk whose batches are decoded on other threads.
    // The chunks a walk goes through.
    size_t walkLength() const { return order_.size(); }
    // The batch of the walk's chunk from its record first on, ended once it holds budget bytes,
    // or once its records cost more than most (the walk's allowance left, where the walk is
    // known). Threads may decode at once, each with its own decoder, while the file is neither
    // loaded nor opened again.
    void decode(WalkPos chunk, int backwards, size_t first, EvtxDecoder& decoder, EvtxBatch& out,
                size_t budget = kEvtxBatchBytes, DecodeWork most = {UINT64_MAX, UINT64_MAX}) const;
    // The record the cursor is at, from the batch that holds it, for take() to pass; Broken at
    // a record that ends the walk, and whenever the walk ended so. A walk ends too at the first
    // record whose cost would take it past the file's allowance (allowance()).
    BatchStep step(EvtxCursor& cursor, const EvtxBatch& batch, const EvtxBatch::Record** record);
    // The usual step, as step() takes it: the record of a sound, undamaged batch the cursor is at,
    // when it is one the walk gives; 0 for anything else, which step() then sees to.
    int quickStep(const EvtxCursor& cursor, const EvtxBatch& batch,
                  const EvtxBatch::Record** record) const {
        const size_t at = cursor.record - batch.first; // huge before the batch
        if (cursor.ended || !batch.sound || batch.damaged || at >= batch.records.size() ||
            batch.first != cursor.batchFirst)
            return 0;
        const EvtxBatch::Record& r = batch.records[at];
        if (r.state < 0 || !affords(cursor, r) || isBehind(cursor, r.id))
            return 0;
        *record = &r;
        return 1;
    }
    // Whether the walk's allowance pays for the records of the cursor's batch up to record.
    int affords(const EvtxCursor& cursor, const EvtxBatch::Record& record) const {
        return cursor.spent.nodes + record.nodes <= allowance_.nodes &&
               cursor.spent.bytes + record.bytes <= allowance_.bytes;
    }
    static void take(EvtxCursor& cursor, const EvtxBatch::Record& record) {
        takeRun(cursor, record, 0);
    }
    // The same for record and the count records that follow it (count at most its follow, each
    // afforded).
    static void takeRun(EvtxCursor& cursor, const EvtxBatch::Record& record, size_t count) {
        cursor.record += 1 + count;
        const EvtxBatch::Record& last = (&record)[count];
        if (last.state == 2)
            cursor.asideGiven.insert(last.id); // the walk's place stays where it is
        else {
            cursor.lastId = last.id;
            cursor.inOrder = 1;
        }
        cursor.inBatch = {last.nodes, last.bytes};
    }
    // Whether a record in order is no further along the walk than the one last given: a copy.
    static int isBehind(const EvtxCursor& cursor, uint64_t id) {
        return cursor.inOrder && (cursor.backwards ? id >= cursor.lastId : id <= cursor.lastId);
    }
    // Where a walk's chunks are done: its end, or Broken when a record ended it.
    static WalkStep finish(EvtxCursor& cursor) {
        cursor.ended = 1;
        return cursor.broken ? WalkStep::Broken : WalkStep::End;
    }

    // Records are given as short records (see event_record.h) rather than legacy ones: the
    // batches held are dropped, and those decoded from now on hold short records. Set before the
    // first walk, and never while threads decode.
    void giveShortRecords(int on) {
        shortRecords_ = on;
        batches_[0] = EvtxBatch();
        batches_[1] = EvtxBatch();
    }

    size_t chunkCount() const { return chunkCount_; }
    // What decoding may cost each walk: a chunk's budget, and kWalkWorkPerChunk for each chunk.
    DecodeWork allowance() const { return allowance_; }
    // What the records decoded on this thread (by next() and peek()) cost, every walk's.
    DecodeWork decodedWork() const { return decoder_.work_; }
    // Chunks passed over for a bad header, so far (not those never written).
    const std::vector<size_t>& skippedChunks() const { return skipped_; }
    // Chunks read only as far as their records decode (a checksum fails, or a frame breaks), so
    // far; not a dirty log's current chunk whose only flaws are those of a live log.
    const std::vector<size_t>& damagedChunks() const { return damaged_; }
    // The damage the walks met, in words for a diagnostic line; empty when there was none.
    std::string damageText() const;

  private:
    WalkStep peekBatches(EvtxCursor& cursor, const EvtxBatch::Record** record,
                         const uint8_t** bytes);
    DecodeWork left(const EvtxCursor& cursor) const;
    int readAt(uint64_t offset, uint8_t* out, size_t size) const;
    int nextData(uint64_t offset, uint64_t* start, uint64_t* end) const;
    static int chunkHeaderIsFramed(const uint8_t* header);
    int chunkHeaderChecksumHolds(const uint8_t* header) const;
    // Reads a chunk and its records into the decoder; 0 when its header is unreadable.
    int loadChunk(FileChunk chunk, EvtxDecoder& decoder) const;
    // Whether a sound chunk header names the record identifier.
    int isClaimed(uint64_t id) const;
    // Whether the walk gives a record it meets in a damaged chunk, aside, from the walk's order.
    int givesAside(const EvtxCursor& cursor, uint64_t id) const {
        return !isClaimed(id) && cursor.asideGiven.count(id) == 0;
    }
    // The chunk a walk that way reads at pos: order_ is newest first, a walk forwards reads it
    // from its end.
    FileChunk fileChunkAt(WalkPos pos, int backwards) const {
        return {order_[backwards ? pos.index : order_.size() - 1 - pos.index]};
    }

    std::vector<uint8_t> bytes_; // the whole file, when it was given in memory
    int fd_ = -1;
    uint64_t fileSize_ = 0;
    int checksums_ = 1;
    int shortRecords_ = 0;
    size_t chunkCount_ = 0;
    DecodeWork allowance_;
    std::vector<size_t> order_; // the sound chunks' places in the file, newest records first
    // The record identifiers that chunk headers whose checksum holds name: (first, last),
    // ascending and apart.
    std::vector<std::pair<uint64_t, uint64_t>> claimed_;
    size_t liveChunk_ = static_cast<size_t>(-1); // a dirty log's current chunk
    std::vector<size_t> skipped_;
    std::vector<size_t> damaged_;
    // What next() decodes with, and its batch for each way.
    EvtxDecoder decoder_;
    EvtxBatch batches_[2];
};

// The legacy record of an event (the mapping Windows' ReadEventLogW applies) appended to out;
// fields holds its numbers on the way.
struct EvtRecordFields;
// The legacy record's RecordNumber: the event's System/EventRecordID, or the chunk's identifier
// of the record when the event has none.
inline uint32_t legacyRecordNumber(uint64_t eventRecordId, uint64_t chunkRecordId) {
    return static_cast<uint32_t>(eventRecordId ? eventRecordId : chunkRecordId);
}
// 0 when it would be larger than a reader takes.
int buildLegacyRecord(const EvtxEvent& event, uint64_t writtenTime, uint32_t recordNumber,
                      EvtRecordFields& fields, RecordBytes& out);
// The same as a short record (see event_record.h), 0 where the legacy record would be.
int buildShortRecord(const EvtxEvent& event, uint32_t recordNumber, RecordBytes& out);
// The short record of a brief appended to out.
struct EvtxBrief;
void writeShortRecord(const EvtxBrief& brief, uint32_t recordNumber, RecordBytes& out);
