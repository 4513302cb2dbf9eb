#include "kestrelopt/random.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kestrelopt/state_codec.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace kestrelopt {

namespace {

std::uint32_t pcg32_output(std::uint64_t state) {
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    return std::rotr(xorshifted, static_cast<int>(state >> 59));
}

}  // namespace

RandomSource RandomSource::from_key(const Key& key) {
    RandomSource gen;
    for (std::size_t k = 0; k < 8; ++k) {
        gen.key_[k] = static_cast<std::uint32_t>(key[4 * k]) |
                      (static_cast<std::uint32_t>(key[4 * k + 1]) << 8) |
                      (static_cast<std::uint32_t>(key[4 * k + 2]) << 16) |
                      (static_cast<std::uint32_t>(key[4 * k + 3]) << 24);
    }
    return gen;
}

RandomSource RandomSource::seed_from_u64(std::uint64_t seed) {
    constexpr std::uint64_t kMultiplier = 6364136223846793005ULL;
    constexpr std::uint64_t kIncrement = 11634580027462260723ULL;
    Key key{};
    std::uint64_t state = seed;
    for (std::size_t k = 0; k < 8; ++k) {
        // Advance first, so the seed itself is never output.
        state = state * kMultiplier + kIncrement;
        const std::uint32_t word = pcg32_output(state);
        for (std::size_t b = 0; b < 4; ++b)
            key[4 * k + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
    return from_key(key);
}

void RandomSource::refill() {
    std::uint32_t* words = words_.data();
    if (detail::chacha8_eight_blocks_simd(key_, next_, stream_, words, words + kWords)) {
        detail::chacha8_eight_blocks_simd(key_, next_ + 8, stream_, words + 2 * kWords,
                                          words + 3 * kWords);
        end_ = 4 * kWords;
        next_ += 16;
        return;
    }
    if (!detail::chacha8_four_blocks_simd(key_, next_, stream_, words))
        detail::chacha8_four_blocks_scalar(key_, next_, stream_, words);
    end_ = kWords;
    next_ += 4;
}

// Saved in refills of four blocks (index and counter), so a checkpoint does not depend on
// the kernel of the processor that wrote it.
void RandomSource::save(StateWriter& out) const {
    for (const std::uint32_t word : key_) out.u64(word);
    out.u64(counter());
    out.u64(stream_);
    out.u64(index());
}

RandomSource RandomSource::load(StateReader& in) {
    RandomSource gen;
    for (std::uint32_t& word : gen.key_) {
        const std::uint64_t value = in.u64();
        if (value > 0xFFFFFFFFULL) StateReader::malformed("a generator key word is too large");
        word = static_cast<std::uint32_t>(value);
    }
    gen.next_ = in.u64();
    gen.stream_ = in.u64();
    gen.pos_ = in.count(kWords, "a generator's read index");
    // The four blocks being read come before the counter; they are a function of key,
    // counter and stream, so they are made again rather than stored.
    if (gen.pos_ < kWords)
        detail::chacha8_four_blocks_scalar(gen.key_, gen.next_ - 4, gen.stream_, gen.words_.data());
    return gen;
}

void RandomSource::fill_uniform01(std::span<double> out) {
    double* dest = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        if (pos_ + 1 >= end_) {
            // A value straddling a refill (or starting one) takes the ordinary path.
            *dest++ = detail::unit_from_bits(next_u64());
            --left;
            continue;
        }
        const std::size_t take = std::min(left, (end_ - pos_) / 2);
        detail::units_from_word_pairs(words_.data() + pos_, take, dest);
        pos_ += 2 * take;
        dest += take;
        left -= take;
    }
}

void RandomSource::fill_u64(std::span<std::uint64_t> out) {
    std::uint64_t* dest = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        if (pos_ + 1 >= end_) {
            *dest++ = next_u64();
            --left;
            continue;
        }
        const std::size_t take = std::min(left, (end_ - pos_) / 2);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(dest, words_.data() + pos_, 8 * take);  // low word first, as join
        } else {
            for (std::size_t j = 0; j < take; ++j)
                dest[j] = join(words_[pos_ + 2 * j], words_[pos_ + 2 * j + 1]);
        }
        pos_ += 2 * take;
        dest += take;
        left -= take;
    }
}

void RandomSource::fill_bytes(std::span<std::uint8_t> dest) {
    std::size_t done = 0;
    while (done < dest.size()) {
        if (pos_ >= end_) {
            refill();
            pos_ = 0;
        }
        const std::size_t take = std::min(dest.size() - done, 4 * (end_ - pos_));
        for (std::size_t b = 0; b < take; ++b)
            dest[done + b] = static_cast<std::uint8_t>(words_[pos_ + b / 4] >> (8 * (b % 4)));
        // A word of which only part was copied is consumed whole.
        pos_ += (take + 3) / 4;
        done += take;
    }
}

