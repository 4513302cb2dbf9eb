// The three contracts of a search: SearchSpace (a compile-time concept; the spaces are a
// fixed set and the engines are templates over them), Velocity and Topology (run-time
// interfaces chosen by name). Also the neighbourhood-best rule best_among.
//
// The hot operations write into caller-owned buffers so that the engines allocate nothing
// per particle and iteration; the vector-returning forms are conveniences for tests.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "kestrelopt/particle.hpp"
#include "kestrelopt/random.hpp"

namespace kestrelopt {

class StateReader;
class StateWriter;

enum class BoundaryMode : std::uint8_t { Clamp = 0, Reflect = 1, Wrap = 2, Reinit = 3 };

// How a move adds the velocity to a coordinate: v + x (the single-objective engine) or
// x + v (the multi-objective one). The sums are equal but for which NaN comes out of two.
enum class MoveOrder : std::uint8_t { VelocityFirst, PositionFirst };

using Bound = std::pair<double, double>;

template <class S>
concept SearchSpace = requires(const S& space, RandomSource& gen, std::span<const double> position,
                               std::span<double> moving, std::span<double> velocity,
                               std::vector<typename S::Element>& decoded, BoundaryMode mode) {
    typename S::Element;
    { space.sample(gen) } -> std::same_as<std::vector<double>>;
    { space.sample_velocity(gen) } -> std::same_as<std::vector<double>>;
    { space.span() } -> std::same_as<std::vector<Bound>>;
    { space.decode_into(position, decoded) } -> std::same_as<void>;
    { space.enforce_bounds(moving, velocity, mode, gen) } -> std::same_as<void>;
    { space.clamp(moving) } -> std::same_as<void>;
};

// Decoded copy of a position; the engine uses decode_into with a reused buffer instead.
template <SearchSpace S>
std::vector<typename S::Element> decode(const S& space, std::span<const double> position) {
    std::vector<typename S::Element> out;
    space.decode_into(position, out);
    return out;
}

// What a velocity rule sees of one particle for one update. All views borrow the swarm
// or the engine's buffers for the duration of the call.
struct VelocityContext {
    std::span<const double> position;
    std::span<const double> velocity;
    std::span<const double> personal_best;
    std::span<const double> neighborhood_best;
    // Best positions of every neighbourhood member, in the topology's order; filled only
    // when the rule's needs_full_neighborhood() is true.
    std::span<const std::span<const double>> informants;
    std::size_t iteration = 0;
    std::size_t max_iter = 0;
};

class Velocity {
  public:
    virtual ~Velocity() = default;
    // Writes the new velocity (out.size() == context.position.size()); reads, never
    // modifies, the particle.
    virtual void update_into(const VelocityContext& context, RandomSource& gen,
                             std::span<double> out) const = 0;
    virtual bool needs_full_neighborhood() const = 0;

    std::vector<double> update(const VelocityContext& context, RandomSource& gen) const {
        std::vector<double> out(context.position.size());
        update_into(context, gen, out);
        return out;
    }
};

// The velocity limit, wherever one applies (a scalar v_max in either engine, per-dimension
// limits): a component into [-limit, limit], above the limit tested first; NaN unchanged.
inline double limited_speed(double component, double limit) {
    if (component > limit) component = limit;
    if (component < -limit) component = -limit;
    return component;
}
inline void clamp_speed(std::span<double> velocity, double limit) {
    for (double& c : velocity) c = limited_speed(c, limit);
}
inline void clamp_speed(std::span<double> velocity, std::span<const double> limits) {
    for (std::size_t d = 0; d < velocity.size(); ++d)
        velocity[d] = limited_speed(velocity[d], limits[d]);
}

// The end of both engines' moves: the new velocity added to the position in kOrder, swapped
// into `velocity`, then the boundary mode; the addition and the clamp in one pass where
// the space can.
template <MoveOrder kOrder, SearchSpace S>
void move_within(const S& space, std::vector<double>& position, std::vector<double>& velocity,
                 std::vector<double>& new_velocity, BoundaryMode mode, RandomSource& gen) {
    if constexpr (requires { space.template move_clamped<kOrder>(position, new_velocity); }) {
        if (mode == BoundaryMode::Clamp &&
            space.template move_clamped<kOrder>(position, new_velocity)) {
            std::swap(velocity, new_velocity);
            return;
        }
    }
    const std::size_t n =
        position.size() < new_velocity.size() ? position.size() : new_velocity.size();
    for (std::size_t d = 0; d < n; ++d)
        position[d] = kOrder == MoveOrder::VelocityFirst ? new_velocity[d] + position[d]
                                                         : position[d] + new_velocity[d];
    std::swap(velocity, new_velocity);
    space.enforce_bounds(position, velocity, mode, gen);
}

class Topology {
  public:
    virtual ~Topology() = default;
    // Replaces out's contents with the neighbourhood of particle i (capacity is reused).
    virtual void neighbors_into(std::size_t i, std::span<const Particle> particles,
                                std::vector<std::size_t>& out) const = 0;
    // True when every neighbourhood is the whole swarm in index order, which lets the
    // engine track the neighbourhood best incrementally instead of scanning.
    virtual bool whole_swarm_in_order() const { return false; }
    // Told once the first swarm has its values (improved false) and after every iteration,
    // whether the global best improved in it; a topology that rewires itself when the
    // search stalls listens, the others ignore it.
    virtual void iteration_done(bool /*improved*/) {}
    // A topology with a state of its own (a generator) writes it for a checkpoint and
    // reads it back; the others have nothing to keep.
    virtual void save(StateWriter&) const {}
    virtual void load(StateReader&) {}

    std::vector<std::size_t> neighbors(std::size_t i, std::span<const Particle> particles) const {
        std::vector<std::size_t> out;
        neighbors_into(i, particles, out);
        return out;
    }
    std::size_t best_neighbor(std::size_t i, std::span<const Particle> particles) const;
};

// The rule by which a candidate best value replaces the current one: strictly smaller, or
// the current one is NaN and the candidate is not. Ties keep the current one.
inline bool better_value(double candidate, double current) {
    return candidate < current || (current != current && candidate == candidate);
}

// Index of the listed particle with the smallest best_value (first of a tie; NaN never
// beats a number); fallback when the list is empty.
std::size_t best_among(std::span<const Particle> particles, std::span<const std::size_t> indices,
                       std::size_t fallback);

}  // namespace kestrelopt
