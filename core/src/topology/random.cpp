#include "kestrelopt/topology/random.hpp"

#include <algorithm>

#include "kestrelopt/state_codec.hpp"

namespace kestrelopt {

Random::Random(std::size_t k, std::uint64_t seed) : k_(k), gen_(RandomSource::seed_from_u64(seed)) {
    if (k == 0) fail("Random topology needs k >= 1 informants");
}

void Random::neighbors_into(std::size_t i, std::span<const Particle> particles,
                            std::vector<std::size_t>& out) const {
    const detail::ExclusiveUse use(busy_, "Random topology used re-entrantly");
    const std::size_t n = particles.size();
    const std::size_t m = n == 0 ? 0 : std::min(n - 1, k_);
    out.clear();
    out.reserve(m + 1);
    out.push_back(i);
    while (out.size() <= m) {
        const auto j = static_cast<std::size_t>(index_below(gen_, n));
        if (std::find(out.begin(), out.end(), j) == out.end()) out.push_back(j);
    }
}

void Random::save(StateWriter& out) const {
    gen_.save(out);
}

void Random::load(StateReader& in) {
    gen_ = RandomSource::load(in);
}

}  // namespace kestrelopt
