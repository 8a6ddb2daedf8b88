#include "evtx_file.h"

#include "binxml_brief.h"
#include "crc32.h"
#include "formats/evt/event_record.h"
#include "formats/file_io.h"
#include "formats/little_endian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

const char kFileSignature[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', 0};
const char kChunkSignature[8] = {'E', 'l', 'f', 'C', 'h', 'n', 'k', 0};

uint64_t readLe64(const uint8_t* p) {
    return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32;
}

} // namespace

// The memory grows by half again at least; what is held is kept.
void RecordBytes::makeRoom(size_t size) {
    const size_t capacity = std::max(size_ + size, capacity_ + capacity_ / 2);
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[capacity]);
    if (size_ > 0)
        std::memcpy(bytes.get(), bytes_.get(), size_);
    bytes_.swap(bytes);
    capacity_ = capacity;
}

void keepLittle(RecordBytes& bytes) {
    if (bytes.capacity() > 2 * kEvtxBatchBytes)
        RecordBytes().swap(bytes);
}

int isEvtxSignature(const uint8_t* bytes, size_t size) {
    return size >= sizeof kFileSignature &&
           std::memcmp(bytes, kFileSignature, sizeof kFileSignature) == 0;
}

// What decoding one record after another reuses.
struct EvtxDecoder::Scratch {
    EvtxBrief brief;
    EvtxEvent event;
    EvtRecordFields fields;
    TemplateCache templates;
};

EvtxDecoder::EvtxDecoder() : scratch_(new Scratch) {}
EvtxDecoder::~EvtxDecoder() = default;

EvtxFile::EvtxFile() = default;
EvtxFile::~EvtxFile() = default;

int EvtxFile::readAt(uint64_t offset, uint8_t* out, size_t size) const {
    if (fd_ >= 0)
        return ::readAt(fd_, offset, out, size); // 0 when cut short since it was opened
    if (offset > bytes_.size() || bytes_.size() - offset < size)
        return 0;
    std::memcpy(out, bytes_.data() + offset, size);
    return 1;
}

int EvtxFile::chunkHeaderIsFramed(const uint8_t* c) {
    if (std::memcmp(c, kChunkSignature, sizeof kChunkSignature) != 0)
        return 0;
    uint32_t freeSpace = readLe32(c + 48);
    return freeSpace >= kEvtxChunkHeaderSize && freeSpace <= kEvtxChunkSize;
}

int EvtxFile::chunkHeaderChecksumHolds(const uint8_t* c) const {
    return !checksums_ ||
           crc32(c + 128, kEvtxChunkHeaderSize - 128, crc32(c, 120)) == readLe32(c + 124);
}

namespace {

void note(std::vector<size_t>& chunks, size_t chunk) {
    auto at = std::lower_bound(chunks.begin(), chunks.end(), chunk);
    if (at == chunks.end() || *at != chunk)
        chunks.insert(at, chunk);
}

// Ranges of identifiers sorted and joined where they overlap or touch; empty ones dropped.
void claim(std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    std::sort(ranges.begin(), ranges.end());
    size_t kept = 0;
    for (const std::pair<uint64_t, uint64_t>& r : ranges) {
        if (r.first > r.second)
            continue;
        if (kept > 0 &&
            (ranges[kept - 1].second == UINT64_MAX || r.first <= ranges[kept - 1].second + 1))
            ranges[kept - 1].second = std::max(ranges[kept - 1].second, r.second);
        else
            ranges[kept++] = r;
    }
    ranges.resize(kept);
}

// Whether the frame that breaks at pos, in a chunk whose records are written up to end, ends
// the records that were written whole: what follows is a newest record being written, or
// nothing yet, as no record signature follows.
int isCutOff(const uint8_t* c, uint32_t pos, uint32_t end) {
    for (uint32_t at = pos + 1; at + 4 <= end; ++at)
        if (readLe32(c + at) == kEvtxRecordSignature)
            return 0;
    return 1;
}

} // namespace

int EvtxFile::load(std::vector<uint8_t> bytes) {
    bytes_ = std::move(bytes);
    fd_ = -1;
    fileSize_ = bytes_.size();
    return open(-1);
}

