#include "kestrelopt/traits.hpp"

namespace kestrelopt {

std::size_t best_among(std::span<const Particle> particles, std::span<const std::size_t> indices,
                       std::size_t fallback) {
    if (indices.empty()) return fallback;
    for (const std::size_t j : indices)
        if (j >= particles.size()) fail("neighbour index out of range of the swarm");
    std::size_t best = indices[0];
    for (std::size_t k = 1; k < indices.size(); ++k) {
        const std::size_t j = indices[k];
        if (better_value(particles[j].best_value, particles[best].best_value)) best = j;
    }
    return best;
}

std::size_t Topology::best_neighbor(std::size_t i, std::span<const Particle> particles) const {
    std::vector<std::size_t> list;
    neighbors_into(i, particles, list);
    return best_among(particles, list, i);
}

}  // namespace kestrelopt
