// Crowding distance: per objective, the gap between a point's two neighbours in sorted
// order, relative to the objective's range; the extremes of every objective are +inf.
#include <algorithm>
#include <cmath>
#include <limits>

#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/mopso/sort_keys.hpp"

namespace kestrelopt {

namespace {

// Sorts `sorted` (the first objective's keys, in index order) by way of the hint: the
// hinted prefix is taken in the hinted order, the rest is sorted alone, and the two are
// merged. Returns false, leaving `sorted` to be sorted from scratch, when the hint does not
// name distinct points of the prefix in ascending order.
bool sort_with_hint(CrowdingWork& work, std::size_t n) {
    const std::vector<std::size_t>& hint = work.hint;
    const std::size_t h = hint.size();
    if (h == 0 || h > n) return false;
    std::vector<detail::KeyedIndex>& merged = work.merged;
    merged.resize(n);
    for (std::size_t r = 0; r < h; ++r) {
        if (hint[r] >= h) return false;
        merged[r] = work.sorted[hint[r]];
        // Strictly ascending pairs are distinct, so the hint is a permutation of the prefix.
        if (r > 0 && !(merged[r - 1] < merged[r])) return false;
    }
    std::copy(work.sorted.begin() + static_cast<std::ptrdiff_t>(h), work.sorted.end(),
              merged.begin() + static_cast<std::ptrdiff_t>(h));
    std::sort(merged.begin() + static_cast<std::ptrdiff_t>(h), merged.end());
    std::merge(merged.begin(), merged.begin() + static_cast<std::ptrdiff_t>(h),
               merged.begin() + static_cast<std::ptrdiff_t>(h), merged.end(), work.sorted.begin());
    return true;
}

}  // namespace

void crowding_distance_into(std::span<const ObjectiveView> points, CrowdingWork& work,
                            std::vector<double>& distances) {
    const std::size_t n = points.size();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (n <= 2) {
        distances.assign(n, kInf);
        work.hint.clear();
        return;
    }
    distances.assign(n, 0.0);
    const std::size_t m = points.front().size();
    if (m == 0) work.hint.clear();
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
        // the first objective starts from the hint; later ones try the previous
        // objective's order reversed, which already sorts a two-objective front.
        for (std::size_t r = 0; r < n; ++r) {
            const std::size_t i = k == 0 ? r : order[n - 1 - r];
            sorted[r] = {detail::ascending_key(keys[i]), i};
        }
        if (k == 0 ? !sort_with_hint(work, n) : !std::is_sorted(sorted.begin(), sorted.end()))
            std::sort(sorted.begin(), sorted.end());
        for (std::size_t r = 0; r < n; ++r) order[r] = static_cast<std::size_t>(sorted[r].index);
        if (k == 0) work.hint.assign(order.begin(), order.end());
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
