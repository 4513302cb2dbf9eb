// Fronts written by the Python benchmarks for the C++ programs that time the core on the same
// points. Whitespace-separated, floats in any form strtod reads (hexadecimal included): the
// number of fronts, then per front its point count n, its objective count m, the m values of
// the reference and the n x m values of the points.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kestrelopt/mopso/pareto.hpp"

namespace bench_fronts {

struct Front {
    std::vector<double> reference;
    kestrelopt::PointSet points;
};

inline bool read_value(std::ifstream& in, double& out) {
    std::string word;
    if (!(in >> word)) return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

inline bool read_count(std::ifstream& in, std::size_t& out) {
    return static_cast<bool>(in >> out);
}

inline bool read_fronts(const char* path, std::vector<Front>& fronts) {
    std::ifstream in(path);
    std::size_t count = 0;
    if (!in || !read_count(in, count)) return false;
    fronts.resize(count);
    for (Front& front : fronts) {
        std::size_t n = 0, m = 0;
        if (!read_count(in, n) || !read_count(in, m)) return false;
        front.reference.resize(m);
        for (double& r : front.reference)
            if (!read_value(in, r)) return false;
        front.points.assign(n, kestrelopt::ObjectiveVector(m));
        for (auto& point : front.points)
            for (double& v : point)
                if (!read_value(in, v)) return false;
    }
    return true;
}

}  // namespace bench_fronts
