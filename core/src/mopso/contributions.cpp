#include "kestrelopt/mopso/contributions.hpp"

#include <algorithm>
#include <cmath>

namespace kestrelopt {

namespace {

// Contributions in two objectives: ordered by the first objective, the second falls, and
// each point alone dominates the box up to its right neighbour's first objective and its
// left neighbour's second.
void contributions_2d(std::span<const ObjectiveView> points, std::span<const double> reference,
                      ContributionWork& work, std::vector<double>& out) {
    const std::size_t n = points.size();
    work.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) work.order[i] = i;
    std::sort(work.order.begin(), work.order.end(), [&](std::size_t a, std::size_t b) {
        return points[a][0] < points[b][0] || (points[a][0] == points[b][0] && a < b);
    });
    out.resize(n);
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t i = work.order[r];
        const double right = r + 1 < n ? points[work.order[r + 1]][0] : reference[0];
        const double above = r > 0 ? points[work.order[r - 1]][1] : reference[1];
        out[i] = (right - points[i][0]) * (above - points[i][1]);
    }
}

// The hypervolume of work.rows' rows of work.limited (three objectives each) by a sweep
// upwards in the third objective: between two consecutive heights the dominated slice is
// the area of the staircase of the rows below, kept sorted by the first objective.
double sweep_3d(std::span<const double> reference, ContributionWork& work) {
    const std::vector<double>& rows = work.limited;
    std::vector<std::size_t>& order = work.rows;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return rows[3 * a + 2] < rows[3 * b + 2] || (rows[3 * a + 2] == rows[3 * b + 2] && a < b);
    });
    std::vector<double>& xs = work.stair_x;
    std::vector<double>& ys = work.stair_y;
    xs.clear();
    ys.clear();
    double volume = 0.0;
    for (std::size_t r = 0; r < order.size(); ++r) {
        const double x = rows[3 * order[r]];
        const double y = rows[3 * order[r] + 1];
        // The first step at or right of x; the step before it covers (x, y) when not above it.
        const std::size_t at =
            static_cast<std::size_t>(std::lower_bound(xs.begin(), xs.end(), x) - xs.begin());
        const bool covered =
            (at > 0 && ys[at - 1] <= y) || (at < xs.size() && xs[at] == x && ys[at] <= y);
        if (!covered) {
            std::size_t end = at;
            while (end < xs.size() && ys[end] >= y) ++end;
            xs.erase(xs.begin() + static_cast<std::ptrdiff_t>(at),
                     xs.begin() + static_cast<std::ptrdiff_t>(end));
            ys.erase(ys.begin() + static_cast<std::ptrdiff_t>(at),
                     ys.begin() + static_cast<std::ptrdiff_t>(end));
            xs.insert(xs.begin() + static_cast<std::ptrdiff_t>(at), x);
            ys.insert(ys.begin() + static_cast<std::ptrdiff_t>(at), y);
        }
        const double next = r + 1 < order.size() ? rows[3 * order[r + 1] + 2] : reference[2];
        if (next > rows[3 * order[r] + 2]) {
            double area = 0.0;
            for (std::size_t s = 0; s < xs.size(); ++s) {
                const double right = s + 1 < xs.size() ? xs[s + 1] : reference[0];
                area += (right - xs[s]) * (reference[1] - ys[s]);
            }
            volume += area * (next - rows[3 * order[r] + 2]);
        }
    }
    return volume;
}

}  // namespace

double hypervolume_contribution(std::span<const ObjectiveView> points, std::size_t i,
                                std::span<const double> reference, ContributionWork& work) {
    const std::size_t m = reference.size();
    const ObjectiveView p = points[i];
    double alone = 1.0;
    for (std::size_t k = 0; k < m; ++k) alone *= reference[k] - p[k];
    // What the others also dominate of p's box: the hypervolume of each other point
    // worsened to p's box.
    work.limited.clear();
    work.rows.clear();
    for (std::size_t q = 0; q < points.size(); ++q) {
        if (q == i) continue;
        for (std::size_t k = 0; k < 3; ++k)
            work.limited.push_back(k < m ? std::max(p[k], points[q][k]) : 0.0);
        work.rows.push_back(work.rows.size());
    }
    if (m == 2) {
        // The staircase of the worsened points, one slice of height 1.
        for (std::size_t r = 0; r < work.rows.size(); ++r) work.limited[3 * r + 2] = 0.0;
        const double z[] = {reference[0], reference[1], 1.0};
        return alone - sweep_3d(z, work);
    }
    return alone - sweep_3d(reference, work);
}

void hypervolume_contributions_3d(std::span<const ObjectiveView> points,
                                  std::span<const double> reference, ContributionWork& work,
                                  std::vector<double>& out) {
    work.sweep.contributions(points, reference, out);
}

void hypervolume_contributions(std::span<const ObjectiveView> points,
                               std::span<const double> reference, ContributionWork& work,
                               std::vector<double>& out) {
    if (reference.size() == 2)
        contributions_2d(points, reference, work, out);
    else
        hypervolume_contributions_3d(points, reference, work, out);
}

double boundary_penalty(std::span<const double> f, std::span<const double> unit,
                        std::span<const double> ideal, std::span<const double> nadir,
                        double theta) {
    double along = 0.0;
    double square = 0.0;
    for (std::size_t k = 0; k < unit.size(); ++k) {
        const double spread = nadir[k] - ideal[k];
        const double scaled = (f[k] - ideal[k]) / (spread > 0 ? spread : 1.0);
        along += scaled * unit[k];
        square += scaled * scaled;
    }
    return along + theta * std::sqrt(std::max(square - along * along, 0.0));
}

std::vector<double> das_dennis(std::size_t objectives, std::size_t divisions) {
    std::vector<double> out;
    if (objectives == 0) return out;
    if (divisions == 0) divisions = 1;
    // Steps per objective, counted up like an odometer whose digits sum to `divisions`.
    std::vector<std::size_t> steps(objectives, 0);
    const double scale = static_cast<double>(divisions);
    auto emit = [&] {
        for (const std::size_t s : steps) out.push_back(static_cast<double>(s) / scale);
    };
    auto fill = [&](auto&& self, std::size_t k, std::size_t left) -> void {
        if (k + 1 == objectives) {
            steps[k] = left;
            emit();
            return;
        }
        for (std::size_t s = 0; s <= left; ++s) {
            steps[k] = s;
            self(self, k + 1, left - s);
        }
    };
    fill(fill, 0, divisions);
    return out;
}

std::size_t das_dennis_divisions(std::size_t objectives, std::size_t count) {
    // C(h + m - 1, m - 1), grown until it reaches count.
    for (std::size_t h = 1;; ++h) {
        double directions = 1.0;
        for (std::size_t j = 1; j < objectives; ++j)
            directions = directions * static_cast<double>(h + j) / static_cast<double>(j);
        if (directions + 0.5 >= static_cast<double>(count) || objectives <= 1) return h;
    }
}

}  // namespace kestrelopt
