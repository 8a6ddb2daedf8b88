#include "evt_file.h"

#include "formats/file_io.h"
#include "formats/little_endian.h"

#include <cstring>
#include <new>

namespace {

const uint32_t kEofMarkers[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

} // namespace

// A window of 64 KiB: records are read where the walk is, and a log of any size costs no more
// memory than this, nor do the logs a report reads together, each waiting with its window (of a
// megabyte, ten logs took a third longer than one log of their records, in page faults). One
// this small is still in the processor's cache when the records are copied out of it.
constexpr uint32_t kWindow = 1u << 16;

EvtFile::~EvtFile() = default;

int EvtFile::fillWindow(uint32_t start) const {
    if (!window_) { // as large as the file, up to the window's size
        uint32_t capacity = size_ < kWindow ? size_ : kWindow;
        window_.reset(new (std::nothrow) uint8_t[capacity]);
        windowCapacity_ = window_ ? capacity : 0;
    }
    if (!window_)
        return 0;
    uint32_t end = size_ - start > kWindow ? start + kWindow : size_;
    windowSize_ = end - start; // within the capacity, which open keeps up with the size
    if (!readAt(fd_, start, window_.get(), windowSize_))
        std::memset(window_.get(), 0, windowSize_); // cut short since it was opened
    windowStart_ = start;
    return 1;
}

void EvtFile::readPlain(uint32_t offset, uint32_t length, uint8_t* out) const {
    if (fd_ < 0) {
        std::memcpy(out, bytes_.data() + offset, length);
        return;
    }
    const uint8_t* bytes = inWindow(offset, length);
    // The walk goes backwards: the window ends where this read does, unless it goes forwards
    // (as finding the end of a dirty log does), when it starts here.
    if (!bytes && length <= kWindow &&
        fillWindow(offset >= windowStart_      ? offset
                   : offset + length > kWindow ? offset + length - kWindow
                                               : 0))
        bytes = inWindow(offset, length);
    if (bytes) {
        std::memcpy(out, bytes, length);
        return;
    }
    std::memset(out, 0, length); // larger than a window, or no memory for one
    readAt(fd_, offset, out, length);
}

uint32_t EvtFile::advance(uint32_t offset, uint32_t by) const {
    uint64_t pos = static_cast<uint64_t>(offset - kEvtHeaderSize) + by;
    return static_cast<uint32_t>(pos % areaSize()) + kEvtHeaderSize;
}

void EvtFile::copyOut(uint32_t offset, uint32_t length, uint8_t* out) const {
    if (length <= fileSize() - offset) { // the usual case: nothing wraps
        readPlain(offset, length, out);
        return;
    }
    while (length > 0) {
        uint32_t chunk = fileSize() - offset;
        if (chunk > length)
            chunk = length;
        readPlain(offset, chunk, out);
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

uint32_t EvtFile::read32Anywhere(uint32_t offset) const {
    if (fd_ < 0 && offset + 4 <= bytes_.size())
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
    if (hint >= kEvtHeaderSize && hint < fileSize() && (hint - kEvtHeaderSize) % 4 == 0) {
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
    for (uint32_t pos = kEvtHeaderSize; pos + 4 <= fileSize(); pos += 4) {
        if (isEofRecord(pos) && (!found || read32(advance(pos, 28)) - nextNumber_ < 0x80000000u)) {
            eof_ = pos;
            nextNumber_ = read32(advance(pos, 28));
            found = 1;
        }
    }
    return found;
}

const uint8_t* EvtFile::recordInWindow(uint32_t pos, uint32_t* length) const {
    const uint8_t* tail = pos >= kEvtHeaderSize + 4 ? inWindow(pos - 4, 4) : nullptr;
    *length = tail ? readLe32(tail) : 0;
    return *length >= kEvtRecordHeaderSize && *length <= pos - kEvtHeaderSize
               ? inWindow(pos - *length, *length)
               : nullptr;
}

uint32_t EvtFile::recordEndingAt(uint32_t pos, uint32_t* start) const {
    uint32_t len = 0;
    const uint8_t* record = recordInWindow(pos, &len);
    // Past the window, the walk goes on in the window that ends at pos: whole records, and each
    // part of the file read once.
    if (!record && fd_ >= 0 && pos > kEvtHeaderSize && windowStart_ + windowSize_ != pos &&
        fillWindow(pos > kWindow ? pos - kWindow : 0))
        record = recordInWindow(pos, &len);
    if (record) {
        *start = pos - len;
        return opensRecord(record, len) ? len : 0;
    }
    // A record that wraps around the end of the file, or one larger than the window.
    uint32_t end = pos >= kEvtHeaderSize + 4 ? pos - 4 : pos - 4 + areaSize();
    len = read32(end);
    uint32_t check = 0;
    if (len < kEvtRecordHeaderSize || len > areaSize())
        return 0;
    *start = advance(pos, areaSize() - len);
    return isRecordAt(*start, &check) && check == len ? len : 0;
}

int EvtFile::stepBack() {
    if (walked_)
        return 0;
    uint32_t pos = walkPos_;
    if (pos == begin_) {
        walked_ = 1;
        return 0;
    }
    uint32_t start = 0;
    uint32_t len = recordEndingAt(pos, &start);
    walkedBytes_ += len;
    if (len == 0 || walkedBytes_ > areaSize()) {
        corrupt_ = 1;
        walked_ = 1;
        return 0;
    }
    newestFirst_.push_back(start);
    walkPos_ = start;
    return 1;
}

uint32_t EvtFile::walkBackInto(uint8_t* out, uint32_t room) {
    uint32_t copied = 0, len = 0;
    for (const uint8_t* record;
         !walked_ && walkPos_ != begin_ && (record = recordInWindow(walkPos_, &len)) != nullptr &&
         len <= room - copied && opensRecord(record, len) && walkedBytes_ + len <= areaSize();
         copied += len) {
        std::memcpy(out + copied, record, len);
        walkedBytes_ += len;
        walkPos_ -= len;
        newestFirst_.push_back(walkPos_);
    }
    return copied;
}

int EvtFile::reach(size_t i) {
    while (newestFirst_.size() <= i)
        if (!stepBack())
            return 0;
    return 1;
}

int EvtFile::load(std::vector<uint8_t> bytes) {
    bytes_ = std::move(bytes);
    fd_ = -1;
    windowSize_ = 0; // held whole: no window of a file read before
    if (bytes_.size() > 0xFFFFFFF0u || !start())
        return 0;
    while (stepBack()) {
    }
    return 1;
}

int EvtFile::open(int fd) {
    uint64_t size = 0;
    if (!::fileSize(fd, &size) || size > 0xFFFFFFF0u)
        return 0;
    bytes_.clear();
    fd_ = fd;
    size_ = static_cast<uint32_t>(size);
    windowStart_ = 0;
    windowSize_ = 0;
    if (windowCapacity_ < (size_ < kWindow ? size_ : kWindow)) { // taken anew when needed
        window_.reset();
        windowCapacity_ = 0;
    }
    return start();
}

// The header and the true end: where the walk back from the newest record begins.
int EvtFile::start() {
    newestFirst_.clear();
    corrupt_ = 0;
    walked_ = 0;
    walkedBytes_ = 0;
    if (fileSize() < kEvtHeaderSize + kEvtEofSize)
        return 0;
    uint8_t h[kEvtHeaderSize];
    readPlain(0, kEvtHeaderSize, h);
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
    walkPos_ = eof_;
    if (begin_ < kEvtHeaderSize || begin_ >= fileSize()) {
        corrupt_ = 1;
        walked_ = 1;
    }
    return 1;
}

void EvtFile::copyRecord(size_t i, uint8_t* out) const {
    copyOut(newestFirst_[i], recordLength(i), out);
}

std::vector<uint8_t> newEvtFile(uint32_t maxSize, uint32_t firstRecord) {
    EvtFile log;
    std::vector<uint8_t> bytes(kEvtHeaderSize + kEvtEofSize, 0);
    log.bytes() = bytes;
    writeEvtHeader(log, kEvtHeaderSize, kEvtHeaderSize, firstRecord, 0, 0);
    writeLe32(log.bytes().data() + 32, maxSize);
    writeLe32(log.bytes().data() + 40, 0x93a80); // retention: seven days, as Windows sets it
    writeEvtEof(log, kEvtHeaderSize, kEvtHeaderSize, firstRecord, 0);
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
