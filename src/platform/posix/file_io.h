// Whole-file reads and writes that go on after short transfers and interrupts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Reads from offset 0 to the end; a file cut short meanwhile reads as what is there.
int readWholeFile(int fd, std::vector<uint8_t>& bytes);
int writeAllAt(int fd, const void* data, size_t length, off_t offset);
