// CRC-32 (IEEE 802.3, reflected, as zlib computes it): the checksums of .evtx headers and
// chunks.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
