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
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The lowest y left of p (at most p.x), the lowest x below it (at most p.y), and the rows
// beyond p in both x and y, noted in `inner`; false when a row weakly dominates p.
bool Sweep4::edges(const Point& p, std::size_t count, double& x_cut, double& y_cut,
                   std::size_t& inner_count) const {
    const double* xs = xs_.data();
    const double* ys = ys_.data();
    std::size_t* inner = inner_.data();
    std::size_t found = 0;
    std::size_t i = 0;
    bool dominated = false;
#if defined(__SSE2__)
    // Two rows at a time; the minima are taken lane by lane and joined at the end.
    const __m128d px = _mm_set1_pd(p.x);
    const __m128d py = _mm_set1_pd(p.y);
    const __m128d none = _mm_set1_pd(std::numeric_limits<double>::infinity());
    __m128d lowest_y = _mm_set1_pd(y_cut);
    __m128d lowest_x = _mm_set1_pd(x_cut);
    for (; i + 2 <= count; i += 2) {
        const __m128d qx = _mm_loadu_pd(xs + i);
        const __m128d qy = _mm_loadu_pd(ys + i);
        const __m128d left = _mm_cmple_pd(qx, px);
        const __m128d below = _mm_cmple_pd(qy, py);
        const __m128d both = _mm_and_pd(left, below);
        if (_mm_movemask_pd(both) != 0) return false;  // weakly dominates p
        lowest_y = _mm_min_pd(lowest_y, _mm_or_pd(_mm_and_pd(left, qy), _mm_andnot_pd(left, none)));
        lowest_x =
            _mm_min_pd(lowest_x, _mm_or_pd(_mm_and_pd(below, qx), _mm_andnot_pd(below, none)));
        const int outside = _mm_movemask_pd(_mm_or_pd(left, below));
        inner[found] = i;
        found += (outside & 1) == 0;
        inner[found] = i + 1;
        found += (outside & 2) == 0;
    }
    double lanes[2];
    _mm_storeu_pd(lanes, lowest_y);
    y_cut = std::min(lanes[0], lanes[1]);
    _mm_storeu_pd(lanes, lowest_x);
    x_cut = std::min(lanes[0], lanes[1]);
#endif
    for (; i < count; ++i) {
        const double qx = xs[i];
        const double qy = ys[i];
        const bool left = qx <= p.x;
        const bool below = qy <= p.y;
        dominated |= left & below;
        y_cut = left && qy < y_cut ? qy : y_cut;
        x_cut = below && qx < x_cut ? qx : x_cut;
        inner[found] = i;
        found += !(left | below);
    }
    inner_count = found;
    return !dominated;
}

double Sweep4::contribution(const Point& p, const double* reference, std::size_t& lo,
                            std::size_t& pos, bool& removals) {
    const double* xs = xs_.data();
    const double* ys = ys_.data();
    const double* zs = zs_.data();
    const std::size_t m = count_;
    pos = static_cast<std::size_t>(std::upper_bound(zs, zs + m, p.z) - zs);
    lo = pos;
    while (lo > 0 && zs[lo - 1] == p.z) --lo;  // ties in z are few but for coarse sets
    // The points not above p in z cover the box from its start, in any order: first the two
    // steps on the box's edges (the lowest corner left of p, the leftmost below it)...
    double x_cut = reference[0];
    double y_cut = reference[1];
    std::size_t inner_count = 0;
    if (!edges(p, pos, x_cut, y_cut, inner_count)) return -1.0;
    removals = false;
    for (std::size_t i = lo; i < pos; ++i) removals |= xs[i] >= p.x && ys[i] >= p.y;
    // ... then the staircase of the corners inside them, from the corners sorted by x.
    stair_.clear();
    if (y_cut < reference[1]) stair_.push_back(Step{p.x, y_cut});
    const std::size_t first = stair_.size();
    for (std::size_t k = 0; k < inner_count; ++k) {
        const std::size_t i = inner_[k];
        if (xs[i] < x_cut && ys[i] < y_cut) stair_.push_back(Step{xs[i], ys[i]});
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
        if (zs[i] > z) {
            volume += box(uncovered, zs[i] - z);
            z = zs[i];
        }
        const double qx = xs[i];
        const double qy = ys[i];
        const bool left = qx <= p.x;
        const bool below = qy <= p.y;
        if (left && below) return volume;  // the whole box is covered from here
        removals |= qx >= p.x && qy >= p.y;
        const double cx = left ? p.x : qx;
        const double cy = below ? p.y : qy;
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
    for (std::vector<double>* v : {&xs_, &ys_, &zs_, &tail_x_, &tail_y_, &tail_z_})
        v->resize(n + 1);
    count_ = 0;
    stair_.reserve(n + 1);
    inner_.resize(n + 1);
    double volume = 0.0;
    for (const Keyed& entry : by_w_) {
        const double* row = rows + 4 * entry.index;
        const Point p{row[0], row[1], row[2]};
        if (observer != nullptr) observer->progress(count_ + 1);
        std::size_t lo = 0;
        std::size_t pos = 0;
        bool removals = false;
        const double c = contribution(p, reference, lo, pos, removals);
        if (c < 0.0) continue;
        volume += box(c, reference[3] - entry.key);
        if (!removals) {
            // p goes in at pos, after the points level with it in z.
            // A short tail moves faster in one loop than in three calls of memmove.
            double* xs = xs_.data();
            double* ys = ys_.data();
            double* zs = zs_.data();
            if (count_ - pos < 64) {
                for (std::size_t j = count_; j > pos; --j) {
                    xs[j] = xs[j - 1];
                    ys[j] = ys[j - 1];
                    zs[j] = zs[j - 1];
                }
            } else {
                for (double* a : {xs, ys, zs})
                    std::copy_backward(a + pos, a + count_, a + count_ + 1);
            }
            xs_[pos] = p.x;
            ys_[pos] = p.y;
            zs_[pos] = p.z;
            ++count_;
            continue;
        }
        // Rebuild S from the first point level with p in z: without the points p weakly
        // dominates, and with p after the points level with it.
        const std::size_t tail = count_ - lo;
        std::copy_n(xs_.begin() + static_cast<std::ptrdiff_t>(lo), tail, tail_x_.begin());
        std::copy_n(ys_.begin() + static_cast<std::ptrdiff_t>(lo), tail, tail_y_.begin());
        std::copy_n(zs_.begin() + static_cast<std::ptrdiff_t>(lo), tail, tail_z_.begin());
        double* xs = xs_.data();
        double* ys = ys_.data();
        double* zs = zs_.data();
        const double* tx = tail_x_.data();
        const double* ty = tail_y_.data();
        const double* tz = tail_z_.data();
        std::size_t w = lo;
        const auto put = [&](double x, double y, double z) {
            xs[w] = x;
            ys[w] = y;
            zs[w] = z;
            ++w;
        };
        bool placed = false;
        for (std::size_t j = 0; j < tail; ++j) {
            if (!placed && tz[j] > p.z) {
                put(p.x, p.y, p.z);
                placed = true;
            }
            if (!(tx[j] >= p.x && ty[j] >= p.y && tz[j] >= p.z)) put(tx[j], ty[j], tz[j]);
        }
        if (!placed) put(p.x, p.y, p.z);
        count_ = w;
    }
    return volume;
}

}  // namespace kestrelopt::hv_sweep
