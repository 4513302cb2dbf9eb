#include "kestrelopt/benchmarks/functions.hpp"

#include <array>
#include <cmath>
#include <cstddef>

namespace kestrelopt::benchmarks {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kE = 2.718281828459045;

// Sums start from negative zero so that an empty sum keeps the sign callers compare against.
constexpr double kEmptySum = -0.0;

double square(double v) {
    return v * v;
}

double sum_of_squares(std::span<const double> x) {
    double sum = kEmptySum;
    for (const double v : x) sum += v * v;
    return sum;
}

// Levy's change of variable; recomputed where needed instead of kept in a scratch vector,
// which gives the same bits without allocating.
double levy_w(double v) {
    return (v - 1.0) * 0.25 + 1.0;
}

double schaffer_pair(double a, double b) {
    const double s = a * a + b * b;
    const double q = 0.001 * s + 1.0;
    return (square(std::sin(std::sqrt(s))) - 0.5) / (q * q) + 0.5;
}

constexpr std::array<BenchmarkMeta, 12> kCatalogue{{
    {"sphere", 5.12, 0.0},
    {"rastrigin", 5.12, 0.0},
    {"rosenbrock", 2.048, 0.0},
    {"ackley", 32.768, 0.0},
    {"griewank", 600.0, 0.0},
    {"schwefel", 500.0, 0.0},
    {"bent_cigar", 100.0, 0.0},
    {"discus", 100.0, 0.0},
    {"elliptic", 100.0, 0.0},
    {"zakharov", 10.0, 0.0},
    {"levy", 10.0, 0.0},
    {"expanded_schaffer", 100.0, 0.0},
}};

// Same order as kCatalogue.
constexpr std::array<Function, kCatalogue.size()> kFunctions{
    sphere,     rastrigin, rosenbrock, ackley,   griewank, schwefel,
    bent_cigar, discus,    elliptic,   zakharov, levy,     expanded_schaffer,
};

// Index of the entry whose name equals `name` (string_view equality compares the lengths
// first, then the bytes), or the catalogue size.
std::size_t find(std::string_view name) {
    std::size_t i = 0;
    while (i < kCatalogue.size() && kCatalogue[i].name != name) ++i;
    return i;
}

}  // namespace

double sphere(std::span<const double> x) {
    return sum_of_squares(x);
}

double rastrigin(std::span<const double> x) {
    double sum = kEmptySum;
    for (const double v : x) sum += v * v - 10.0 * std::cos(kTwoPi * v);
    return 10.0 * static_cast<double>(x.size()) + sum;
}

double rosenbrock(std::span<const double> x) {
    double sum = kEmptySum;
    for (std::size_t i = 0; i + 1 < x.size(); ++i) {
        const double a = x[i + 1] - x[i] * x[i];
        const double b = 1.0 - x[i];
        sum += 100.0 * (a * a) + b * b;
    }
    return sum;
}

double ackley(std::span<const double> x) {
    double s = kEmptySum;
    double c = kEmptySum;
    for (const double v : x) {
        s += v * v;
        c += std::cos(kTwoPi * v);
    }
    // n = 0 gives 0/0 = NaN on purpose: the mean of nothing is undefined.
    const double n = static_cast<double>(x.size());
    return ((-20.0 * std::exp(-0.2 * std::sqrt(s / n)) - std::exp(c / n)) + 20.0) + kE;
}

double griewank(std::span<const double> x) {
    double product = 1.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        product *= std::cos(x[i] / std::sqrt(static_cast<double>(i + 1)));
    }
    return (sum_of_squares(x) / 4000.0 + 1.0) - product;
}

double schwefel(std::span<const double> x) {
    double sum = kEmptySum;
    for (const double v : x) sum += v * std::sin(std::sqrt(std::fabs(v)));
    return 418.9828872724338 * static_cast<double>(x.size()) - sum;
}

double bent_cigar(std::span<const double> x) {
    if (x.empty()) return 0.0;
    return x[0] * x[0] + 1e6 * sum_of_squares(x.subspan(1));
}

double discus(std::span<const double> x) {
    if (x.empty()) return 0.0;
    return 1e6 * x[0] * x[0] + sum_of_squares(x.subspan(1));
}

double elliptic(std::span<const double> x) {
    const std::size_t n = x.size();
    if (n == 0) return 0.0;
    if (n == 1) return x[0] * x[0];
    const double last = static_cast<double>(n - 1);
    double sum = kEmptySum;
    for (std::size_t i = 0; i < n; ++i) {
        sum += std::pow(1000000.0, static_cast<double>(i) / last) * x[i] * x[i];
    }
    return sum;
}

double zakharov(std::span<const double> x) {
    double s = kEmptySum;
    double t = kEmptySum;
    for (std::size_t i = 0; i < x.size(); ++i) {
        s += x[i] * x[i];
        t += (0.5 * static_cast<double>(i + 1)) * x[i];
    }
    const double t2 = t * t;
    return t2 * t2 + (s + t2);
}

double levy(std::span<const double> x) {
    const std::size_t n = x.size();
    if (n == 0) return 0.0;
    const double first = square(std::sin(kPi * levy_w(x[0])));
    double middle = kEmptySum;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const double w = levy_w(x[i]);
        middle += square(w - 1.0) * (10.0 * square(std::sin(kPi * w + 1.0)) + 1.0);
    }
    const double w_last = levy_w(x[n - 1]);
    const double last = square(w_last - 1.0) * (square(std::sin(kTwoPi * w_last)) + 1.0);
    return (first + middle) + last;
}

double expanded_schaffer(std::span<const double> x) {
    const std::size_t n = x.size();
    if (n == 0) return 0.0;
    double sum = kEmptySum;
    for (std::size_t i = 0; i < n; ++i) sum += schaffer_pair(x[i], x[(i + 1) % n]);
    return sum;
}

std::span<const BenchmarkMeta> catalogue() {
    return kCatalogue;
}

std::optional<BenchmarkMeta> meta(std::string_view name) {
    const std::size_t i = find(name);
    if (i == kCatalogue.size()) return std::nullopt;
    return kCatalogue[i];
}

std::variant<Function, std::string> native_benchmark(std::string_view name) {
    const std::size_t i = find(name);
    if (i < kCatalogue.size()) return kFunctions[i];
    std::string message = "unknown native benchmark: '";
    message.append(name);
    message.append("'. Available: ");
    for (std::size_t k = 0; k < kCatalogue.size(); ++k) {
        if (k > 0) message.append(", ");
        message.append(kCatalogue[k].name);
    }
    return message;
}

}  // namespace kestrelopt::benchmarks
