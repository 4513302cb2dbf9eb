// The grey benchmark: a function of grey numbers (center, non-negative spread).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "kestrelopt/grey_number.hpp"

namespace kestrelopt::benchmarks {

using GreyFunction = double (*)(std::span<const Grey>);

// Σ (c_i² + s_i), each term formed first, then added to the running sum.
double grey_sphere(std::span<const Grey> g);

struct GreyBenchmarkMeta {
    std::string_view name;
    double center_bound;
    double max_spread;
    double optimum_value;
};

// Matches only "grey_sphere".
std::optional<GreyBenchmarkMeta> grey_meta(std::string_view name);

// The function, or "unknown native grey benchmark: '{name}'. Available: grey_sphere".
std::variant<GreyFunction, std::string> native_grey_benchmark(std::string_view name);

}  // namespace kestrelopt::benchmarks
