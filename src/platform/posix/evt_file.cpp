#include "evt_file.h"

#include "little_endian.h"

#include <cstring>

namespace {

const uint32_t kEofMarkers[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

} // namespace

uint32_t EvtFile::advance(uint32_t offset, uint32_t by) const {
    uint64_t pos = static_cast<uint64_t>(offset - kEvtHeaderSize) + by;
    return static_cast<uint32_t>(pos % areaSize()) + kEvtHeaderSize;
}

void EvtFile::copyOut(uint32_t offset, uint32_t length, uint8_t* out) const {
    if (length <= bytes_.size() - offset) { // the usual case: nothing wraps
        std::memcpy(out, bytes_.data() + offset, length);
        return;
    }
    while (length > 0) {
        uint32_t chunk = static_cast<uint32_t>(bytes_.size()) - offset;
        if (chunk > length)
            chunk = length;
        std::memcpy(out, bytes_.data() + offset, chunk);
        out += chunk;
        length -= chunk;
        offset = advance(offset, chunk);
    }
}

void EvtFile::copyIn(uint32_t offset, const uint8_t* in, uint32_t length) {
    while (length > 0) {
        uint32_t chunk = static_cast<uint32_t>(bytes_.size()) - offset;
        if (chunk > length)
            chunk = length;
        std::memcpy(bytes_.data() + offset, in, chunk);
        in += chunk;
        length -= chunk;
        offset = advance(offset, chunk);
    }
}

uint32_t EvtFile::read32(uint32_t offset) const {
    if (offset + 4 <= bytes_.size())
        return readLe32(bytes_.data() + offset);
    uint8_t b[4];
    copyOut(offset, 4, b);
    return readLe32(b);
}

int EvtFile::isEofRecord(uint32_t offset) const {
    if (read32(offset) != kEvtEofSize || read32(advance(offset, 36)) != kEvtEofSize)
        return 0;
    for (int i = 0; i < 4; ++i)
        if (read32(advance(offset, 4 + 4 * i)) != kEofMarkers[i])
            return 0;
    return 1;
}

// A record: its length (at least the fixed header, at most the data area) at both ends and the
// signature after the first.
int EvtFile::isRecordAt(uint32_t offset, uint32_t* length) const {
    uint32_t len = read32(offset);
    if (len < kEvtRecordHeaderSize || len > areaSize() ||
        read32(advance(offset, 4)) != kEvtSignature)
        return 0;
    if (read32(advance(offset, len - 4)) != len)
        return 0;
    *length = len;
    return 1;
}

// The header's end offset is right unless the log was not closed cleanly; then the records
// written since are followed forward from it to the real end-of-file record. Failing that,
// every place in the file is tried and the end-of-file record with the highest record number
// wins.
int EvtFile::findEof(uint32_t hint) {
    if (hint >= kEvtHeaderSize && hint < bytes_.size() && (hint - kEvtHeaderSize) % 4 == 0) {
        uint32_t pos = hint;
        uint64_t walked = 0;
        while (walked <= areaSize()) {
            uint32_t len;
            if (isEofRecord(pos)) {
                eof_ = pos;
                return 1;
            }
            if (!isRecordAt(pos, &len))
                break;
            walked += len;
            pos = advance(pos, len);
        }
    }
    int found = 0;
    for (uint32_t pos = kEvtHeaderSize; pos + 4 <= bytes_.size(); pos += 4) {
        if (isEofRecord(pos) && (!found || read32(advance(pos, 28)) - nextNumber_ < 0x80000000u)) {
            eof_ = pos;
            nextNumber_ = read32(advance(pos, 28));
            found = 1;
        }
    }
    return found;
}

void EvtFile::walkBackwards() {
    uint32_t pos = eof_;
    uint64_t walked = 0;
    while (pos != begin_) {
        uint32_t end = pos >= kEvtHeaderSize + 4 ? pos - 4 : pos - 4 + areaSize();
        uint32_t len = read32(end);
        uint32_t start = 0, check = 0;
        if (len >= kEvtRecordHeaderSize && len <= areaSize()) {
            start = advance(pos, areaSize() - len);
            if (!isRecordAt(start, &check) || check != len)
                len = 0;
        } else {
            len = 0;
        }
        walked += len;
        if (len == 0 || walked > areaSize()) {
            corrupt_ = 1;
            return;
        }
        newestFirst_.push_back(start);
        pos = start;
    }
}

int EvtFile::load(std::vector<uint8_t> bytes) {
    bytes_ = std::move(bytes);
    newestFirst_.clear();
    corrupt_ = 0;
    if (bytes_.size() < kEvtHeaderSize + kEvtEofSize || bytes_.size() > 0xFFFFFFF0u)
        return 0;
    const uint8_t* h = bytes_.data();
    if (readLe32(h) != kEvtHeaderSize || readLe32(h + 4) != kEvtSignature ||
        readLe32(h + 44) != kEvtHeaderSize)
        return 0;
    maxSize_ = readLe32(h + 32);
    flags_ = readLe32(h + 36);
    nextNumber_ = readLe32(h + 24);
    if (!findEof(readLe32(h + 20)))
        return 0;
    begin_ = read32(advance(eof_, 20));
    nextNumber_ = read32(advance(eof_, 28));
    oldestNumber_ = read32(advance(eof_, 32));
    if (begin_ < kEvtHeaderSize || begin_ >= bytes_.size()) {
        corrupt_ = 1;
        return 1;
    }
    walkBackwards();
    return 1;
}

uint32_t EvtFile::recordLength(size_t i) const {
    return read32(newestFirst_[i]);
}

void EvtFile::copyRecord(size_t i, uint8_t* out) const {
    copyOut(newestFirst_[i], recordLength(i), out);
}

std::vector<uint8_t> newEvtFile(uint32_t maxSize) {
    EvtFile log;
    std::vector<uint8_t> bytes(kEvtHeaderSize + kEvtEofSize, 0);
    log.bytes() = bytes;
    writeEvtHeader(log, kEvtHeaderSize, kEvtHeaderSize, 1, 0, 0);
    writeLe32(log.bytes().data() + 32, maxSize);
    writeLe32(log.bytes().data() + 40, 0x93a80); // retention: seven days, as Windows sets it
    writeEvtEof(log, kEvtHeaderSize, kEvtHeaderSize, 1, 0);
    return log.bytes();
}

void writeEvtHeader(EvtFile& log, uint32_t start, uint32_t eof, uint32_t next, uint32_t oldest,
                    uint32_t flags) {
    uint8_t* h = log.bytes().data();
    writeLe32(h, kEvtHeaderSize);
    writeLe32(h + 4, kEvtSignature);
    writeLe32(h + 8, 1);
    writeLe32(h + 12, 1);
    writeLe32(h + 16, start);
    writeLe32(h + 20, eof);
    writeLe32(h + 24, next);
    writeLe32(h + 28, oldest);
    writeLe32(h + 36, flags);
    writeLe32(h + 44, kEvtHeaderSize);
}

void writeEvtEof(EvtFile& log, uint32_t eof, uint32_t begin, uint32_t next, uint32_t oldest) {
    uint8_t rec[kEvtEofSize];
    writeLe32(rec, kEvtEofSize);
    for (int i = 0; i < 4; ++i)
        writeLe32(rec + 4 + 4 * i, kEofMarkers[i]);
    writeLe32(rec + 20, begin);
    writeLe32(rec + 24, eof);
    writeLe32(rec + 28, next);
    writeLe32(rec + 32, oldest);
    writeLe32(rec + 36, kEvtEofSize);
    log.copyIn(eof, rec, kEvtEofSize);
}
