#include "kestrelopt/mopso/smpso.hpp"

#include <cmath>

namespace kestrelopt {

double smpso_constriction(double phi) {
    if (!(phi > 4.0)) return 1.0;
    // Negative, as the published factor is: for phi > 4 the step turns back from its
    // attractors, which is what lets the swarm leave ZDT4's local fronts (with the factor's
    // absolute value it stays on them).
    return 2.0 / (2.0 - phi - std::sqrt(phi * phi - 4.0 * phi));
}

double polynomial_mutation(double value, double low, double high, double u) {
    const double width = high - low;
    if (!(width > 0)) return value;
    const double power = 1.0 / (kSmpsoDistributionIndex + 1.0);
    double shift = 0.0;
    if (u < 0.5) {
        // How far the value may still fall, as a share of the width, shapes the step.
        const double room = 1.0 - (value - low) / width;
        const double base =
            2.0 * u + (1.0 - 2.0 * u) * std::pow(room, kSmpsoDistributionIndex + 1.0);
        shift = std::pow(base, power) - 1.0;
    } else {
        const double room = 1.0 - (high - value) / width;
        const double base =
            2.0 * (1.0 - u) + 2.0 * (u - 0.5) * std::pow(room, kSmpsoDistributionIndex + 1.0);
        shift = 1.0 - std::pow(base, power);
    }
    const double mutated = value + shift * width;
    if (mutated < low) return low;
    if (mutated > high) return high;
    return mutated;
}

}  // namespace kestrelopt
