// The legacy Windows event log file (.evt): a 48-byte header, records in a circular buffer that
// fills the rest of the file, and a 40-byte end-of-file record after the newest record.
#pragma once

#include "formats/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

constexpr uint32_t kEvtHeaderSize = 0x30;
constexpr uint32_t kEvtEofSize = 0x28;
constexpr uint32_t kEvtSignature = 0x654c664c; // "LfLe"
constexpr uint32_t kEvtRecordHeaderSize = 56;
constexpr uint32_t kEvtFlagDirty = 0x1;
constexpr uint32_t kEvtFlagWrap = 0x2;

// A log file, with the offsets of its records: held whole in memory (to be rewritten, or
// given so), or read from an open file through a window as a walk from the newest record goes.
class EvtFile {
  public:
    EvtFile() = default;
    ~EvtFile();
    EvtFile(const EvtFile&) = delete;
    EvtFile& operator=(const EvtFile&) = delete;

    // Decodes the header, finds the true end-of-file record (a dirty header's offsets may be
    // stale) and walks the records from newest to oldest. 0 when the header or the end-of-file
    // record cannot be found. A walk that meets a corrupt record keeps the records before it
    // and sets corrupt().
    int load(std::vector<uint8_t> bytes);
    // The same over an open file (the descriptor stays the caller's), except that the records
    // are found as they are asked for (see reach): the file is never held whole.
    int open(int fd);
    // Finds the records up to record i counted from the newest; 1 when it exists. Only once it
    // returned 0 are recordCount and corrupt final.
    int reach(size_t i);
    // The walk back goes on as far as the window holds whole records: it copies them, the newest
    // first, to out while they fit in room bytes, and returns the bytes copied. Past them, reach
    // and copyRecord go on.
    uint32_t walkBackInto(uint8_t* out, uint32_t room);

    size_t recordCount() const { return newestFirst_.size(); }
    // Record i counted from the newest; its bytes are copied out in order even when the record
    // wraps around the end of the file. copyRecord copies the length recordLength gave.
    uint32_t recordLength(size_t i) const { return read32(newestFirst_[i]); }
    void copyRecord(size_t i, uint8_t* out) const;
    void copyRecord(size_t i, uint32_t length, uint8_t* out) const {
        const uint8_t* bytes = inWindow(newestFirst_[i], length);
        if (bytes)
            std::memcpy(out, bytes, length);
        else
            copyOut(newestFirst_[i], length, out);
    }
    uint32_t recordOffset(size_t i) const { return newestFirst_[i]; }
    int corrupt() const { return corrupt_; }

    // Circular access to the data area that follows the header.
    uint32_t read32(uint32_t offset) const {
        const uint8_t* bytes = inWindow(offset, 4);
        return bytes ? readLe32(bytes) : read32Anywhere(offset);
    }
    void copyOut(uint32_t offset, uint32_t length, uint8_t* out) const;
    void copyIn(uint32_t offset, const uint8_t* in, uint32_t length);
    uint32_t advance(uint32_t offset, uint32_t by) const;
    uint32_t areaSize() const { return fileSize() - kEvtHeaderSize; }
    uint32_t fileSize() const { return fd_ < 0 ? static_cast<uint32_t>(bytes_.size()) : size_; }

    uint32_t eofOffset() const { return eof_; }
    uint32_t beginOffset() const { return begin_; }
    uint32_t nextRecordNumber() const { return nextNumber_; }
    uint32_t oldestRecordNumber() const { return oldestNumber_; }
    uint32_t maxSize() const { return maxSize_; }
    uint32_t flags() const { return flags_; }

    std::vector<uint8_t>& bytes() { return bytes_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    // Where bytes [offset, offset + length) of the open file lie in the window, when they do:
    // the usual case of a walk, which then costs no call.
    const uint8_t* inWindow(uint32_t offset, uint32_t length) const {
        uint32_t at = offset - windowStart_;
        return offset >= windowStart_ && at <= windowSize_ && length <= windowSize_ - at
                   ? window_.get() + at
                   : nullptr;
    }
    uint32_t read32Anywhere(uint32_t offset) const;
    // Reads the window that begins at start; 0 when there is no memory for it.
    int fillWindow(uint32_t start) const;
    // The record that ends at pos, when it lies in the window and does not wrap: its bytes, and
    // the length its last four bytes give (to be checked against its first four).
    const uint8_t* recordInWindow(uint32_t pos, uint32_t* length) const;
    // Whether the bytes of a record of length bytes begin as one does.
    static int opensRecord(const uint8_t* record, uint32_t length) {
        return readLe32(record) == length && readLe32(record + 4) == kEvtSignature;
    }
    // The length of the record that ends at pos (0 when none does) and where it starts.
    uint32_t recordEndingAt(uint32_t pos, uint32_t* start) const;
    int isEofRecord(uint32_t offset) const;
    int isRecordAt(uint32_t offset, uint32_t* length) const;
    int findEof(uint32_t hint);
    int start();
    // One record further back from the oldest found; 0 at the end or at a corrupt record.
    int stepBack();
    // Bytes [offset, offset + length) of the file, which lie inside it and do not wrap.
    void readPlain(uint32_t offset, uint32_t length, uint8_t* out) const;

    std::vector<uint8_t> bytes_; // the file, when held whole
    int fd_ = -1;
    uint32_t size_ = 0; // of the open file
    // The window of the file last read: memory taken once and never cleared, since the file
    // overwrites it.
    mutable std::unique_ptr<uint8_t[]> window_;
    mutable uint32_t windowCapacity_ = 0;
    mutable uint32_t windowSize_ = 0;
    mutable uint32_t windowStart_ = 0;
    std::vector<uint32_t> newestFirst_;
    uint32_t walkPos_ = 0;
    uint64_t walkedBytes_ = 0;
    int walked_ = 0;
    int corrupt_ = 0;
    uint32_t eof_ = 0, begin_ = 0, nextNumber_ = 0, oldestNumber_ = 0, maxSize_ = 0, flags_ = 0;
};

// The bytes of a fresh, empty log: header and end-of-file record; its first record will be
// numbered firstRecord.
std::vector<uint8_t> newEvtFile(uint32_t maxSize, uint32_t firstRecord = 1);
void writeEvtHeader(EvtFile& log, uint32_t start, uint32_t eof, uint32_t next, uint32_t oldest,
                    uint32_t flags);
void writeEvtEof(EvtFile& log, uint32_t eof, uint32_t begin, uint32_t next, uint32_t oldest);
