#include "crc32.h"

#include "little_endian.h"

namespace {

// Tables for sixteen bytes a step ("slicing by sixteen"): a log of a million records is a
// quarter of a gigabyte of chunks to check, and one byte a step would cost more than the
// decoding.
struct Crc32Tables {
    uint32_t t[16][256];
    Crc32Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 16; ++k)
                t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    }
};

const Crc32Tables kTables;

} // namespace

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& t = kTables.t;
    crc = ~crc;
    for (; size >= 16; data += 16, size -= 16) {
        uint32_t a = readLe32(data) ^ crc, b = readLe32(data + 4), c = readLe32(data + 8),
                 d = readLe32(data + 12);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    }
    for (; size > 0; ++data, --size)
        crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
