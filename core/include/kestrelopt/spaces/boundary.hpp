// apply_boundary: brings every coordinate of a moved position back into its (low, high)
// range with one of four modes, adjusting the matching velocity component as the mode
// says. Coordinates already inside (bounds included) are left alone. O(D) per call, plus
// a bounded number of fold rounds for Reflect.
#pragma once

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kestrelopt/failure.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

namespace detail {

// Rounds of the literal mirror fold before the closed form takes over; a coordinate
// this many widths out is already far beyond what a velocity update produces.
inline constexpr int kReflectRounds = 1024;

// Reflect for a coordinate outside [lo, hi] with lo < hi (x not NaN). Follows the fold
// round by round, so ordinary overshoots give exactly its bits; coordinates the fold
// cannot bring back in kReflectRounds (infinite, or so far out that subtracting the width
// no longer changes them) are folded once by the remainder modulo twice the width, and an
// infinite one lands on the bound on its side.
inline double reflect_fold(double x, double lo, double hi) {
    const bool above = x > hi;
    for (int round = 0; round < kReflectRounds; ++round) {
        if (x < lo) x = (lo - x) + lo;
        if (x > hi) x = hi - (x - hi);
        if (!(x < lo || x > hi)) return x;
    }
    if (std::isinf(x)) return above ? hi : lo;
    const double width = hi - lo;
    double offset = std::fmod(x - lo, 2 * width);
    if (!std::isfinite(offset)) return above ? hi : lo;
    if (offset < 0) offset += 2 * width;
    const double folded = offset <= width ? lo + offset : hi - (offset - width);
    return std::fmin(hi, std::fmax(lo, folded));
}

#if defined(__SSE2__)
// True when every coordinate lies in its bounds (false for a NaN): the walk's own
// comparisons, two lanes at a time and without branches, so a move that stays inside
// costs one short scan.
template <class BoundsOf>
bool all_inside(std::span<const double> position, BoundsOf& bounds_of) {
    const std::size_t n = position.size();
    std::size_t i = 0;
    __m128d inside = _mm_castsi128_pd(_mm_set1_epi32(-1));
    for (; i + 2 <= n; i += 2) {
        const auto [lo0, hi0] = bounds_of(i);
        const auto [lo1, hi1] = bounds_of(i + 1);
        const __m128d x = _mm_loadu_pd(position.data() + i);
        const __m128d low_ok = _mm_cmple_pd(_mm_set_pd(lo1, lo0), x);
        const __m128d high_ok = _mm_cmple_pd(x, _mm_set_pd(hi1, hi0));
        inside = _mm_and_pd(inside, _mm_and_pd(low_ok, high_ok));
    }
    bool result = _mm_movemask_pd(inside) == 3;
    for (; i < n; ++i) {
        const auto [lo, hi] = bounds_of(i);
        result &= (lo <= position[i]) & (position[i] <= hi);
    }
    return result;
}
#endif

// The Clamp mode of one coordinate: inside (bounds included) and NaN come out unchanged.
inline double clamped(double x, double lo, double hi) {
    x = x < lo ? lo : x;
    return x > hi ? hi : x;
}

// The Clamp mode over bounds held as two arrays, after a move by `step` (added in kOrder)
// when kMove. MAXPD(lo, x) and MINPD(hi, x) compute clamped exactly (they return x for a
// NaN x and for equal operands), two coordinates at a time.
template <bool kMove, MoveOrder kOrder = MoveOrder::VelocityFirst>
void clamp_over(std::span<double> position, const double* step, const double* lower,
                const double* upper) {
    constexpr bool kStepFirst = kOrder == MoveOrder::VelocityFirst;
    double* x = position.data();
    const std::size_t n = position.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 2 <= n; i += 2) {
        __m128d moved = _mm_loadu_pd(x + i);
        if constexpr (kMove)
            moved = kStepFirst ? _mm_add_pd(_mm_loadu_pd(step + i), moved)
                               : _mm_add_pd(moved, _mm_loadu_pd(step + i));
        const __m128d above = _mm_max_pd(_mm_loadu_pd(lower + i), moved);
        _mm_storeu_pd(x + i, _mm_min_pd(_mm_loadu_pd(upper + i), above));
    }
#endif
    for (; i < n; ++i) {
        const double moved = !kMove ? x[i] : (kStepFirst ? step[i] + x[i] : x[i] + step[i]);
        x[i] = clamped(moved, lower[i], upper[i]);
    }
}

}  // namespace detail

