// The pieces of the dimension sweeps (hypervolume_sweep.hpp): an ordered set of ranks, the
// 3-objective sweep (volume and exclusive contributions) and the 4-objective sweep. Points
// come row-major, 3 or 4 values a row, every one strictly below the reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kestrelopt/interrupt.hpp"

namespace kestrelopt::hv_sweep {

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The area of a w x h box, 0 unless both sides are positive: a side of 0 next to an
// infinite one adds nothing (rather than NaN), and a side that rounding left negative
// counts as none.
inline double box(double w, double h) {
    return w > 0.0 && h > 0.0 ? w * h : 0.0;
}

// A set of ranks 0..n-1 in a tree of 64-bit words (each bit of a word above says whether a
// word below has a bit set): insert, erase and the nearest member on either side of a rank
// in O(log_64 n). reset() allocates only when n grows.
class RankSet {
  public:
    void reset(std::size_t n);
    void insert(std::size_t r);
    void erase(std::size_t r);
    // The largest member below r, or kNone.
    std::size_t before(std::size_t r) const;
    // The smallest member above r, or kNone.
    std::size_t after(std::size_t r) const;

  private:
    std::vector<std::uint64_t> words_;  // every level, the leaves first
    std::vector<std::size_t> offsets_;  // where each level starts in words_
    std::vector<std::size_t> sizes_;    // words per level
};

// A point's index with the key it is sorted by.
struct Keyed {
    double key;
    std::size_t index;
};

class Sweep3 {
  public:
    // Volume of `n` rows (x, y, z) below `reference` (3 values): the staircase of (x, y) over
    // the points so far, in order of z, and its area times each step in z.
    double volume(const double* rows, std::size_t n, const double* reference,
                  WorkObserver* observer);

    // Exclusive contribution of each row into out[0..n): the same sweep in the order (z, x,
    // y), each staircase point's own rectangle (up to its neighbours, less the boxes of the
    // steps it took off the staircase, which stay below it) times each step in z while it
    // stays. A point dominated by one staircase point only takes from that point's
    // volume: such a point, when no copy of it exists, gets its box less the volume of its
    // limit set instead.
    void contributions(const double* rows, std::size_t n, const double* reference, double* out,
                       WorkObserver* observer);

  private:
    // rank_[i]: row i's place in the order (x, y, z, i); xs_, ys_, zs_ by that rank.
    void rank_rows(const double* rows, std::size_t n);
    // The area of rank r's rectangle [x, right) x [y, top) outside its shadow's boxes.
    double own_area(std::size_t r, double right, double top);
    void flush(std::size_t r, double z) {
        if (z > since_[r]) {
            acc_[r] += box(area_[r], z - since_[r]);
            since_[r] = z;
        }
    }

    struct Row {
        double x, y, z;
        std::size_t index;
    };
    std::vector<Keyed> by_z_;
    std::vector<Row> by_rank_;
    std::vector<std::size_t> rank_;
    std::vector<double> xs_, ys_, zs_;
    RankSet set_;
    // Contributions, by rank.
    std::vector<double> acc_, area_, since_;
    std::vector<std::uint32_t> copies_;
    std::vector<unsigned char> lone_;  // the only dominator of some point
    // The steps each point took off the staircase, x ascending: shadow_[begin, end).
    struct Corner {
        double x, y;
    };
    std::vector<Corner> shadow_;
    std::vector<std::size_t> shadow_begin_, shadow_end_;
    std::vector<std::size_t> lone_rows_;
    std::vector<double> limit_;
};

class Sweep4 {
  public:
    // Volume of `n` rows (x, y, z, w) below `reference` (4 values): in order of w, each
    // point's contribution to the 3-objective set of the points before it (kept non-dominated
    // and in order of z) times its distance to the reference in w.
    double volume(const double* rows, std::size_t n, const double* reference,
                  WorkObserver* observer);

  private:
    struct Point {
        double x, y, z;
    };
    // The contribution of p to S, or a negative value when a point of S weakly dominates p;
    // `lo` is set to the first row of S not below p in z, `pos` to the first above it,
    // `removals` to whether p weakly dominates a row of S.
    double contribution(const Point& p, const double* reference, std::size_t& lo, std::size_t& pos,
                        bool& removals);
    // Adds (cx, cy) to the staircase inside p's box; returns the area it newly covers.
    double cover(double cx, double cy, const Point& p, const double* reference);

    // The lowest y left of p, the lowest x below it, among the first `count` rows of S; the
    // rows beyond p in x and y into inner_. False when a row weakly dominates p.
    bool edges(const Point& p, std::size_t count, double& x_cut, double& y_cut,
               std::size_t& inner_count) const;

    std::vector<Keyed> by_w_;
    // S, one array per objective (so that two rows are compared at once), count_ rows.
    std::vector<double> xs_, ys_, zs_;
    std::size_t count_ = 0;
    std::vector<double> tail_x_, tail_y_, tail_z_;
    struct Step {
        double x, y;
    };
    std::vector<Step> stair_;                 // x ascending, y descending
    mutable std::vector<std::size_t> inner_;  // rows of S beyond p in x and y, below it in z
    double x_cut_ = 0.0;  // x of the step at y = p.y (the box's right end when none)
    double y_cut_ = 0.0;  // y of the step at x = p.x (the box's top when none)
};

}  // namespace kestrelopt::hv_sweep
