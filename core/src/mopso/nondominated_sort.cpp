// Non-dominated sorting and crowding distance of a point set; see nondominated_sort.hpp.
#include "kestrelopt/mopso/nondominated_sort.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <numeric>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "kestrelopt/mopso/dominance_scan.hpp"
#include "kestrelopt/mopso/sort_keys.hpp"

namespace kestrelopt {

namespace {

using Coord = std::uint32_t;  // the rank of a value among its objective's distinct values
using Id = std::uint32_t;     // a distinct point, numbered in lexicographic order

// The distinct points in lexicographic order (first objective first), one row of `m`
// coordinates each, and for every point the number of its distinct point.
template <class Value>
struct Distinct {
    std::vector<Value> coords;
    std::vector<Id> of_point;
    std::size_t count = 0;
};

// Up to three objectives: one sort of records holding each point's integer keys (-0 equal
// to 0, in the order of the numbers).
template <std::size_t M>
Distinct<std::uint64_t> distinct_by_keys(PointRows points) {
    struct Record {
        std::array<std::uint64_t, M> key;
        Id index;
    };
    const std::size_t n = points.rows;
    std::vector<Record> records(n);
    for (std::size_t i = 0; i < n; ++i) {
        records[i].index = static_cast<Id>(i);
        for (std::size_t k = 0; k < M; ++k)
            records[i].key[k] = detail::number_key(points.values[i * M + k]);
    }
    std::sort(records.begin(), records.end(),
              [](const Record& a, const Record& b) { return a.key < b.key; });
    Distinct<std::uint64_t> out;
    out.of_point.resize(n);
    out.coords.reserve(n * M);
    for (std::size_t r = 0; r < n; ++r) {
        if (r == 0 || records[r].key != records[r - 1].key) {
            out.coords.insert(out.coords.end(), records[r].key.begin(), records[r].key.end());
            ++out.count;
        }
        out.of_point[records[r].index] = static_cast<Id>(out.count - 1);
    }
    return out;
}

// Four objectives or more: each value replaced by its rank among the distinct values of its
// objective, so that the sort compares small integers, then the points put in
// lexicographic order by one stable counting sort per objective, the last first.
Distinct<Coord> distinct_by_coordinates(PointRows points) {
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
    std::vector<Id> order(n);
    std::vector<Id> next(n);
    std::vector<std::size_t> starts(n + 1);
    std::iota(order.begin(), order.end(), Id{0});
    for (std::size_t k = m; k-- > 0;) {
        std::fill(starts.begin(), starts.end(), 0);
        for (std::size_t i = 0; i < n; ++i) ++starts[coords[i * m + k] + 1];
        std::partial_sum(starts.begin(), starts.end(), starts.begin());
        for (const Id i : order) next[starts[coords[i * m + k]]++] = i;
        order.swap(next);
    }
    const auto row = [&](Id i) { return coords.begin() + static_cast<std::ptrdiff_t>(i * m); };
    Distinct<Coord> out;
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

// One objective: a point is dominated by every smaller value.
void ranks_1d(const Distinct<std::uint64_t>&, std::vector<std::size_t>& ranks) {
    std::iota(ranks.begin(), ranks.end(), std::size_t{0});
}

// Two objectives: a point's dominators all come before it in lexicographic order, and the
// smallest second value of each rank so far does not decrease with the rank, so the number of
// ranks holding a dominator is found by bisection.
void ranks_2d(const Distinct<std::uint64_t>& d, std::vector<std::size_t>& ranks) {
    std::vector<std::uint64_t> lowest;
    for (std::size_t j = 0; j < d.count; ++j) {
        const std::uint64_t y = d.coords[j * 2 + 1];
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
void ranks_3d(const Distinct<std::uint64_t>& d, std::vector<std::size_t>& ranks) {
    struct Step {
        std::uint64_t y;
        std::uint64_t z;
        bool operator<(const Step& other) const { return y < other.y; }
    };
    using Staircase = std::pmr::set<Step>;
    std::pmr::monotonic_buffer_resource pool;
    std::vector<Staircase> fronts;
    const auto dominated = [](const Staircase& front, std::uint64_t y, std::uint64_t z) {
        auto at = front.upper_bound(Step{y, 0});
        return at != front.begin() && std::prev(at)->z <= z;
    };
    for (std::size_t j = 0; j < d.count; ++j) {
        const std::uint64_t y = d.coords[j * 3 + 1];
        const std::uint64_t z = d.coords[j * 3 + 2];
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

// Four objectives or more, up to kScanLimit distinct points. As for three, a point's rank is
// the first rank none of whose points is no worse than it in the objectives after the first,
// found by bisection. Each rank keeps those objectives of its points in the blocks of
// any_no_greater, compared several points per instruction, and the least value of each
// objective, below which no point of the rank can dominate. The work grows with the square
// of the largest rank's size, so past kScanLimit points the divide and conquer below, whose
// work grows as n log^(m-1) n, takes over; at that size the two take about as long on a set
// all of whose points share rank 0, and the scan is the faster on any other.
constexpr std::size_t kScanLimit = std::size_t{1} << 14;

void ranks_by_scan(const Distinct<Coord>& d, std::size_t m, std::vector<std::size_t>& ranks) {
    struct Front {
        std::vector<std::int32_t> blocks;
        std::vector<std::int32_t> lowest;
        std::size_t size = 0;
    };
    const std::size_t width = m - 1;
    std::vector<Front> fronts;
    std::vector<std::int32_t> point(width);
    const auto dominated = [&](const Front& front) {
        for (std::size_t k = 0; k < width; ++k)
            if (point[k] < front.lowest[k]) return false;
        return any_no_greater(front.blocks.data(), (front.size + kBlockLanes - 1) / kBlockLanes,
                              width, point.data());
    };
    for (std::size_t j = 0; j < d.count; ++j) {
        for (std::size_t k = 0; k < width; ++k)
            point[k] = static_cast<std::int32_t>(d.coords[j * m + k + 1]);
        std::size_t low = 0;
        std::size_t high = fronts.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (dominated(fronts[mid]))
                low = mid + 1;
            else
                high = mid;
        }
        if (low == fronts.size()) {
            fronts.emplace_back();
            fronts.back().lowest.assign(width, std::numeric_limits<std::int32_t>::max());
        }
        Front& front = fronts[low];
        const std::size_t lane = front.size % kBlockLanes;
        if (lane == 0)
            front.blocks.resize(front.blocks.size() + width * kBlockLanes,
                                std::numeric_limits<std::int32_t>::max());
        std::int32_t* block = front.blocks.data() + front.blocks.size() - width * kBlockLanes;
        for (std::size_t k = 0; k < width; ++k) {
            block[k * kBlockLanes + lane] = point[k];
            front.lowest[k] = std::min(front.lowest[k], point[k]);
        }
        ++front.size;
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
    DivideAndConquer(const Distinct<Coord>& d, std::size_t m, std::vector<std::size_t>& ranks)
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
    static constexpr std::size_t kPairwiseAssign = 64;
    static constexpr std::size_t kPairwiseRaise = 4096;
    static constexpr std::size_t kFewLower = 8;

    Coord at(Id i, std::size_t k) const { return coords_[i * m_ + k]; }

    // The pairwise leaves copy the candidate dominators' objectives 0..k into rows_ (one row
    // each, in the order they are tried) and their ranks + 1 into lifted_.
    void gather(std::size_t begin, std::size_t end, std::size_t k) {
        const std::size_t count = end - begin;
        rows_.resize((k + 1) * count);
        lifted_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const Id p = ids_[begin + i];
            for (std::size_t j = 0; j <= k; ++j) rows_[i * (k + 1) + j] = at(p, j);
            lifted_[i] = static_cast<Coord>(ranks_[p] + 1);
        }
    }

    bool gathered_no_worse(std::size_t i, Id q, std::size_t k) const {
        const Coord* row = rows_.data() + i * (k + 1);
        for (std::size_t j = 0; j <= k; ++j)
            if (row[j] > at(q, j)) return false;
        return true;
    }

    // Within a set in lexicographic order, a point's dominators come before it; only those
    // that would raise it are compared.
    void assign_pairwise(std::size_t begin, std::size_t end, std::size_t k) {
        sort_ids(begin, end);
        gather(begin, end, k);
        for (std::size_t i = 1; i < end - begin; ++i) {
            const Id q = ids_[begin + i];
            Coord best = static_cast<Coord>(ranks_[q]);
            for (std::size_t p = 0; p < i; ++p)
                if (lifted_[p] > best && gathered_no_worse(p, q, k)) best = lifted_[p];
            ranks_[q] = best;
            lifted_[i] = best + 1;
        }
    }

    // The lower points tried from the highest rank down: the first that is no worse than a
    // point raises it most, and none past a rank the point already has can raise it.
    void raise_pairwise(std::size_t lb, std::size_t le, std::size_t hb, std::size_t he,
                        std::size_t k) {
        std::sort(ids_.begin() + static_cast<std::ptrdiff_t>(lb),
                  ids_.begin() + static_cast<std::ptrdiff_t>(le),
                  [&](Id a, Id b) { return ranks_[a] > ranks_[b]; });
        gather(lb, le, k);
        // The comparisons unrolled for the usual numbers of objectives.
        switch (k) {
            case 1:
                return raise_gathered<2>(le - lb, hb, he);
            case 2:
                return raise_gathered<3>(le - lb, hb, he);
            case 3:
                return raise_gathered<4>(le - lb, hb, he);
            case 4:
                return raise_gathered<5>(le - lb, hb, he);
            case 5:
                return raise_gathered<6>(le - lb, hb, he);
            default:
                break;
        }
        for (std::size_t h = hb; h < he; ++h) {
            const Id q = ids_[h];
            for (std::size_t l = 0; l < le - lb && lifted_[l] > ranks_[q]; ++l) {
                if (gathered_no_worse(l, q, k)) {
                    ranks_[q] = lifted_[l];
                    break;
                }
            }
        }
    }

    template <std::size_t K>
    void raise_gathered(std::size_t count, std::size_t hb, std::size_t he) {
        for (std::size_t h = hb; h < he; ++h) {
            const Id q = ids_[h];
            std::array<Coord, K> point;
            for (std::size_t j = 0; j < K; ++j) point[j] = at(q, j);
            const Coord* row = rows_.data();
            for (std::size_t l = 0; l < count && lifted_[l] > ranks_[q]; ++l, row += K) {
                bool no_worse = true;
                for (std::size_t j = 0; j < K; ++j) no_worse &= row[j] <= point[j];
                if (no_worse) {
                    ranks_[q] = lifted_[l];
                    break;
                }
            }
        }
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
        if (size <= kPairwiseAssign) return assign_pairwise(begin, end, k);
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
        if ((le - lb) * (he - hb) <= kPairwiseRaise || le - lb <= kFewLower)
            return raise_pairwise(lb, le, hb, he, k);
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
    std::vector<Coord> rows_;
    std::vector<Coord> lifted_;
};

}  // namespace

namespace detail {
void nondominated_ranks(PointRows points, std::span<std::size_t> ranks, RankMethod method) {
    const std::size_t n = points.rows;
    const std::size_t m = points.cols;
    if (n == 0) return;
    if (n > std::numeric_limits<std::int32_t>::max())
        throw std::length_error("too many points to sort");
    const auto spread = [&](const auto& d, auto rank_distinct) {
        std::vector<std::size_t> distinct_ranks(d.count, 0);
        rank_distinct(d, distinct_ranks);
        for (std::size_t i = 0; i < n; ++i) ranks[i] = distinct_ranks[d.of_point[i]];
    };
    switch (m) {
        case 0:
            return std::fill(ranks.begin(), ranks.end(), 0);  // all points are equal
        case 1:
            return spread(distinct_by_keys<1>(points), ranks_1d);
        case 2:
            return spread(distinct_by_keys<2>(points), ranks_2d);
        case 3:
            return spread(distinct_by_keys<3>(points), ranks_3d);
        default:
            return spread(distinct_by_coordinates(points),
                          [m, method](const Distinct<Coord>& d, std::vector<std::size_t>& r) {
                              if (method == RankMethod::kScan ||
                                  (method == RankMethod::kBySize && d.count <= kScanLimit))
                                  ranks_by_scan(d, m, r);
                              else
                                  DivideAndConquer(d, m, r).run();
                          });
    }
}

}  // namespace detail

void nondominated_ranks(PointRows points, std::span<std::size_t> ranks) {
    detail::nondominated_ranks(points, ranks, detail::RankMethod::kBySize);
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
