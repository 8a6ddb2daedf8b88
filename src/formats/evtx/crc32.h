// CRC-32 (IEEE 802.3, reflected, as zlib computes it): the checksums of .evtx headers and
// chunks.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
// The same along one of its ways, or a slower one where the processor lacks it: 0 tables only,
// 1 carry-less folds 64 bytes a step, 2 those 128 bytes a step (what crc32 takes).
uint32_t crc32Along(int path, const uint8_t* data, size_t size, uint32_t crc = 0);
