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

std::vector<double> sample_in_bounds(const std::vector<Bound>& bounds, RandomSource& gen) {
    std::vector<double> out(bounds.size());
    for (std::size_t i = 0; i < bounds.size(); ++i)
        out[i] = uniform_in_inclusive(gen, bounds[i].first, bounds[i].second);
    return out;
}

std::vector<double> sample_velocity_for_bounds(const std::vector<Bound>& bounds,
                                               RandomSource& gen) {
    std::vector<double> out(bounds.size());
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const double s = bounds[i].second - bounds[i].first;
        out[i] = uniform_in_inclusive(gen, -s, s);
    }
    return out;
}

ContinuousSpace::ContinuousSpace(std::vector<Bound> bounds) : bounds_(std::move(bounds)) {
    check_real_bounds(bounds_);
    for (const auto& [low, high] : bounds_) {
        lower_.push_back(low);
        upper_.push_back(high);
    }
}

std::vector<double> ContinuousSpace::sample(RandomSource& gen) const {
    return sample_in_bounds(bounds_, gen);
}

std::vector<double> ContinuousSpace::sample_velocity(RandomSource& gen) const {
    return sample_velocity_for_bounds(bounds_, gen);
}

void ContinuousSpace::clamp(std::span<double> position) const {
    clamp_to_box(position, bounds_.size(), [this](std::size_t i) { return bounds_[i]; });
}

}  // namespace kestrelopt
