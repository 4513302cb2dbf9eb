// Dominance, the non-dominated filter, the default reference point and limit sets.
#include "kestrelopt/mopso/pareto.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

namespace {

// The larger of two values; a NaN yields the other operand.
double max_of_numbers(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

}  // namespace

bool dominates(std::span<const double> a, std::span<const double> b) {
    const std::size_t n = std::min(a.size(), b.size());
    bool better = false;
    for (std::size_t k = 0; k < n; ++k) {
        if (a[k] > b[k]) return false;
        if (a[k] < b[k]) better = true;
    }
    return better;
}

PointSet non_dominated(std::span<const ObjectiveVector> points) {
    PointSet result;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const ObjectiveVector& p = points[i];
        bool dropped = false;
        for (std::size_t j = 0; j < points.size() && !dropped; ++j)
            dropped = j != i && dominates(points[j], p);
        for (std::size_t r = 0; r < result.size() && !dropped; ++r)
            dropped = same_objectives(result[r], p);
        if (!dropped) result.push_back(p);
    }
    return result;
}

ObjectiveVector nadir_reference(std::span<const ObjectiveVector> points) {
    if (points.empty()) return {};
    const std::size_t m = points.front().size();
    ObjectiveVector reference(m);
    for (std::size_t k = 0; k < m; ++k) {
        double worst = -std::numeric_limits<double>::infinity();
        double best = std::numeric_limits<double>::infinity();
        for (const ObjectiveVector& p : points) {
            if (k >= p.size()) continue;  // a missing value counts as NaN: skipped
            const double v = p[k];
            if (v > worst) worst = v;
            if (v < best) best = v;
        }
        const double spread = worst - best;
        reference[k] = spread > 0.0 ? worst + 0.1 * spread : worst + 1.0;
    }
    return reference;
}

PointSet limit_set(std::span<const ObjectiveVector> points, std::size_t i) {
    if (i >= points.size())
        fail("limit_set index " + std::to_string(i) + " is out of range for " +
             std::to_string(points.size()) + " points");
    const ObjectiveVector& p = points[i];
    PointSet result;
    result.reserve(points.size() - i - 1);
    for (std::size_t j = i + 1; j < points.size(); ++j) {
        const ObjectiveVector& q = points[j];
        ObjectiveVector worsened(std::min(p.size(), q.size()));
        for (std::size_t k = 0; k < worsened.size(); ++k) worsened[k] = max_of_numbers(p[k], q[k]);
        result.push_back(std::move(worsened));
    }
    return result;
}

}  // namespace kestrelopt
