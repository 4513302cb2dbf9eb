// The update shared by the single-leader rules (inertia and constriction): per dimension d,
// with r1 then r2 drawn by uniform01,
//   cognitive = (p[d] − x[d])·(r1·c1),  social = (g[d] − x[d])·(r2·c2),
//   Inertia:       out[d] = (coef·v[d] + cognitive) + social
//   Constriction:  out[d] = ((cognitive + v[d]) + social)·coef
// The factors of up to kVelocityChunk dimensions are drawn first, in the order the
// per-dimension loop would draw them, and the arithmetic then runs over the chunk; on
// x86-64 four dimensions at a time with AVX2 when the processor has it (the same IEEE
// operations in the same grouping, so the same bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

inline constexpr std::size_t kVelocityChunk = 64;

enum class LeaderRule : std::uint8_t { Inertia, Constriction };

// Stops unless every vector of the context (and out) has at least the position's length.
void check_context(const VelocityContext& context, std::span<double> out);

void single_leader_update(const VelocityContext& context, RandomSource& gen, std::span<double> out,
                          double c1, double c2, LeaderRule rule, double coef);

namespace detail {
// The arithmetic of m dimensions, factors holding r1, r2 per dimension in that order.
struct LeaderChunk {
    const double* position;
    const double* velocity;
    const double* personal;
    const double* neighbor;
    const double* factors;
    double* out;
    std::size_t m;
};
void leader_chunk(const LeaderChunk& chunk, double c1, double c2, LeaderRule rule, double coef);
// The same, one dimension at a time on every processor.
void leader_chunk_portable(const LeaderChunk& chunk, double c1, double c2, LeaderRule rule,
                           double coef);
}  // namespace detail

}  // namespace kestrelopt
