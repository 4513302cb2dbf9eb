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
    stair_.clear();
    x_cut_ = reference[0];
    y_cut_ = reference[1];
    removals = false;
    const std::size_t m = set_.size();
    lo = m;
    std::size_t i = 0;
    // The points not above p in z cover the box from its start.
    for (; i < m; ++i) {
        const Point& q = set_[i];
        if (q.z > p.z) break;
        if (q.x <= p.x && q.y <= p.y) return -1.0;  // weakly dominates p
        if (q.z == p.z) {
            lo = std::min(lo, i);
            removals |= q.x >= p.x && q.y >= p.y;
        }
        cover(std::max(q.x, p.x), std::max(q.y, p.y), p, reference);
    }
    pos = i;
    lo = std::min(lo, i);
    double uncovered = 0.0;
    double x = p.x;
    double top = reference[1];
    for (const Step& s : stair_) {
        uncovered += box(s.x - x, top - p.y);
        x = s.x;
        top = s.y;
    }
    uncovered += box(reference[0] - x, top - p.y);
    double volume = 0.0;
    double z = p.z;
    for (; i < m; ++i) {
        const Point& q = set_[i];
        if (q.z > z) {
            volume += box(uncovered, q.z - z);
            z = q.z;
        }
        if (q.x <= p.x && q.y <= p.y) return volume;  // the whole box is covered from here
        removals |= q.x >= p.x && q.y >= p.y;
        uncovered -= cover(std::max(q.x, p.x), std::max(q.y, p.y), p, reference);
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
