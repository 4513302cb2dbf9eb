// Non-dominated sorting and crowding distance of a point set; see nondominated_sort.hpp.
#include "kestrelopt/mopso/nondominated_sort.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <numeric>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "kestrelopt/mopso/sort_keys.hpp"

namespace kestrelopt {

namespace {

using Coord = std::uint32_t;  // the rank of a value among its objective's distinct values
using Id = std::uint32_t;     // a distinct point, numbered in lexicographic order

// Each value replaced by its rank among the distinct values of its objective (-0 equal to 0),
// so that every later comparison is one of small integers and equality is exact.
std::vector<Coord> compress(PointRows points) {
    const std::size_t n = points.rows;
    const std::size_t m = points.cols;
    std::vector<Coord> coords(n * m);
    std::vector<detail::KeyedIndex> sorted(n);
    for (std::size_t k = 0; k < m; ++k) {
        for (std::size_t i = 0; i < n; ++i)
            sorted[i] = {detail::number_key(points.values[i * m + k]), i};
        std::sort(sorted.begin(), sorted.end());
        Coord rank = 0;
        for (std::size_t r = 0; r < n; ++r) {
            if (r > 0 && sorted[r].key != sorted[r - 1].key) ++rank;
            coords[sorted[r].index * m + k] = rank;
        }
    }
    return coords;
}

// The distinct points in lexicographic order (first objective first), and for every point
// the number of its distinct point.
struct Distinct {
    std::vector<Coord> coords;  // one row per distinct point
    std::vector<Id> of_point;
    std::size_t count = 0;
};

Distinct distinct_points(const std::vector<Coord>& coords, std::size_t n, std::size_t m) {
    std::vector<Id> order(n);
    std::iota(order.begin(), order.end(), Id{0});
    const auto row = [&](Id i) { return coords.begin() + static_cast<std::ptrdiff_t>(i * m); };
    std::sort(order.begin(), order.end(), [&](Id a, Id b) {
        return std::lexicographical_compare(row(a), row(a) + static_cast<std::ptrdiff_t>(m), row(b),
                                            row(b) + static_cast<std::ptrdiff_t>(m));
    });
    Distinct out;
    out.of_point.resize(n);
    out.coords.reserve(n * m);
    for (std::size_t r = 0; r < n; ++r) {
        const Id i = order[r];
        if (r == 0 ||
            !std::equal(row(i), row(i) + static_cast<std::ptrdiff_t>(m), row(order[r - 1]))) {
            out.coords.insert(out.coords.end(), row(i), row(i) + static_cast<std::ptrdiff_t>(m));
            ++out.count;
        }
        out.of_point[i] = static_cast<Id>(out.count - 1);
    }
    return out;
}

// Two objectives: a point's dominators all come before it in lexicographic order, and the
// smallest second value of each rank so far does not decrease with the rank, so the number of
// ranks holding a dominator is found by bisection.
void ranks_2d(const Distinct& d, std::vector<std::size_t>& ranks) {
    std::vector<Coord> lowest;
    for (std::size_t j = 0; j < d.count; ++j) {
        const Coord y = d.coords[j * 2 + 1];
        const auto at = std::upper_bound(lowest.begin(), lowest.end(), y);
        ranks[j] = static_cast<std::size_t>(at - lowest.begin());
        if (at == lowest.end())
            lowest.push_back(y);
        else
            *at = y;
    }
}

// Three objectives. Every point seen before a point p in lexicographic order has a first
// objective no larger, so it dominates p exactly when it is no worse in the other two. Each
// rank keeps the staircase of its points in those two (second ascending, third descending;
// a point no better in both than a later one of its rank is dropped, as that one dominates
// whatever it does). Some point of rank r dominates p only if some point of each lower rank
// does, so p's rank, the first rank with no dominator, is found by bisection.
void ranks_3d(const Distinct& d, std::vector<std::size_t>& ranks) {
    struct Step {
        Coord y;
        Coord z;
        bool operator<(const Step& other) const { return y < other.y; }
    };
    using Staircase = std::pmr::set<Step>;
    std::pmr::monotonic_buffer_resource pool;
    std::vector<Staircase> fronts;
    const auto dominated = [](const Staircase& front, Coord y, Coord z) {
        auto at = front.upper_bound(Step{y, 0});
        return at != front.begin() && std::prev(at)->z <= z;
    };
    for (std::size_t j = 0; j < d.count; ++j) {
        const Coord y = d.coords[j * 3 + 1];
        const Coord z = d.coords[j * 3 + 2];
        std::size_t low = 0;
        std::size_t high = fronts.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (dominated(fronts[mid], y, z))
                low = mid + 1;
            else
                high = mid;
        }
        if (low == fronts.size()) fronts.emplace_back(&pool);
        Staircase& front = fronts[low];
        auto at = front.lower_bound(Step{y, 0});
        while (at != front.end() && at->z >= z) at = front.erase(at);
        front.insert(at, Step{y, z});
        ranks[j] = low;
    }
}

// Four objectives or more: the divide and conquer of Jensen, as generalised to ties by
// Fortin, Grenier and Parizeau, and Buzdalov and Shalyto. Ranks start at 0 and only rise.
//
// assign(S, k): the points of S are equal in the objectives above k, and every point outside
// S that dominates one of S has already raised it; makes the ranks of S final. Splitting S at
// the median of objective k into L (below), M (equal) and H (above): L is final once
// assigned; M is raised by L in objectives 0..k-1, then assigned among itself without
// objective k; H is raised by L and M in objectives 0..k-1, then assigned.
//
// raise(L, H, k): the ranks of L are final and every point of L is no worse than every point
// of H in the objectives above k; raises each point of H above every point of L no worse
// than it in objectives 0..k. Splitting both at the median of objective k of their union,
// the pairs below-below and above-above keep objective k, and the pairs of L below or equal
// with H equal or above drop it.
//
// Both end, at objective 1, in a sweep in lexicographic order over a Fenwick tree of prefix
// maxima over the second objective, and, on small sets, in comparisons of every pair.
class DivideAndConquer {
  public:
    DivideAndConquer(const Distinct& d, std::size_t m, std::vector<std::size_t>& ranks)
        : coords_(d.coords),
          m_(m),
          ranks_(ranks),
          ids_(d.count),
          values_(d.count),
          tree_(d.count + 1, 0) {
        std::iota(ids_.begin(), ids_.end(), Id{0});
    }