// bounds_of(i) returns the Bound of dimension i. velocity must be at least as long as
// position (Reflect and Reinit write to it).
template <class BoundsOf>
void apply_boundary(std::span<double> position, std::span<double> velocity, BoundsOf&& bounds_of,
                    BoundaryMode mode, RandomSource& gen) {
    if (velocity.size() < position.size() &&
        (mode == BoundaryMode::Reflect || mode == BoundaryMode::Reinit))
        fail("velocity is shorter than the position");
    if (mode == BoundaryMode::Clamp) {
        // The walk's clamp without its branches: inside (bounds included) and NaN
        // coordinates come out unchanged. Swarms pressing on a bound make the branches
        // of the walk unpredictable.
        for (std::size_t i = 0; i < position.size(); ++i) {
            const auto [lo, hi] = bounds_of(i);
            position[i] = detail::clamped(position[i], lo, hi);
        }
        return;
    }
#if defined(__SSE2__)
    if (detail::all_inside(position, bounds_of)) return;
#endif
    for (std::size_t i = 0; i < position.size(); ++i) {
        const auto [lo, hi] = bounds_of(i);
        double& x = position[i];
        if (lo <= x && x <= hi) continue;
        const double width = hi - lo;
        const bool fixed = width <= 0;
        switch (mode) {
            case BoundaryMode::Clamp:
                // A NaN coordinate stays NaN.
                if (x < lo) x = lo;
                if (x > hi) x = hi;
                break;
            case BoundaryMode::Reflect:
                if (fixed) {
                    x = lo;
                } else {
                    if (x == x) x = detail::reflect_fold(x, lo, hi);
                    velocity[i] = -velocity[i];
                }
                break;
            case BoundaryMode::Wrap:
                if (fixed) {
                    x = lo;
                } else {
                    const double f = std::fmod(x - lo, width);
                    x = (f < 0 ? width + f : f) + lo;
                }
                break;
            case BoundaryMode::Reinit:
                x = fixed ? lo : uniform_in_inclusive(gen, lo, hi);
                velocity[i] = 0.0;
                break;
        }
    }
}

// enforce_bounds of a box space with `dimensions` bounds: stops with "position is longer than
// the space" when the position has more coordinates, otherwise apply_boundary.
template <class BoundsOf>
void enforce_box_bounds(std::span<double> position, std::span<double> velocity,
                        std::size_t dimensions, BoundsOf&& bounds_of, BoundaryMode mode,
                        RandomSource& gen) {
    if (position.size() > dimensions) fail("position is longer than the space");
    apply_boundary(position, velocity, std::forward<BoundsOf>(bounds_of), mode, gen);
}

// clamp of a box space with `dimensions` bounds: forces every coordinate that has a bound
// into it, without draws; a NaN coordinate stays NaN and coordinates past the bounds are
// left alone.
template <class BoundsOf>
void clamp_to_box(std::span<double> position, std::size_t dimensions, BoundsOf&& bounds_of) {
    const std::size_t n = std::min(position.size(), dimensions);
    for (std::size_t i = 0; i < n; ++i) {
        const auto [low, high] = bounds_of(i);
        if (position[i] < low) position[i] = low;
        if (position[i] > high) position[i] = high;
    }
}

}  // namespace kestrelopt
