// Random: particle i is informed by itself and min(N − 1, k) distinct other particles,
// drawn anew on every call with index_below(N) from the topology's own generator (seeded
// from the seed given at construction, independent of the run's), in the order drawn.
// The generator carries over between runs, so a second run continues its stream.
// Invariant: k >= 1. neighbors_into mutates the generator through a shared reference and
// admits one call at a time: a second use while a call runs (re-entrance, or another
// thread) stops. Cost: O(m²) membership scans plus the draws, about m when m is small
// against N (a duplicate is drawn again, so m close to N takes about N·ln N); no
// allocation once the caller's list has grown.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

namespace detail {
// Marks a resource in use for the guard's lifetime; stops with message if it already is.
// A failed acquisition leaves the flag to its current holder.
class ExclusiveUse {
  public:
    ExclusiveUse(std::atomic<bool>& busy, const char* message) : busy_(busy) {
        if (busy_.exchange(true, std::memory_order_acquire)) fail(message);
    }
    ~ExclusiveUse() { busy_.store(false, std::memory_order_release); }
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;

  private:
    std::atomic<bool>& busy_;
};
}  // namespace detail

class Random final : public Topology {
  public:
    // Stops with "Random topology needs k >= 1 informants" when k is 0.
    Random(std::size_t k, std::uint64_t seed);

    // Swarms of 0 or 1 particles give [i] without drawing.
    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override;

    void save(StateWriter& out) const override;
    void load(StateReader& in) override;

    std::size_t k() const { return k_; }

  private:
    std::size_t k_;
    mutable RandomSource gen_;
    mutable std::atomic<bool> busy_{false};
};

}  // namespace kestrelopt
