// Small pieces both reports write.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes count spaces (none when count is 0).
void printSpaces(size_t count);

// Writes the local date and time of seconds; nothing when it cannot be converted.
void printDateTime(uint32_t seconds);
