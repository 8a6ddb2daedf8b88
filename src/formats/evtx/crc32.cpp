#include "crc32.h"

#include "formats/little_endian.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VLMAUDIT_CLMUL 1
#endif

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

#ifdef VLMAUDIT_CLMUL
// Folding with carry-less multiplication, where the processor has it: the data is taken 64
// bytes a step in four 128-bit lanes, each lane multiplied forward past the next 64 bytes by a
// power of x modulo the polynomial and added to them; then the lanes are folded into one, and
// that one reduced to 32 bits. In the reflected bit order of this CRC, the constant for a shift
// by n bits is x^n mod P, reflected and moved up one bit.
constexpr uint64_t kPolynomial = 0x104C11DB7ull; // P(x), x^32 included

constexpr uint64_t reflected(uint64_t value, int bits) {
    uint64_t out = 0;
    for (int i = 0; i < bits; ++i)
        out |= (value >> i & 1) << (bits - 1 - i);
    return out;
}

constexpr uint64_t shiftConstant(int n) { // reflect(x^n mod P) << 1
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r >> 32 & 1)
            r ^= kPolynomial;
    }
    return reflected(r, 32) << 1;
}

constexpr uint64_t barrettQuotient() { // x^64 / P, reflected over its 33 bits
    // The first step takes x^64 down to P's lower terms times x^32; the rest fit 64 bits.
    uint64_t quotient = uint64_t(1) << 32, rest = (kPolynomial & 0xFFFFFFFFu) << 32;
    for (int i = 63; i >= 32; --i) {
        if (rest >> i & 1) {
            quotient |= uint64_t(1) << (i - 32);
            rest ^= kPolynomial << (i - 32);
        }
    }
    return reflected(quotient, 33);
}

__m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// lane * x^(the bits past it, as k holds them) + next
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i lane, __m128i next,
                                                             __m128i k) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)),
        next);
}

// The 128 bits left, folded with the rest of the data sixteen bytes a step, then reduced to 32
// bits: 128 to 64, then to 32 by Barrett reduction.
__attribute__((target("pclmul,sse4.1"))) inline uint32_t
finishCarryless(__m128i x, const uint8_t* data, size_t size) {
    const __m128i across1 = _mm_set_epi64x(static_cast<long long>(shiftConstant(128 - 32)),
                                           static_cast<long long>(shiftConstant(128 + 32)));
    const __m128i to32 = _mm_set_epi64x(0, static_cast<long long>(shiftConstant(64)));
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(barrettQuotient()),
                                           static_cast<long long>(reflected(kPolynomial, 33)));
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    for (; size >= 16; data += 16, size -= 16)
        x = fold(x, load(data), across1);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, across1, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), to32, 0x00),
                      _mm_srli_si128(x, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

// At least 64 bytes, a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t foldCarryless(const uint8_t* data, size_t size,
                                                                uint32_t state) {
    const __m128i across4 = _mm_set_epi64x(static_cast<long long>(shiftConstant(4 * 128 - 32)),
                                           static_cast<long long>(shiftConstant(4 * 128 + 32)));
    const __m128i across1 = _mm_set_epi64x(static_cast<long long>(shiftConstant(128 - 32)),
                                           static_cast<long long>(shiftConstant(128 + 32)));
    __m128i lane[4] = {_mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(state))),
                       load(data + 16), load(data + 32), load(data + 48)};
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64)
        for (int i = 0; i < 4; ++i)
            lane[i] = fold(lane[i], load(data + 16 * i), across4);
    __m128i x = fold(fold(fold(lane[0], lane[1], across1), lane[2], across1), lane[3], across1);
    return finishCarryless(x, data, size);
}

__attribute__((target("avx2"))) inline __m256i load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same 128 bytes a step, two lanes in each 256-bit register, where the processor multiplies
// both halves of one at once: the chunks of a log are checked in half the time. At least 128
// bytes, a multiple of 16.
__attribute__((target("vpclmulqdq,avx2,pclmul,sse4.1"))) uint32_t
foldCarryless256(const uint8_t* data, size_t size, uint32_t state) {
    const long long far = static_cast<long long>(shiftConstant(8 * 128 + 32)),
                    near = static_cast<long long>(shiftConstant(8 * 128 - 32));
    const __m256i across8 = _mm256_set_epi64x(near, far, near, far);
    const __m128i across1 = _mm_set_epi64x(static_cast<long long>(shiftConstant(128 - 32)),
                                           static_cast<long long>(shiftConstant(128 + 32)));
    __m256i lane[4] = {_mm256_xor_si256(load256(data), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0,
                                                                        static_cast<int>(state))),
                       load256(data + 32), load256(data + 64), load256(data + 96)};
    data += 128;
    size -= 128;
    for (; size >= 128; data += 128, size -= 128)
        for (int i = 0; i < 4; ++i)
            lane[i] =
                _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(lane[i], across8, 0x00),
                                                  _mm256_clmulepi64_epi128(lane[i], across8, 0x11)),
                                 load256(data + 32 * i));
    // The eight lanes in the order of their bytes, folded into one.
    __m128i x = _mm256_castsi256_si128(lane[0]);
    x = fold(x, _mm256_extracti128_si256(lane[0], 1), across1);
    for (int i = 1; i < 4; ++i) {
        x = fold(x, _mm256_castsi256_si128(lane[i]), across1);
        x = fold(x, _mm256_extracti128_si256(lane[i], 1), across1);
    }
    return finishCarryless(x, data, size);
}

const int kHasCarryless = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
const int kHasCarryless256 =
    kHasCarryless && __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx2");
#endif

} // namespace

uint32_t crc32Along(int path, const uint8_t* data, size_t size, uint32_t crc) {
    const auto& t = kTables.t;
    crc = ~crc;
#ifdef VLMAUDIT_CLMUL
    if (size >= 64 && path >= 1 && kHasCarryless) {
        size_t whole = size & ~size_t(15);
        crc = size >= 128 && path >= 2 && kHasCarryless256 ? foldCarryless256(data, whole, crc)
                                                           : foldCarryless(data, whole, crc);
        data += whole;
        size -= whole;
    }
#else
    (void)path;
#endif
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

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
    return crc32Along(2, data, size, crc);
}
