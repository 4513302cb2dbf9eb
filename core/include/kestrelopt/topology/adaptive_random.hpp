// AdaptiveRandom: the adaptive random topology of the 2011 standard swarm. Each particle i
// informs itself and k particles drawn at random (with repetition, possibly i itself), so
// particle j is informed by itself and by every particle that drew it: its list is
// [j, then those particles in increasing index order], each once. The links are drawn
// with index_below(N) from the topology's own generator (seeded from the seed given at
// construction), particle 0's k draws first, then particle 1's, and so on: N·k draws
// (none for N <= 1). They are drawn at the first neighbors_into call, and again at the
// first call after iteration_done(false) (the first swarm's evaluation, and every
// iteration in which the global best did not improve) or after the swarm size changed;
// otherwise every call reads the same links.
// Invariant: k >= 1. Mutable state behind a shared reference, one call at a time (as
// Random). neighbors_into costs O(list length); a redraw O(N·k); no allocation once the
// first links of a swarm size and the caller's list (reserved to N) exist.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class AdaptiveRandom final : public Topology {
  public:
    // Stops with "AdaptiveRandom topology needs k >= 1 informants" when k is 0.
    AdaptiveRandom(std::size_t k, std::uint64_t seed);

    // Swarms of 0 or 1 particles give [i] without drawing; i >= N otherwise stops.
    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override;

    // The list neighbors_into gives particle i of a swarm of n >= 2 particles (the links
    // drawn first when they are due), as a view valid until the next redraw: the engine's
    // lookup, without the copy. i < n.
    std::span<const std::size_t> list_of(std::size_t i, std::size_t n) const;

    void iteration_done(bool improved) override;

    // The generator, whether the links are due for a redraw, and the particles each
    // particle drew (N·k indices, in draw order).
    void save(StateWriter& out) const override;
    void load(StateReader& in) override;

    std::size_t k() const { return k_; }
    // True when the next neighbors_into call draws new links.
    bool stale() const { return stale_; }

  private:
    void draw_links(std::size_t n) const;
    void index_links() const;

    std::size_t k_;
    mutable RandomSource gen_;
    mutable bool stale_ = true;
    mutable std::size_t n_ = 0;               // the swarm size the links are for
    mutable std::vector<std::size_t> drawn_;  // drawn_[i·k + c]: particle i's c-th draw
    // The lists, back to back: particle j's is members_[starts_[j], starts_[j + 1]).
    mutable std::vector<std::size_t> starts_;
    mutable std::vector<std::size_t> members_;
    mutable std::vector<std::size_t> last_;  // scratch of index_links
    mutable std::atomic<bool> busy_{false};
};

}  // namespace kestrelopt
