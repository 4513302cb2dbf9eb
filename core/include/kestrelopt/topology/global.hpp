// GlobalBest: every particle's neighbourhood is the whole swarm, 0..N-1 in order.
#pragma once

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class GlobalBest final : public Topology {
  public:
    void neighbors_into(std::size_t, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override {
        out.resize(particles.size());
        for (std::size_t j = 0; j < particles.size(); ++j) out[j] = j;
    }
    bool whole_swarm_in_order() const override { return true; }
};

}  // namespace kestrelopt
