// The core hypervolume on fronts read from a file, for bench_hypervolume_py.py, which times
// the same fronts through the Python module. Input (whitespace-separated, floats in any
// form strtod reads, hexadecimal included): the number of fronts, then per front its point
// count n, its objective count m, the m values of the reference and the n x m values of the
// points. Output, one line per front: its index, seconds per call (the smallest mean over
// BATCHES batches of at least kBatchSeconds each; 5 unless given after the file) and the
// bits of the result.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kestrelopt/mopso/pareto.hpp"

namespace {

constexpr double kBatchSeconds = 0.2;
constexpr int kDefaultBatches = 5;

volatile double sink = 0.0;

struct Front {
    std::vector<double> reference;
    kestrelopt::PointSet points;
};

bool read_value(std::ifstream& in, double& out) {
    std::string word;
    if (!(in >> word)) return false;
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

bool read_count(std::ifstream& in, std::size_t& out) {
    return static_cast<bool>(in >> out);
}

bool read_fronts(const char* path, std::vector<Front>& fronts) {
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

double seconds_per_call(const Front& front, int batches) {
    using Clock = std::chrono::steady_clock;
    double best = 0.0;
    for (int batch = 0; batch < batches; ++batch) {
        std::size_t calls = 0;
        const auto start = Clock::now();
        double elapsed = 0.0;
        do {
            sink = kestrelopt::hypervolume(front.points, front.reference);
            ++calls;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < kBatchSeconds);
        const double mean = elapsed / static_cast<double>(calls);
        if (batch == 0 || mean < best) best = mean;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int batches = argc == 3 ? std::atoi(argv[2]) : kDefaultBatches;
    if ((argc != 2 && argc != 3) || batches < 1) {
        std::fprintf(stderr, "usage: %s FRONTS_FILE [BATCHES]\n", argv[0]);
        return 2;
    }
    std::vector<Front> fronts;
    if (!read_fronts(argv[1], fronts)) {
        std::fprintf(stderr, "cannot read fronts from %s\n", argv[1]);
        return 1;
    }
    for (std::size_t i = 0; i < fronts.size(); ++i) {
        const double value = kestrelopt::hypervolume(fronts[i].points, fronts[i].reference);
        std::printf("%zu %.9e %016llx\n", i, seconds_per_call(fronts[i], batches),
                    static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    }
    return 0;
}