namespace {

[[gnu::always_inline]] inline void units_body(const std::uint32_t* __restrict words,
                                              std::size_t count, double* __restrict out) {
    for (std::size_t j = 0; j < count; ++j) {
        std::uint64_t bits;
        if constexpr (std::endian::native == std::endian::little) {
            // Two adjacent words, low first, are the 64-bit value in memory order.
            std::memcpy(&bits, words + 2 * j, sizeof bits);
        } else {
            bits = static_cast<std::uint64_t>(words[2 * j]) |
                   (static_cast<std::uint64_t>(words[2 * j + 1]) << 32);
        }
        out[j] = detail::unit_from_bits_exact_split(bits);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void units_avx2(const std::uint32_t* words, std::size_t count,
                                        double* out) {
    units_body(words, count, out);
}

// AVX-512DQ converts 64-bit integers to doubles in one instruction, so the plain form
// vectorizes: m < 2^53 converts exactly, giving unit_from_bits's own double.
[[gnu::target("avx512f,avx512dq,avx512vl")]] void units_avx512(
    const std::uint32_t* __restrict words, std::size_t count, double* __restrict out) {
    for (std::size_t j = 0; j < count; ++j) {
        std::uint64_t bits;
        std::memcpy(&bits, words + 2 * j, sizeof bits);
        out[j] = static_cast<double>(bits >> 11) * 0x1.0p-53;
    }
}
#endif

}  // namespace

void detail::units_from_word_pairs_portable(const std::uint32_t* words, std::size_t count,
                                            double* out) {
    units_body(words, count, out);
}

void detail::units_from_word_pairs(const std::uint32_t* words, std::size_t count, double* out) {
#if defined(__x86_64__) && defined(__GNUC__)
    if constexpr (std::endian::native == std::endian::little) {
        static const bool has_avx512 =
            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        if (has_avx512) return units_avx512(words, count, out);
    }
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2) return units_avx2(words, count, out);
#endif
    units_body(words, count, out);
}

double detail::inclusive_scale(double low, double high) {
    constexpr double kBelowOne = 0.9999999999999998;  // 1 - 2^-52
    if (!(low <= high)) fail("cannot sample empty range");
    double scale = (high - low) / kBelowOne;
    if (!std::isfinite(scale)) fail("Uniform::new_inclusive: range overflow");
    for (;;) {
        const double top = scale * kBelowOne;
        if (!(top + low > high)) return scale;
        scale = std::bit_cast<double>(std::bit_cast<std::uint64_t>(scale) - 1);
    }
}

double uniform_in_inclusive(RandomSource& gen, double low, double high) {
    const double scale = detail::inclusive_scale(low, high);
    const std::uint64_t bits = (gen.next_u64() >> 12) | 0x3FF0000000000000ULL;
    const double unit = std::bit_cast<double>(bits) - 1.0;
    const double scaled = unit * scale;
    return scaled + low;
}

const detail::NormalLayers& detail::normal_layers() {
    static const NormalLayers layers = [] {
        NormalLayers t{};
        constexpr double r = NormalLayers::kTail;
        constexpr double v = NormalLayers::kArea;
        const auto f = [](double x) { return std::exp(-(x * x) / 2.0); };
        t.x[0] = v / f(r);
        t.x[1] = r;
        for (std::size_t i = 1; i < 255; ++i)
            t.x[i + 1] = std::sqrt(-2.0 * std::log(v / t.x[i] + f(t.x[i])));
        t.x[256] = 0.0;
        for (std::size_t i = 0; i < 257; ++i) t.f[i] = f(t.x[i]);
        return t;
    }();
    return layers;
}

namespace {

// The slow path of the ziggurat, its draws taken from next(): the rest of the loop of
// standard_normal after a first draw `first`.
template <class Next>
double normal_beyond_from(const detail::NormalLayers& layers, Next&& next, std::uint64_t first) {
    using detail::NormalLayers;
    const auto uniform = [&] { return detail::unit_from_bits(next()); };
    for (std::uint64_t b = first;; b = next()) {
        const std::size_t i = b & 0xFF;
        const double x = detail::unit_from_bits(b) * layers.x[i];
        if (x < layers.x[i + 1]) return detail::signed_by_bit8(x, b);
        if (i == 0) {
            for (;;) {
                const double t = -std::log(1.0 - uniform()) / NormalLayers::kTail;
                const double e = -std::log(1.0 - uniform());
                if (e + e >= t * t) return detail::signed_by_bit8(NormalLayers::kTail + t, b);
            }
        }
        const double y = uniform();
        if (layers.f[i] + y * (layers.f[i + 1] - layers.f[i]) < std::exp(-(x * x) / 2.0))
            return detail::signed_by_bit8(x, b);
    }
}

}  // namespace

double detail::normal_beyond(RandomSource& gen, std::uint64_t first) {
    return normal_beyond_from(normal_layers(), [&gen] { return gen.next_u64(); }, first);
}

namespace {

// The slow path of fill_standard_normal: the block's draws from *at on come first, then the
// generator's; *at ends past the last draw of the block taken.
[[gnu::noinline]] double normal_beyond_block(const detail::NormalLayers& layers, RandomSource& gen,
                                             const std::uint64_t* block, std::size_t size,
                                             std::size_t* at, std::uint64_t first) {
    std::size_t q = *at;
    const double value =
        normal_beyond_from(layers, [&] { return q < size ? block[q++] : gen.next_u64(); }, first);
    *at = q;
    return value;
}

#if defined(__x86_64__) && defined(__GNUC__)
// standard_normal's first step on block[q..m), four draws at a time: the values of draws
// accepted in their layer's inner rectangle go to dest, as far as the first four that
// hold one that is not (its accepted draws before it included). Returns how many values
// were written; block[q + returned] is then a draw for the slow path, or fewer than four
// are left. Every lane of a four is stored, so dest has room for m - q values. The
// conversion of the 53 high bits is unit_from_bits_exact_split's, the same double.
[[gnu::target("avx2")]] std::size_t accepted_fours_avx2(const double* x, const std::uint64_t* block,
                                                        std::size_t q, std::size_t m,
                                                        double* dest) {
    const __m256i layer_bits = _mm256_set1_epi64x(0xFF);
    const __m256i sign_bit = _mm256_set1_epi64x(0x100);
    const __m256i low_half = _mm256_set1_epi64x(0xFFFFFFFFLL);
    const __m256i upper_exponent = _mm256_set1_epi64x(0x4530000000000000LL);  // 2^84
    const __m256i lower_exponent = _mm256_set1_epi64x(0x4330000000000000LL);  // 2^52
    const __m256d offset = _mm256_castsi256_pd(_mm256_set1_epi64x(0x4530000000100000LL));
    const __m256d unit = _mm256_set1_pd(0x1.0p-53);
    const std::size_t first = q;
    for (; q + 4 <= m; q += 4, dest += 4) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + q));
        const __m256i i = _mm256_and_si256(b, layer_bits);
        const __m256i bits = _mm256_srli_epi64(b, 11);
        const __m256d upper = _mm256_sub_pd(
            _mm256_castsi256_pd(_mm256_or_si256(upper_exponent, _mm256_srli_epi64(bits, 32))),
            offset);
        const __m256d lower =
            _mm256_castsi256_pd(_mm256_or_si256(lower_exponent, _mm256_and_si256(bits, low_half)));
        const __m256d point = _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(upper, lower), unit),
                                            _mm256_i64gather_pd(x, i, 8));
        const auto inside = static_cast<unsigned>(
            _mm256_movemask_pd(_mm256_cmp_pd(point, _mm256_i64gather_pd(x + 1, i, 8), _CMP_LT_OQ)));
        const __m256i sign = _mm256_slli_epi64(_mm256_and_si256(b, sign_bit), 55);
        _mm256_storeu_pd(dest, _mm256_xor_pd(point, _mm256_castsi256_pd(sign)));
        // A branch rather than an advance by the count: the next four's loads then wait on
        // nothing but the prediction, which a rejection (about one four in twenty) breaks.
        if (inside != 0xF) return q - first + static_cast<std::size_t>(std::countr_one(inside));
    }
    return q - first;
}
#endif

