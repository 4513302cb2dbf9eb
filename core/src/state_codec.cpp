#include "kestrelopt/state_codec.hpp"

#include <bit>
#include <cstring>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

void StateWriter::u64(std::uint64_t value) {
    for (int b = 0; b < 8; ++b) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
}

void StateWriter::f64(double value) {
    u64(std::bit_cast<std::uint64_t>(value));
}

void StateWriter::doubles(std::span<const double> values) {
    u64(values.size());
    const std::size_t at = bytes_.size();
    bytes_.resize(at + 8 * values.size());
    std::uint8_t* out = bytes_.data() + at;
    if constexpr (std::endian::native == std::endian::little) {
        // The bytes are already in their written order: a record of millions of values
        // goes in one copy.
        if (!values.empty()) std::memcpy(out, values.data(), 8 * values.size());
        return;
    }
    for (const double v : values) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int b = 0; b < 8; ++b) *out++ = static_cast<std::uint8_t>(bits >> (8 * b));
    }
}

void StateWriter::trace(const Trace& trace) {
    // A shape with a zero goes row by row, where every row costs bytes, so that a reader
    // never loops over rows that are not there.
    const auto shape = trace.uniform_shape();
    const bool block = shape && shape->first > 0 && shape->second > 0;
    flag(block);
    u64(trace.size());
    if (block) {
        u64(shape->first);
        u64(shape->second);
        doubles(trace.values());
        return;
    }
    for (std::size_t t = 0; t < trace.size(); ++t) {
        const RowsView rows = trace[t];
        u64(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) doubles(rows[r]);
    }
}

void StateWriter::stop(std::optional<StopReason> reason) {
    u64(reason ? static_cast<std::uint64_t>(*reason) + 1 : 0);
}

void StateWriter::elapsed_since(std::chrono::steady_clock::time_point start) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    f64(elapsed.count());
}

void StateReader::malformed(const std::string& what) {
    fail("malformed checkpoint: " + what);
}

void StateReader::need(std::uint64_t count, std::size_t size) const {
    const std::size_t left = bytes_.size() - at_;
    if (count > left / size) malformed("it ends too soon");
}

std::uint64_t StateReader::u64() {
    need(1, 8);
    std::uint64_t value = 0;
    for (int b = 0; b < 8; ++b) value |= static_cast<std::uint64_t>(bytes_[at_ + b]) << (8 * b);
    at_ += 8;
    return value;
}

double StateReader::f64() {
    return std::bit_cast<double>(u64());
}

bool StateReader::flag() {
    const std::uint64_t value = u64();
    if (value > 1) malformed("a flag is neither 0 nor 1");
    return value == 1;
}

std::size_t StateReader::count(std::size_t most, const char* what) {
    const std::uint64_t value = u64();
    if (value > most) malformed(std::string(what) + " is out of range");
    return static_cast<std::size_t>(value);
}

std::size_t StateReader::items(const char* what) {
    return count((bytes_.size() - at_) / 8, what);
}

void StateReader::doubles(std::vector<double>& out) {
    const std::uint64_t n = u64();
    need(n, 8);
    out.resize(static_cast<std::size_t>(n));
    if constexpr (std::endian::native == std::endian::little) {
        if (n > 0) std::memcpy(out.data(), bytes_.data() + at_, 8 * out.size());
        at_ += 8 * out.size();
        return;
    }
    for (double& v : out) v = f64();
}

void StateReader::doubles(std::vector<double>& out, std::size_t size, const char* what) {
    doubles(out);
    if (out.size() != size) malformed(std::string(what) + " has the wrong length");
}

void StateReader::trace(Trace& out) {
    out = Trace();
    const bool uniform = flag();
    const std::uint64_t snapshots = u64();
    if (uniform) {
        const std::uint64_t rows = u64();
        const std::uint64_t columns = u64();
        std::vector<double> values;
        doubles(values);
        // Checked by division, so that no product can wrap around; rows and columns are
        // positive (a shape with a zero is written in the other form).
        const bool fits = snapshots == 0
                              ? values.empty()
                              : rows > 0 && columns > 0 && values.size() % columns == 0 &&
                                    (values.size() / columns) % rows == 0 &&
                                    values.size() / columns / rows == snapshots;
        if (!fits) malformed("a record's shape does not fit its values");
        out.reserve(values.size());
        const std::span<const double> all(values);
        for (std::uint64_t t = 0; t < snapshots; ++t) {
            out.open_snapshot();
            for (std::uint64_t r = 0; r < rows; ++r)
                out.push_row(all.subspan((t * rows + r) * columns, columns));
        }
        return;
    }
    need(snapshots, 8);  // each snapshot holds at least its row count
    std::vector<double> row;
    for (std::uint64_t t = 0; t < snapshots; ++t) {
        const std::uint64_t rows = u64();
        need(rows, 8);  // each row holds at least its length
        out.open_snapshot();
        for (std::uint64_t r = 0; r < rows; ++r) {
            doubles(row);
            out.push_row(row);
        }
    }
}

std::optional<StopReason> StateReader::stop() {
    const std::size_t value =
        count(static_cast<std::size_t>(StopReason::Interrupted) + 1, "the stop reason");
    if (value == 0) return std::nullopt;
    return static_cast<StopReason>(value - 1);
}

std::chrono::steady_clock::time_point StateReader::start_time() {
    const double elapsed = f64();
    if (!(elapsed >= 0 && elapsed < 1e9)) malformed("the elapsed time is invalid");
    return std::chrono::steady_clock::now() -
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(elapsed));
}

void StateReader::finish() const {
    if (at_ != bytes_.size()) malformed("it has bytes after its end");
}

}  // namespace kestrelopt
