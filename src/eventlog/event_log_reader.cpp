#include "event_log_reader.h"

#include "duplicate_string.h"
#include "event_kind.h"
#include "formats/evt/event_record.h"
#include "formats/little_endian.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// EVENTLOGRECORD: the fixed header, then the source name.
constexpr uint32_t kHeaderSize = 56;
constexpr uint32_t kRecordNumber = 8;
constexpr uint32_t kTimeGenerated = 12;
constexpr uint32_t kEventId = 20;
constexpr uint32_t kDataOffset = 52;

// The session payload: 32-bit size, 32-bit session number, then the names text.
constexpr uint32_t kPayloadText = 8;
constexpr uint32_t kPayloadMinimum = kPayloadText + 2; // the text's terminator at least

// No record of a real log comes near this; a larger size is not believed.
constexpr uint32_t kLargestRecord = 16u << 20;

// What one read asks the log for: many records of a usual size.
constexpr uint32_t kBatch = 64u << 10;

constexpr DWORD kBackwards = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;

// Far beyond any name Windows allows: a longer name is kept as its first units and an ellipsis.
constexpr size_t kMostNameUnits = 512;

// Bounds the name of units units at name, in place, and returns its units then. A surrogate
// pair across the cut is left out whole.
size_t boundName(WCHAR* name, size_t units) {
    if (units <= kMostNameUnits)
        return units;
    size_t cut = kMostNameUnits;
    if ((name[cut - 1] & 0xFC00) == 0xD800 && (name[cut] & 0xFC00) == 0xDC00)
        --cut;
    name[cut] = 0x2026;
    name[cut + 1] = 0;
    return cut + 1;
}

// The text at sourceAt (a source or computer name), when it ends inside the record.
const WCHAR* textEndingInside(const uint8_t* record, uint32_t size, uint32_t sourceAt) {
    if (size < sourceAt + 2)
        return nullptr;
    const WCHAR* name = reinterpret_cast<const WCHAR*>(record + sourceAt);
    for (uint32_t i = 0; sourceAt + 2 * i + 2 <= size; ++i)
        if (name[i] == 0)
            return name;
    return nullptr;
}

// The units of the text at `at` before its zero unit, when that ends inside the record: 1, or 0
// for none. Eight units are compared at a time where the processor can.
int unitsOfText(const uint8_t* record, uint32_t size, uint32_t at, size_t* units) {
    uint32_t i = at;
#if defined(__SSE2__) && defined(__GNUC__)
    const __m128i zeros = _mm_setzero_si128();
    for (; size >= 16 && i <= size - 16; i += 16) {
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record + i));
        unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, zeros)));
        if ((ends &= 0x5555u) != 0) {
            *units = (i - at) / 2 + static_cast<unsigned>(__builtin_ctz(ends)) / 2;
            return 1;
        }
    }
#endif
    for (; size >= 2 && i <= size - 2; i += 2)
        if (readLe16(record + i) == 0) {
            *units = (i - at) / 2;
            return 1;
        }
    return 0;
}

// Finds the end of the names text (its first zero unit) and up to two backslashes before it,
// the first ones, in stops. 0 when no zero unit comes before units. Eight units are compared
// at a time where the processor can.
int findStops(const WCHAR* text, uint32_t units, uint32_t stops[2], uint32_t* end) {
    int found = 0;
    uint32_t at = 0;
#if defined(__SSE2__) && defined(__GNUC__)
    const __m128i zeros = _mm_setzero_si128(), slashes = _mm_set1_epi16('\\');
    if (units >= 8) {
        // The first 32 units at once (or all, when fewer), in four loads that end inside the
        // text, the last ones overlapping: one bit a unit in each mask.
        uint64_t ends = 0, hits = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            uint32_t from = 8 * k < units - 8 ? 8 * k : units - 8;
            __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
            ends |=
                uint64_t(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, zeros))))
                << 2 * from;
            hits |=
                uint64_t(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, slashes))))
                << 2 * from;
        }
        ends &= 0x5555555555555555ull;
        if (ends != 0) {
            unsigned bit = static_cast<unsigned>(__builtin_ctzll(ends));
            hits &= 0x5555555555555555ull & ((uint64_t(1) << bit) - 1);
            for (; hits != 0 && found < 2; hits &= hits - 1)
                stops[found++] = static_cast<uint32_t>(__builtin_ctzll(hits)) / 2;
            *end = bit / 2;
            return 1;
        }
        if (units <= 32)
            return 0;
    }
    for (; units - at >= 8; at += 8) {
        // One bit a unit: the lower of the two its comparison sets.
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, zeros)));
        unsigned hits =
            found < 2 ? static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(eight, slashes)))
                      : 0;
        hits = (hits | ends) & 0x5555u;
        while (hits != 0) {
            unsigned bit = static_cast<unsigned>(__builtin_ctz(hits));
            if (ends >> bit & 1) {
                *end = at + bit / 2;
                return 1;
            }
            stops[found++] = at + bit / 2;
            hits &= hits - 1;
            if (found == 2)
                hits &= ends;
        }
    }
