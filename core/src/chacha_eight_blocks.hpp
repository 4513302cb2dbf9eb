// The ChaCha8 kernel over eight consecutive blocks at once with 256-bit vectors (lane b of
// every vector belongs to block b), for the translation units that build it for one
// instruction set each: AVX2, and AVX-512VL, whose 32 vector registers hold the whole state
// and whose rotate instruction does in one step what AVX2 does in two or three. Every form
// gives exactly the words of eight scalar blocks. Internal linkage: each including unit
// keeps its own copy, compiled for its own instructions.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

namespace kestrelopt::detail {
namespace {

inline __m256i rotl16(__m256i v) {
#if defined(__AVX512VL__)
    return _mm256_rol_epi32(v, 16);
#else
    const __m256i mask = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2,
                                          3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    return _mm256_shuffle_epi8(v, mask);
#endif
}

inline __m256i rotl8(__m256i v) {
#if defined(__AVX512VL__)
    return _mm256_rol_epi32(v, 8);
#else
    const __m256i mask = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3,
                                          0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    return _mm256_shuffle_epi8(v, mask);
#endif
}

template <int N>
inline __m256i rotl(__m256i v) {
#if defined(__AVX512VL__)
    return _mm256_rol_epi32(v, N);
#else
    return _mm256_or_si256(_mm256_slli_epi32(v, N), _mm256_srli_epi32(v, 32 - N));
#endif
}

inline void quarter(__m256i* x, int a, int b, int c, int d) {
    x[a] = _mm256_add_epi32(x[a], x[b]);
    x[d] = rotl16(_mm256_xor_si256(x[d], x[a]));
    x[c] = _mm256_add_epi32(x[c], x[d]);
    x[b] = rotl<12>(_mm256_xor_si256(x[b], x[c]));
    x[a] = _mm256_add_epi32(x[a], x[b]);
    x[d] = rotl8(_mm256_xor_si256(x[d], x[a]));
    x[c] = _mm256_add_epi32(x[c], x[d]);
    x[b] = rotl<7>(_mm256_xor_si256(x[b], x[c]));
}

inline int as_int(std::uint32_t v) {
    return static_cast<int>(v);
}

inline void eight_blocks(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                         std::uint64_t stream, std::uint32_t* first, std::uint32_t* next) {
    static constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    __m256i start[16];
    for (int i = 0; i < 4; ++i) start[i] = _mm256_set1_epi32(as_int(kSigma[i]));
    for (int i = 0; i < 8; ++i) start[4 + i] = _mm256_set1_epi32(as_int(key[i]));
    std::uint32_t low[8];
    std::uint32_t high[8];
    for (int b = 0; b < 8; ++b) {
        const std::uint64_t c = counter + static_cast<std::uint64_t>(b);
        low[b] = static_cast<std::uint32_t>(c);
        high[b] = static_cast<std::uint32_t>(c >> 32);
    }
    start[12] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(low));
    start[13] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high));
    start[14] = _mm256_set1_epi32(as_int(static_cast<std::uint32_t>(stream)));
    start[15] = _mm256_set1_epi32(as_int(static_cast<std::uint32_t>(stream >> 32)));

    __m256i x[16];
    for (int i = 0; i < 16; ++i) x[i] = start[i];
    for (int round = 0; round < 4; ++round) {
        quarter(x, 0, 4, 8, 12);
        quarter(x, 1, 5, 9, 13);
        quarter(x, 2, 6, 10, 14);
        quarter(x, 3, 7, 11, 15);
        quarter(x, 0, 5, 10, 15);
        quarter(x, 1, 6, 11, 12);
        quarter(x, 2, 7, 8, 13);
        quarter(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) x[i] = _mm256_add_epi32(x[i], start[i]);

    // Transpose each group of four words within the 128-bit halves: the low half of row k
    // then holds block k's words, the high half block k + 4's.
    for (int g = 0; g < 4; ++g) {
        const __m256i a = x[4 * g], b = x[4 * g + 1], c = x[4 * g + 2], d = x[4 * g + 3];
        const __m256i ab_lo = _mm256_unpacklo_epi32(a, b);
        const __m256i ab_hi = _mm256_unpackhi_epi32(a, b);
        const __m256i cd_lo = _mm256_unpacklo_epi32(c, d);
        const __m256i cd_hi = _mm256_unpackhi_epi32(c, d);
        const __m256i rows[4] = {
            _mm256_unpacklo_epi64(ab_lo, cd_lo), _mm256_unpackhi_epi64(ab_lo, cd_lo),
            _mm256_unpacklo_epi64(ab_hi, cd_hi), _mm256_unpackhi_epi64(ab_hi, cd_hi)};
        for (int k = 0; k < 4; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(first + 16 * k + 4 * g),
                             _mm256_castsi256_si128(rows[k]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(next + 16 * k + 4 * g),
                             _mm256_extracti128_si256(rows[k], 1));
        }
    }
}

}  // namespace
}  // namespace kestrelopt::detail
