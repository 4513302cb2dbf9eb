// Helpers shared by the core test executables: the special doubles, bit-for-bit comparisons,
// the message of a stop, how far a generator has moved, and small swarms for the topologies.
// Header-only; each test file includes it and uses the namespace.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/particle.hpp"
#include "kestrelopt/random.hpp"

namespace kestrelopt::testing_support {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// A neighbour list, as the topologies return it.
using List = std::vector<std::size_t>;

inline std::uint64_t bits(double x) {
    return std::bit_cast<std::uint64_t>(x);
}

// One recorded row as a vector, to compare with an expected one.
inline std::vector<double> as_vector(std::span<const double> row) {
    return {row.begin(), row.end()};
}

// Records the vectors a transcription of an engine builds as the next snapshot of `trace`.
inline void push_snapshot(Trace& trace, const std::vector<std::vector<double>>& vectors) {
    trace.open_snapshot();
    for (const std::vector<double>& row : vectors) trace.push_row(row);
}

// The message of the InternalFailure that action() stops with, or `none` if it returns.
template <class Action>
std::string failure_of(const Action& action, const std::string& none = "(no failure)") {
    try {
        action();
    } catch (const InternalFailure& failure) {
        return failure.what();
    }
    return none;
}

// gen must have consumed exactly `draws` next_u64 values since seed_from_u64(seed): it is
// where a fresh generator of that seed is after as many calls, and both go on alike.
inline void expect_advanced_by(const RandomSource& gen, std::uint64_t seed, std::size_t draws) {
    RandomSource used = gen;
    RandomSource fresh = RandomSource::seed_from_u64(seed);
    for (std::size_t k = 0; k < draws; ++k) fresh.next_u64();
    EXPECT_EQ(used.index(), fresh.index());
    EXPECT_EQ(used.counter(), fresh.counter());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(used.next_u64(), fresh.next_u64());
}

// Same length and the same bits at every index.
inline void expect_same_bits(const std::vector<double>& actual,
                             const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(bits(actual[i]), bits(expected[i]))
            << "index " << i << ": " << actual[i] << " vs " << expected[i];
}

// As expect_same_bits, except that any NaN matches any NaN.
inline void expect_same_bits_any_nan(const std::vector<double>& actual,
                                     const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (std::isnan(actual[i]) && std::isnan(expected[i])) continue;
        EXPECT_EQ(bits(actual[i]), bits(expected[i]))
            << "index " << i << ": " << actual[i] << " vs " << expected[i];
    }
}

// n one-dimensional particles at 0 with velocity 0; particle j has the best value values[j],
// or 0 past the end of values. The topologies read only the best values.
inline std::vector<Particle> swarm(std::size_t n, const std::vector<double>& values = {}) {
    std::vector<Particle> particles;
    for (std::size_t j = 0; j < n; ++j)
        particles.emplace_back(std::vector<double>{0.0}, std::vector<double>{0.0},
                               j < values.size() ? values[j] : 0.0);
    return particles;
}

}  // namespace kestrelopt::testing_support
