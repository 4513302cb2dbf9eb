#include "kestrelopt/topology/ring.hpp"

#include <algorithm>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

void Ring::neighbors_into(std::size_t i, std::span<const Particle> particles,
                          std::vector<std::size_t>& out) const {
    out.clear();
    if (k_ == 0) {
        out.push_back(i);
        return;
    }
    const std::size_t n = particles.size();
    if (n == 0) fail("Ring topology needs at least one particle");
    // Offsets beyond N − 1 only repeat residues already taken (or 0), so stopping there
    // gives the same list and keeps a huge k from looping for ever.
    const std::size_t last = std::min(k_, n - 1);
    out.reserve(2 * last + 1);
    out.push_back(i);
    const std::size_t home = i % n;
    auto add = [&out](std::size_t j) {
        if (std::find(out.begin(), out.end(), j) == out.end()) out.push_back(j);
    };
    for (std::size_t c = 1; c <= last; ++c) {
        add((home + c) % n);
        add((home + (n - c)) % n);
    }
}

}  // namespace kestrelopt
