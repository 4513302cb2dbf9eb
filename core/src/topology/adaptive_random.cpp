#include "kestrelopt/topology/adaptive_random.hpp"

#include <limits>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/topology/random.hpp"

namespace kestrelopt {

AdaptiveRandom::AdaptiveRandom(std::size_t k, std::uint64_t seed)
    : k_(k), gen_(RandomSource::seed_from_u64(seed)) {
    if (k == 0) fail("AdaptiveRandom topology needs k >= 1 informants");
}

void AdaptiveRandom::neighbors_into(std::size_t i, std::span<const Particle> particles,
                                    std::vector<std::size_t>& out) const {
    const detail::ExclusiveUse use(busy_, "AdaptiveRandom topology used re-entrantly");
    const std::size_t n = particles.size();
    out.clear();
    if (n <= 1) {
        out.push_back(i);
        return;
    }
    if (i >= n) fail("AdaptiveRandom topology: particle index out of range");
    if (stale_ || n != n_) draw_links(n);
    // A list never exceeds the swarm, so the caller's list grows once.
    out.reserve(n);
    out.insert(out.end(), members_.begin() + static_cast<std::ptrdiff_t>(starts_[i]),
               members_.begin() + static_cast<std::ptrdiff_t>(starts_[i + 1]));
}

void AdaptiveRandom::iteration_done(bool improved) {
    if (!improved) stale_ = true;
}

void AdaptiveRandom::draw_links(std::size_t n) const {
    if (k_ > std::numeric_limits<std::size_t>::max() / n)
        fail("AdaptiveRandom topology: too many links");
    n_ = n;
    drawn_.resize(n * k_);
    for (std::size_t& j : drawn_) j = static_cast<std::size_t>(index_below(gen_, n));
    stale_ = false;
    index_links();
}

// Two passes in increasing order of the informing particle: the first counts each
// particle's distinct informants, the second writes them. A particle's draws of one
// target need not be adjacent, so the first pass remembers who last counted each target;
// in the second, the entry just written tells the same.
void AdaptiveRandom::index_links() const {
    const std::size_t n = n_;
    members_.reserve(n + drawn_.size());
    starts_.assign(n + 1, 1);
    starts_[0] = 0;
    last_.assign(n, n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k_; ++c) {
            const std::size_t j = drawn_[i * k_ + c];
            if (j == i || last_[j] == i) continue;
            last_[j] = i;
            ++starts_[j + 1];
        }
    for (std::size_t j = 0; j < n; ++j) starts_[j + 1] += starts_[j];
    members_.resize(starts_[n]);
    for (std::size_t j = 0; j < n; ++j) {
        members_[starts_[j]] = j;
        last_[j] = starts_[j] + 1;  // now where j's next informant goes
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k_; ++c) {
            const std::size_t j = drawn_[i * k_ + c];
            if (j == i || members_[last_[j] - 1] == i) continue;
            members_[last_[j]++] = i;
        }
}

void AdaptiveRandom::save(StateWriter& out) const {
    gen_.save(out);
    out.flag(stale_);
    out.u64(n_);
    for (const std::size_t j : drawn_) out.u64(j);
}

void AdaptiveRandom::load(StateReader& in) {
    RandomSource gen = RandomSource::load(in);
    const bool stale = in.flag();
    // Each particle has at least one draw of 8 bytes after this.
    const std::size_t n = in.items("the swarm size of the topology's links");
    if (n > 0 && k_ > std::numeric_limits<std::size_t>::max() / n)
        StateReader::malformed("the topology's links are too many");
    std::vector<std::size_t> drawn;
    drawn.reserve(n);  // grows further only as far as the bytes go
    for (std::size_t c = 0; c < n * k_; ++c)
        drawn.push_back(in.count(n - 1, "a particle the topology links"));
    gen_ = gen;
    stale_ = stale;
    n_ = n;
    drawn_ = std::move(drawn);
    if (n > 0) index_links();
}

}  // namespace kestrelopt
