// RandomSource: the one deterministic generator of a run. ChaCha with 8 rounds as a
// counter-mode keystream (64-bit block counter, 64-bit stream number fixed at 0), made
// sixteen blocks (or four) at a time; a 64-bit seed is widened to the 32-byte key with PCG32.
// A draw costs a few nanoseconds amortised and never allocates.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

class StateReader;
class StateWriter;

class RandomSource {
  public:
    static constexpr std::size_t kWords = 64;
    using Key = std::array<std::uint8_t, 32>;

    static RandomSource seed_from_u64(std::uint64_t seed);
    // Key from the kernel (getrandom, falling back to /dev/urandom for good when the
    // system call is missing or forbidden). Throws InternalFailure on an OS error.
    static RandomSource from_entropy();
    static RandomSource from_key(const Key& key);

    std::uint32_t next_u32() {
        if (pos_ >= end_) {
            refill();
            pos_ = 0;
        }
        return words_[pos_++];
    }

    std::uint64_t next_u64() {
        if (pos_ + 1 < end_) {
            const std::uint64_t value = join(words_[pos_], words_[pos_ + 1]);
            pos_ += 2;
            return value;
        }
        if (pos_ + 1 == end_) {
            // The last word of the old buffer is the low half.
            const std::uint32_t low = words_[end_ - 1];
            refill();
            pos_ = 1;
            return join(low, words_[0]);
        }
        refill();
        pos_ = 2;
        return join(words_[0], words_[1]);
    }

    // Exactly what out.size() successive uniform01 calls would give, in order, leaving
    // the generator in the same state; reads the buffered words in one tight loop.
    void fill_uniform01(std::span<double> out);
    // Exactly what out.size() successive next_u64 calls would give, likewise.
    void fill_u64(std::span<std::uint64_t> out);

    void fill_bytes(std::span<std::uint8_t> dest);
    // Identical to fill_bytes; it cannot fail and always returns true.
    bool try_fill_bytes(std::span<std::uint8_t> dest) {
        fill_bytes(dest);
        return true;
    }

    // The generator's place in its stream (key, block counter, stream, read index), for a
    // checkpoint; load gives a generator that continues with the same draws.
    void save(StateWriter& out) const;
    static RandomSource load(StateReader& in);

    // Introspection for tests and diagnostics, in refills of four blocks whatever the
    // kernel: the read index in the current four blocks (kWords when they are used up), and
    // the counter of the block after them.
    std::size_t index() const { return pos_ - kWords * refill_read(); }
    std::uint64_t counter() const { return next_ - 4 * (end_ / kWords - 1 - refill_read()); }

  private:
    // Which four blocks of the buffer the read position is in (the last word read decides).
    std::size_t refill_read() const { return pos_ == 0 ? 0 : (pos_ - 1) / kWords; }
    static std::uint64_t join(std::uint32_t low, std::uint32_t high) {
        return static_cast<std::uint64_t>(low) | (static_cast<std::uint64_t>(high) << 32);
    }
    // Refills the buffer from block next_: sixteen blocks (two calls of the eight-block
    // kernel) where the processor has it, four otherwise. Draws read straight across the
    // whole buffer: the fewer refills, the fewer draws take the slow path across one.
    void refill();

    alignas(64) std::array<std::uint32_t, 4 * kWords> words_{};
    std::size_t pos_ = kWords;  // next word to read
    std::size_t end_ = kWords;  // words the buffer holds: kWords or 4 * kWords
    std::array<std::uint32_t, 8> key_{};
    std::uint64_t next_ = 0;  // the block after the buffer's last
    std::uint64_t stream_ = 0;
};

namespace detail {
// The instruction sets a vector form is built for.
enum class VectorLevel : std::uint8_t { Avx2, Avx512 };
// Four consecutive ChaCha8 blocks (counters counter .. counter+3, wrapping) into out[0..64).
// Every form gives the same words; the vector form is used when the processor has it.
void chacha8_four_blocks_scalar(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                                std::uint64_t stream, std::uint32_t* out);
// Returns false when no vector form is compiled in (out is then untouched).
bool chacha8_four_blocks_simd(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                              std::uint64_t stream, std::uint32_t* out);
// Blocks counter .. counter+3 into first and counter+4 .. counter+7 into next, when the
// processor has 256-bit vectors; returns false (nothing written) otherwise. The fastest
// form the processor has is used.
bool chacha8_eight_blocks_simd(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                               std::uint64_t stream, std::uint32_t* first, std::uint32_t* next);
// The same with the form built for `level`; false when the processor lacks it.
bool chacha8_eight_blocks_with(VectorLevel level, const std::array<std::uint32_t, 8>& key,
                               std::uint64_t counter, std::uint64_t stream, std::uint32_t* first,
                               std::uint32_t* next);
}  // namespace detail

