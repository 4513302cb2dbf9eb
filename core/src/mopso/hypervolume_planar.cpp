#include "hypervolume_planar.hpp"

#include <algorithm>

namespace kestrelopt::hv_detail {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Rows summed between two reports to the observer.
constexpr std::size_t kReportEvery = 4096;

void limit_row(const double* p, const double* q, std::size_t stride, double* out) {
    for (std::size_t k = 0; k < stride; ++k) out[k] = larger(p[k], q[k]);
}

}  // namespace

std::optional<PlanarAxes> planar_axes(const double* rows, std::size_t count, std::size_t stride) {
    std::size_t free[2] = {0, 0};
    std::size_t found = 0;
    for (std::size_t k = 0; k < stride; ++k) {
        bool varies = false;
        for (std::size_t i = 1; i < count && !varies; ++i)
            varies = !(rows[i * stride + k] == rows[k]);
        if (!varies) continue;
        if (found == 2) return std::nullopt;
        free[found++] = k;
    }
    if (found < 2 || stride < 2) return std::nullopt;
    return PlanarAxes{free[0], free[1]};
}

double PlanarSum::volume(const double* rows, std::size_t count, std::size_t stride, PlanarAxes axes,
                         std::span<const double> reference, WorkObserver* observer) {
    const auto row = [&](std::size_t i) { return rows + i * stride; };
    if (observer != nullptr) observer->progress(count);
    order_.resize(count);
    for (std::size_t i = 0; i < count; ++i) order_[i] = {row(i)[axes.a], i};
    // Values of a free coordinate are distinct in such a set: no two rows compare equal.
    std::sort(order_.begin(), order_.end(),
              [](const auto& x, const auto& y) { return x.first < y.first; });
    prev_.resize(count);
    next_.resize(count);
    for (std::size_t r = 0; r < count; ++r) {
        prev_[order_[r].second] = r == 0 ? kNone : order_[r - 1].second;
        next_[order_[r].second] = r + 1 == count ? kNone : order_[r + 1].second;
    }
    limits_.resize(3 * stride);
    double* first = limits_.data();
    double* second = first + stride;
    double* corner = second + stride;

    double total = -0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (observer != nullptr && i % kReportEvery == kReportEvery - 1)
            observer->progress(kReportEvery * stride);
        const double* p = row(i);
        // The neighbours still linked are the nearest rows after i on either side.
        const std::size_t left = prev_[i];
        const std::size_t right = next_[i];
        if (left != kNone) next_[left] = right;
        if (right != kNone) prev_[right] = left;
        // The volume of the filtered limit set, as the recursion sums it.
        double sub = -0.0;
        if (left != kNone && right != kNone) {
            limit_row(p, row(std::min(left, right)), stride, first);
            limit_row(p, row(std::max(left, right)), stride, second);
            limit_row(first, second, stride, corner);
            double corner_volume = -0.0;
            corner_volume += inclusive_volume(corner, stride, reference) - -0.0;
            sub += inclusive_volume(first, stride, reference) - corner_volume;
            sub += inclusive_volume(second, stride, reference) - -0.0;
        } else if (left != kNone || right != kNone) {
            limit_row(p, row(left != kNone ? left : right), stride, first);
            sub += inclusive_volume(first, stride, reference) - -0.0;
        }
        total += inclusive_volume(p, stride, reference) - sub;
    }
    return total;
}

}  // namespace kestrelopt::hv_detail
