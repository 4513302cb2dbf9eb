// The pieces of the speed-constrained multi-objective move (MopsoVariant::Smpso, run.hpp)
// that need no generator: Clerc's constriction factor and Deb's bounded polynomial
// mutation. Pure functions, so a test can check them against a plain model.
#pragma once

#include <cstddef>

namespace kestrelopt {

// Every kSmpsoMutationStride-th particle (index 0, 6, 12, ...) mutates after its move: a
// sixth of the swarm, as the published variant does.
inline constexpr std::size_t kSmpsoMutationStride = 6;
// In the crossover variant every particle whose index is not a multiple of
// kCrossoverStride (the odd ones) is a child of two archive members: half the swarm.
inline constexpr std::size_t kCrossoverStride = 2;
// The distribution index of the polynomial mutation: larger keeps mutants closer.
inline constexpr double kSmpsoDistributionIndex = 20.0;

// chi = 2 / (2 - phi - sqrt(phi^2 - 4 phi)) for phi > 4 (a negative factor, in (-1, 0)),
// else 1.
double smpso_constriction(double phi);

// The polynomial mutation of `value` in [low, high] with the uniform draw u in [0, 1)
// (distribution index kSmpsoDistributionIndex): u < 0.5 moves towards low, otherwise
// towards high, never past a bound; a fixed dimension (low == high) stays as it is.
double polynomial_mutation(double value, double low, double high, double u);

}  // namespace kestrelopt
