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

#if defined(__x86_64__) && defined(__GNUC__)
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
}  // namespace detail

DominanceScan scan_two_objectives(const double* first, const double* second, std::size_t n,
                                  double c0, double c1, unsigned char* flags) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2) return scan_avx2(first, second, n, c0, c1, flags);
#endif
    return detail::scan_two_objectives_portable(first, second, n, c0, c1, flags);
}

}  // namespace kestrelopt
