// The ZDT1-like objective the multi-objective engine tests run on.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace kestrelopt::testing_support {

// Two objectives on [0, 1]^n: x0 against g(1 - sqrt(x0 / g)).
inline void zdt1(std::span<const double> x, std::vector<double>& out) {
    double g = -0.0;
    for (std::size_t i = 1; i < x.size(); ++i) g += x[i];
    g = 1.0 + 9.0 * g / static_cast<double>(x.size() - 1);
    out.push_back(x[0]);
    out.push_back(g * (1.0 - std::sqrt(x[0] / g)));
}

}  // namespace kestrelopt::testing_support
