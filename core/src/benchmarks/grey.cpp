#include "kestrelopt/benchmarks/grey.hpp"

namespace kestrelopt::benchmarks {

namespace {

constexpr GreyBenchmarkMeta kGreySphere{"grey_sphere", 5.12, 5.12, 0.0};

}  // namespace

double grey_sphere(std::span<const Grey> g) {
    // Starts from negative zero like the real sums, so no variables gives -0.0.
    double sum = -0.0;
    for (const Grey& v : g) {
        const double term = v.center * v.center + v.spread;
        sum += term;
    }
    return sum;
}

std::optional<GreyBenchmarkMeta> grey_meta(std::string_view name) {
    if (name != kGreySphere.name) return std::nullopt;
    return kGreySphere;
}

std::variant<GreyFunction, std::string> native_grey_benchmark(std::string_view name) {
    if (name == kGreySphere.name) return grey_sphere;
    std::string message = "unknown native grey benchmark: '";
    message.append(name);
    message.append("'. Available: grey_sphere");
    return message;
}

}  // namespace kestrelopt::benchmarks