#endif
    for (; at < units; ++at) {
        if (text[at] == 0) {
            *end = at;
            return 1;
        }
        if (text[at] == WCHAR('\\') && found < 2)
            stops[found++] = at;
    }
    return 0;
}

// Whether the size bytes at a and b are the same: a short name, as sources have, in two
// comparisons of eight bytes that overlap.
int sameBytes(const void* a, const void* b, uint32_t size) {
    if (size < 8 || size > 16)
        return std::memcmp(a, b, size) == 0;
    uint64_t a1, a2, b1, b2;
    std::memcpy(&a1, a, 8);
    std::memcpy(&b1, b, 8);
    std::memcpy(&a2, static_cast<const uint8_t*>(a) + size - 8, 8);
    std::memcpy(&b2, static_cast<const uint8_t*>(b) + size - 8, 8);
    return ((a1 ^ b1) | (a2 ^ b2)) == 0;
}

} // namespace

EventLogReader::EventLogReader(const WCHAR* sourceName, const WCHAR* backupFile) {
    backupFile_ = backupFile ? duplicateString(backupFile) : nullptr;
    if (!backupFile || backupFile_)
        open(sourceName);
    else
        openError_ = ERROR_NOT_ENOUGH_MEMORY;
    sourceName_ = duplicateString(sourceName);
    sourceLength_ = sourceName_ ? static_cast<uint32_t>(wcslen(sourceName_)) : 0;
}

void EventLogReader::open(const WCHAR* sourceName) {
    // A saved log's path that names a directory is said to be one, before the log functions
    // can call it something else (or, as Wine's do, open it as an empty log).
    DWORD attributes = backupFile_ ? GetFileAttributesW(backupFile_) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        openError_ = ERROR_DIRECTORY;
        return;
    }
    // A saved log is read with the program's own decoders on every platform.
    logHandle_ = backupFile_ ? openSavedLog(backupFile_) : OpenEventLogW(nullptr, sourceName);
    openError_ = logHandle_ ? ERROR_SUCCESS : GetLastError();
}

// The log is closed as soon as the walk ends, wherever it ends: a report may print for long
// after, and nothing the handle holds must make a writer wait that long.
int EventLogReader::endWalk(WalkEnd end, DWORD error) {
    walkEnd_ = end;
    walkError_ = error;
    walkOver_ = 1;
    closeLog();
    return 0;
}

void EventLogReader::closeLog() {
    if (!logHandle_)
        return;
    if (backupFile_)
        closeSavedLog(logHandle_);
    else
        CloseEventLog(logHandle_);
    logHandle_ = nullptr;
}

EventLogReader::~EventLogReader() {
    closeLog();
    releaseRecord();
    std::free(batch_);
    std::free(sourceName_);
    std::free(backupFile_);
}

void EventLogReader::releaseRecord() {
    std::free(ownRecord_);
    ownRecord_ = record_ = nullptr;
    recordSize_ = 0;
    computerFound_ = 0;
}

int EventLogReader::reopen() {
    closeLog();
    releaseRecord();
    batchAt_ = batchUsed_ = 0;
    shortRecords_ = -1;
    openError_ = ERROR_NOT_ENOUGH_MEMORY; // no copy of the name to open with
    if (sourceName_)
        open(sourceName_);
    walkEnd_ = WalkComplete;
    walkOver_ = 0;
    damage_[0] = 0;
    recordsMet_ = 0;
    oldestMet_ = UINT32_MAX;
    newestMet_ = 0;
    return logHandle_ != nullptr;
}

template <uint32_t sourceAt>
int EventLogReader::isOfSource(const uint8_t* record, uint32_t size) const {
    // The name as the source writes it, the usual case, costs one comparison of bytes.
    if (sourceName_ && sourceAt + 2 * (sourceLength_ + 1) <= size &&
        sameBytes(record + sourceAt, sourceName_, 2 * (sourceLength_ + 1)))
        return 1;
    const WCHAR* source = textEndingInside(record, size, sourceAt);
    return source && sourceName_ && _wcsicmp(source, sourceName_) == 0;
}

