#include "kestrelopt/velocity/single_leader.hpp"

#include "kestrelopt/failure.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kestrelopt {

void check_context(const VelocityContext& context, std::span<double> out) {
    const std::size_t n = context.position.size();
    if (context.velocity.size() < n || context.personal_best.size() < n ||
        context.neighborhood_best.size() < n || out.size() < n)
        fail("velocity context vectors are shorter than the position");
}

namespace {

void plain_from(const detail::LeaderChunk& c, std::size_t j, double c1, double c2, LeaderRule rule,
                double coef) {
    for (; j < c.m; ++j) {
        const double x = c.position[j];
        const double cognitive = (c.personal[j] - x) * (c.factors[2 * j] * c1);
        const double social = (c.neighbor[j] - x) * (c.factors[2 * j + 1] * c2);
        c.out[j] = rule == LeaderRule::Inertia ? (coef * c.velocity[j] + cognitive) + social
                                               : ((cognitive + c.velocity[j]) + social) * coef;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] inline __m256d combine_avx2(const double* position, const double* velocity,
                                                    const double* personal, const double* neighbor,
                                                    __m256d f0, __m256d f1, __m256d k1, __m256d k2,
                                                    __m256d k, bool inertia, __m256i lanes) {
    // Factors come as r1, r2 pairs: unpacking gives r1 (and r2) of dimensions 0, 2, 1, 3,
    // and the permutation puts them in order.
    const __m256d r1 = _mm256_permute4x64_pd(_mm256_unpacklo_pd(f0, f1), 0xD8);
    const __m256d r2 = _mm256_permute4x64_pd(_mm256_unpackhi_pd(f0, f1), 0xD8);
    const __m256d x = _mm256_maskload_pd(position, lanes);
    const __m256d v = _mm256_maskload_pd(velocity, lanes);
    const __m256d cognitive =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_maskload_pd(personal, lanes), x), _mm256_mul_pd(r1, k1));
    const __m256d social =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_maskload_pd(neighbor, lanes), x), _mm256_mul_pd(r2, k2));
    return inertia ? _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(k, v), cognitive), social)
                   : _mm256_mul_pd(_mm256_add_pd(_mm256_add_pd(cognitive, v), social), k);
}

// Lane masks: lane i is on when i < count (count 0..4).
[[gnu::target("avx2")]] inline __m256i first_lanes(std::size_t count) {
    const auto n = static_cast<long long>(count);
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(n), _mm256_setr_epi64x(0, 1, 2, 3));
}

[[gnu::target("avx2")]] void chunk_avx2(const detail::LeaderChunk& c, double c1, double c2,
                                        LeaderRule rule, double coef) {
    const __m256d k1 = _mm256_set1_pd(c1);
    const __m256d k2 = _mm256_set1_pd(c2);
    const __m256d k = _mm256_set1_pd(coef);
    const bool inertia = rule == LeaderRule::Inertia;
    const double* position = c.position;
    const double* velocity = c.velocity;
    const double* personal = c.personal;
    const double* neighbor = c.neighbor;
    const double* factors = c.factors;
    double* out = c.out;
    const std::size_t m = c.m;
    const __m256i all = _mm256_set1_epi64x(-1);
    std::size_t j = 0;
    for (; j + 4 <= m; j += 4) {
        const __m256d result =
            combine_avx2(position + j, velocity + j, personal + j, neighbor + j,
                         _mm256_loadu_pd(factors + 2 * j), _mm256_loadu_pd(factors + 2 * j + 4), k1,
                         k2, k, inertia, all);
        _mm256_storeu_pd(out + j, result);
    }
    if (j < m) {
        // The last one to three dimensions: masked lanes are neither read nor written.
        const std::size_t rest = m - j;
        const __m256i lanes = first_lanes(rest);
        const __m256d f0 = _mm256_maskload_pd(factors + 2 * j, first_lanes(2 * rest));
        const __m256d f1 =
            _mm256_maskload_pd(factors + 2 * j + 4, first_lanes(rest > 2 ? 2 * rest - 4 : 0));
        const __m256d result = combine_avx2(position + j, velocity + j, personal + j, neighbor + j,
                                            f0, f1, k1, k2, k, inertia, lanes);
        _mm256_maskstore_pd(out + j, lanes, result);
    }
}
#endif

}  // namespace

void detail::leader_chunk_portable(const LeaderChunk& chunk, double c1, double c2, LeaderRule rule,
                                   double coef) {
    plain_from(chunk, 0, c1, c2, rule, coef);
}

void detail::leader_chunk(const LeaderChunk& chunk, double c1, double c2, LeaderRule rule,
                          double coef) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2) return chunk_avx2(chunk, c1, c2, rule, coef);
#endif
    plain_from(chunk, 0, c1, c2, rule, coef);
}

void single_leader_update(const VelocityContext& context, RandomSource& gen, std::span<double> out,
                          double c1, double c2, LeaderRule rule, double coef) {
    check_context(context, out);
    const std::size_t n = context.position.size();
    double factors[2 * kVelocityChunk];
    for (std::size_t start = 0; start < n; start += kVelocityChunk) {
        const std::size_t m = n - start < kVelocityChunk ? n - start : kVelocityChunk;
        gen.fill_uniform01(std::span<double>(factors, 2 * m));
        detail::leader_chunk(
            {context.position.data() + start, context.velocity.data() + start,
             context.personal_best.data() + start, context.neighborhood_best.data() + start,
             factors, out.data() + start, m},
            c1, c2, rule, coef);
    }
}

}  // namespace kestrelopt
