// The ChaCha8 block function, four blocks per call: a scalar form and an SSE2 form that
// works on the four blocks side by side (lane b of every vector belongs to block b).
#include <array>
#include <bit>
#include <cstdint>

#include "kestrelopt/random.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrelopt::detail {

namespace {

constexpr std::array<std::uint32_t, 4> kSigma = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
constexpr int kDoubleRounds = 4;

inline void quarter(std::uint32_t* x, int a, int b, int c, int d) {
    x[a] += x[b];
    x[d] = std::rotl(x[d] ^ x[a], 16);
    x[c] += x[d];
    x[b] = std::rotl(x[b] ^ x[c], 12);
    x[a] += x[b];
    x[d] = std::rotl(x[d] ^ x[a], 8);
    x[c] += x[d];
    x[b] = std::rotl(x[b] ^ x[c], 7);
}

void start_state(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                 std::uint64_t stream, std::uint32_t* state) {
    for (int i = 0; i < 4; ++i) state[i] = kSigma[i];
    for (int i = 0; i < 8; ++i) state[4 + i] = key[i];
    state[12] = static_cast<std::uint32_t>(counter);
    state[13] = static_cast<std::uint32_t>(counter >> 32);
    state[14] = static_cast<std::uint32_t>(stream);
    state[15] = static_cast<std::uint32_t>(stream >> 32);
}

}  // namespace

void chacha8_four_blocks_scalar(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                                std::uint64_t stream, std::uint32_t* out) {
    for (std::uint64_t block = 0; block < 4; ++block) {
        std::uint32_t start[16];
        start_state(key, counter + block, stream, start);
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = start[i];
        for (int round = 0; round < kDoubleRounds; ++round) {
            quarter(x, 0, 4, 8, 12);
            quarter(x, 1, 5, 9, 13);
            quarter(x, 2, 6, 10, 14);
            quarter(x, 3, 7, 11, 15);
            quarter(x, 0, 5, 10, 15);
            quarter(x, 1, 6, 11, 12);
            quarter(x, 2, 7, 8, 13);
            quarter(x, 3, 4, 9, 14);
        }
        for (int i = 0; i < 16; ++i) out[16 * block + i] = x[i] + start[i];
    }
}

#if defined(__SSE2__)

namespace {

template <int N>
inline __m128i rotl(__m128i v) {
    return _mm_or_si128(_mm_slli_epi32(v, N), _mm_srli_epi32(v, 32 - N));
}

inline void quarter(__m128i* x, int a, int b, int c, int d) {
    x[a] = _mm_add_epi32(x[a], x[b]);
    x[d] = rotl<16>(_mm_xor_si128(x[d], x[a]));
    x[c] = _mm_add_epi32(x[c], x[d]);
    x[b] = rotl<12>(_mm_xor_si128(x[b], x[c]));
    x[a] = _mm_add_epi32(x[a], x[b]);
    x[d] = rotl<8>(_mm_xor_si128(x[d], x[a]));
    x[c] = _mm_add_epi32(x[c], x[d]);
    x[b] = rotl<7>(_mm_xor_si128(x[b], x[c]));
}

inline __m128i lanes(std::uint32_t v0, std::uint32_t v1, std::uint32_t v2, std::uint32_t v3) {
    return _mm_set_epi32(static_cast<int>(v3), static_cast<int>(v2), static_cast<int>(v1),
                         static_cast<int>(v0));
}

}  // namespace