    void run() { assign(0, ids_.size(), m_ - 1); }

  private:
    static constexpr std::size_t kPairwiseAssign = 16;
    static constexpr std::size_t kPairwiseRaise = 64;

    Coord at(Id i, std::size_t k) const { return coords_[i * m_ + k]; }

    bool no_worse(Id a, Id b, std::size_t k) const {
        for (std::size_t j = 0; j <= k; ++j)
            if (at(a, j) > at(b, j)) return false;
        return true;
    }

    void lift(Id point, std::size_t above) { ranks_[point] = std::max(ranks_[point], above); }

    void sort_ids(std::size_t begin, std::size_t end) {
        std::sort(ids_.begin() + static_cast<std::ptrdiff_t>(begin),
                  ids_.begin() + static_cast<std::ptrdiff_t>(end));
    }

    // Fenwick tree over the second objective: rank + 1 of the best point inserted at or
    // below a value, 0 for none.
    void insert(Coord y, std::size_t value) {
        for (std::size_t i = y + 1; i < tree_.size(); i += i & (~i + 1))
            tree_[i] = std::max(tree_[i], value);
    }
    std::size_t best_at_most(Coord y) const {
        std::size_t best = 0;
        for (std::size_t i = y + 1; i > 0; i -= i & (~i + 1)) best = std::max(best, tree_[i]);
        return best;
    }
    void erase(Coord y) {
        for (std::size_t i = y + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] = 0;
    }

    std::pair<Coord, Coord> range_of(std::size_t begin, std::size_t end, std::size_t k) const {
        Coord low = std::numeric_limits<Coord>::max();
        Coord high = 0;
        for (std::size_t i = begin; i < end; ++i) {
            low = std::min(low, at(ids_[i], k));
            high = std::max(high, at(ids_[i], k));
        }
        return {low, high};
    }

    // The median of objective k over the ids of [b1, e1) and [b2, e2).
    Coord median(std::size_t b1, std::size_t e1, std::size_t b2, std::size_t e2, std::size_t k) {
        std::size_t s = 0;
        for (std::size_t i = b1; i < e1; ++i) values_[s++] = at(ids_[i], k);
        for (std::size_t i = b2; i < e2; ++i) values_[s++] = at(ids_[i], k);
        const auto middle = values_.begin() + static_cast<std::ptrdiff_t>(s / 2);
        std::nth_element(values_.begin(), middle, values_.begin() + static_cast<std::ptrdiff_t>(s));
        return *middle;
    }

    // Reorders [begin, end) into below, equal to and above `pivot` in objective k; returns
    // where the equal ones start and end.
    std::pair<std::size_t, std::size_t> split(std::size_t begin, std::size_t end, std::size_t k,
                                              Coord pivot) {
        std::size_t below = begin;
        std::size_t i = begin;
        std::size_t above = end;
        while (i < above) {
            const Coord v = at(ids_[i], k);
            if (v < pivot)
                std::swap(ids_[below++], ids_[i++]);
            else if (v > pivot)
                std::swap(ids_[i], ids_[--above]);
            else
                ++i;
        }
        return {below, above};
    }

    void assign(std::size_t begin, std::size_t end, std::size_t k) {
        const std::size_t size = end - begin;
        if (size < 2) return;
        if (size <= kPairwiseAssign) {
            sort_ids(begin, end);  // dominators first
            for (std::size_t q = begin + 1; q < end; ++q)
                for (std::size_t p = begin; p < q; ++p)
                    if (no_worse(ids_[p], ids_[q], k)) lift(ids_[q], ranks_[ids_[p]] + 1);
            return;
        }
        if (k == 1) {
            sort_ids(begin, end);
            for (std::size_t i = begin; i < end; ++i) {
                const Id q = ids_[i];
                lift(q, best_at_most(at(q, 1)));
                insert(at(q, 1), ranks_[q] + 1);
            }
            for (std::size_t i = begin; i < end; ++i) erase(at(ids_[i], 1));
            return;
        }
        const auto [low, high] = range_of(begin, end, k);
        if (low == high) return assign(begin, end, k - 1);
        const auto [equal, above] = split(begin, end, k, median(begin, end, 0, 0, k));
        assign(begin, equal, k);
        raise(begin, equal, equal, above, k - 1);
        assign(equal, above, k - 1);
        raise(begin, above, above, end, k - 1);
        assign(above, end, k);
    }

