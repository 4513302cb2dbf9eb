// Integer sort keys for doubles, so that the archive's sorts compare plain (key, index)
// pairs instead of doubles with NaN rules: ascending_key orders numbers ascending with -0
// equal to 0 and NaN after everything; descending_key orders numbers descending with NaN
// still last. Sorting (key, index) pairs gives the same permutation as the comparisons
// "x < y, then non-NaN before NaN, then index order" (or "x > y, ..."), which are strict
// total orders, so any sorting algorithm agrees with them.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace kestrelopt::detail {

inline constexpr std::uint64_t kNaNKey = std::numeric_limits<std::uint64_t>::max();

// Monotone map of the non-NaN doubles onto integers below kNaNKey.
inline std::uint64_t number_key(double x) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x == 0.0 ? 0.0 : x);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

inline std::uint64_t ascending_key(double x) {
    return x != x ? kNaNKey : number_key(x);
}

inline std::uint64_t descending_key(double x) {
    return x != x ? kNaNKey : ~number_key(x);
}

struct KeyedIndex {
    std::uint64_t key;
    std::uint64_t index;
    friend bool operator<(const KeyedIndex& a, const KeyedIndex& b) {
        return a.key < b.key || (a.key == b.key && a.index < b.index);
    }
};

}  // namespace kestrelopt::detail
