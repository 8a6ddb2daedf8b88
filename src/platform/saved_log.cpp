// A saved event log read with the program's own decoders, on every platform; on Linux the
// stand-in's live logs too. A handle reads the file as its walk goes, under a shared lock taken
// when the walk begins and given up when no walk of the handle is under way any more; the
// writer's exclusive lock waits for it, so each walk sees one consistent snapshot, and records
// appended meanwhile appear to the next walk. A report that prints long after its walk ended
// holds up no writer. On Windows the share mode the file is opened with keeps writers off
// instead, for as long as the handle is open. Both formats give the same records, and neither is
// ever held whole in memory.
#include "saved_log.h"

#include "formats/evt/evt_file.h"
#include "formats/evtx/evtx_file.h"
#include "formats/evtx/evtx_read_ahead.h"
#include "formats/file_io.h"
#include "formats/little_endian.h"
#include "platform.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct SavedLog {
    int fd = -1;    // -1 for a missing file
    int loaded = 0; // a walk began: the file's header was read
    int locked = 0; // the shared lock is held: a walk is under way
    int stale = 0;  // the lock was given up since the header was read
    // For each way (newest first, oldest first): a walk is under way; it ended, and how.
    int underWay[2] = {0, 0};
    int ended[2] = {0, 0};
    DWORD endCode[2] = {ERROR_SUCCESS, ERROR_SUCCESS};
    // How its records are given, fixed by the first read: 0 not yet, 1 whole, 2 short records.
    int shape = 0;
    int readable = 1; // it holds an event log
    int empty = 0;    // an empty file: an empty log
    int xml = 0;      // a .evtx file
    EvtFile log;
    size_t backwardRead = 0; // records already read newest first
    size_t forwardRead = 0;  // records already read oldest first
    // .evtx: read chunk by chunk as the walk goes, with a cursor for each direction and the
    // record decoded next (a read asks for its size first, then for the record).
    EvtxFile xmlLog;
    EvtxCursor cursors[2];
    // The record a read found next, for the read that takes it: in a batch of the file's, or of
    // one decoded ahead.
    const EvtxBatch::Record* nextRecord = nullptr;
    const uint8_t* nextBytes = nullptr;
    // The first walk of the handle is decoded ahead on other threads. A walk the other way
    // stops them; then, once the batches decoded ahead are read, the walk goes on on the
    // reader's thread.
    int aheadTried = 0;
    int aheadBackwards = 0;
    std::unique_ptr<EvtxReadAhead> ahead;
};

// The start of a walk: the lock, then the header and the end of the log, read again when the
// lock was given up since (a walk the other way ended): this walk reads its own snapshot.
void begin(SavedLog& handle, int way) {
    if (handle.underWay[way])
        return;
    handle.underWay[way] = 1;
    handle.cursors[way] = EvtxCursor();
    handle.cursors[way].backwards = way == 0;
    (way == 0 ? handle.backwardRead : handle.forwardRead) = 0;
    if (handle.fd < 0)
        return;
    if (!handle.locked) {
        lockShared(handle.fd);
        handle.locked = 1;
    }
    if (handle.loaded && !handle.stale)
        return;
    handle.loaded = 1;
    handle.stale = 0;
    uint64_t size = 0;
    handle.readable = fileSize(handle.fd, &size);
    handle.empty = handle.readable && size == 0;
    if (handle.readable && !handle.empty)
        handle.readable = handle.xml ? handle.xmlLog.open(handle.fd) : handle.log.open(handle.fd);
}

// The end of a walk, said by code from now on. Once no walk is under way, the threads that read
// the file ahead are done and the lock goes: nothing of the file is read after.
void end(SavedLog& handle, int way, DWORD code) {
    handle.underWay[way] = 0;
    handle.ended[way] = 1;
    handle.endCode[way] = code;
    if (handle.underWay[!way] || !handle.locked)
        return;
    handle.ahead.reset();
    unlockFile(handle.fd);
    handle.locked = 0;
    handle.stale = 1;
}

