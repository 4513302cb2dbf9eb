// A plain transcription of the WFG hypervolume, independent of the library: fresh copies
// at every level, written for clarity only. The tests check the library against it bit for
// bit, and the benchmark measures the library's speed against it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace hv_reference {

using Point = std::vector<double>;
using Points = std::vector<Point>;

inline bool dominates(const Point& a, const Point& b) {
    const std::size_t n = std::min(a.size(), b.size());
    bool better = false;
    for (std::size_t k = 0; k < n; ++k) {
        if (a[k] > b[k]) return false;
        if (a[k] < b[k]) better = true;
    }
    return better;
}

inline bool equal(const Point& a, const Point& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (!(a[k] == b[k])) return false;
    return true;
}

inline Points non_dominated(const Points& points) {
    Points result;
    for (std::size_t i = 0; i < points.size(); ++i) {
        bool keep = true;
        for (std::size_t j = 0; j < points.size(); ++j)
            if (j != i && dominates(points[j], points[i])) keep = false;
        for (const Point& r : result)
            if (equal(r, points[i])) keep = false;
        if (keep) result.push_back(points[i]);
    }
    return result;
}

inline double larger(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

inline Points limit_set(const Points& points, std::size_t i) {
    Points result;
    for (std::size_t j = i + 1; j < points.size(); ++j) {
        Point q(std::min(points[i].size(), points[j].size()));
        for (std::size_t k = 0; k < q.size(); ++k) q[k] = larger(points[i][k], points[j][k]);
        result.push_back(q);
    }
    return result;
}

inline double inclusive(const Point& p, const Point& reference) {
    double volume = 1.0;
    for (std::size_t k = 0; k < std::min(p.size(), reference.size()); ++k) {
        const double gap = reference[k] - p[k];
        volume *= gap > 0.0 ? gap : 0.0;
    }
    return volume;
}

inline double wfg(const Points& points, const Point& reference) {
    double sum = -0.0;
    for (std::size_t i = 0; i < points.size(); ++i)
        sum +=
            inclusive(points[i], reference) - wfg(non_dominated(limit_set(points, i)), reference);
    return sum;
}

inline double hypervolume(const Points& points, const Point& reference) {
    Points inside;
    for (const Point& p : points) {
        if (p.size() != reference.size()) continue;
        bool below = true;
        for (std::size_t k = 0; k < p.size(); ++k)
            if (!(reference[k] > p[k])) below = false;
        if (below) inside.push_back(p);
    }
    return wfg(non_dominated(inside), reference);
}

}  // namespace hv_reference
