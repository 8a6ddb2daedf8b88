// Whole-file reads and writes that go on after short transfers and interrupts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Opens path (flags as for open(2), O_CLOEXEC added) without blocking on a FIFO or a device,
// and keeps it only when it is a regular file. The descriptor, or -1 with errno set: EINVAL
// for anything but a regular file.
int openRegularFile(const std::string& path, int flags, mode_t mode = 0);

// Creates the directories on the way to path (its last component excepted) as needed.
void makeParentDirectories(const std::string& path);

// Reads length bytes at offset; 1 when all of them were there.
int readAt(int fd, uint64_t offset, uint8_t* out, size_t length);

// Reads from offset 0 to the end; a file cut short meanwhile reads as what is there.
int readWholeFile(int fd, std::vector<uint8_t>& bytes);
int writeAllAt(int fd, const void* data, size_t length, off_t offset);