// Records come from the log many at a time, as many whole ones as the batch holds; the batch
// grows when the next record alone does not fit.
int EventLogReader::readNext() {
    if (walkOver_)
        return 0;
    if (!logHandle_)
        return endWalk(WalkNotOpened, openError_);
    for (;;) {
        if (batchAt_ == batchUsed_) {
            int filled = fillBatch();
            if (filled <= 0)
                return 0;
        }
        uint8_t* record = batch_ + batchAt_;
        uint32_t left = batchUsed_ - batchAt_;
        uint32_t length = left >= 4 ? readLe32(record) : 0;
        const int shortRecord = shortRecords_ == 1;
        if (length < 4 || length > left || (length & (shortRecord ? 3 : 0)) != 0)
            return endWalk(WalkReadFailed, ERROR_EVENTLOG_FILE_CORRUPT);
        batchAt_ += length;
        if (length >= (shortRecord ? kShortTimeGenerated : kTimeGenerated) + 4)
            meet(readLe32(record + (shortRecord ? kShortTimeGenerated : kTimeGenerated)));
        if (reinterpret_cast<uintptr_t>(record) % alignof(WCHAR) != 0) {
            // After a record of odd length (no sound log has one) its UTF-16 units are not
            // aligned: it is read from a copy.
            uint8_t* copy = static_cast<uint8_t*>(std::malloc(length));
            if (!copy)
                return endWalk(WalkReadFailed, ERROR_NOT_ENOUGH_MEMORY);
            std::memcpy(copy, record, length);
            int taken = takeRecord(copy, length);
            if (taken < 0)
                continue;
            return taken ? 1 : endWalk(WalkMalformed, ERROR_SUCCESS);
        }
        if (!(shortRecord ? isOfSource<kShortSource>(record, length)
                          : isOfSource<kHeaderSize>(record, length)))
            continue;
        if (ownRecord_)
            releaseRecord();
        record_ = record;
        recordSize_ = length;
        return parseRecord(shortRecord) ? 1 : endWalk(WalkMalformed, ERROR_SUCCESS);
    }
}

// 1 when the batch holds records again; otherwise 0 with the walk ended.
int EventLogReader::fillBatch() {
    batchAt_ = batchUsed_ = 0;
    for (;;) {
        DWORD bytesRead = 0, bytesNeeded = 0;
        if (batch_ && readBatch(&bytesRead, &bytesNeeded)) {
            if (bytesRead == 0 || bytesRead > batchCapacity_)
                return endWalk(WalkReadFailed, ERROR_SUCCESS);
            batchUsed_ = bytesRead;
            return 1;
        }
        DWORD error = batch_ ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        if (error == ERROR_HANDLE_EOF)
            return endWalk(WalkComplete, ERROR_SUCCESS);
        if (error == ERROR_FILE_CORRUPT) {
            if (backupFile_)
                describeSavedLogDamage(logHandle_, damage_, sizeof damage_);
            else
                describeEventLogDamage(logHandle_, damage_, sizeof damage_);
            return endWalk(WalkDamaged, error);
        }
        if (error != ERROR_INSUFFICIENT_BUFFER || (batch_ && bytesNeeded <= batchCapacity_) ||
            bytesNeeded > kLargestRecord)
            return endWalk(WalkReadFailed, error);
        uint32_t capacity = bytesNeeded > kBatch ? bytesNeeded : kBatch;
        std::free(batch_);
        batch_ = static_cast<uint8_t*>(std::malloc(capacity));
        batchCapacity_ = batch_ ? capacity : 0;
        if (!batch_)
            return endWalk(WalkReadFailed, ERROR_NOT_ENOUGH_MEMORY);
    }
}

// Short records where the log gives them, whole ones otherwise.
int EventLogReader::readBatch(DWORD* bytesRead, DWORD* bytesNeeded) {
    if (shortRecords_ != 0) {
        if (backupFile_ ? readSavedLog(logHandle_, 1, kBackwards, batch_, batchCapacity_, bytesRead,
                                       bytesNeeded)
                        : readShortEventRecords(logHandle_, kBackwards, batch_, batchCapacity_,
                                                bytesRead, bytesNeeded)) {
            shortRecords_ = 1;
            return 1;
        }
        if (GetLastError() != ERROR_NOT_SUPPORTED)
            return 0;
        shortRecords_ = 0;
    }
    if (backupFile_)
        return readSavedLog(logHandle_, 0, kBackwards, batch_, batchCapacity_, bytesRead,
                            bytesNeeded);
    return ReadEventLogW(logHandle_, kBackwards, 0, batch_, batchCapacity_, bytesRead, bytesNeeded);
}

