// The twelve real benchmark functions and their metadata. Pure functions of a read-only
// sequence of doubles; sums are plain left-to-right sums in index order so that results
// are bit-for-bit reproducible. None allocates: levy recomputes its change of variable w_i
// where needed instead of keeping a scratch vector. Each costs O(n) operations.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kestrelopt::benchmarks {

using Function = double (*)(std::span<const double>);

double sphere(std::span<const double> x);
double rastrigin(std::span<const double> x);
double rosenbrock(std::span<const double> x);
double ackley(std::span<const double> x);
double griewank(std::span<const double> x);
double schwefel(std::span<const double> x);
double bent_cigar(std::span<const double> x);
double discus(std::span<const double> x);
double elliptic(std::span<const double> x);
double zakharov(std::span<const double> x);
double levy(std::span<const double> x);
double expanded_schaffer(std::span<const double> x);

struct BenchmarkMeta {
    std::string_view name;
    double bound;          // recommended box [-bound, bound] in every dimension
    double optimum_value;  // the minimum value
};

// The catalogue in its fixed order (the order of the "Available" list).
std::span<const BenchmarkMeta> catalogue();

// Exact, case-sensitive match of the whole name.
std::optional<BenchmarkMeta> meta(std::string_view name);

// The function for a name, or the error text
// "unknown native benchmark: '{name}'. Available: sphere, rastrigin, ...".
std::variant<Function, std::string> native_benchmark(std::string_view name);

}  // namespace kestrelopt::benchmarks
