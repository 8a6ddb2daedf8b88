// The .evtx decoder on arbitrary chunks: the input is one chunk, four times over, of a file whose
// header keeps no checksums (the first byte's low bit asks for them to be checked instead; its
// next bit marks the log dirty, the first chunk being its current one). Every record the decoder
// accepts must come out as a well-formed legacy record, and as a short record that holds what the
// legacy one does (the short records of most are read straight from their values). Whether the
// log is dirty changes what counts as damage, never the records, and a dirty log finds no damage a
// clean one does not. Decoding must cost at most a fixed multiple of the file's size: an input
// that amplifies is a finding.
#include "formats/evt/event_record.h"
#include "formats/evtx/evtx_file.h"
#include "formats/little_endian.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kEvtxChunkSize + 1)
        return 0;
    const size_t kCopies = 4;
    std::vector<uint8_t> file(kEvtxHeaderBlock + kCopies * kEvtxChunkSize, 0);
    std::memcpy(file.data(), "ElfFile", 8);
    writeLe32(&file[120],
              (data[0] & 1 ? 0 : kEvtxFlagNoChecksums) | (data[0] & 2 ? kEvtxFlagDirty : 0));
    for (size_t k = 0; k < kCopies; ++k)
        std::memcpy(&file[kEvtxHeaderBlock + k * kEvtxChunkSize], data + 1, size - 1);
    std::vector<uint8_t> other = file;
    writeLe32(&other[120], readLe32(&file[120]) ^ kEvtxFlagDirty);
    EvtxFile log, brief, flipped;
    if (!brief.load(file) || !flipped.load(std::move(other)))
        std::abort();
    if (!log.load(std::move(file)))
        std::abort(); // the signature is there: the file loads, whatever its chunks hold
    std::vector<uint8_t> record;
    std::vector<std::vector<uint8_t>> newest;
    EvtRecordFields fields;
    for (int backwards : {1, 0}) {
        EvtxCursor cursor;
        cursor.backwards = backwards;
        while (log.next(cursor, record) == WalkStep::Record) {
            if (!parseEvtRecord(record.data(), static_cast<uint32_t>(record.size()), fields))
                std::abort();
            if (backwards)
                newest.push_back(record);
        }
    }
    // The same walk in short records, by a file of its own as each handle has: each the legacy
    // record's event ID, time, number, names and bytes from its data on.
    brief.giveShortRecords(1);
    EvtxCursor cursor;
    size_t count = 0;
    for (; brief.next(cursor, record) == WalkStep::Record; ++count) {
        if (count >= newest.size() || record.size() % 4 != 0 || record.size() < kShortSource + 4)
            std::abort();
        const std::vector<uint8_t>& full = newest[count];
        const uint32_t rest = readLe32(&record[kShortRest]), data = readLe32(&full[52]);
        if (rest > record.size() || record.size() - rest != full.size() - data ||
            std::memcmp(&record[rest], &full[data], full.size() - data) != 0 ||
            readLe32(&record[kShortEventId]) != readLe32(&full[20]) ||
            readLe32(&record[kShortTimeGenerated]) != readLe32(&full[12]) ||
            readLe32(&record[kShortDataOffset]) != data ||
            readLe32(&record[kShortRecordNumber]) != readLe32(&full[8]))
            std::abort();
        // The source and computer names, their zero units included.
        size_t units = 0;
        for (int zeros = 0; zeros < 2 && kEventRecordHeaderSize + 2 * units + 1 < full.size();
             ++units)
            zeros += readLe16(&full[kEventRecordHeaderSize + 2 * units]) == 0;
        if (kShortSource + 2 * units > rest ||
            std::memcmp(&record[kShortSource], &full[kEventRecordHeaderSize], 2 * units) != 0)
            std::abort();
    }
    if (count != newest.size())
        std::abort();
    EvtxCursor again;
    for (count = 0; flipped.next(again, record) == WalkStep::Record; ++count)
        if (count >= newest.size() || record != newest[count])
            std::abort();
    EvtxCursor forwards; // for its damage too
    forwards.backwards = 0;
    while (flipped.next(forwards, record) == WalkStep::Record)
        continue;
    const EvtxFile& dirty = data[0] & 2 ? log : flipped;
    const EvtxFile& clean = data[0] & 2 ? flipped : log;
    if (count != newest.size() || (!dirty.damagedChunks().empty() && clean.damagedChunks().empty()))
        std::abort();
    // Each walk: its allowance and a record past it, at most nine nodes and twenty bytes for each
    // byte of the file, where the chunks' own budgets would allow fifteen and thirty.
    const uint64_t fileSize = kEvtxHeaderBlock + kCopies * kEvtxChunkSize;
    for (const EvtxFile* f : {&log, &brief, &flipped}) {
        const uint64_t walks = f == &brief ? 1 : 2;
        if (f->decodedWork().nodes > walks * 9 * fileSize ||
            f->decodedWork().bytes > walks * 20 * fileSize)
            std::abort();
    }
    return 0;
}
