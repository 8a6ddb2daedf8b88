// Files read and written by descriptor: whole-file reads and writes that go on after short
// transfers and interrupts, and the few calls whose form differs between Linux and Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Both platforms. A descriptor is the C runtime's; on Windows it wraps a file handle.

// Reads length bytes at offset, without moving any file position, from any thread; 1 when all
// of them were there.
int readAt(int fd, uint64_t offset, uint8_t* out, size_t length);
// The size of the file open at fd in *size; 1 when it could be told.
int fileSize(int fd, uint64_t* size);
// Where the file's data goes on from offset: its start and end (UINT64_MAX: the end of the
// file); 0 when only a hole follows. Where the system cannot tell, all of the file is data.
int nextData(int fd, uint64_t offset, uint64_t* start, uint64_t* end);
// Holds writers off while a reader takes its snapshot: a shared lock that waits for the writer's
// exclusive one on Linux. Windows keeps writers off by the share mode the file was opened with.
void lockShared(int fd);
void unlockFile(int fd);
void closeFile(int fd);
// The processors this process may run on (fewer than the machine's under an affinity mask).
long usableProcessors();

// Linux only: the stand-in's logs, the writers and the tools.

// Opens path (flags as for open(2), O_CLOEXEC added) without blocking on a FIFO or a device,
// and keeps it only when it is a regular file. The descriptor, or -1 with errno set: EINVAL
// for anything but a regular file.
int openRegularFile(const std::string& path, int flags, mode_t mode = 0);

// Creates the directories on the way to path (its last component excepted) as needed.
void makeParentDirectories(const std::string& path);

// Reads from offset 0 to the end; a file cut short meanwhile reads as what is there.
int readWholeFile(int fd, std::vector<uint8_t>& bytes);
int writeAllAt(int fd, const void* data, size_t length, off_t offset);
