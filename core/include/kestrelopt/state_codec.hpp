// StateWriter and StateReader: the byte form of a paused run, for checkpoints. Numbers are
// written little-endian whatever the host (doubles by their bits), so a checkpoint moves
// between machines. The reader checks every length against the bytes left before it
// allocates, so a damaged or hostile input stops with "malformed checkpoint: ..." and never
// reads out of range or reserves memory the input cannot fill.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrelopt/history.hpp"
#include "kestrelopt/rows.hpp"

namespace kestrelopt {

class StateWriter {
  public:
    void u64(std::uint64_t value);
    void f64(double value);
    void flag(bool value) { u64(value ? 1 : 0); }
    // The length, then the values.
    void doubles(std::span<const double> values);
    // The snapshots of a trace: one block when they all have one shape.
    void trace(const Trace& trace);
    // A run's stop reason, or none while it goes on.
    void stop(std::optional<StopReason> reason);
    // The time a run has taken since `start`; a reader turns it into a start as long ago.
    void elapsed_since(std::chrono::steady_clock::time_point start);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    std::vector<std::uint8_t> bytes_;
};

class StateReader {
  public:
    explicit StateReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t u64();
    double f64();
    bool flag();
    // A count that must not exceed `most` (what the caller can accept).
    std::size_t count(std::size_t most, const char* what);
    // A count of items each written with at least 8 bytes, so no larger than the bytes
    // left allow.
    std::size_t items(const char* what);
    void doubles(std::vector<double>& out);
    // doubles, which must number exactly `size`.
    void doubles(std::vector<double>& out, std::size_t size, const char* what);
    void trace(Trace& out);
    std::optional<StopReason> stop();
    std::chrono::steady_clock::time_point start_time();
    // Stops unless every byte was read.
    void finish() const;

    // Stops with "malformed checkpoint: <what>".
    [[noreturn]] static void malformed(const std::string& what);

  private:
    // Stops unless `count` items of `size` bytes remain.
    void need(std::uint64_t count, std::size_t size) const;

    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

}  // namespace kestrelopt