// Blocks of at least this many draws go four at a time where the processor has AVX2; for
// shorter ones the vector form measured no faster.
constexpr std::size_t kFourAtATime = 16;

void fill_normals(RandomSource& gen, std::span<double> out, [[maybe_unused]] bool fours) {
    const detail::NormalLayers& layers = detail::normal_layers();
    constexpr std::size_t kBlock = 64;
    std::uint64_t block[kBlock];
    double* dest = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        // No more draws than values still wanted: every value takes at least one, so the
        // block is used up by the time the values are all there.
        const std::size_t m = std::min(kBlock, left);
        gen.fill_u64(std::span<std::uint64_t>(block, m));
        [[maybe_unused]] const bool by_fours = fours && m >= kFourAtATime;
        for (std::size_t q = 0; q < m;) {
#if defined(__x86_64__) && defined(__GNUC__)
            if (by_fours) {
                const std::size_t done = accepted_fours_avx2(layers.x, block, q, m, dest);
                q += done;
                dest += done;
                left -= done;
                if (q == m) break;
            }
#endif
            const std::uint64_t b = block[q++];
            const std::size_t i = b & 0xFF;
            const double x = detail::unit_from_bits(b) * layers.x[i];
            if (x < layers.x[i + 1]) {
                *dest++ = detail::signed_by_bit8(x, b);
            } else {
                std::size_t at = q;  // a copy, so that q itself stays in a register
                *dest++ = normal_beyond_block(layers, gen, block, m, &at, b);
                q = at;
            }
            --left;
        }
    }
}

}  // namespace

void fill_standard_normal(RandomSource& gen, std::span<double> out) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    fill_normals(gen, out, has_avx2);
#else
    fill_normals(gen, out, false);
#endif
}

void detail::fill_standard_normal_portable(RandomSource& gen, std::span<double> out) {
    fill_normals(gen, out, false);
}

}  // namespace kestrelopt
