// Exact hypervolume by the WFG recursion: the sum, in index order and from -0.0, of each
// point's inclusive volume minus the volume of its filtered limit set.
//
// The recursion runs on an explicit stack of levels. Level d holds the point set whose
// volume is summed at depth d, flat (row-major, fixed stride, a length per row), with its
// loop state; the filtered limit set of its current point is written into level d + 1. Each
// level's buffers serve every limit set built at that depth, so the recursion allocates only
// while a level grows to its largest size. The arithmetic is that of the plain recursion,
// operation for operation, so the result has the same bits.
//
// The non-dominated filter only decides which rows survive, in which order. When every row
// has the same length and no NaN (always so for hypervolume), dominance is transitive and
// the survivors are found by offering each row to the survivors so far: a row dominated by
// or equal to a survivor is dropped, and survivors it dominates leave, in order. That gives
// the set and order of the pairwise filter at a cost proportional to the survivors. Otherwise
// (wfg of arbitrary sets), every pair is compared as the pairwise filter does.
//
// hypervolume takes faster paths with the same operations (hypervolume_planar.hpp,
// sorted_filter.hpp): the sorted filter for two or three objectives, and the planar sum for
// every set of at least three rows, at any depth, whose rows differ in two coordinates only;
// and the limit sets are built from the rows that can survive their filter only, found at
// the top of large sets through a k-d tree (row_tree.hpp).
// wfg stays the plain recursion, against which they are tested.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "hypervolume_planar.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "row_tree.hpp"
#include "sorted_filter.hpp"

namespace kestrelopt {

namespace {

class WfgEngine {
  public:
    // `fast` allows the faster paths: sorted filter, planar sum, pruned limit sets.
    WfgEngine(std::span<const double> reference, std::span<const ObjectiveView> points,
              WorkObserver* observer, bool fast)
        : reference_(reference), observer_(observer), levels_(points.size() + 1) {
        stride_ = 0;
        for (const ObjectiveView p : points) stride_ = std::max(stride_, p.size());
        transitive_ = true;
        for (const ObjectiveView p : points) {
            if (p.size() != stride_) transitive_ = false;
            for (const double v : p)
                if (std::isnan(v)) transitive_ = false;
        }
        scratch_.resize(stride_);
        bounds_.resize(stride_);
        fast_ = fast && transitive_;
    }

    // Level 0 holds the points, reduced to their non-dominated set when filter is set.
    void load(std::span<const ObjectiveView> points, bool filter) {
        Level& top = levels_[0];
        reserve(top, points.size());
        if (filter && fast_ && (stride_ == 2 || stride_ == 3)) {
            if (observer_ != nullptr) observer_->progress(points.size() * stride_);
            sorted_filter_.survivors(points, kept_);
            for (std::size_t r = 0; r < kept_.size(); ++r) {
                const ObjectiveView p = points[kept_[r]];
                std::copy(p.begin(), p.end(), top.row(r, stride_));
                top.lengths[r] = stride_;
            }
            top.count = kept_.size();
            return;
        }
        if (filter && transitive_) {
            std::size_t kept = 0;
            for (const ObjectiveView p : points) {
                std::copy(p.begin(), p.end(), scratch_.begin());
                offer(top, kept);
            }
            top.count = kept;
            return;
        }
        for (std::size_t i = 0; i < points.size(); ++i) {
            std::copy(points[i].begin(), points[i].end(), top.row(i, stride_));
            top.lengths[i] = points[i].size();
        }
        top.count = filter ? reduce_pairwise(top, points.size()) : points.size();
    }

    double run() {
        std::size_t depth = 0;
        double planar = 0.0;
        if (planar_volume(levels_[0], planar)) return planar;
        tree_built_ = fast_ && levels_[0].count >= kTreeRows;
        if (tree_built_) tree_.build(levels_[0].row(0, stride_), levels_[0].count, stride_);
        start(levels_[0]);
        for (;;) {
            Level& level = levels_[depth];
            if (level.next == level.count) {
                const double volume = level.total;
                if (depth == 0) return volume;
                --depth;
                Level& parent = levels_[depth];
                parent.total += parent.inclusive - volume;
                ++parent.next;
                continue;
            }
            const std::size_t i = level.next;
            // The limit set below costs one pass over the rows after i.
            if (observer_ != nullptr) observer_->progress(level.count - i);
            const double inclusive = inclusive_volume(level.row(i, stride_), level.lengths[i]);
            Level& child = levels_[depth + 1];
            build_limit_set(level, i, child);
            double planar_sub = 0.0;
            if (planar_volume(child, planar_sub)) {
                level.total += inclusive - planar_sub;
                ++level.next;
                continue;
            }
            if (child.count <= 1) {
                // The volume of an empty or one-point set, by the recursion's own operations.
                double sub = -0.0;
                if (child.count == 1)
                    sub += inclusive_volume(child.row(0, stride_), child.lengths[0]) - -0.0;
                level.total += inclusive - sub;
                ++level.next;
                continue;
            }
            level.inclusive = inclusive;
            start(child);
            ++depth;
        }
    }

