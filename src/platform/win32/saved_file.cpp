// A saved log's file opened by its wide path, as Linux opens it: a regular file or nothing.
#include "saved_log.h"

#include <fcntl.h>
#include <io.h>

namespace {

// Why the file could not be opened, in the codes Linux gives for the same cases.
DWORD openFailure(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ERROR_FILE_NOT_FOUND;
    case ERROR_PIPE_BUSY: // a named pipe with no free instance: no file either way
        return ERROR_BAD_FILE_TYPE;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Whether the open handle is a file on a disk: not a device (NUL, CON, a volume), a pipe or a
// directory.
int isRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

} // namespace

// Writers are kept off while the log is open: the share mode stands for Linux's shared lock.
// A log some program has open for writing (the event log service's own) is read all the same,
// as a live copy: its decoder reads a chunk being written as far as its records go.
DWORD openSavedFile(const WCHAR* fileName, int* fd) {
    *fd = -1;
    HANDLE file = CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
        file = CreateFileW(fileName, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return openFailure(GetLastError());
    if (!isRegularFile(file)) {
        CloseHandle(file);
        return ERROR_BAD_FILE_TYPE;
    }
    *fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (*fd < 0) {
        CloseHandle(file);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}
