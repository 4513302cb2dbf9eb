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

}  // namespace

void hypervolume_contributions(std::span<const ObjectiveView> points,
                               std::span<const double> reference, ContributionWork& work,
                               std::vector<double>& out) {
    if (reference.size() == 2)
        contributions_2d(points, reference, work, out);
    else
        work.sweep.contributions(points, reference, out);
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

double tchebycheff(std::span<const double> f, std::span<const double> unit,
                   std::span<const double> ideal, std::span<const double> nadir) {
    double value = 0.0;
    for (std::size_t k = 0; k < unit.size(); ++k) {
        const double spread = nadir[k] - ideal[k];
        const double scaled = (f[k] - ideal[k]) / (spread > 0 ? spread : 1.0);
        value = std::max(value, scaled / std::max(unit[k], 1e-6));
    }
    return value;
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
