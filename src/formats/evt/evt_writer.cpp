#include "evt_writer.h"

#include "evt_file.h"
#include "formats/file_io.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Extent {
    uint32_t offset;
    uint32_t length;
};

// The circular buffer of one open log while records are appended to it.
class Appender {
  public:
    explicit Appender(EvtFile& log) : log_(log) {
        for (size_t i = log.recordCount(); i-- > 0;)
            records_.push_back({log.recordOffset(i), log.recordLength(i)});
        start_ = records_.empty() ? log.eofOffset() : records_.front().offset;
        eof_ = log.eofOffset();
        next_ = log.nextRecordNumber();
        oldest_ = log.oldestRecordNumber();
        limit_ = log.maxSize();
    }

    int append(const EvtRecordFields& fields);
    void finish(uint32_t extraFlags);

  private:
    uint32_t used() const {
        return records_.empty() ? 0 : (eof_ + log_.areaSize() - start_) % log_.areaSize();
    }

    EvtFile& log_;
    std::deque<Extent> records_;
    uint32_t start_, eof_, next_, oldest_, limit_;
};

int Appender::append(const EvtRecordFields& fields) {
    std::vector<uint8_t> record = buildEvtRecord(fields, next_);
    uint32_t length = static_cast<uint32_t>(record.size());
    uint64_t need = static_cast<uint64_t>(length) + kEvtEofSize;
    std::vector<uint8_t>& bytes = log_.bytes();
    // Grow while the records do not wrap and the maximum allows.
    if (start_ <= eof_ && eof_ + need > bytes.size() && eof_ + need <= limit_)
        bytes.resize(eof_ + need, 0);
    if (need > log_.areaSize())
        return 0;
    while (!records_.empty() && log_.areaSize() - used() < need) {
        start_ = log_.advance(start_, records_.front().length);
        records_.pop_front();
        ++oldest_;
    }
    if (records_.empty()) {
        start_ = eof_;
        oldest_ = next_;
    }
    log_.copyIn(eof_, record.data(), length);
    records_.push_back({eof_, length});
    eof_ = log_.advance(eof_, length);
    ++next_;
    writeEvtEof(log_, eof_, start_, next_, oldest_);
    return 1;
}

void Appender::finish(uint32_t extraFlags) {
    uint32_t flags = (log_.flags() & ~(kEvtFlagDirty | kEvtFlagWrap)) | extraFlags;
    if (start_ > eof_)
        flags |= kEvtFlagWrap;
    writeEvtHeader(log_, start_, eof_, next_, oldest_, flags);
}

int fail(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return 0;
}

} // namespace

int appendEvtRecords(const std::string& path, const std::vector<EvtRecordFields>& records,
                     uint32_t maxSizeIfNew, std::string* error, uint32_t firstRecordIfNew) {
    makeParentDirectories(path);
    int fd = openRegularFile(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        return fail(error,
                    path + ": " + (errno == EINVAL ? "not a regular file" : std::strerror(errno)));
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::vector<uint8_t> bytes;
    int ok = readWholeFile(fd, bytes);
    if (ok && bytes.empty())
        bytes = newEvtFile(maxSizeIfNew < 0x10000 ? 0x10000 : maxSizeIfNew, firstRecordIfNew);
    EvtFile log;
    if (!ok || !log.load(std::move(bytes)) || log.corrupt()) {
        close(fd);
        return fail(error, path + ": not a readable event log; left as it is");
    }
    // Records and the end-of-file record lie on 4-byte boundaries, where readers look for
    // them: in a log whose record area is not whole 4-byte units, a record that wraps would
    // push them off.
    if (log.areaSize() % 4 != 0) {
        close(fd);
        return fail(error, path + ": its size is not a whole number of 4-byte units past the "
                                  "header; left as it is");
    }
    Appender appender(log);
    for (const EvtRecordFields& fields : records) {
        if (!appender.append(fields)) {
            close(fd);
            return fail(error, path + ": a record is larger than the log");
        }
    }
    // The header says "dirty" while the records change, so a reader that ignores the lock
    // follows the records to the true end instead of trusting stale offsets.
    appender.finish(kEvtFlagDirty);
    std::vector<uint8_t>& out = log.bytes();
    ok = writeAllAt(fd, out.data(), kEvtHeaderSize, 0) &&
         writeAllAt(fd, out.data() + kEvtHeaderSize, out.size() - kEvtHeaderSize, kEvtHeaderSize);
    appender.finish(0);
    ok = ok && writeAllAt(fd, out.data(), kEvtHeaderSize, 0);
    close(fd);
    return ok ? 1 : fail(error, path + ": " + std::strerror(errno));
}