// .evtx: what decodes the walk ahead on other threads, where it is that walk's.
EvtxReadAhead* readAhead(SavedLog& handle, int backwards) {
    if (!handle.aheadTried) {
        handle.aheadTried = 1;
        handle.ahead.reset(new (std::nothrow)
                               EvtxReadAhead(handle.xmlLog, handle.cursors[backwards ? 0 : 1]));
        if (handle.ahead && !handle.ahead->start())
            handle.ahead.reset();
        handle.aheadBackwards = backwards;
    }
    if (!handle.ahead)
        return nullptr;
    if (handle.aheadBackwards != backwards) {
        handle.ahead->stop(); // the file and the cursors are this thread's again
        return nullptr;
    }
    return handle.ahead.get();
}

// .evtx: the length of the next record of the walk, decoded now (or ahead) and kept for the read
// that takes it; 0 at the end, with corrupt set where a record could not be decoded.
uint32_t peekXml(SavedLog& handle, int backwards, int* corrupt) {
    EvtxReadAhead* ahead = readAhead(handle, backwards);
    WalkStep got = ahead ? ahead->peek(&handle.nextRecord, &handle.nextBytes)
                         : handle.xmlLog.peek(handle.cursors[backwards ? 0 : 1], &handle.nextRecord,
                                              &handle.nextBytes);
    if (got == WalkStep::Broken)
        *corrupt = 1;
    return got == WalkStep::Record ? handle.nextRecord->length : 0;
}

// .evtx: whether the walks passed over a chunk or read one only in part.
int damaged(const SavedLog& handle) {
    return handle.xml &&
           !(handle.xmlLog.skippedChunks().empty() && handle.xmlLog.damagedChunks().empty());
}

// .evtx: the record found next and those that follow it in its batch, as many as fit room
// bytes (the first does), copied at once; their bytes, and their count in *count.
size_t takeXml(SavedLog& handle, int backwards, uint8_t* out, size_t room, size_t* count) {
    const EvtxBatch::Record* first = handle.nextRecord;
    size_t bytes = first->length, more = 0;
    const EvtxCursor& cursor = handle.cursors[backwards ? 0 : 1];
    for (; more < first->follow && first[more + 1].length <= room - bytes &&
           handle.xmlLog.affords(cursor, first[more + 1]);
         ++more)
        bytes += first[more + 1].length;
    std::memcpy(out, handle.nextBytes, bytes);
    EvtxFile::takeRun(handle.cursors[backwards ? 0 : 1], *first, more);
    *count = more + 1;
    return bytes;
}

} // namespace

DWORD checkLogHeader(int fd, int xml) {
    uint64_t size = 0;
    uint8_t header[kEvtHeaderSize];
    if (!fileSize(fd, &size))
        return ERROR_ACCESS_DENIED;
    if (size > 0 &&
        (!readAt(fd, 0, header, sizeof header) ||
         (xml ? !isEvtxSignature(header, sizeof header)
              : readLe32(header) != kEvtHeaderSize || readLe32(header + 4) != kEvtSignature)))
        return ERROR_EVENTLOG_FILE_CORRUPT;
    return ERROR_SUCCESS;
}

