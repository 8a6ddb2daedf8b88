// The descriptor calls of formats/file_io.h over a Windows file handle.
#include "formats/file_io.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

} // namespace

// A read with an offset of its own: threads reading the same handle do not share a position.
int readAt(int fd, uint64_t offset, uint8_t* out, size_t length) {
    HANDLE file = handleOf(fd);
    while (length > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD want = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length), got = 0;
        if (!ReadFile(file, out, want, &got, &at) || got == 0)
            return 0;
        out += got;
        length -= got;
        offset += got;
    }
    return 1;
}

int fileSize(int fd, uint64_t* size) {
    LARGE_INTEGER bytes;
    if (!GetFileSizeEx(handleOf(fd), &bytes) || bytes.QuadPart < 0)
        return 0;
    *size = static_cast<uint64_t>(bytes.QuadPart);
    return 1;
}

// A sparse file's holes read as zeros here: all of it is data.
int nextData(int, uint64_t offset, uint64_t* start, uint64_t* end) {
    *start = offset;
    *end = UINT64_MAX;
    return 1;
}

void lockShared(int) {}

void unlockFile(int) {}

void closeFile(int fd) {
    _close(fd);
}

long usableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 1;
    long count = 0;
    for (; process != 0; process &= process - 1)
        ++count;
    return count;
}