bool chacha8_four_blocks_simd(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                              std::uint64_t stream, std::uint32_t* out) {
    __m128i start[16];
    for (int i = 0; i < 4; ++i) start[i] = _mm_set1_epi32(static_cast<int>(kSigma[i]));
    for (int i = 0; i < 8; ++i) start[4 + i] = _mm_set1_epi32(static_cast<int>(key[i]));
    std::uint64_t c[4];
    for (int b = 0; b < 4; ++b) c[b] = counter + static_cast<std::uint64_t>(b);
    start[12] = lanes(static_cast<std::uint32_t>(c[0]), static_cast<std::uint32_t>(c[1]),
                      static_cast<std::uint32_t>(c[2]), static_cast<std::uint32_t>(c[3]));
    start[13] =
        lanes(static_cast<std::uint32_t>(c[0] >> 32), static_cast<std::uint32_t>(c[1] >> 32),
              static_cast<std::uint32_t>(c[2] >> 32), static_cast<std::uint32_t>(c[3] >> 32));
    start[14] = _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(stream)));
    start[15] = _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(stream >> 32)));

    __m128i x[16];
    for (int i = 0; i < 16; ++i) x[i] = start[i];
    for (int round = 0; round < kDoubleRounds; ++round) {
        quarter(x, 0, 4, 8, 12);
        quarter(x, 1, 5, 9, 13);
        quarter(x, 2, 6, 10, 14);
        quarter(x, 3, 7, 11, 15);
        quarter(x, 0, 5, 10, 15);
        quarter(x, 1, 6, 11, 12);
        quarter(x, 2, 7, 8, 13);
        quarter(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) x[i] = _mm_add_epi32(x[i], start[i]);

    // Transpose each group of four words so that every block's words lie contiguously.
    for (int g = 0; g < 4; ++g) {
        const __m128i a = x[4 * g], b = x[4 * g + 1], cc = x[4 * g + 2], d = x[4 * g + 3];
        const __m128i ab_lo = _mm_unpacklo_epi32(a, b);   // a0 b0 a1 b1
        const __m128i ab_hi = _mm_unpackhi_epi32(a, b);   // a2 b2 a3 b3
        const __m128i cd_lo = _mm_unpacklo_epi32(cc, d);  // c0 d0 c1 d1
        const __m128i cd_hi = _mm_unpackhi_epi32(cc, d);  // c2 d2 c3 d3
        const __m128i rows[4] = {_mm_unpacklo_epi64(ab_lo, cd_lo), _mm_unpackhi_epi64(ab_lo, cd_lo),
                                 _mm_unpacklo_epi64(ab_hi, cd_hi),
                                 _mm_unpackhi_epi64(ab_hi, cd_hi)};
        for (int block = 0; block < 4; ++block)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * block + 4 * g), rows[block]);
    }
    return true;
}

#endif

#if defined(__x86_64__)

void chacha8_eight_blocks_avx2(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                               std::uint64_t stream, std::uint32_t* first, std::uint32_t* next);
void chacha8_eight_blocks_avx512(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                                 std::uint64_t stream, std::uint32_t* first, std::uint32_t* next);

bool chacha8_eight_blocks_with(VectorLevel level, const std::array<std::uint32_t, 8>& key,
                               std::uint64_t counter, std::uint64_t stream, std::uint32_t* first,
                               std::uint32_t* next) {
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    static const bool has_avx512 =
        has_avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    if (level == VectorLevel::Avx512 && has_avx512) {
        chacha8_eight_blocks_avx512(key, counter, stream, first, next);
        return true;
    }
    if (level == VectorLevel::Avx2 && has_avx2) {
        chacha8_eight_blocks_avx2(key, counter, stream, first, next);
        return true;
    }
    return false;
}

bool chacha8_eight_blocks_simd(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                               std::uint64_t stream, std::uint32_t* first, std::uint32_t* next) {
    return chacha8_eight_blocks_with(VectorLevel::Avx512, key, counter, stream, first, next) ||
           chacha8_eight_blocks_with(VectorLevel::Avx2, key, counter, stream, first, next);
}

#else

bool chacha8_eight_blocks_with(VectorLevel, const std::array<std::uint32_t, 8>&, std::uint64_t,
                               std::uint64_t, std::uint32_t*, std::uint32_t*) {
    return false;
}

bool chacha8_eight_blocks_simd(const std::array<std::uint32_t, 8>&, std::uint64_t, std::uint64_t,
                               std::uint32_t*, std::uint32_t*) {
    return false;
}

#endif

#if !defined(__SSE2__)

bool chacha8_four_blocks_simd(const std::array<std::uint32_t, 8>&, std::uint64_t, std::uint64_t,
                              std::uint32_t*) {
    return false;
}

#endif

}  // namespace kestrelopt::detail
