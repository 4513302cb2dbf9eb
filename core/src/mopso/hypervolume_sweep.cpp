#include "kestrelopt/mopso/hypervolume_sweep.hpp"

#include <algorithm>
#include <limits>

#include "hypervolume_sweep_detail.hpp"

namespace kestrelopt {

using hv_sweep::box;
using hv_sweep::Keyed;

struct HypervolumeSweep::Impl {
    // Buffers of one level of the sweep in the last objective (5 objectives and more).
    struct Level {
        std::vector<Keyed> order;
        std::vector<double> front;  // the points so far, one objective less, non-dominated
        std::vector<double> limit;
        std::vector<double> contribution_bounds;
        std::vector<double> bounds;
    };

    hv_sweep::Sweep3 sweep3;
    hv_sweep::Sweep4 sweep4;
    std::vector<Level> levels;
    std::vector<Keyed> by_x;
    std::vector<double> inside;  // the rows below the reference
    std::vector<std::size_t> inside_rows;
    std::vector<double> lifted;  // rows of 1 or 2 objectives lifted to 3
    std::vector<double> lifted_reference;
    std::vector<double> lifted_out;
    std::vector<double> limit;
    std::vector<double> contribution_bounds;

    // Copies the rows strictly below the reference into `inside`, noting where they were.
    void keep_inside(std::span<const double> rows, std::span<const double> reference) {
        const std::size_t m = reference.size();
        inside.clear();
        inside_rows.clear();
        for (std::size_t i = 0; m != 0 && i < rows.size() / m; ++i) {
            const double* p = rows.data() + i * m;
            bool below = true;
            for (std::size_t k = 0; k < m; ++k) below = below && p[k] < reference[k];
            if (!below) continue;
            inside.insert(inside.end(), p, p + m);
            inside_rows.push_back(i);
        }
    }

