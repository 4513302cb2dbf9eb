// Hypervolume speed: the library's WFG against the plain recursion (fresh copies at every
// level) on random non-dominated fronts, with the same bits expected from both. Each
// measurement runs in a child process that is killed when it exceeds its time cap, since
// the recursion is exponential in the worst case.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "../tests/core/hypervolume_reference.hpp"
#include "alloc_counter.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/random.hpp"

namespace {

using kestrelopt::ObjectiveVector;
using kestrelopt::PointSet;

constexpr double kCapSeconds = 10.0;
// Fast cases are repeated until this much time has passed, for a stable mean.
constexpr double kMinTotalSeconds = 0.3;

struct Measurement {
    bool finished = false;
    double seconds = 0.0;         // per call
    std::uint64_t bits = 0;       // of the result
    std::size_t allocations = 0;  // per call
};

// Points on the unit sphere in the positive orthant: mutually non-dominated.
PointSet sphere_front(std::uint64_t seed, std::size_t n, std::size_t m) {
    auto gen = kestrelopt::RandomSource::seed_from_u64(seed);
    PointSet points(n, ObjectiveVector(m));
    for (ObjectiveVector& p : points) {
        double norm = 0.0;
        for (double& v : p) {
            v = 0.05 + kestrelopt::uniform01(gen);
            norm += v * v;
        }
        norm = std::sqrt(norm);
        for (double& v : p) v /= norm;
    }
    return points;
}

void run_child(const std::function<double()>& volume, int out) {
    using Clock = std::chrono::steady_clock;
    Measurement m;
    const auto start = Clock::now();
    kestrelopt::bench::start_counting();
    m.bits = std::bit_cast<std::uint64_t>(volume());
    m.allocations = kestrelopt::bench::stop_counting();
    std::size_t calls = 1;
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    while (elapsed < kMinTotalSeconds) {
        m.bits = std::bit_cast<std::uint64_t>(volume());
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    m.seconds = elapsed / static_cast<double>(calls);
    m.finished = true;
    const ssize_t written = write(out, &m, sizeof m);
    _exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
}

Measurement measure(const std::function<double()>& volume) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        close(fds[0]);
        run_child(volume, fds[1]);
    }
    close(fds[1]);
    Measurement m;
    pollfd ready{fds[0], POLLIN, 0};
    const int timeout_ms = static_cast<int>(kCapSeconds * 1000.0);
    if (poll(&ready, 1, timeout_ms) == 1 && read(fds[0], &m, sizeof m) == sizeof m) {
        waitpid(child, nullptr, 0);
    } else {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        m = {};
    }
    close(fds[0]);
    return m;
}

void print_time(const Measurement& m) {
    if (m.finished)
        std::printf(" %12.6f ms", m.seconds * 1e3);
    else
        std::printf(" %15s", "> cap, killed");
}

}  // namespace

int main() {
    struct Case {
        std::size_t objectives;
        std::size_t points;
    };
    const Case cases[] = {{2, 10}, {2, 50}, {2, 100}, {3, 10}, {3, 50}, {3, 100},
                          {4, 10}, {4, 20}, {4, 40},  {5, 10}, {5, 20}, {5, 40}};
    std::printf("hypervolume of random sphere fronts, reference 1.1 per objective, cap %.0f s\n",
                kCapSeconds);
    std::printf("%4s %6s %15s %15s %9s %11s %11s %5s\n", "m", "n", "library", "plain", "speedup",
                "allocs lib", "allocs plain", "bits");
    for (const Case& c : cases) {
        const PointSet front =
            sphere_front(17 + c.points * 10 + c.objectives, c.points, c.objectives);
        const ObjectiveVector reference(c.objectives, 1.1);
        const Measurement library =
            measure([&] { return kestrelopt::hypervolume(front, reference); });
        const Measurement plain =
            measure([&] { return hv_reference::hypervolume(front, reference); });
        std::printf("%4zu %6zu", c.objectives, c.points);
        print_time(library);
        print_time(plain);
        if (library.finished && plain.finished)
            std::printf(" %8.1fx", plain.seconds / library.seconds);
        else
            std::printf(" %9s", "-");
        for (const Measurement* m : {&library, &plain}) {
            if (m->finished)
                std::printf(" %11zu", m->allocations);
            else
                std::printf(" %11s", "-");
        }
        if (library.finished && plain.finished)
            std::printf(" %5s", library.bits == plain.bits ? "same" : "DIFF");
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
