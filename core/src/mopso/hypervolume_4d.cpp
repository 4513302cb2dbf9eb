// The 4-objective sweep. In order of w, each point p adds to the volume its contribution to
// the 3-objective set S of the points before it, times its distance to the reference in w.
// That contribution is found in one pass over S in order of z: the points below p in z cover
// part of p's (x, y) box from the start, each point above it covers more from its own z on,
// and the area left uncovered is summed over the steps in z until a point covers the whole
// box (one weakly better than p in x and y) or z reaches the reference. The cover is a
// staircase of the points' corners clipped to the box; most corners fall behind the two steps
// on the box's edges and are dropped after two comparisons. S keeps only the points no later
// point weakly dominates, so every pass visits the current 3-objective front of the points
// before p: O(n) each, O(n^2) in all.
#include <algorithm>

#include "hypervolume_sweep_detail.hpp"

namespace kestrelopt::hv_sweep {

double Sweep4::cover(double cx, double cy, const Point& p, const double* reference) {
    if (cx >= x_cut_ || cy >= y_cut_) return 0.0;  // behind a step on the box's edge
    const auto at = std::lower_bound(stair_.begin(), stair_.end(), cx,
                                     [](const Step& s, double x) { return s.x < x; });
    const std::size_t j = static_cast<std::size_t>(at - stair_.begin());
    if (j > 0 && stair_[j - 1].y <= cy) return 0.0;
    if (j < stair_.size() && stair_[j].x == cx && stair_[j].y <= cy) return 0.0;
    // The steps the corner covers leave; each adds the strip between it and the step before.
    double top = j > 0 ? stair_[j - 1].y : reference[1];
    double x = cx;
    double gain = 0.0;
    std::size_t k = j;
    while (k < stair_.size() && stair_[k].y >= cy) {
        gain += box(stair_[k].x - x, top - cy);
        top = stair_[k].y;
        x = stair_[k].x;
        ++k;
    }
    gain += box((k < stair_.size() ? stair_[k].x : reference[0]) - x, top - cy);
    if (k == j) {
        stair_.insert(stair_.begin() + static_cast<std::ptrdiff_t>(j), Step{cx, cy});
    } else {
        stair_[j] = Step{cx, cy};
        stair_.erase(stair_.begin() + static_cast<std::ptrdiff_t>(j + 1),
                     stair_.begin() + static_cast<std::ptrdiff_t>(k));
    }
    if (cx == p.x) y_cut_ = cy;
    if (cy == p.y) x_cut_ = cx;
    return gain;
}

double Sweep4::contribution(const Point& p, const double* reference, std::size_t& lo,
                            std::size_t& pos, bool& removals) {
    const Point* set = set_.data();
    const std::size_t m = set_.size();
    lo = static_cast<std::size_t>(
        std::lower_bound(set, set + m, p.z, [](const Point& q, double z) { return q.z < z; }) -
        set);
    pos = static_cast<std::size_t>(
        std::upper_bound(set, set + m, p.z, [](double z, const Point& q) { return z < q.z; }) -
        set);
    // The points not above p in z cover the box from its start, in any order: first the two
    // steps on the box's edges (the lowest corner left of p, the leftmost below it)...
    double x_cut = reference[0];
    double y_cut = reference[1];
    for (std::size_t i = 0; i < pos; ++i) {
        const double qx = set[i].x;
        const double qy = set[i].y;
        const bool left = qx <= p.x;
        const bool below = qy <= p.y;
        if (left && below) return -1.0;  // weakly dominates p
        y_cut = left && qy < y_cut ? qy : y_cut;
        x_cut = below && qx < x_cut ? qx : x_cut;
    }
    removals = false;
    for (std::size_t i = lo; i < pos; ++i) removals |= set[i].x >= p.x && set[i].y >= p.y;
    // ... then the staircase of the corners inside them, from the corners sorted by x.
    stair_.clear();
    if (y_cut < reference[1]) stair_.push_back(Step{p.x, y_cut});
    const std::size_t first = stair_.size();
    for (std::size_t i = 0; i < pos; ++i) {
        const double qx = set[i].x;
        const double qy = set[i].y;
        if (qx > p.x && qy > p.y && qx < x_cut && qy < y_cut) stair_.push_back(Step{qx, qy});
    }
    std::sort(stair_.begin() + static_cast<std::ptrdiff_t>(first), stair_.end(),
              [](const Step& a, const Step& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    std::size_t kept = first;
    for (std::size_t k = first; k < stair_.size(); ++k) {
        if (kept > first && stair_[kept - 1].y <= stair_[k].y) continue;
        stair_[kept++] = stair_[k];
    }
    stair_.resize(kept);
    if (x_cut < reference[0]) stair_.push_back(Step{x_cut, p.y});
    x_cut_ = x_cut;
    y_cut_ = y_cut;
    double uncovered = 0.0;
    double x = p.x;
    double top = reference[1];
    for (const Step& s : stair_) {
        uncovered += box(s.x - x, top - p.y);
        x = s.x;
        top = s.y;
    }
    uncovered += box(reference[0] - x, top - p.y);
    // The points above p in z, in order, each covering more from its own z on.
    double volume = 0.0;
    double z = p.z;
    for (std::size_t i = pos; i < m; ++i) {
        const Point& q = set[i];
        if (q.z > z) {
            volume += box(uncovered, q.z - z);
            z = q.z;
        }
        const bool left = q.x <= p.x;
        const bool below = q.y <= p.y;
        if (left && below) return volume;  // the whole box is covered from here
        removals |= q.x >= p.x && q.y >= p.y;
        const double cx = left ? p.x : q.x;
        const double cy = below ? p.y : q.y;
        if (cx >= x_cut_ || cy >= y_cut_) continue;  // behind a step on the box's edge
        uncovered -= cover(cx, cy, p, reference);
    }
    return volume + box(uncovered, reference[2] - z);
}

double Sweep4::volume(const double* rows, std::size_t n, const double* reference,
                      WorkObserver* observer) {
    by_w_.resize(n);
    for (std::size_t i = 0; i < n; ++i) by_w_[i] = {rows[4 * i + 3], i};
    std::sort(by_w_.begin(), by_w_.end(),
              [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    set_.clear();
    set_.reserve(n);
    tail_.reserve(n);
    stair_.reserve(n + 1);
    double volume = 0.0;
    for (const Keyed& entry : by_w_) {
        const double* row = rows + 4 * entry.index;
        const Point p{row[0], row[1], row[2]};
        if (observer != nullptr) observer->progress(set_.size() + 1);
        std::size_t lo = 0;
        std::size_t pos = 0;
        bool removals = false;
        const double c = contribution(p, reference, lo, pos, removals);
        if (c < 0.0) continue;
        volume += box(c, reference[3] - entry.key);
        if (!removals) {
            set_.insert(set_.begin() + static_cast<std::ptrdiff_t>(pos), p);
            continue;
        }
        // Rebuild S from the first point level with p in z: without the points p weakly
        // dominates, and with p after the points level with it.
        tail_.assign(set_.begin() + static_cast<std::ptrdiff_t>(lo), set_.end());
        set_.resize(lo);
        bool placed = false;
        for (const Point& q : tail_) {
            if (!placed && q.z > p.z) {
                set_.push_back(p);
                placed = true;
            }
            if (!(q.x >= p.x && q.y >= p.y && q.z >= p.z)) set_.push_back(q);
        }
        if (!placed) set_.push_back(p);
    }
    return volume;
}

}  // namespace kestrelopt::hv_sweep
