#include "kestrelopt/spaces/mixed.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/rounding.hpp"

namespace kestrelopt {

MixedSpace::MixedSpace(std::vector<Bound> bounds, std::vector<VarType> types)
    : bounds_(std::move(bounds)), types_(std::move(types)) {
    if (bounds_.size() != types_.size()) fail("bounds and types must have the same length");
    for (std::size_t i = 0; i < types_.size(); ++i) {
        switch (types_[i]) {
            case VarType::Real:
            case VarType::Integer:
                break;
            case VarType::Binary:
                bounds_[i] = {0.0, 1.0};
                break;
            default:
                // Only reachable by casting a number to VarType; decoding could not honour it.
                fail("unknown variable type in dimension " + std::to_string(i));
        }
    }
    // Binary pairs are (0, 1) by now, so the first failing pair is the first real or
    // integer variable with reversed or NaN bounds.
    check_real_bounds(bounds_);
}

std::vector<double> MixedSpace::sample(RandomSource& gen) const {
    return sample_in_bounds(bounds_, gen);
}

std::vector<double> MixedSpace::sample_velocity(RandomSource& gen) const {
    return sample_velocity_for_bounds(bounds_, gen);
}

void MixedSpace::decode_into(std::span<const double> position, std::vector<double>& out) const {
    const std::size_t n = std::min({position.size(), types_.size(), bounds_.size()});
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = position[i];
        switch (types_[i]) {
            case VarType::Real:
                out[i] = x;
                break;
            case VarType::Integer: {
                const std::int64_t lo = round_to_i64(bounds_[i].first);
                const std::int64_t hi = round_to_i64(bounds_[i].second);
                const std::int64_t r = round_to_i64(x);
                out[i] = static_cast<double>(r < lo ? lo : (r > hi ? hi : r));
                break;
            }
            case VarType::Binary: {
                // Comparisons leave a NaN untouched.
                double r = std::round(x);
                if (r < 0.0) r = 0.0;
                if (r > 1.0) r = 1.0;
                out[i] = r;
                break;
            }
        }
    }
}

void MixedSpace::clamp(std::span<double> position) const {
    clamp_to_box(position, bounds_.size(), [this](std::size_t i) { return bounds_[i]; });
}

}  // namespace kestrelopt
