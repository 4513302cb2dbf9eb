// Crowding distance: per objective, the gap between a point's two neighbours in sorted
// order, relative to the objective's range; the extremes of every objective are +inf.
#include <algorithm>
#include <cmath>
#include <limits>

#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/mopso/sort_keys.hpp"

namespace kestrelopt {

void crowding_distance_into(std::span<const ObjectiveView> points, CrowdingWork& work,
                            std::vector<double>& distances) {
    const std::size_t n = points.size();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (n <= 2) {
        distances.assign(n, kInf);
        return;
    }
    distances.assign(n, 0.0);
    const std::size_t m = points.front().size();
    std::vector<double>& keys = work.keys;
    std::vector<detail::KeyedIndex>& sorted = work.sorted;
    std::vector<std::size_t>& order = work.order;
    keys.resize(n);
    sorted.resize(n);
    order.resize(n);
    for (std::size_t k = 0; k < m; ++k) {
        for (std::size_t i = 0; i < n; ++i)
            keys[i] =
                k < points[i].size() ? points[i][k] : std::numeric_limits<double>::quiet_NaN();
        // Ascending and stable: equal keys keep index order, which the index in the sort
        // key gives without the temporary buffer of a stable sort. NaN keys go last. The
        // order is a strict total one, so any way of reaching it gives the same result:
        // the previous objective's order reversed is tried first, which already sorts a
        // two-objective front.
        for (std::size_t r = 0; r < n; ++r) {
            const std::size_t i = k == 0 ? r : order[n - 1 - r];
            sorted[r] = {detail::ascending_key(keys[i]), i};
        }
        if (k == 0 || !std::is_sorted(sorted.begin(), sorted.end()))
            std::sort(sorted.begin(), sorted.end());
        for (std::size_t r = 0; r < n; ++r) order[r] = static_cast<std::size_t>(sorted[r].index);
        distances[order[0]] = kInf;
        distances[order[n - 1]] = kInf;
        const double range = keys[order[n - 1]] - keys[order[0]];
        if (!(range > 0.0)) continue;
        for (std::size_t r = 1; r + 1 < n; ++r)
            distances[order[r]] += (keys[order[r + 1]] - keys[order[r - 1]]) / range;
    }
}

std::vector<double> crowding_distance(std::span<const ObjectiveVector> points) {
    const std::vector<ObjectiveView> views(points.begin(), points.end());
    CrowdingWork work;
    std::vector<double> distances;
    crowding_distance_into(views, work, distances);
    return distances;
}

}  // namespace kestrelopt
