#include "kestrelopt/spaces/continuous.hpp"

#include <string>

#include "kestrelopt/format.hpp"

namespace kestrelopt {

void check_real_bounds(const std::vector<Bound>& bounds) {
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const auto [low, high] = bounds[i];
        if (!(high >= low))
            fail("invalid bound in dimension " + std::to_string(i) + ": " + format_float(low) +
                 " > " + format_float(high));
    }
}

ContinuousSpace::ContinuousSpace(std::vector<Bound> bounds) : bounds_(std::move(bounds)) {
    check_real_bounds(bounds_);
}

std::vector<double> ContinuousSpace::sample(RandomSource& gen) const {
    std::vector<double> out(bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i)
        out[i] = uniform_in_inclusive(gen, bounds_[i].first, bounds_[i].second);
    return out;
}

std::vector<double> ContinuousSpace::sample_velocity(RandomSource& gen) const {
    std::vector<double> out(bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const double s = bounds_[i].second - bounds_[i].first;
        out[i] = uniform_in_inclusive(gen, -s, s);
    }
    return out;
}

void ContinuousSpace::clamp(std::span<double> position) const {
    for (std::size_t i = 0; i < position.size() && i < bounds_.size(); ++i) {
        if (position[i] < bounds_[i].first) position[i] = bounds_[i].first;
        if (position[i] > bounds_[i].second) position[i] = bounds_[i].second;
    }
}

}  // namespace kestrelopt
