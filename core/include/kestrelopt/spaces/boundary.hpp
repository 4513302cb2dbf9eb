// apply_boundary: brings every coordinate of a moved position back into its (low, high)
// range with one of four modes, adjusting the matching velocity component as the mode
// says. Coordinates already inside (bounds included) are left alone. O(D) per call, plus
// a bounded number of fold rounds for Reflect.
#pragma once

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

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

}  // namespace detail

// bounds_of(i) returns the Bound of dimension i. velocity must be at least as long as
// position (Reflect and Reinit write to it).
template <class BoundsOf>
void apply_boundary(std::span<double> position, std::span<double> velocity, BoundsOf&& bounds_of,
                    BoundaryMode mode, RandomSource& gen) {
    if (velocity.size() < position.size() &&
        (mode == BoundaryMode::Reflect || mode == BoundaryMode::Reinit))
        fail("velocity is shorter than the position");
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
