// Event log functions over $VLMAUDIT_ROOT/eventlog/<Log>.evtx or, where there is none,
// <Log>.evt, and over saved logs: the handles are saved_log.cpp's.
#include "formats/file_io.h"
#include "paths.h"
#include "platform.h"
#include "registry_store.h"
#include "root.h"
#include "saved_log.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the file and checks that it begins with the header of its format (an empty file is an
// empty log). ERROR_SUCCESS with the descriptor (-1 for a missing file), or why it cannot be
// read.
DWORD openLogFile(const std::string& path, int xml, int* fd) {
    *fd = openRegularFile(path, O_RDONLY);
    if (*fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    DWORD status = checkLogHeader(*fd, xml);
    if (status != ERROR_SUCCESS) {
        close(*fd);
        *fd = -1;
    }
    return status;
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
    // A log kept as .evtx (every Windows since Vista) is read before one kept as .evt.
    std::string log = eventLogOfSource(toUtf8(sourceName));
    int fd = -1, xml = 1;
    DWORD status = openLogFile(eventLogPath(log, ".evtx"), xml, &fd);
    if (status == ERROR_SUCCESS && fd < 0) {
        xml = 0;
        status = openLogFile(eventLogPath(log), xml, &fd);
    }
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return nullptr;
    }
    return newSavedLog(fd, xml);
}

// Opens path without blocking (a FIFO never blocks) and keeps it only when it is a regular file.
DWORD openSavedFile(const WCHAR* fileName, int* fd) {
    *fd = openRegularFile(pathBytes(fileName), O_RDONLY);
    if (*fd >= 0)
        return ERROR_SUCCESS;
    return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
           : errno == EINVAL                   ? ERROR_BAD_FILE_TYPE
                                               : ERROR_ACCESS_DENIED;
}

// Opens a saved log, whatever its name: .evtx or .evt as its header says. A missing file fails
// with ERROR_FILE_NOT_FOUND, anything but a regular file (opened without waiting: a FIFO never
// blocks) with ERROR_BAD_FILE_TYPE, a file with neither signature (an empty one too) with
// ERROR_BAD_FORMAT, and a log whose header is wrong with ERROR_EVENTLOG_FILE_CORRUPT.
HANDLE OpenBackupEventLogW(const WCHAR* serverName, const WCHAR* fileName) {
    if (serverName && *serverName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return openSavedLog(fileName);
}

DWORD GetFileAttributesW(const WCHAR* fileName) {
    struct stat st;
    if (!fileName || stat(pathBytes(fileName).c_str(), &st) != 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// Sequential reads only, in either direction: as many whole records as fit the buffer.
// ERROR_INSUFFICIENT_BUFFER with the next record's size when not even one fits;
// ERROR_HANDLE_EOF after the last record, ERROR_EVENTLOG_FILE_CORRUPT where a corrupt record
// ended the walk, and ERROR_FILE_CORRUPT after the last record of a walk that passed over
// damage (a .evtx chunk passed over or read in part): the two say whether records are missing
// beyond the end. ERROR_INVALID_PARAMETER for a handle readShortEventRecords read.
BOOL ReadEventLogW(HANDLE log, DWORD flags, DWORD, void* buffer, DWORD bytesToRead,
                   DWORD* bytesRead, DWORD* minBytesNeeded) {
    return readSavedLog(log, 0, flags, buffer, bytesToRead, bytesRead, minBytesNeeded);
}

// The same with short records, from a .evtx file.
BOOL readShortEventRecords(HANDLE log, DWORD flags, void* buffer, DWORD bytesToRead,
                           DWORD* bytesRead, DWORD* minBytesNeeded) {
    return readSavedLog(log, 1, flags, buffer, bytesToRead, bytesRead, minBytesNeeded);
}

void describeEventLogDamage(HANDLE log, char* out, size_t size) {
    describeSavedLogDamage(log, out, size);
}

BOOL CloseEventLog(HANDLE log) {
    return closeSavedLog(log);
}
