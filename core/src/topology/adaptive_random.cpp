#include "kestrelopt/topology/adaptive_random.hpp"

#include <algorithm>
#include <bit>
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
    const std::size_t n = particles.size();
    out.clear();
    if (n <= 1) {
        const detail::ExclusiveUse use(busy_, "AdaptiveRandom topology used re-entrantly");
        out.push_back(i);
        return;
    }
    if (i >= n) fail("AdaptiveRandom topology: particle index out of range");
    const std::span<const std::size_t> list = list_of(i, n);
    // A list never exceeds the swarm, so the caller's list grows once.
    out.reserve(n);
    out.insert(out.end(), list.begin(), list.end());
}

std::span<const std::size_t> AdaptiveRandom::list_of(std::size_t i, std::size_t n) const {
    const detail::ExclusiveUse use(busy_, "AdaptiveRandom topology used re-entrantly");
    if (stale_ || n != n_) draw_links(n);
    return std::span<const std::size_t>(members_).subspan(starts_[i], starts_[i + 1] - starts_[i]);
}

void AdaptiveRandom::iteration_done(bool improved) {
    if (!improved) stale_ = true;
}

void AdaptiveRandom::draw_links(std::size_t n) const {
    if (k_ > std::numeric_limits<std::size_t>::max() / n)
        fail("AdaptiveRandom topology: too many links");
    n_ = n;
    drawn_.resize(n * k_);
    // index_below's draws, taken in blocks: every index takes at least one draw, so a block
    // no longer than the indices still wanted is used up by the time they are all there.
    const std::uint64_t count = n;
    const std::uint64_t zone = (count << std::countl_zero(count)) - 1;
    constexpr std::size_t kBlock = 64;
    std::uint64_t block[kBlock];
    std::size_t q = 0;
    std::size_t m = 0;
    for (std::size_t c = 0; c < drawn_.size();) {
        if (q == m) {
            m = std::min(kBlock, drawn_.size() - c);
            gen_.fill_u64(std::span<std::uint64_t>(block, m));
            q = 0;
        }
        const unsigned __int128 product =
            static_cast<unsigned __int128>(block[q++]) * static_cast<unsigned __int128>(count);
        // Written whether or not it is kept: a rejected index is overwritten by the next,
        // and no branch mispredicts on the one draw in three that the zone turns away.
        drawn_[c] = static_cast<std::size_t>(product >> 64);
        c += static_cast<std::uint64_t>(product) <= zone ? 1 : 0;
    }
    stale_ = false;
    index_links();
}

// Two passes in increasing order of the informing particle: the first counts each
// particle's distinct informants, the second writes them. A particle's draws of one
// target need not be adjacent, so the first pass remembers who last counted each target;
// in the second, the entry just written tells the same. Neither pass branches on a draw
// (one in ten or so is a repeat or the particle itself, too many to predict): a draw that
// is not kept counts 0 and is written to a spare slot past the lists. The passes work on
// local pointers, which the compiler need not reload after every store to a list.
void AdaptiveRandom::index_links() const {
    const std::size_t n = n_;
    const std::size_t k = k_;
    const std::size_t* drawn = drawn_.data();
    members_.reserve(n + drawn_.size() + 1);
    starts_.assign(n + 1, 1);
    starts_[0] = 0;
    last_.assign(n, n);
    std::size_t* starts = starts_.data();
    std::size_t* last = last_.data();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k; ++c) {
            const std::size_t j = drawn[i * k + c];
            const bool keep = (j != i) & (last[j] != i);
            last[j] = i;
            starts[j + 1] += keep ? 1 : 0;
        }
    for (std::size_t j = 0; j < n; ++j) starts[j + 1] += starts[j];
    const std::size_t spare = starts[n];
    members_.resize(spare + 1);
    std::size_t* members = members_.data();
    for (std::size_t j = 0; j < n; ++j) {
        members[starts[j]] = j;
        last[j] = starts[j] + 1;  // now where j's next informant goes
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k; ++c) {
            const std::size_t j = drawn[i * k + c];
            const std::size_t at = last[j];
            const bool keep = (j != i) & (members[at - 1] != i);
            members[keep ? at : spare] = i;
            last[j] = at + (keep ? 1 : 0);
        }
    members_.pop_back();
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
