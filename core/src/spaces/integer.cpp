#include "kestrelopt/spaces/integer.hpp"

#include <algorithm>
#include <string>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/spaces/boundary.hpp"
#include "kestrelopt/spaces/rounding.hpp"

namespace kestrelopt {

IntegerSpace::IntegerSpace(std::vector<IntegerBound> bounds) : bounds_(std::move(bounds)) {
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const auto [low, high] = bounds_[i];
        if (high < low)
            fail("invalid bound in dimension " + std::to_string(i) + ": " + std::to_string(low) +
                 " > " + std::to_string(high));
    }
}

std::vector<double> IntegerSpace::sample(RandomSource& gen) const {
    std::vector<double> out(bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const auto [low, high] = real_bound(i);
        out[i] = uniform_in_inclusive(gen, low, high);
    }
    return out;
}

std::vector<double> IntegerSpace::sample_velocity(RandomSource& gen) const {
    std::vector<double> out(bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        // Wrapping subtraction, done unsigned to stay clear of signed overflow: a range
        // wider than the largest int64 wraps to a negative width.
        const auto width = static_cast<std::int64_t>(static_cast<std::uint64_t>(bounds_[i].second) -
                                                     static_cast<std::uint64_t>(bounds_[i].first));
        if (width < 0) fail("cannot sample empty range");
        const double s = static_cast<double>(width);
        out[i] = uniform_in_inclusive(gen, -s, s);
    }
    return out;
}

std::vector<Bound> IntegerSpace::span() const {
    std::vector<Bound> out(bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) out[i] = real_bound(i);
    return out;
}

void IntegerSpace::decode_into(std::span<const double> position,
                               std::vector<std::int64_t>& out) const {
    const std::size_t n = std::min(position.size(), bounds_.size());
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t r = round_to_i64(position[i]);
        const auto [low, high] = bounds_[i];
        out[i] = r < low ? low : (r > high ? high : r);
    }
}

void IntegerSpace::enforce_bounds(std::span<double> position, std::span<double> velocity,
                                  BoundaryMode mode, RandomSource& gen) const {
    enforce_box_bounds(
        position, velocity, bounds_.size(), [this](std::size_t i) { return real_bound(i); }, mode,
        gen);
}

void IntegerSpace::clamp(std::span<double> position) const {
    clamp_to_box(position, bounds_.size(), [this](std::size_t i) { return real_bound(i); });
}

}  // namespace kestrelopt
