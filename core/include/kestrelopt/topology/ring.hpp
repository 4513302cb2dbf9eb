// Ring: particle i is informed by itself and the k nearest indices on each side of a
// circular list, nearest first, right before left: [i, i+1, i-1, i+2, i-2, ...] (mod N).
// No index appears twice, so k >= N/2 lists every particle once. Immutable.
// neighbors_into costs O(min(k, N)²) for the duplicate scan and reuses the caller's list.
#pragma once

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class Ring final : public Topology {
  public:
    explicit Ring(std::size_t k = 1) : k_(k) {}
    // The classic local-best ring: one neighbour on each side.
    static Ring lbest() { return Ring(1); }

    // With k = 0 the list is [i] whatever the swarm; otherwise an empty swarm stops.
    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override;

    std::size_t k() const { return k_; }

  private:
    std::size_t k_;
};

}  // namespace kestrelopt
