// The core hypervolume against the plain recursion on fronts read from a file
// (front_file.hpp), for bench_hypervolume_scaling.py. The plain recursion is wfg on the
// front as given (it is already non-dominated), the library's recursion without its faster
// paths. Output, one line per front: its index, seconds per call of hypervolume and of the
// plain recursion (each the mean of calls repeated for at least kMinSeconds), and whether
// the two results have the same bits.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "front_file.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace {

constexpr double kMinSeconds = 0.3;

double seconds_per_call(const std::function<double()>& volume, std::uint64_t& bits) {
    using Clock = std::chrono::steady_clock;
    std::size_t calls = 0;
    const auto start = Clock::now();
    double elapsed = 0.0;
    do {
        bits = std::bit_cast<std::uint64_t>(volume());
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kMinSeconds);
    return elapsed / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<bench_fronts::Front> fronts;
    if (argc < 2 || !bench_fronts::read_fronts(argv[1], fronts)) {
        std::fprintf(stderr, "usage: %s FRONTS_FILE\n", argv[0]);
        return 2;
    }
    for (std::size_t i = 0; i < fronts.size(); ++i) {
        const bench_fronts::Front& f = fronts[i];
        std::uint64_t fast_bits = 0;
        std::uint64_t plain_bits = 0;
        const double fast = seconds_per_call(
            [&] { return kestrelopt::hypervolume(f.points, f.reference); }, fast_bits);
        const double plain =
            seconds_per_call([&] { return kestrelopt::wfg(f.points, f.reference); }, plain_bits);
        std::printf("%zu %.9g %.9g %d\n", i, fast, plain, fast_bits == plain_bits ? 1 : 0);
        std::fflush(stdout);
    }
    return 0;
}