    double volume2(const double* rows, std::size_t n, const double* reference) {
        by_x.resize(n);
        for (std::size_t i = 0; i < n; ++i) by_x[i] = {rows[2 * i], i};
        std::sort(by_x.begin(), by_x.end(),
                  [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
        // In order of x, each point lower than all before it adds the strip up to the lowest.
        double top = reference[1];
        double volume = 0.0;
        std::size_t k = 0;
        while (k < n) {
            const double x = by_x[k].key;
            double y = top;
            for (; k < n && by_x[k].key == x; ++k) y = std::min(y, rows[2 * by_x[k].index + 1]);
            volume += box(reference[0] - x, top - y);
            top = y;
        }
        return volume;
    }

    // Volume of `n` rows of `m` objectives, every one below the reference; `depth` names the
    // level buffers of 5 objectives and more.
    double volume(const double* rows, std::size_t n, std::size_t m, const double* reference,
                  std::size_t depth, WorkObserver* observer) {
        if (n == 0) return 0.0;
        switch (m) {
            case 1: {
                double low = rows[0];
                for (std::size_t i = 1; i < n; ++i) low = std::min(low, rows[i]);
                return reference[0] - low;
            }
            case 2:
                return volume2(rows, n, reference);
            case 3:
                return sweep3.volume(rows, n, reference, observer);
            case 4:
                return sweep4.volume(rows, n, reference, observer);
            default:
                break;
        }
        // Every level below this one too, so that no level moves while one is in use.
        if (levels.size() < depth + m - 4) levels.resize(depth + m - 4);
        Level& level = levels[depth];
        const std::size_t d = m - 1;  // objectives of the front below
        level.order.resize(n);
        for (std::size_t i = 0; i < n; ++i) level.order[i] = {rows[i * m + d], i};
        std::sort(level.order.begin(), level.order.end(),
                  [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
        level.front.clear();
        level.bounds.resize(d);
        double total = 0.0;
        for (const Keyed& entry : level.order) {
            const double* p = rows + entry.index * m;
            std::size_t count = level.front.size() / d;
            if (observer != nullptr) observer->progress(count + 1);
            if (!limit_set(p, d, reference, level.front.data(), count, level.bounds.data(),
                           level.limit))
                continue;  // weakly dominated
            double own = 1.0;
            for (std::size_t k = 0; k < d; ++k) own *= reference[k] - p[k];
            const std::size_t rows_below = level.limit.size() / d;
            double below = 0.0;
            if (rows_below == 1) {  // its box
                below = 1.0;
                for (std::size_t k = 0; k < d; ++k) below *= reference[k] - level.limit[k];
            } else if (rows_below > 1) {
                below = volume(level.limit.data(), rows_below, d, reference, depth + 1, observer);
            }
            total += box(own - below, reference[d] - entry.key);
            // The front keeps p and loses the points p weakly dominates.
            std::size_t kept = 0;
            double* front = level.front.data();
            for (std::size_t j = 0; j < count; ++j) {
                const double* q = front + j * d;
                bool covered = true;
                for (std::size_t k = 0; k < d && covered; ++k) covered = p[k] <= q[k];
                if (covered) continue;
                if (kept != j) std::copy(q, q + d, front + kept * d);
                ++kept;
            }
            level.front.resize(kept * d);
            level.front.insert(level.front.end(), p, p + d);
        }
        return total;
    }

    // The limit set of p (its first d objectives) in the `count` rows of `others`: each row
    // worsened to p's box, leaving out the rows that cannot survive the set's filter (a row
    // worse than p in one objective k only becomes p with its value at k, which covers every
    // limit row beyond that value at k). False when a row weakly dominates p. D is d when it
    // is known where the code is built (4, the most frequent), 0 otherwise.
    template <std::size_t D>
    static bool limit_set_of(const double* p, std::size_t d, const double* reference,
                             const double* others, std::size_t count, double* bounds,
                             std::vector<double>& out) {
        if constexpr (D != 0) d = D;
        std::copy(reference, reference + d, bounds);
        for (std::size_t j = 0; j < count; ++j) {
            const double* q = others + j * d;
            std::size_t worse = 0;
            std::size_t where = 0;
            for (std::size_t k = 0; k < d; ++k) {
                const bool w = p[k] < q[k];
                worse += w;
                where = w ? k : where;
            }
            if (worse == 0) return false;
            if (worse == 1) bounds[where] = std::min(bounds[where], q[where]);
        }
        out.resize(count * d);
        double* row = out.data();
        for (std::size_t j = 0; j < count; ++j) {
            const double* q = others + j * d;
            bool outside = false;
            for (std::size_t k = 0; k < d; ++k) outside |= bounds[k] < q[k];
            for (std::size_t k = 0; k < d; ++k) row[k] = std::max(p[k], q[k]);
            row += outside ? 0 : d;
        }
        out.resize(static_cast<std::size_t>(row - out.data()));
        return true;
    }
    static bool limit_set(const double* p, std::size_t d, const double* reference,
                          const double* others, std::size_t count, double* bounds,
                          std::vector<double>& out) {
        return d == 4 ? limit_set_of<4>(p, d, reference, others, count, bounds, out)
                      : limit_set_of<0>(p, d, reference, others, count, bounds, out);
    }

    // Contributions of the `n` rows of `inside` (m objectives) into out[0..n).
    void contributions(std::size_t n, std::size_t m, const double* reference, double* out,
                       WorkObserver* observer) {
        if (n == 0) return;
        if (m == 3) {
            sweep3.contributions(inside.data(), n, reference, out, observer);
            return;
        }
        if (m < 3) {
            // Lifted to a third objective of 0 under a reference of 1: every volume is an
            // area times 1, exactly.
            lifted.assign(3 * n, 0.0);
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t k = 0; k < m; ++k) lifted[3 * i + k] = inside[i * m + k];
            lifted_reference.assign(3, 1.0);
            for (std::size_t k = 0; k < m; ++k) lifted_reference[k] = reference[k];
            sweep3.contributions(lifted.data(), n, lifted_reference.data(), out, observer);
            return;
        }
        // Each point's box less the volume of its limit set in all the other points.
        contribution_bounds.resize(m);
        double* bounds = contribution_bounds.data();
        for (std::size_t i = 0; i < n; ++i) {
            if (observer != nullptr) observer->progress(n);
            const double* p = inside.data() + i * m;
            // The others: the rows before i, then those after it.
            out[i] = 0.0;
            limit.clear();
            if (!limit_set_skipping(p, m, reference, n, i, bounds)) continue;
            double own = 1.0;
            for (std::size_t k = 0; k < m; ++k) own *= reference[k] - p[k];
            out[i] = own - volume(limit.data(), limit.size() / m, m, reference, 0, observer);
        }
    }

    // limit_set over every row of `inside` but row i, into `limit`.
    bool limit_set_skipping(const double* p, std::size_t m, const double* reference, std::size_t n,
                            std::size_t i, double* bounds) {
        std::copy(reference, reference + m, bounds);
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const double* q = inside.data() + j * m;
            std::size_t worse = 0;
            std::size_t where = 0;
            for (std::size_t k = 0; k < m; ++k) {
                const bool w = p[k] < q[k];
                worse += w;
                where = w ? k : where;
            }
            if (worse == 0) return false;
            if (worse == 1) bounds[where] = std::min(bounds[where], q[where]);
        }
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const double* q = inside.data() + j * m;
            bool outside = false;
            for (std::size_t k = 0; k < m; ++k) outside |= bounds[k] < q[k];
            if (outside) continue;
            for (std::size_t k = 0; k < m; ++k) limit.push_back(std::max(p[k], q[k]));
        }
        return true;
    }
};

HypervolumeSweep::HypervolumeSweep() : impl_(std::make_unique<Impl>()) {}
HypervolumeSweep::~HypervolumeSweep() = default;
HypervolumeSweep::HypervolumeSweep(HypervolumeSweep&&) noexcept = default;
HypervolumeSweep& HypervolumeSweep::operator=(HypervolumeSweep&&) noexcept = default;

double HypervolumeSweep::volume(std::span<const double> rows, std::span<const double> reference,
                                WorkObserver* observer) {
    Impl& s = *impl_;
    s.keep_inside(rows, reference);
    const std::size_t m = reference.size();
    if (s.inside_rows.empty()) return 0.0;
    return s.volume(s.inside.data(), s.inside_rows.size(), m, reference.data(), 0, observer);
}

void HypervolumeSweep::contributions(std::span<const double> rows,
                                     std::span<const double> reference, std::span<double> out,
                                     WorkObserver* observer) {
    Impl& s = *impl_;
    std::fill(out.begin(), out.end(), 0.0);
    s.keep_inside(rows, reference);
    const std::size_t n = s.inside_rows.size();
    if (n == 0) return;
    s.lifted_out.resize(n);
    s.contributions(n, reference.size(), reference.data(), s.lifted_out.data(), observer);
    for (std::size_t i = 0; i < n; ++i) out[s.inside_rows[i]] = s.lifted_out[i];
}

void HypervolumeSweep::contributions(std::span<const ObjectiveView> points,
                                     std::span<const double> reference, std::vector<double>& out) {
    Impl& s = *impl_;
    const std::size_t m = reference.size();
    out.assign(points.size(), 0.0);
    s.inside.clear();
    s.inside_rows.clear();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const ObjectiveView p = points[i];
        if (p.size() != m || m == 0) continue;
        bool below = true;
        for (std::size_t k = 0; k < m; ++k) below = below && p[k] < reference[k];
        if (!below) continue;
        s.inside.insert(s.inside.end(), p.begin(), p.end());
        s.inside_rows.push_back(i);
    }
    const std::size_t n = s.inside_rows.size();
    if (n == 0) return;
    s.lifted_out.resize(n);
    s.contributions(n, m, reference.data(), s.lifted_out.data(), nullptr);
    for (std::size_t i = 0; i < n; ++i) out[s.inside_rows[i]] = s.lifted_out[i];
}

double hypervolume_sweep(std::span<const double> rows, std::span<const double> reference,
                         WorkObserver* observer) {
    HypervolumeSweep sweep;
    return sweep.volume(rows, reference, observer);
}

std::vector<double> hypervolume_contributions(std::span<const double> rows,
                                              std::span<const double> reference,
                                              WorkObserver* observer) {
    std::vector<double> out(reference.empty() ? 0 : rows.size() / reference.size());
    HypervolumeSweep sweep;
    sweep.contributions(rows, reference, out, observer);
    return out;
}

}  // namespace kestrelopt
