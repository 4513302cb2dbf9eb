// The wall-clock stop rule of the engines: whether a Duration has passed since a start.
#pragma once

#include <chrono>
#include <cstdint>

#include "kestrelopt/history.hpp"

namespace kestrelopt {

inline bool time_is_up(std::chrono::steady_clock::time_point start, const Duration& limit) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    const auto secs = static_cast<std::uint64_t>(elapsed / 1'000'000'000);
    const auto nanos = static_cast<std::uint32_t>(elapsed % 1'000'000'000);
    return secs > limit.secs || (secs == limit.secs && nanos >= limit.nanos);
}

}  // namespace kestrelopt
