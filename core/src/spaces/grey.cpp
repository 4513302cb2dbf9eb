#include "kestrelopt/spaces/grey.hpp"

#include <cmath>
#include <string>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"

namespace kestrelopt {

namespace {

// The smaller operand, ignoring a NaN one (NaN only when both are).
double min_ignoring_nan(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    return b < a ? b : a;
}

// max(x, 0), with 0 for NaN (and +0 for -0, so results do not depend on the sign of zero).
double at_least_zero(double x) {
    return x > 0.0 ? x : 0.0;
}

}  // namespace

GreySpace::GreySpace(std::vector<Bound> bounds, std::vector<double> max_spread)
    : bounds_(std::move(bounds)), max_spread_(std::move(max_spread)) {
    if (bounds_.size() != max_spread_.size())
        fail("bounds and max_spread must have the same length");
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const auto [low, high] = bounds_[i];
        if (!(high >= low))
            fail("invalid bound in variable " + std::to_string(i) + ": " + format_float(low) +
                 " > " + format_float(high));
        if (!(max_spread_[i] >= 0.0))
            fail("negative max spread in variable " + std::to_string(i) + ": " +
                 format_float(max_spread_[i]));
    }
}

double GreySpace::spread_limit(std::size_t i, double center) const {
    if (i >= bounds_.size()) fail("variable index out of range");
    return limit(i, center);
}

double GreySpace::limit(std::size_t i, double center) const {
    const auto [low, high] = bounds_[i];
    return at_least_zero(
        min_ignoring_nan(min_ignoring_nan(center - low, high - center), max_spread_[i]));
}

double GreySpace::widest_spread(std::size_t i) const {
    const auto [low, high] = bounds_[i];
    return at_least_zero(min_ignoring_nan(0.5 * (high - low), max_spread_[i]));
}

std::vector<double> GreySpace::sample(RandomSource& gen) const {
    std::vector<double> out(2 * bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const double center = uniform_in_inclusive(gen, bounds_[i].first, bounds_[i].second);
        out[2 * i] = center;
        out[2 * i + 1] = uniform_in_inclusive(gen, 0.0, limit(i, center));
    }
    return out;
}

std::vector<double> GreySpace::sample_velocity(RandomSource& gen) const {
    std::vector<double> out(2 * bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        const double w = bounds_[i].second - bounds_[i].first;
        out[2 * i] = uniform_in_inclusive(gen, -w, w);
        const double v = widest_spread(i);
        out[2 * i + 1] = uniform_in_inclusive(gen, -v, v);
    }
    return out;
}

std::vector<Bound> GreySpace::span() const {
    std::vector<Bound> out(2 * bounds_.size());
    for (std::size_t i = 0; i < bounds_.size(); ++i) {
        out[2 * i] = bounds_[i];
        out[2 * i + 1] = {0.0, widest_spread(i)};
    }
    return out;
}

void GreySpace::decode_into(std::span<const double> position, std::vector<Grey>& out) const {
    const std::size_t n = position.size() / 2;
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = Grey{position[2 * i], std::fabs(position[2 * i + 1])};
}

void GreySpace::clamp(std::span<double> position) const {
    if (position.size() > 2 * bounds_.size()) fail("position is longer than the space");
    for (std::size_t k = 0; k < position.size(); k += 2) {
        const std::size_t i = k / 2;
        const auto [low, high] = bounds_[i];
        double& center = position[k];
        if (center < low) center = low;
        if (center > high) center = high;
        if (k + 1 == position.size()) break;
        double& spread = position[k + 1];
        const double cap = limit(i, center);
        if (spread < 0.0) spread = 0.0;
        if (spread > cap) spread = cap;
    }
}

}  // namespace kestrelopt