// Where the file's data goes on from offset: its start and end; 0 when only a hole follows.
// Where the system cannot tell, all of the file is data.
int EvtxFile::nextData(uint64_t offset, uint64_t* start, uint64_t* end) const {
    if (fd_ >= 0)
        return ::nextData(fd_, offset, start, end);
    *start = offset;
    *end = UINT64_MAX;
    return 1;
}

// The chunk headers, read once: which chunks are sound, and their order by record identifier. A
// chunk whose header fails its checksum is placed by the records it holds: its header's numbers
// may be stale (a live log's) or wrong. A hole in a sparse file costs nothing: its chunks were
// never written.
int EvtxFile::open(int fd) {
    if (fd >= 0) {
        uint64_t size = 0;
        if (!fileSize(fd, &size))
            return 0;
        bytes_.clear();
        fd_ = fd;
        fileSize_ = size;
    }
    order_.clear();
    claimed_.clear();
    skipped_.clear();
    damaged_.clear();
    decoder_.loaded_ = {static_cast<size_t>(-1)};
    batches_[0].chunk = batches_[1].chunk = {static_cast<size_t>(-1)};
    chunkCount_ = 0;
    uint8_t header[kEvtxChunkHeaderSize];
    if (!readAt(0, header, 128) || !isEvtxSignature(header, 128))
        return 0;
    checksums_ = !(readLe32(header + 120) & kEvtxFlagNoChecksums);
    const uint64_t current = readLe64(header + 16);
    liveChunk_ = (readLe32(header + 120) & kEvtxFlagDirty) && current < static_cast<size_t>(-1)
                     ? static_cast<size_t>(current)
                     : static_cast<size_t>(-1);
    // A last chunk cut short (a log copied while it grew) counts once its header is whole: its
    // records are read as far as they go.
    if (fileSize_ > kEvtxHeaderBlock) {
        uint64_t chunks = fileSize_ - kEvtxHeaderBlock;
        chunkCount_ = static_cast<size_t>(chunks / kEvtxChunkSize +
                                          (chunks % kEvtxChunkSize >= kEvtxChunkHeaderSize));
    }
    std::vector<std::pair<uint64_t, size_t>> newest; // (last record identifier, chunk)
    static const uint8_t kUnused[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    uint64_t dataEnd = 0; // the data found ends here: the chunk headers before it are read
    for (size_t chunk = 0; chunk < chunkCount_; ++chunk) {
        uint64_t at = kEvtxHeaderBlock + static_cast<uint64_t>(chunk) * kEvtxChunkSize;
        if (at >= dataEnd) {
            uint64_t data = at;
            if (!nextData(at, &data, &dataEnd))
                break;       // a hole to the end
            if (data > at) { // a chunk whose header lies in a hole was never written
                chunk = static_cast<size_t>((data - kEvtxHeaderBlock - 1) / kEvtxChunkSize);
                continue;
            }
        }
        if (!readAt(at, header, sizeof header))
            break;
        if (!chunkHeaderIsFramed(header)) {
            if (std::memcmp(header, kUnused, sizeof kUnused) != 0)
                note(skipped_, chunk); // damaged, rather than never written
            continue;
        }
        uint64_t last = readLe64(header + 32);
        if (chunkHeaderChecksumHolds(header))
            claimed_.push_back({readLe64(header + 24), last});
        else // by the newest record framed in it
            last = loadChunk({chunk}, decoder_) && !decoder_.entries_.empty()
                       ? decoder_.entries_.back().id
                       : 0;
        newest.push_back({last, chunk});
    }
    decoder_.loaded_ = {static_cast<size_t>(-1)};
    claim(claimed_);
    // Newest first across the chunks, however the log wrapped.
    std::stable_sort(newest.begin(), newest.end(),
                     [](const std::pair<uint64_t, size_t>& a,
                        const std::pair<uint64_t, size_t>& b) { return a.first > b.first; });
    for (const std::pair<uint64_t, size_t>& n : newest)
        order_.push_back(n.second);
    const DecodeBudget chunk;
    allowance_ = {chunk.nodes + chunkCount_ * kWalkWorkPerChunk.nodes,
                  chunk.bytes + chunkCount_ * kWalkWorkPerChunk.bytes};
    return 1;
}

int EvtxFile::isClaimed(uint64_t id) const {
    auto after = std::upper_bound(claimed_.begin(), claimed_.end(), id,
                                  [](uint64_t value, const std::pair<uint64_t, uint64_t>& range) {
                                      return value < range.first;
                                  });
    return after != claimed_.begin() && id <= (after - 1)->second;
}

// The records of a chunk, up to its free space, in identifier order. A record whose frame is
// broken (no signature, a size that does not fit, the size not repeated at its end) ends them and
// marks the chunk damaged. Windows updates a chunk's checksums late, so a chunk that fails them
// is read too, as damaged. In a dirty log's current chunk, the one Windows was writing, stale
// checksums and header numbers and a newest record cut off are what a live log shows: the
// chunk is read as a damaged one, but they are no damage.
int EvtxFile::loadChunk(FileChunk chunk, EvtxDecoder& decoder) const {
    decoder.loaded_ = chunk;
    std::vector<EvtxDecoder::Entry>& entries = decoder.entries_;
    entries.clear();
    decoder.scratch_->templates.clear(); // templates belong to their chunk
    decoder.budget_ = DecodeBudget();
    decoder.chunk_.resize(kEvtxChunkSize);
    const uint8_t* c = decoder.chunk_.data();
    // Read again, the header is checked again: the file may have changed since it was opened.
    // What a chunk cut short by the file's end lacks reads as zeros, where its records stop.
    const uint64_t at = kEvtxHeaderBlock + static_cast<uint64_t>(chunk.index) * kEvtxChunkSize;
    const size_t held =
        fileSize_ - at < kEvtxChunkSize ? static_cast<size_t>(fileSize_ - at) : kEvtxChunkSize;
    std::memset(decoder.chunk_.data() + held, 0, kEvtxChunkSize - held);
    decoder.loadedSound_ = readAt(at, decoder.chunk_.data(), held) && chunkHeaderIsFramed(c);
    if (!decoder.loadedSound_)
        return 0;
    uint32_t end = readLe32(c + 48);
    decoder.loadedClaimed_ = chunkHeaderChecksumHolds(c);
    decoder.loadedDamaged_ = !decoder.loadedClaimed_ ||
                             (checksums_ && crc32(c + kEvtxChunkHeaderSize,
                                                  end - kEvtxChunkHeaderSize) != readLe32(c + 52));
    decoder.loadedLive_ = chunk.index == liveChunk_;
    for (uint32_t pos = kEvtxChunkHeaderSize; pos < end;) {
        uint32_t size = end - pos >= 8 ? readLe32(c + pos + 4) : 0;
        if (end - pos < 28 || readLe32(c + pos) != kEvtxRecordSignature || size < 28 ||
            size > end - pos || readLe32(c + pos + size - 4) != size) {
            decoder.loadedDamaged_ = 1;
            decoder.loadedLive_ = decoder.loadedLive_ && isCutOff(c, pos, end);
            break;
        }
        uint64_t id = readLe64(c + pos + 8);
        // Chunks are ordered by the range their header gives: a record outside it is given
        // aside, by a walk that reads the chunk as damaged.
        if (id < readLe64(c + 24) || id > readLe64(c + 32))
            decoder.loadedDamaged_ = 1;
        entries.push_back({id, pos, size});
        pos += size;
    }
    auto byId = [](const EvtxDecoder::Entry& a, const EvtxDecoder::Entry& b) {
        return a.id < b.id;
    };
    if (!std::is_sorted(entries.begin(), entries.end(), byId)) // as written, they nearly are
        std::stable_sort(entries.begin(), entries.end(), byId);
    return 1;
}

// Every record in the batch is decoded, those a walk passes over as copies included; a record
// that cannot be decoded ends the batch, since the walk or the chunk most likely ends there.
void EvtxFile::decode(WalkPos pos, int backwards, size_t first, EvtxDecoder& decoder,
                      EvtxBatch& out, size_t budget, DecodeWork most) const {
    const FileChunk chunk = fileChunkAt(pos, backwards);
    out.chunk = pos;
    out.backwards = backwards;
    out.first = first;
    out.last = 1;
    out.records.clear();
    out.bytes.clear();
    keepLittle(out.bytes);
    if (decoder.loaded_.index != chunk.index) {
        loadChunk(chunk, decoder);
    } else if (first == 0) { // a walk of its own has a budget of its own, and costs the same
        decoder.budget_ = DecodeBudget();
        decoder.scratch_->templates.clear();
    }
    out.sound = decoder.loadedSound_;
    out.damaged = decoder.loadedDamaged_;
    out.live = decoder.loadedLive_;
    if (!out.sound)
        return;
    EvtxDecoder::Scratch& scratch = *decoder.scratch_;
    const uint8_t* c = decoder.chunk_.data();
    const size_t count = decoder.entries_.size();
    // In a damaged chunk, the records outside the range its sound header names are given aside.
    const uint64_t from = decoder.loadedClaimed_ ? readLe64(c + 24) : 1;
    const uint64_t to = decoder.loadedClaimed_ ? readLe64(c + 32) : 0;
    DecodeWork batchWork; // what the batch's records cost so far
    for (size_t k = first; k < count; ++k) {
        if (out.bytes.size() >= budget && k > first) {
            out.last = 0;
            break;
        }
        const EvtxDecoder::Entry& entry = decoder.entries_[backwards ? count - 1 - k : k];
        EvtxBatch::Record record = {entry.id, static_cast<uint32_t>(out.bytes.size()), 0, 0, 0, 0,
                                    0};
        const int aside = out.damaged && (entry.id < from || entry.id > to);
        const DecodeBudget before = decoder.budget_;
        const uint32_t begin = entry.offset + 24, end = entry.offset + entry.size - 4;
        const uint32_t chunkId = static_cast<uint32_t>(chunk.index);
        int made = 0;
        if (shortRecords_ && decodeEventBrief(c, kEvtxChunkSize, begin, end, scratch.templates,
                                              chunkId, decoder.budget_, scratch.brief)) {
            writeShortRecord(scratch.brief, legacyRecordNumber(scratch.brief.recordId, entry.id),
                             out.bytes);
            made = 1;
        } else if (decodeEventXml(c, kEvtxChunkSize, begin, end, scratch.event, &scratch.templates,
                                  chunkId, &decoder.budget_)) {
            const EvtxEvent& event = scratch.event;
            const uint32_t number = legacyRecordNumber(event.numbers[EvtxRecordId], entry.id);
            const uint64_t written = readLe64(c + entry.offset + 16);
            made = shortRecords_
                       ? buildShortRecord(event, number, out.bytes)
                       : buildLegacyRecord(event, written, number, scratch.fields, out.bytes);
        }
        // A chunk's budget is at most 2^21 nodes and bytes: a batch's cost fits 32 bits.
        batchWork.nodes += before.nodes - decoder.budget_.nodes;
        batchWork.bytes += before.bytes - decoder.budget_.bytes;
        record.nodes = static_cast<uint32_t>(batchWork.nodes);
        record.bytes = static_cast<uint32_t>(batchWork.bytes);
        record.state = (made ? 1 : -1) * (aside ? 2 : 1);
        if (made)
            record.length = static_cast<uint32_t>(out.bytes.size() - record.offset);
        out.records.push_back(record);
        if (!made || batchWork.nodes > most.nodes || batchWork.bytes > most.bytes) {
            out.last = k + 1 == count; // the walk ends at the record, or the chunk does
            break;
        }
    }
    decoder.work_.nodes += batchWork.nodes;
    decoder.work_.bytes += batchWork.bytes;
    for (size_t k = out.records.size(); !out.damaged && k-- > 1;) {
        EvtxBatch::Record& r = out.records[k - 1];
        const EvtxBatch::Record& after = out.records[k];
        if (r.state > 0 && after.state > 0 && (backwards ? after.id < r.id : after.id > r.id))
            r.follow = after.follow + 1;
    }
}

namespace {

// The cost of the cursor's batch counts as spent once the cursor is in another.
void enterBatch(EvtxCursor& cursor, size_t first) {
    cursor.spent.nodes += cursor.inBatch.nodes;
    cursor.spent.bytes += cursor.inBatch.bytes;
    cursor.inBatch = DecodeWork();
    cursor.batchFirst = first;
}

void nextChunk(EvtxCursor& cursor) {
    ++cursor.chunk.index;
    cursor.record = 0;
    enterBatch(cursor, 0);
}

} // namespace

BatchStep EvtxFile::step(EvtxCursor& cursor, const EvtxBatch& batch,
                         const EvtxBatch::Record** record) {
    if (cursor.ended)
        return cursor.broken ? BatchStep::Broken : BatchStep::Exhausted;
    if (!batch.sound) {
        note(skipped_, fileChunkAt(batch.chunk, batch.backwards).index);
        nextChunk(cursor);
        return BatchStep::Exhausted;
    }
    const size_t chunk = fileChunkAt(batch.chunk, batch.backwards).index;
    if (batch.damaged && !batch.live)
        note(damaged_, chunk);
    if (batch.first != cursor.batchFirst)
        enterBatch(cursor, batch.first);
    for (; cursor.record - batch.first < batch.records.size(); ++cursor.record) {
        const EvtxBatch::Record& r = batch.records[cursor.record - batch.first];
        if (!affords(cursor, r)) { // the file's allowance is spent: the walk ends here
            cursor.ended = cursor.broken = 1;
            return BatchStep::Broken;
        }
        cursor.inBatch = {r.nodes, r.bytes};
        // Identifiers keep going one way: a copy of records already given (a stale chunk that
        // overlaps another) is passed over. A record given aside is one no sound chunk header
        // names, given once.
        if (r.state == 2 || r.state == -2 ? !givesAside(cursor, r.id) : isBehind(cursor, r.id))
            continue;
        if (r.state < 0)
            break;
        *record = &r;
        return BatchStep::Record;
    }
    if (cursor.record - batch.first < batch.records.size()) {
        if (!batch.damaged) {
            cursor.ended = cursor.broken = 1;
            return BatchStep::Broken;
        }
        // A damaged chunk ends at the record: the walk goes on with the next chunk.
        note(damaged_, chunk);
        nextChunk(cursor);
        return BatchStep::Exhausted;
    }
    if (batch.last)
        nextChunk(cursor);
    return BatchStep::Exhausted;
}

WalkStep EvtxFile::peekBatches(EvtxCursor& cursor, const EvtxBatch::Record** record,
                               const uint8_t** bytes) {
    while (!cursor.ended && cursor.chunk.index < order_.size()) {
        EvtxBatch& batch = batches_[cursor.backwards ? 0 : 1];
        // The batch holds the cursor's record, or the chunk ends before it.
        if (batch.chunk.index != cursor.chunk.index || batch.backwards != cursor.backwards ||
            cursor.record < batch.first ||
            (cursor.record - batch.first >= batch.records.size() && !batch.last))
            decode(cursor.chunk, cursor.backwards, cursor.record, decoder_, batch, kEvtxBatchBytes,
                   left(cursor));
        BatchStep got = step(cursor, batch, record);
        if (got == BatchStep::Broken)
            return WalkStep::Broken;
        if (got == BatchStep::Record) {
            *bytes = batch.bytes.data() + (*record)->offset;
            return WalkStep::Record;
        }
    }
    return finish(cursor);
}

// What the walk may still spend.
DecodeWork EvtxFile::left(const EvtxCursor& cursor) const {
    const uint64_t nodes = cursor.spent.nodes + cursor.inBatch.nodes,
                   bytes = cursor.spent.bytes + cursor.inBatch.bytes;
    return {nodes < allowance_.nodes ? allowance_.nodes - nodes : 0,
            bytes < allowance_.bytes ? allowance_.bytes - bytes : 0};
}

WalkStep EvtxFile::next(EvtxCursor& cursor, std::vector<uint8_t>& out) {
    const EvtxBatch::Record* record = nullptr;
    const uint8_t* bytes = nullptr;
    WalkStep got = peek(cursor, &record, &bytes);
    if (got == WalkStep::Record) {
        out.assign(bytes, bytes + record->length);
        take(cursor, *record);
    }
    return got;
}