    void raise(std::size_t lb, std::size_t le, std::size_t hb, std::size_t he, std::size_t k) {
        if (lb == le || hb == he) return;
        if ((le - lb) * (he - hb) <= kPairwiseRaise) {
            for (std::size_t h = hb; h < he; ++h)
                for (std::size_t l = lb; l < le; ++l)
                    if (no_worse(ids_[l], ids_[h], k)) lift(ids_[h], ranks_[ids_[l]] + 1);
            return;
        }
        if (k == 1) {
            sort_ids(lb, le);
            sort_ids(hb, he);
            std::size_t l = lb;
            for (std::size_t h = hb; h < he; ++h) {
                const Id q = ids_[h];
                for (; l < le && at(ids_[l], 0) <= at(q, 0); ++l)
                    insert(at(ids_[l], 1), ranks_[ids_[l]] + 1);
                lift(q, best_at_most(at(q, 1)));
            }
            for (std::size_t i = lb; i < l; ++i) erase(at(ids_[i], 1));
            return;
        }
        const auto [l_low, l_high] = range_of(lb, le, k);
        const auto [h_low, h_high] = range_of(hb, he, k);
        if (l_low > h_high) return;
        if (l_high <= h_low) return raise(lb, le, hb, he, k - 1);
        const Coord pivot = median(lb, le, hb, he, k);
        const auto [l_equal, l_above] = split(lb, le, k, pivot);
        const auto [h_equal, h_above] = split(hb, he, k, pivot);
        // The calls reorder their ranges, so the one over unions of parts comes last.
        raise(lb, l_equal, hb, h_equal, k);
        raise(l_above, le, h_above, he, k);
        raise(lb, l_above, h_equal, he, k - 1);
    }

    const std::vector<Coord>& coords_;
    std::size_t m_;
    std::vector<std::size_t>& ranks_;
    std::vector<Id> ids_;
    std::vector<Coord> values_;
    std::vector<std::size_t> tree_;
};

}  // namespace

void nondominated_ranks(PointRows points, std::span<std::size_t> ranks) {
    const std::size_t n = points.rows;
    const std::size_t m = points.cols;
    if (n == 0) return;
    if (n > std::numeric_limits<Id>::max()) throw std::length_error("too many points to sort");
    const Distinct d = distinct_points(compress(points), n, m);
    std::vector<std::size_t> distinct_ranks(d.count, 0);
    if (m == 1) {
        std::iota(distinct_ranks.begin(), distinct_ranks.end(), std::size_t{0});
    } else if (m == 2) {
        ranks_2d(d, distinct_ranks);
    } else if (m == 3) {
        ranks_3d(d, distinct_ranks);
    } else if (m > 3) {
        DivideAndConquer(d, m, distinct_ranks).run();
    }
    for (std::size_t i = 0; i < n; ++i) ranks[i] = distinct_ranks[d.of_point[i]];
}

void crowding_distances(PointRows points, std::span<double> distances) {
    const std::size_t n = points.rows;
    const std::size_t m = points.cols;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (n <= 2) {
        std::fill(distances.begin(), distances.end(), kInf);
        return;
    }
    std::fill(distances.begin(), distances.end(), 0.0);
    std::vector<detail::KeyedIndex> sorted(n);
    std::vector<double> values(n);
    for (std::size_t k = 0; k < m; ++k) {
        // Ascending and stable: equal values (-0 and 0 included) keep index order.
        for (std::size_t i = 0; i < n; ++i)
            sorted[i] = {detail::ascending_key(points.values[i * m + k]), i};
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t r = 0; r < n; ++r) values[r] = points.values[sorted[r].index * m + k];
        distances[sorted[0].index] = kInf;
        distances[sorted[n - 1].index] = kInf;
        if (!(values[n - 1] > values[0])) continue;
        const double span = values[n - 1] - values[0];
        if (std::isinf(span)) {
            // inf / inf would be NaN: only a gap with an infinite end counts, fully, and two
            // equal infinities are no gap apart.
            for (std::size_t r = 1; r + 1 < n; ++r) {
                const double lower = values[r - 1];
                const double upper = values[r + 1];
                const bool infinite = upper > lower && (std::isinf(upper) || std::isinf(lower));
                distances[sorted[r].index] += infinite ? kInf : 0.0;
            }
        } else {
            for (std::size_t r = 1; r + 1 < n; ++r)
                distances[sorted[r].index] += (values[r + 1] - values[r - 1]) / span;
        }
    }
}

}  // namespace kestrelopt
