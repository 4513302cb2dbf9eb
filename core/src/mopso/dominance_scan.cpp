#include "kestrelopt/mopso/dominance_scan.hpp"

namespace kestrelopt {

namespace {

[[gnu::always_inline]] inline DominanceScan scan_body(const double* __restrict first,
                                                      const double* __restrict second,
                                                      std::size_t n, double c0, double c1,
                                                      unsigned char* __restrict flags) {
    unsigned char dominated = 0;
    unsigned char removes = 0;
    unsigned char equal = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = first[i];
        const double b = second[i];
        const auto better = static_cast<unsigned char>((a < c0) | (b < c1));
        const auto worse = static_cast<unsigned char>((c0 < a) | (c1 < b));
        dominated |= static_cast<unsigned char>(better & (worse ^ 1));
        const auto flag = static_cast<unsigned char>(worse & (better ^ 1));
        flags[i] = flag;
        removes |= flag;
        equal |= static_cast<unsigned char>((a == c0) & (b == c1));
    }
    return {dominated != 0, removes != 0, equal != 0};
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] DominanceScan scan_avx2(const double* first, const double* second,
                                                std::size_t n, double c0, double c1,
                                                unsigned char* flags) {
    return scan_body(first, second, n, c0, c1, flags);
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
