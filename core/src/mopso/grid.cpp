// The adaptive hypercube grid: each objective's range over the set, split into equal
// divisions, and how many points share each cell.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>

#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Truncation towards zero with saturation: NaN and negatives give 0, values past the
// integer range its maximum.
std::size_t saturating_index(double t) {
    if (!(t > 0.0)) return 0;
    constexpr double kLimit = 18446744073709551616.0;  // 2^64
    if (t >= kLimit) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(t);
}

// Missing values count as NaN.
double value_at(ObjectiveView point, std::size_t k) {
    return k < point.size() ? point[k] : std::numeric_limits<double>::quiet_NaN();
}

void compute_cells(std::span<const ObjectiveView> points, std::size_t divisions, GridWork& work) {
    const std::size_t n = points.size();
    const std::size_t m = n == 0 ? 0 : points.front().size();
    const std::size_t d = divisions == 0 ? 1 : divisions;
    work.objectives = m;
    work.lo.assign(m, kInf);
    work.hi.assign(m, -kInf);
    for (const ObjectiveView p : points)
        for (std::size_t k = 0; k < m; ++k) {
            const double v = value_at(p, k);
            if (v < work.lo[k]) work.lo[k] = v;
            if (v > work.hi[k]) work.hi[k] = v;
        }
    work.cells.resize(n * m);
    const double scale = static_cast<double>(d);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < m; ++k) {
            const double span = work.hi[k] - work.lo[k];
            std::size_t cell = 0;
            if (span > 0.0) {
                const double t = scale * ((value_at(points[i], k) - work.lo[k]) / span);
                cell = std::min(d - 1, saturating_index(t));
            }
            work.cells[i * m + k] = cell;
        }
}

std::size_t hash_row(const std::size_t* row, std::size_t m) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::size_t k = 0; k < m; ++k) {
        h ^= static_cast<std::uint64_t>(row[k]) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdULL;
    }
    return static_cast<std::size_t>(h ^ (h >> 33));
}

struct CellHash {
    std::size_t operator()(const GridCell& cell) const {
        return hash_row(cell.data(), cell.size());
    }
};

}  // namespace

std::vector<GridCell> grid_cells(std::span<const ObjectiveVector> points, std::size_t divisions) {
    const std::vector<ObjectiveView> views(points.begin(), points.end());
    GridWork work;
    compute_cells(views, divisions, work);
    const std::size_t m = work.objectives;
    std::vector<GridCell> cells;
    cells.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        cells.emplace_back(work.cells.begin() + static_cast<std::ptrdiff_t>(i * m),
                           work.cells.begin() + static_cast<std::ptrdiff_t>((i + 1) * m));
    return cells;
}

std::vector<std::size_t> cell_populations(std::span<const GridCell> cells) {
    std::unordered_map<GridCell, std::size_t, CellHash> counts;
    counts.reserve(cells.size());
    for (const GridCell& cell : cells) ++counts[cell];
    std::vector<std::size_t> populations;
    populations.reserve(cells.size());
    for (const GridCell& cell : cells) populations.push_back(counts.find(cell)->second);
    return populations;
}

void grid_populations_into(std::span<const ObjectiveView> points, std::size_t divisions,
                           GridWork& work, std::vector<std::size_t>& populations) {
    compute_cells(points, divisions, work);
    const std::size_t n = points.size();
    const std::size_t m = work.objectives;
    // A power-of-two table at most half full, so every probe sequence ends at a free slot.
    std::size_t size = 1;
    while (size < 2 * n) size <<= 1;
    work.slots.assign(size, 0);
    work.counts.assign(n, 0);
    work.groups.resize(n);
    populations.resize(n);
    const std::size_t* cells = work.cells.data();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t* row = cells + i * m;
        std::size_t slot = hash_row(row, m) & (size - 1);
        for (;;) {
            const std::size_t held = work.slots[slot];
            if (held == 0) {
                work.slots[slot] = i + 1;
                work.groups[i] = i;  // the first row of a cell names it
                break;
            }
            const std::size_t* other = cells + (held - 1) * m;
            if (std::equal(row, row + m, other)) {
                work.groups[i] = held - 1;
                break;
            }
            slot = (slot + 1) & (size - 1);
        }
        ++work.counts[work.groups[i]];
    }
    for (std::size_t i = 0; i < n; ++i) populations[i] = work.counts[work.groups[i]];
}

}  // namespace kestrelopt
