// Event log functions over $VLMAUDIT_ROOT/eventlog/<Log>.evt. A handle reads the whole file
// once, under a shared lock that the writer's exclusive lock excludes, so it sees one
// consistent snapshot: records appended later appear to the next open.
#include "evt_file.h"
#include "file_io.h"
#include "platform.h"
#include "registry_store.h"
#include "root.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct PosixEventLog {
    EvtFile log;
    size_t backwardRead = 0; // records already read newest first
    size_t forwardRead = 0;  // records already read oldest first
};

// ERROR_SUCCESS with the file's bytes (none for a missing file), or why it cannot be read.
DWORD readLogFile(const std::string& path, std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    DWORD result = readWholeFile(fd, bytes) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    close(fd);
    return result;
}

} // namespace

// Opens the log the source is registered in. A missing file is an empty log; a file that
// cannot be read fails with ERROR_ACCESS_DENIED, one that is no event log with
// ERROR_EVENTLOG_FILE_CORRUPT.
HANDLE OpenEventLogW(const WCHAR* serverName, const WCHAR* sourceName) {
    if ((serverName && *serverName) || !sourceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<uint8_t> bytes;
    DWORD status = readLogFile(eventLogPath(eventLogOfSource(toUtf8(sourceName))), bytes);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return nullptr;
    }
    PosixEventLog* handle = new (std::nothrow) PosixEventLog;
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!bytes.empty() && !handle->log.load(std::move(bytes))) {
        delete handle;
        SetLastError(ERROR_EVENTLOG_FILE_CORRUPT);
        return nullptr;
    }
    return handle;
}

// Sequential reads only, in either direction: as many whole records as fit the buffer.
// ERROR_INSUFFICIENT_BUFFER with the next record's size when not even one fits;
// ERROR_HANDLE_EOF after the last record, ERROR_EVENTLOG_FILE_CORRUPT where a corrupt record
// ended the walk.
BOOL ReadEventLogW(HANDLE log, DWORD flags, DWORD, void* buffer, DWORD bytesToRead,
                   DWORD* bytesRead, DWORD* minBytesNeeded) {
    PosixEventLog* handle = static_cast<PosixEventLog*>(log);
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
    const EvtFile& file = handle->log;
    if (forwards && file.corrupt()) { // the oldest records lie beyond the corrupt one
        SetLastError(ERROR_EVENTLOG_FILE_CORRUPT);
        return FALSE;
    }
    size_t& done = backwards ? handle->backwardRead : handle->forwardRead;
    size_t count = file.recordCount();
    DWORD copied = 0;
    *bytesRead = 0;
    *minBytesNeeded = 0;
    while (done < count) {
        size_t index = backwards ? done : count - 1 - done;
        uint32_t length = file.recordLength(index);
        if (length > bytesToRead - copied) {
            if (copied > 0)
                break;
            *minBytesNeeded = length;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        file.copyRecord(index, static_cast<uint8_t*>(buffer) + copied);
        copied += length;
        ++done;
    }
    if (copied == 0) {
        SetLastError(backwards && file.corrupt() ? ERROR_EVENTLOG_FILE_CORRUPT : ERROR_HANDLE_EOF);
        return FALSE;
    }
    *bytesRead = copied;
    return TRUE;
}

BOOL CloseEventLog(HANDLE log) {
    if (!log) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<PosixEventLog*>(log);
    return TRUE;
}
