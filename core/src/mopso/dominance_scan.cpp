#include "kestrelopt/mopso/dominance_scan.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kestrelopt {

namespace {

// What a scan reports once a point dominating the candidate turns up: nothing else matters
// then, so it stops there.
constexpr DominanceScan kDominated{true, false, false};

[[gnu::always_inline]] inline DominanceScan scan_body(const double* __restrict first,
                                                      const double* __restrict second,
                                                      std::size_t n, double c0, double c1,
                                                      unsigned char* __restrict flags) {
    unsigned char removes = 0;
    unsigned char equal = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = first[i];
        const double b = second[i];
        const auto better = static_cast<unsigned char>((a < c0) | (b < c1));
        const auto worse = static_cast<unsigned char>((c0 < a) | (c1 < b));
        if (better & (worse ^ 1)) return kDominated;
        const auto flag = static_cast<unsigned char>(worse & (better ^ 1));
        flags[i] = flag;
        removes |= flag;
        equal |= static_cast<unsigned char>((a == c0) & (b == c1));
    }
    return {false, removes != 0, equal != 0};
}

// Each lane's comparisons are gathered first, so that the compiler runs the lanes together;
// the scan stops at the first block with a lane no greater in any coordinate.
[[gnu::always_inline]] inline bool blocks_body(const std::int32_t* __restrict points,
                                               std::size_t blocks, std::size_t width,
                                               const std::int32_t* __restrict candidate) {
    for (std::size_t b = blocks; b-- > 0;) {
        const std::int32_t* block = points + b * width * kBlockLanes;
        std::int32_t greater[kBlockLanes] = {};
        for (std::size_t k = 0; k < width; ++k)
            for (std::size_t l = 0; l < kBlockLanes; ++l)
                greater[l] |= static_cast<std::int32_t>(block[k * kBlockLanes + l] > candidate[k]);
        std::int32_t all = 1;
        for (std::size_t l = 0; l < kBlockLanes; ++l) all &= greater[l];
        if (all == 0) return true;
    }
    return false;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Block b against the candidate's coordinates plus one, which lie above exactly the values
// no greater than the candidate's: a lane of the result is all ones when that point is no
// greater in every coordinate, else zero. `Width` 0 stands for any width, whose bounds are
// made as they are needed.
template <std::size_t Width>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i no_greater_lanes(
    const std::int32_t* points, std::size_t b, std::size_t width, const __m256i* above,
    const std::int32_t* candidate) {
    const std::size_t count = Width == 0 ? width : Width;
    const std::int32_t* block = points + b * count * kBlockLanes;
    __m256i all = _mm256_set1_epi32(-1);
    for (std::size_t k = 0; k < count; ++k) {
        __m256i bound;
        if constexpr (Width == 0)
            bound = _mm256_set1_epi32(candidate[k] + 1);
        else
            bound = above[k];
        const __m256i lanes =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + k * kBlockLanes));
        all = _mm256_and_si256(all, _mm256_cmpgt_epi32(bound, lanes));
    }
    return all;
}

// Two blocks per test, the newest first; the bounds of the usual widths stay in registers.
template <std::size_t Width>
[[gnu::target("avx2")]] bool blocks_avx2(const std::int32_t* points, std::size_t blocks,
                                         std::size_t width, const std::int32_t* candidate) {
    __m256i above[Width == 0 ? 1 : Width];
    for (std::size_t k = 0; k < Width; ++k) above[k] = _mm256_set1_epi32(candidate[k] + 1);
    std::size_t b = blocks;
    if (b % 2 != 0) {
        const __m256i last = no_greater_lanes<Width>(points, --b, width, above, candidate);
        if (!_mm256_testz_si256(last, last)) return true;
    }
    while (b > 0) {
        b -= 2;
        const __m256i either =
            _mm256_or_si256(no_greater_lanes<Width>(points, b, width, above, candidate),
                            no_greater_lanes<Width>(points, b + 1, width, above, candidate));
        if (!_mm256_testz_si256(either, either)) return true;
    }
    return false;
}

