// Particle: one swarm member. Its index in the swarm is its identity for the topologies.
// best_position is an independent copy, never shared with position.
#pragma once

#include <utility>
#include <vector>

namespace kestrelopt {

struct Particle {
    std::vector<double> position;
    std::vector<double> velocity;
    std::vector<double> best_position;
    double best_value;

    Particle(std::vector<double> position_, std::vector<double> velocity_, double value)
        : position(std::move(position_)),
          velocity(std::move(velocity_)),
          best_position(position),
          best_value(value) {}
};

}  // namespace kestrelopt