namespace detail {
// The [0, 1) double made of the 53 high bits of a raw value.
inline double unit_from_bits(std::uint64_t v) {
    return static_cast<double>(v >> 11) * 0x1.0p-53;
}
// The scale of uniform_in_inclusive: (high - low) / (1 - 2^-52), shrunk one step at a time
// until scale * (1 - 2^-52) + low no longer exceeds high. Stops on an empty range or when
// the scale is not finite.
double inclusive_scale(double low, double high);
// unit_from_bits by a form the compiler can vectorize without a 64-bit integer
// conversion: m = v >> 11 < 2^53 is split into 32-bit halves, each planted in the
// mantissa of a power of two (2^84 and 2^52) and the offsets taken off. Every step is
// exact (each intermediate, and the sum m itself, is representable), so the result is
// the same double.
inline double unit_from_bits_exact_split(std::uint64_t v) {
    const std::uint64_t m = v >> 11;
    const double upper = std::bit_cast<double>(0x4530000000000000ULL | (m >> 32)) -
                         std::bit_cast<double>(0x4530000000100000ULL);  // 2^84 + 2^52
    const double lower = std::bit_cast<double>(0x4330000000000000ULL | (m & 0xFFFFFFFFULL));
    return (upper + lower) * 0x1.0p-53;
}
// unit_from_bits of `count` raw values held as word pairs, low word first (the keystream
// buffer's layout), into out: the portable loop, and the dispatched one, which on x86-64
// runs the same loop built for AVX2 when the processor has it.
void units_from_word_pairs(const std::uint32_t* words, std::size_t count, double* out);
void units_from_word_pairs_portable(const std::uint32_t* words, std::size_t count, double* out);
}  // namespace detail

// A double in [0, 1) from the 53 high bits of one next_u64.
inline double uniform01(RandomSource& gen) {
    return detail::unit_from_bits(gen.next_u64());
}

// A double in [low, high]; consumes exactly one next_u64 (also when low == high).
double uniform_in_inclusive(RandomSource& gen, double low, double high);

// An integer in [0, n) by widening multiplication with rejection; n >= 1.
inline std::uint64_t index_below(RandomSource& gen, std::uint64_t n) {
    const std::uint64_t zone = (n << std::countl_zero(n)) - 1;
    for (;;) {
        const unsigned __int128 product =
            static_cast<unsigned __int128>(gen.next_u64()) * static_cast<unsigned __int128>(n);
        if (static_cast<std::uint64_t>(product) <= zone)
            return static_cast<std::uint64_t>(product >> 64);
    }
}

namespace detail {
// The 256 layers of equal area V under f(x) = exp(−x²/2), x >= 0, for standard_normal:
// layer i spans [0, x[i]] × [f[i], f[i + 1]], with x[1] = R (where the tail begins),
// x[i + 1] = sqrt(−2·log(V / x[i] + f(x[i]))) for i = 1 .. 254, x[256] = 0, and the base
// layer's x[0] = V / f(R), so that layer 0 is the rectangle under f(R) and the tail beyond R.
// Computed once, by this formula, on first use.
struct NormalLayers {
    static constexpr double kTail = 3.6541528853610088;  // R
    static constexpr double kArea = 4.92867323399e-3;    // V
    double x[257];
    double f[257];
};
const NormalLayers& normal_layers();
// The draws after a first one whose point fell outside its layer's inner rectangle.
double normal_beyond(RandomSource& gen, std::uint64_t first);
// x with the sign bit of b's bit 8: the sign without a branch to mispredict.
inline double signed_by_bit8(double x, std::uint64_t b) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) ^ ((b & 0x100) << 55));
}
}  // namespace detail

// A standard normal value by the ziggurat method. A draw b = next_u64 picks the layer
// i = b mod 256 and the sign (bit 8, set for negative), and u = the 53 high bits of b as
// in uniform01; x = u·x[i] is returned (with its sign) when x < x[i + 1]. Otherwise, in
// layer 0, the tail: t = −log(1 − uniform01)/R then e = −log(1 − uniform01), drawn again
// until e + e >= t·t, gives ±(R + t); in another layer, one more uniform01 y accepts x when
// f[i] + y·(f[i + 1] − f[i]) < exp(−(x·x)/2), and otherwise all starts again with a new b.
// One next_u64 in about 99% of calls. The first form takes the layers from a caller that
// draws many values.
inline double standard_normal(RandomSource& gen, const detail::NormalLayers& layers) {
    const std::uint64_t b = gen.next_u64();
    const std::size_t i = b & 0xFF;
    const double x = detail::unit_from_bits(b) * layers.x[i];
    if (x < layers.x[i + 1]) return detail::signed_by_bit8(x, b);
    return detail::normal_beyond(gen, b);
}
inline double standard_normal(RandomSource& gen) {
    return standard_normal(gen, detail::normal_layers());
}

// Exactly what out.size() successive standard_normal calls would give, in order, leaving the
// generator in the same state; takes the raw draws in blocks with fill_u64. On x86-64 with
// AVX2, a block of 16 draws or more takes the first step of four draws at once (the same
// bits); detail::fill_standard_normal_portable never does.
void fill_standard_normal(RandomSource& gen, std::span<double> out);
namespace detail {
void fill_standard_normal_portable(RandomSource& gen, std::span<double> out);
}  // namespace detail

// True when the top bit of one 32-bit word is set.
inline bool coin_flip(RandomSource& gen) {
    return (gen.next_u32() >> 31) != 0;
}

}  // namespace kestrelopt