  private:
    struct Level {
        std::vector<double> values;
        std::vector<std::size_t> lengths;
        std::size_t count = 0;
        // Loop state of the sum at this depth.
        std::size_t next = 0;
        double total = -0.0;
        double inclusive = 0.0;

        double* row(std::size_t i, std::size_t stride) { return values.data() + i * stride; }
    };

    // The volume of a planar set of at least three rows, when the fast paths apply.
    bool planar_volume(Level& level, double& volume) {
        if (!fast_ || level.count < 3) return false;
        const double* rows = level.row(0, stride_);
        const std::optional<hv_detail::PlanarAxes> axes =
            hv_detail::planar_axes(rows, level.count, stride_);
        if (!axes) return false;
        volume = planar_sum_.volume(rows, level.count, stride_, *axes, reference_, observer_);
        return true;
    }

    static void start(Level& level) {
        level.next = 0;
        level.total = -0.0;
    }

    void reserve(Level& level, std::size_t rows) {
        if (level.lengths.size() >= rows) return;
        level.values.resize(rows * stride_);
        level.lengths.resize(rows);
    }

    double inclusive_volume(const double* p, std::size_t length) const {
        return hv_detail::inclusive_volume(p, length, reference_);
    }

    // The filtered limit set of row i of level, written into child.
    void build_limit_set(Level& level, std::size_t i, Level& child) {
        const std::size_t rows = level.count - i - 1;
        reserve(child, rows);
        const double* p = level.row(i, stride_);
        if (transitive_) {
            std::size_t kept = 0;
            if (fast_ && &level == &levels_[0] && tree_built_) {
                // The same bounds and candidates from the tree, in index order.
                for (std::size_t k = 0; k < stride_; ++k)
                    bounds_[k] = tree_.smallest_worse_in_one(p, k, i);
                candidates_.clear();
                tree_.rows_within(bounds_, i, candidates_);
                for (const std::size_t j : candidates_) {
                    const double* q = level.row(j, stride_);
                    for (std::size_t k = 0; k < stride_; ++k)
                        scratch_[k] = hv_detail::larger(p[k], q[k]);
                    offer(child, kept);
                }
                child.count = kept;
                return;
            }
            if (fast_) candidate_bounds(level, i);
            for (std::size_t j = i + 1; j < level.count; ++j) {
                const double* q = level.row(j, stride_);
                if (fast_ && !within_bounds(q)) continue;
                for (std::size_t k = 0; k < stride_; ++k)
                    scratch_[k] = hv_detail::larger(p[k], q[k]);
                offer(child, kept);
            }
            child.count = kept;
            return;
        }
        const std::size_t p_length = level.lengths[i];
        for (std::size_t r = 0; r < rows; ++r) {
            const double* q = level.row(i + 1 + r, stride_);
            const std::size_t length = std::min(p_length, level.lengths[i + 1 + r]);
            double* out = child.row(r, stride_);
            for (std::size_t k = 0; k < length; ++k) out[k] = hv_detail::larger(p[k], q[k]);
            child.lengths[r] = length;
        }
        child.count = reduce_pairwise(child, rows);
    }

    // Rows worse than p in one coordinate k only have the limit row p with q[k] there, which
    // dominates every limit row larger in k; so the rows that may survive the filter lie
    // within the smallest such q[k], for each k. Leaving the other rows out does not change
    // the survivors or their order: each is dominated by a survivor, which stays. (Rows of a
    // level are non-dominated and distinct, so each is worse than p somewhere.) Without
    // branches: which rows fall out is as good as random.
    void candidate_bounds(const Level& level, std::size_t i) {
        const double* p = level.values.data() + i * stride_;
        std::fill(bounds_.begin(), bounds_.end(), std::numeric_limits<double>::infinity());
        for (std::size_t j = i + 1; j < level.count; ++j) {
            const double* q = level.values.data() + j * stride_;
            std::size_t worse = 0;
            std::size_t where = 0;
            for (std::size_t k = 0; k < stride_; ++k) {
                const bool w = p[k] < q[k];
                worse += w;
                where = w ? k : where;
            }
            const double bound = bounds_[where];
            bounds_[where] = worse == 1 && q[where] < bound ? q[where] : bound;
        }
    }