int EventLogReader::takeRecord(uint8_t* buffer, uint32_t size) {
    if (!isOfSource<kHeaderSize>(buffer, size)) {
        std::free(buffer);
        return -1;
    }
    releaseRecord();
    record_ = ownRecord_ = buffer;
    recordSize_ = size;
    return parseRecord(0);
}

uint32_t EventLogReader::recordNumber() const {
    return record_ ? readLe32(record_ + (shortRecord_ ? kShortRecordNumber : kRecordNumber)) : 0;
}

// The computer's name follows the source's, in a whole record and in a short one; a record
// whose computer name does not end before its data (where a payload's names are taken apart in
// place), or inside it, has none. The record is of the reader's source (isOfSource): its source
// name ends inside it, as long as the reader's.
void EventLogReader::findComputer() {
    computerFound_ = 1;
    computer_ = nullptr;
    computerUnits_ = 0;
    if (!record_)
        return;
    const int shortRecord = shortRecord_;
    const uint32_t sourceAt = shortRecord ? kShortSource : kHeaderSize;
    const uint32_t at = sourceAt + 2 * (sourceLength_ + 1);
    const uint32_t data = readLe32(record_ + (shortRecord ? kShortRest : kDataOffset));
    size_t units = 0;
    const int ends = unitsOfText(record_, data < recordSize_ ? data : recordSize_, at, &units);
    computer_ = ends ? reinterpret_cast<WCHAR*>(record_ + at) : nullptr;
    computerUnits_ = ends ? boundName(computer_, units) : 0;
}

// Takes the current record apart. A logon or logoff whose payload is missing or does not fit in
// the record, or whose last two bytes are not zero, is malformed and ends the walk. The names
// are read up to their first zero unit, which may lie past an odd size but must lie inside the
// record. A short record holds the full record's bytes from the data on, and is taken apart as
// the full one would be.
int EventLogReader::parseRecord(int shortRecord) {
    if (!record_)
        return 0;
    kind_ = readLe32(record_ + (shortRecord ? kShortEventId : kEventId));
    time_ = readLe32(record_ + (shortRecord ? kShortTimeGenerated : kTimeGenerated));
    sessionName_ = domain_ = userName_ = nullptr;
    sessionNameUnits_ = domainUnits_ = userNameUnits_ = 0;
    computerFound_ = 0;
    shortRecord_ = shortRecord;
    if (kind_ != Logon && kind_ != Logoff)
        return 1;
    uint32_t offset = readLe32(record_ + (shortRecord ? kShortDataOffset : kDataOffset));
    // Where the data lies here, and the full record's bytes from it on.
    uint32_t at = shortRecord ? readLe32(record_ + kShortRest) : offset;
    // Names are UTF-16 units in place: an odd offset cannot hold them (no log writes one).
    if (offset == 0 || offset % 2 != 0 || at % 2 != 0 || at > recordSize_ ||
        recordSize_ - at < kPayloadMinimum || (shortRecord && at < kShortSource + 2))
        return 0;
    const uint32_t left = recordSize_ - at;
    const uint8_t* payload = record_ + at;
    uint32_t size = readLe32(payload);
    if (size < kPayloadMinimum || size > left || readLe16(payload + size - 2) != 0)
        return 0;
    WCHAR* text = reinterpret_cast<WCHAR*>(record_ + at + kPayloadText);
    uint32_t units = (left - kPayloadText) / 2;
    // The first two backslashes end the session name and the domain.
    uint32_t stops[2] = {units, units}, end = 0;
    if (!findStops(text, units, stops, &end))
        return 0;
    sessionId_ = readLe32(payload + 4);
    sessionName_ = text;
    sessionNameUnits_ = stops[0] < units ? stops[0] : end;
    if (stops[0] < units) {
        text[stops[0]] = 0;
        domain_ = text + stops[0] + 1;
        domainUnits_ = (stops[1] < units ? stops[1] : end) - stops[0] - 1;
    }
    if (stops[1] < units) {
        text[stops[1]] = 0;
        userName_ = text + stops[1] + 1;
        userNameUnits_ = end - stops[1] - 1;
    }
    // Each name ends before the next begins: bounding one leaves the others as they are.
    if (end > kMostNameUnits) {
        sessionNameUnits_ = boundName(sessionName_, sessionNameUnits_);
        if (domain_)
            domainUnits_ = boundName(domain_, domainUnits_);
        if (userName_)
            userNameUnits_ = boundName(userName_, userNameUnits_);
    }
    return 1;
}