// Four points per step: each comparison gives a lane mask, and the four flags come from
// the removal mask's four bits.
[[gnu::target("avx2")]] DominanceScan scan_avx2(const double* first, const double* second,
                                                std::size_t n, double c0, double c1,
                                                unsigned char* flags) {
    static constexpr std::uint32_t kSpread[16] = {0x00000000, 0x00000001, 0x00000100, 0x00000101,
                                                  0x00010000, 0x00010001, 0x00010100, 0x00010101,
                                                  0x01000000, 0x01000001, 0x01000100, 0x01000101,
                                                  0x01010000, 0x01010001, 0x01010100, 0x01010101};
    const __m256d v0 = _mm256_set1_pd(c0);
    const __m256d v1 = _mm256_set1_pd(c1);
    __m256d removes = _mm256_setzero_pd();
    __m256d equal = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d a = _mm256_loadu_pd(first + i);
        const __m256d b = _mm256_loadu_pd(second + i);
        // Ordered, quiet comparisons: false whenever a NaN is involved, like < and ==.
        const __m256d better =
            _mm256_or_pd(_mm256_cmp_pd(a, v0, _CMP_LT_OQ), _mm256_cmp_pd(b, v1, _CMP_LT_OQ));
        const __m256d worse =
            _mm256_or_pd(_mm256_cmp_pd(v0, a, _CMP_LT_OQ), _mm256_cmp_pd(v1, b, _CMP_LT_OQ));
        const __m256d dominating = _mm256_andnot_pd(worse, better);
        if (!_mm256_testz_pd(dominating, dominating)) return kDominated;
        const __m256d flag = _mm256_andnot_pd(better, worse);
        removes = _mm256_or_pd(removes, flag);
        equal = _mm256_or_pd(equal, _mm256_and_pd(_mm256_cmp_pd(a, v0, _CMP_EQ_OQ),
                                                  _mm256_cmp_pd(b, v1, _CMP_EQ_OQ)));
        std::memcpy(flags + i, &kSpread[_mm256_movemask_pd(flag)], 4);
    }
    const DominanceScan tail = scan_body(first + i, second + i, n - i, c0, c1, flags + i);
    if (tail.dominated) return kDominated;
    return {false, tail.removes || _mm256_movemask_pd(removes) != 0,
            tail.equal || _mm256_movemask_pd(equal) != 0};
}
#endif

}  // namespace

namespace detail {
DominanceScan scan_two_objectives_portable(const double* first, const double* second, std::size_t n,
                                           double c0, double c1, unsigned char* flags) {
    return scan_body(first, second, n, c0, c1, flags);
}
bool any_no_greater_portable(const std::int32_t* points, std::size_t blocks, std::size_t width,
                             const std::int32_t* candidate) {
    return blocks_body(points, blocks, width, candidate);
}
}  // namespace detail

bool any_no_greater(const std::int32_t* points, std::size_t blocks, std::size_t width,
                    const std::int32_t* candidate) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2) {
        switch (width) {
            case 3:
                return blocks_avx2<3>(points, blocks, width, candidate);
            case 4:
                return blocks_avx2<4>(points, blocks, width, candidate);
            case 5:
                return blocks_avx2<5>(points, blocks, width, candidate);
            default:
                return blocks_avx2<0>(points, blocks, width, candidate);
        }
    }
#endif
    return detail::any_no_greater_portable(points, blocks, width, candidate);
}

DominanceScan scan_two_objectives(const double* first, const double* second, std::size_t n,
                                  double c0, double c1, unsigned char* flags) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2) return scan_avx2(first, second, n, c0, c1, flags);
#endif
    return detail::scan_two_objectives_portable(first, second, n, c0, c1, flags);
}

}  // namespace kestrelopt