    bool within_bounds(const double* q) const {
        bool outside = false;
        for (std::size_t k = 0; k < stride_; ++k) outside |= bounds_[k] < q[k];
        return !outside;
    }

    // Offers the row in scratch_ to the survivors level.row(0 .. kept). Rows of full stride
    // without NaN only: then "neither is better anywhere" means equal, and a row dominated
    // by a survivor cannot dominate another survivor, so a drop leaves the survivors intact.
    void offer(Level& level, std::size_t& kept) {
        const double* row = scratch_.data();
        std::size_t write = 0;
        for (std::size_t c = 0; c < kept; ++c) {
            double* survivor = level.row(c, stride_);
            bool survivor_better = false;
            bool row_better = false;
            for (std::size_t k = 0; k < stride_; ++k) {
                if (survivor[k] < row[k]) survivor_better = true;
                if (row[k] < survivor[k]) row_better = true;
                if (survivor_better && row_better) break;
            }
            if (!row_better) return;         // dominated by or equal to the survivor
            if (!survivor_better) continue;  // the row dominates the survivor: it leaves
            if (write != c) std::copy(survivor, survivor + stride_, level.row(write, stride_));
            ++write;
        }
        std::copy(row, row + stride_, level.row(write, stride_));
        level.lengths[write] = stride_;
        kept = write + 1;
    }

    // The pairwise filter, in place on the first rows of level; returns the rows kept.
    // Dominance is decided against every row before any row moves; of equal rows the first
    // survives.
    std::size_t reduce_pairwise(Level& level, std::size_t rows) {
        dominated_.assign(rows, 0);
        for (std::size_t a = 0; a < rows; ++a) {
            const std::span<const double> pa(level.row(a, stride_), level.lengths[a]);
            for (std::size_t b = a + 1; b < rows; ++b) {
                if (dominated_[a] && dominated_[b]) continue;
                const MutualDominance relation =
                    mutual_dominance(pa, {level.row(b, stride_), level.lengths[b]});
                if (relation.first_dominates) dominated_[b] = 1;
                if (relation.second_dominates) dominated_[a] = 1;
            }
        }
        std::size_t kept = 0;
        for (std::size_t a = 0; a < rows; ++a) {
            if (dominated_[a]) continue;
            const std::span<const double> pa(level.row(a, stride_), level.lengths[a]);
            bool duplicate = false;
            for (std::size_t c = 0; c < kept && !duplicate; ++c)
                duplicate = same_objectives({level.row(c, stride_), level.lengths[c]}, pa);
            if (duplicate) continue;
            if (kept != a) {
                std::copy(pa.begin(), pa.end(), level.row(kept, stride_));
                level.lengths[kept] = pa.size();
            }
            ++kept;
        }
        return kept;
    }

    std::span<const double> reference_;
    WorkObserver* observer_;
    std::size_t stride_ = 0;
    bool transitive_ = true;
    bool fast_ = false;
    std::vector<Level> levels_;
    std::vector<double> scratch_;
    std::vector<double> bounds_;  // of the rows that may survive a limit set's filter
    std::vector<unsigned char> dominated_;
    hv_detail::PlanarSum planar_sum_;
    // Large top levels find their limit sets' candidates through a tree of their rows.
    static constexpr std::size_t kTreeRows = 256;
    bool tree_built_ = false;
    hv_detail::RowTree tree_;
    std::vector<std::size_t> candidates_;
    hv_detail::SortedFilter sorted_filter_;
    std::vector<std::size_t> kept_;
};

}  // namespace

double wfg(std::span<const ObjectiveVector> points, std::span<const double> reference) {
    const std::vector<ObjectiveView> views(points.begin(), points.end());
    WfgEngine engine(reference, views, nullptr, false);
    engine.load(views, false);
    return engine.run();
}

namespace {

template <class Point>
double hypervolume_of(std::span<const Point> points, std::span<const double> reference,
                      WorkObserver* observer) {
    std::vector<ObjectiveView> inside;
    for (const Point& p : points) {
        if (p.size() != reference.size()) continue;
        bool strictly_below = true;
        for (std::size_t k = 0; k < p.size() && strictly_below; ++k)
            strictly_below = reference[k] > p[k];
        if (strictly_below) inside.emplace_back(p);
    }
    WfgEngine engine(reference, inside, observer, true);
    engine.load(inside, true);
    return engine.run();
}

}  // namespace

double hypervolume(std::span<const ObjectiveVector> points, std::span<const double> reference,
                   WorkObserver* observer) {
    return hypervolume_of(points, reference, observer);
}

double hypervolume(std::span<const ObjectiveView> points, std::span<const double> reference,
                   WorkObserver* observer) {
    return hypervolume_of(points, reference, observer);
}

}  // namespace kestrelopt