// A handle for the file open at fd (-1: a missing file, an empty log).
HANDLE newSavedLog(int fd, int xml) {
    SavedLog* handle = new (std::nothrow) SavedLog;
    if (!handle) {
        if (fd >= 0)
            closeFile(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    handle->fd = fd;
    handle->xml = xml;
    return handle;
}

HANDLE openSavedLog(const WCHAR* fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int fd = -1;
    DWORD status = openSavedFile(fileName, &fd);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return nullptr;
    }
    uint8_t header[kEvtHeaderSize];
    uint64_t size = 0;
    size_t got = fileSize(fd, &size) ? (size < sizeof header ? size : sizeof header) : 0;
    int xml = 0;
    if (size > 0 && (got == 0 || !readAt(fd, 0, header, got)))
        status = ERROR_ACCESS_DENIED;
    else if (!(xml = isEvtxSignature(header, got)) &&
             (got < 8 || readLe32(header + 4) != kEvtSignature))
        status = ERROR_BAD_FORMAT;
    else
        status = checkLogHeader(fd, xml);
    if (status != ERROR_SUCCESS) {
        closeFile(fd);
        SetLastError(status);
        return nullptr;
    }
    return newSavedLog(fd, xml);
}

namespace {

// Records as ReadEventLogW and readShortEventRecords give them (shape 1 or 2).
BOOL readRecords(SavedLog* handle, int shape, DWORD flags, void* buffer, DWORD bytesToRead,
                 DWORD* bytesRead, DWORD* minBytesNeeded) {
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int backwards = (flags & EVENTLOG_BACKWARDS_READ) != 0;
    int forwards = (flags & EVENTLOG_FORWARDS_READ) != 0;
    if (!buffer || !bytesRead || !minBytesNeeded || !(flags & EVENTLOG_SEQUENTIAL_READ) ||
        (flags & EVENTLOG_SEEK_READ) || backwards == forwards) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handle->shape == 0 && (shape == 1 || handle->xml)) { // only a .evtx file has short ones
        handle->shape = shape;
        if (shape == 2)
            handle->xmlLog.giveShortRecords(1); // nothing is decoded yet
    }
    if (handle->shape != shape) {
        SetLastError(shape == 2 ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int way = backwards ? 0 : 1;
    if (handle->ended[way]) {
        SetLastError(handle->endCode[way]);
        return FALSE;
    }
    begin(*handle, way);
    EvtFile& file = handle->log;
    int plain = !handle->xml && !handle->empty && handle->fd >= 0;
    if (plain && forwards) // the oldest record first: the walk back must reach it before
        file.reach(static_cast<size_t>(-1));
    if (!handle->readable || (plain && forwards && file.corrupt())) {
        // Not an event log after all, or the oldest records lie beyond a corrupt one.
        end(*handle, way, ERROR_EVENTLOG_FILE_CORRUPT);
        SetLastError(ERROR_EVENTLOG_FILE_CORRUPT);
        return FALSE;
    }
    size_t& done = backwards ? handle->backwardRead : handle->forwardRead;
    DWORD copied = 0;
    int corrupt = 0;
    *bytesRead = 0;
    *minBytesNeeded = 0;
    for (;;) {
        if (plain && backwards && done == file.recordCount()) { // what the window holds, at once
            copied +=
                file.walkBackInto(static_cast<uint8_t*>(buffer) + copied, bytesToRead - copied);
            done = file.recordCount();
        }
        size_t index = backwards ? done : file.recordCount() - 1 - done;
        uint32_t length = 0;
        if (handle->xml && !handle->empty && handle->fd >= 0)
            length = peekXml(*handle, backwards, &corrupt);
        else if (plain && (backwards ? file.reach(done) : done < file.recordCount()))
            length = file.recordLength(index);
        else if (plain && backwards)
            corrupt = file.corrupt();
        if (length == 0)
            break;
        if (length > bytesToRead - copied) {
            if (copied > 0)
                break;
            *minBytesNeeded = length;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        uint8_t* out = static_cast<uint8_t*>(buffer) + copied;
        if (handle->xml) {
            size_t count = 0;
            copied +=
                static_cast<DWORD>(takeXml(*handle, backwards, out, bytesToRead - copied, &count));
            done += count;
            continue;
        }
        file.copyRecord(index, length, out);
        copied += length;
        ++done;
    }
    if (copied == 0) {
        DWORD code = corrupt            ? ERROR_EVENTLOG_FILE_CORRUPT
                     : damaged(*handle) ? ERROR_FILE_CORRUPT
                                        : ERROR_HANDLE_EOF;
        end(*handle, way, code);
        SetLastError(code);
        return FALSE;
    }
    *bytesRead = copied;
    return TRUE;
}

} // namespace

BOOL readSavedLog(HANDLE log, int shortRecords, DWORD flags, void* buffer, DWORD bytesToRead,
                  DWORD* bytesRead, DWORD* minBytesNeeded) {
    return readRecords(static_cast<SavedLog*>(log), shortRecords ? 2 : 1, flags, buffer,
                       bytesToRead, bytesRead, minBytesNeeded);
}

void describeSavedLogDamage(HANDLE log, char* out, size_t size) {
    const SavedLog* handle = static_cast<const SavedLog*>(log);
    if (size > 0)
        std::snprintf(out, size, "%s",
                      handle && damaged(*handle) ? handle->xmlLog.damageText().c_str() : "");
}

BOOL closeSavedLog(HANDLE log) {
    if (!log) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SavedLog* handle = static_cast<SavedLog*>(log);
    handle->ahead.reset(); // its thread reads the file
    if (handle->fd >= 0)
        closeFile(handle->fd); // and with it the lock
    delete handle;
    return TRUE;
}
