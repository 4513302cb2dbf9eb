// The core hypervolume on fronts read from a file, for bench_hypervolume_py.py, which times
// the same fronts through the Python module. Input: a file of fronts (front_file.hpp). Output, one
// line per front: its index, seconds per call (the smallest mean over BATCHES batches of at least
// kBatchSeconds each; 5 unless given after the file) and the bits of the result.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "front_file.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace {

using bench_fronts::Front;
using bench_fronts::read_fronts;

constexpr double kBatchSeconds = 0.2;
constexpr int kDefaultBatches = 5;

volatile double sink = 0.0;

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
