#include "kestrelopt/random.hpp"

#include "kestrelopt/state_codec.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

namespace kestrelopt {
namespace {

TEST(SeedFromU64, KnownValuesOfSeedZero) {
    auto gen = RandomSource::seed_from_u64(0);
    EXPECT_EQ(gen.next_u64(), 13080132717333068652ULL);
    EXPECT_EQ(gen.next_u64(), 8594738769458413623ULL);
    EXPECT_EQ(gen.next_u64(), 12896916468484187878ULL);
}

TEST(SeedFromU64, KnownValueOfSeed42) {
    auto gen = RandomSource::seed_from_u64(42);
    EXPECT_EQ(gen.next_u64(), 12578764544318200737ULL);
}

TEST(SeedFromU64, NextU32GivesLowThenHighHalf) {
    auto gen = RandomSource::seed_from_u64(0);
    EXPECT_EQ(gen.next_u32(), 2811902828U);
    EXPECT_EQ(gen.next_u32(), 3045455719U);
    // the two halves of the first 64-bit draw of the same seed
    EXPECT_EQ(RandomSource::seed_from_u64(0).next_u64(), 2811902828ULL | (3045455719ULL << 32));
}

TEST(SeedFromU64, FreshGeneratorStartsExhaustedAndRefillsOnce) {
    auto gen = RandomSource::seed_from_u64(5);
    EXPECT_EQ(gen.index(), 64u);
    EXPECT_EQ(gen.counter(), 0u);
    gen.next_u64();
    EXPECT_EQ(gen.index(), 2u);
    EXPECT_EQ(gen.counter(), 4u);
}

TEST(SeedFromU64, SameSeedSameSequenceDifferentSeedDifferent) {
    auto a = RandomSource::seed_from_u64(123);
    auto b = RandomSource::seed_from_u64(123);
    auto c = RandomSource::seed_from_u64(124);
    bool differs = false;
    for (int i = 0; i < 300; ++i) {
        const auto va = a.next_u64();
        EXPECT_EQ(va, b.next_u64());
        differs |= va != c.next_u64();
    }
    EXPECT_TRUE(differs);
}

TEST(SeedFromU64, SeedZeroYieldsNonZeroKeystream) {
    // The state is advanced before the first output, so the key is not all zero.
    auto seeded = RandomSource::seed_from_u64(0);
    auto zero_key = RandomSource::from_key(RandomSource::Key{});
    EXPECT_NE(seeded.next_u64(), zero_key.next_u64());
}

TEST(Keystream, FirstValueIsWordsZeroAndOneOfBlockZero) {
    std::array<std::uint32_t, 8> key{};
    RandomSource::Key bytes{};
    for (std::size_t i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::size_t k = 0; k < 8; ++k)
        key[k] = bytes[4 * k] | (bytes[4 * k + 1] << 8) | (bytes[4 * k + 2] << 16) |
                 (static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24);
    std::uint32_t words[64];
    detail::chacha8_four_blocks_scalar(key, 0, 0, words);
    auto gen = RandomSource::from_key(bytes);
    EXPECT_EQ(gen.next_u64(), words[0] | (static_cast<std::uint64_t>(words[1]) << 32));
}

TEST(Keystream, SimdAndScalarAgreeForManyKeysAndCounters) {
    auto source = RandomSource::seed_from_u64(99);
    const std::uint64_t special[] = {0,
                                     1,
                                     0xFFFFFFFFULL - 1,
                                     0xFFFFFFFFULL,
                                     0x100000000ULL,
                                     std::numeric_limits<std::uint64_t>::max() - 2,
                                     std::numeric_limits<std::uint64_t>::max()};
    for (int trial = 0; trial < 200; ++trial) {
        std::array<std::uint32_t, 8> key;
        for (auto& word : key) word = source.next_u32();
        const std::uint64_t counter = trial < 7 ? special[trial] : source.next_u64();
        const std::uint64_t stream = trial % 3 == 0 ? 0 : source.next_u64();
        std::uint32_t scalar[64];
        std::uint32_t simd[64];
        detail::chacha8_four_blocks_scalar(key, counter, stream, scalar);
        if (!detail::chacha8_four_blocks_simd(key, counter, stream, simd))
            GTEST_SKIP() << "no vector form on this processor";
        for (int w = 0; w < 64; ++w)
            ASSERT_EQ(scalar[w], simd[w]) << "trial " << trial << " word " << w;
    }
}

TEST(Keystream, EightBlockKernelEqualsTwoScalarRefills) {
    auto source = RandomSource::seed_from_u64(77);
    const std::uint64_t special[] = {0, 0xFFFFFFFFULL - 5, 0xFFFFFFFFULL - 3,
                                     std::numeric_limits<std::uint64_t>::max() - 5,
                                     std::numeric_limits<std::uint64_t>::max() - 3};
    for (int trial = 0; trial < 200; ++trial) {
        std::array<std::uint32_t, 8> key;
        for (auto& word : key) word = source.next_u32();
        const std::uint64_t counter = trial < 5 ? special[trial] : source.next_u64();
        const std::uint64_t stream = trial % 4 == 0 ? 0 : source.next_u64();
        std::uint32_t expected[128];
        detail::chacha8_four_blocks_scalar(key, counter, stream, expected);
        detail::chacha8_four_blocks_scalar(key, counter + 4, stream, expected + 64);
        for (const auto level : {detail::VectorLevel::Avx2, detail::VectorLevel::Avx512}) {
            std::uint32_t first[64];
            std::uint32_t next[64];
            if (!detail::chacha8_eight_blocks_with(level, key, counter, stream, first, next))
                continue;  // the processor lacks this form
            for (int w = 0; w < 64; ++w) {
                ASSERT_EQ(first[w], expected[w]) << "trial " << trial << " word " << w;
                ASSERT_EQ(next[w], expected[64 + w]) << "trial " << trial << " word " << w;
            }
        }
    }
}

TEST(Keystream, GeneratorWordsAreTheScalarKeystreamAcrossManyRefills) {
    RandomSource::Key bytes{};
    for (std::size_t i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(255 - 3 * i);
    std::array<std::uint32_t, 8> key{};
    for (std::size_t k = 0; k < 8; ++k)
        key[k] = bytes[4 * k] | (bytes[4 * k + 1] << 8) | (bytes[4 * k + 2] << 16) |
                 (static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24);
    auto gen = RandomSource::from_key(bytes);
    std::uint32_t words[64];
    for (std::uint64_t refill = 0; refill < 9; ++refill) {
        detail::chacha8_four_blocks_scalar(key, 4 * refill, 0, words);
        for (int w = 0; w < 64; ++w) ASSERT_EQ(gen.next_u32(), words[w]) << refill << ":" << w;
        EXPECT_EQ(gen.counter(), 4 * (refill + 1));
    }
}

TEST(Keystream, CounterWrapsAtTwoToThe64) {
    std::array<std::uint32_t, 8> key{1, 2, 3, 4, 5, 6, 7, 8};
    std::uint32_t four[64];
    std::uint32_t first[64];
    detail::chacha8_four_blocks_scalar(key, std::numeric_limits<std::uint64_t>::max() - 1, 0, four);
    detail::chacha8_four_blocks_scalar(key, 0, 0, first);
    // Blocks 2 and 3 of the wrapped call are blocks 0 and 1 of counter 0.
    for (int w = 0; w < 32; ++w) EXPECT_EQ(four[32 + w], first[w]);
}

TEST(NextU64, StraddlesTheRefillWithOneWordLeft) {
    auto words = RandomSource::seed_from_u64(7);
    std::vector<std::uint32_t> stream;
    for (int i = 0; i < 70; ++i) stream.push_back(words.next_u32());
    auto gen = RandomSource::seed_from_u64(7);
    for (int i = 0; i < 63; ++i) gen.next_u32();
    EXPECT_EQ(gen.index(), 63u);
    EXPECT_EQ(gen.next_u64(), stream[63] | (static_cast<std::uint64_t>(stream[64]) << 32));
    EXPECT_EQ(gen.index(), 1u);
    EXPECT_EQ(gen.next_u32(), stream[65]);
}

// A checkpoint taken at any read position (every quarter of a sixteen-block buffer, the
// words straddling them, and the next refill) continues with the same words, and records the
// position in refills of four blocks whatever kernel made it.
TEST(SaveLoad, ContinuesFromEveryReadPositionAcrossRefills) {
    for (std::size_t drawn = 0; drawn <= 5 * RandomSource::kWords + 3; ++drawn) {
        auto gen = RandomSource::seed_from_u64(99);
        for (std::size_t k = 0; k < drawn; ++k) gen.next_u32();
        StateWriter out;
        gen.save(out);
        StateReader in(out.bytes());
        auto copy = RandomSource::load(in);
        EXPECT_EQ(copy.index(), gen.index()) << drawn;
        EXPECT_EQ(copy.counter(), gen.counter()) << drawn;
        EXPECT_EQ(gen.counter(), drawn == 0 ? 0 : 4 * ((drawn + 63) / 64)) << drawn;
        for (int k = 0; k < 150; ++k) ASSERT_EQ(copy.next_u32(), gen.next_u32()) << drawn;
        ASSERT_EQ(copy.next_u64(), gen.next_u64()) << drawn;
    }
}

TEST(FillBytes, PartialWordIsConsumedWhole) {
    auto words = RandomSource::seed_from_u64(3);
    const std::uint32_t w0 = words.next_u32();
    const std::uint32_t w1 = words.next_u32();
    const std::uint32_t w2 = words.next_u32();
    auto gen = RandomSource::seed_from_u64(3);
    std::array<std::uint8_t, 5> bytes{};
    gen.fill_bytes(bytes);
    EXPECT_EQ(bytes[0], w0 & 0xFF);
    EXPECT_EQ(bytes[1], (w0 >> 8) & 0xFF);
    EXPECT_EQ(bytes[2], (w0 >> 16) & 0xFF);
    EXPECT_EQ(bytes[3], w0 >> 24);
    EXPECT_EQ(bytes[4], w1 & 0xFF);
    EXPECT_EQ(gen.index(), 2u);
    EXPECT_EQ(gen.next_u32(), w2);
}

TEST(FillBytes, EmptyDestinationConsumesNothingAndLongFillsCrossRefills) {
    auto gen = RandomSource::seed_from_u64(3);
    EXPECT_TRUE(gen.try_fill_bytes(std::span<std::uint8_t>()));
    EXPECT_EQ(gen.index(), 64u);
    EXPECT_EQ(gen.counter(), 0u);

    auto words = RandomSource::seed_from_u64(11);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 150; ++i) {
        const std::uint32_t w = words.next_u32();
        for (int b = 0; b < 4; ++b) expected.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    }
    auto filler = RandomSource::seed_from_u64(11);
    std::vector<std::uint8_t> got(600);
    filler.fill_bytes(got);
    EXPECT_EQ(got, expected);
}

// The block fill must give exactly the values, and leave exactly the state, of successive
// uniform01 calls, from every starting index (odd ones straddle a refill) and for lengths
// that cross several refills.
TEST(FillUniform01, EqualsSuccessiveUniform01FromEveryIndexAcrossRefills) {
    for (std::size_t start = 0; start <= RandomSource::kWords; ++start) {
        for (const std::size_t length : {0, 1, 2, 3, 31, 32, 33, 60, 64, 65, 97, 200}) {
            auto plain = RandomSource::seed_from_u64(1234 + start);
            auto block = RandomSource::seed_from_u64(1234 + start);
            // A fresh generator is exhausted; one word drawn refills it, so the others land
            // on index start (64 meaning exhausted again).
            if (start > 0) {
                for (std::size_t k = 0; k < start; ++k) {
                    plain.next_u32();
                    block.next_u32();
                }
                ASSERT_EQ(block.index(), start);
            }
            std::vector<double> expected(length);
            for (double& value : expected) value = uniform01(plain);
            std::vector<double> got(length, -1.0);
            block.fill_uniform01(got);
            for (std::size_t k = 0; k < length; ++k)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]),
                          std::bit_cast<std::uint64_t>(expected[k]))
                    << "start " << start << " length " << length << " value " << k;
            EXPECT_EQ(block.index(), plain.index());
            EXPECT_EQ(block.counter(), plain.counter());
            for (int k = 0; k < 70; ++k) ASSERT_EQ(block.next_u32(), plain.next_u32());
        }
    }
}

// The draws of fill_u64 and fill_standard_normal against their one-at-a-time forms, from
// every read position, for lengths around the block and refill sizes.
TEST(FillU64AndNormals, EqualSuccessiveDrawsFromEveryIndexAcrossRefills) {
    for (std::size_t start = 0; start <= RandomSource::kWords; start += 3) {
        for (const std::size_t length : {0, 1, 2, 31, 63, 64, 65, 129, 700}) {
            auto plain = RandomSource::seed_from_u64(77 + start);
            auto block = plain;
            for (std::size_t k = 0; k < start; ++k) {
                plain.next_u32();
                block.next_u32();
            }
            std::vector<std::uint64_t> words(length);
            block.fill_u64(words);
            for (std::size_t k = 0; k < length; ++k) ASSERT_EQ(words[k], plain.next_u64());
            std::vector<double> normals(length, -1.0);
            fill_standard_normal(block, normals);
            for (std::size_t k = 0; k < length; ++k)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(normals[k]),
                          std::bit_cast<std::uint64_t>(standard_normal(plain)))
                    << "start " << start << " length " << length << " value " << k;
            EXPECT_EQ(block.index(), plain.index());
            EXPECT_EQ(block.counter(), plain.counter());
        }
    }
    // One value at a time: every slow path then reads past the block, from the generator.
    auto plain = RandomSource::seed_from_u64(5);
    auto block = plain;
    double one[1];
    for (int k = 0; k < 20000; ++k) {
        fill_standard_normal(block, one);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(one[0]),
                  std::bit_cast<std::uint64_t>(standard_normal(plain)));
    }
    EXPECT_EQ(block.next_u64(), plain.next_u64());
}

// The four-at-a-time first step (taken for blocks of 16 draws or more where the processor
// has AVX2) against the portable loop and against standard_normal one value at a time, over
// some 1,400 slow paths, so that a rejected draw falls in every lane of a four, after the
// last whole four of a block and at its end.
TEST(FillStandardNormal, FourAtATimeEqualsThePortableLoopAndSuccessiveDraws) {
    const detail::NormalLayers& layers = detail::normal_layers();
    std::size_t slow = 0;
    for (std::uint64_t seed = 0; seed < 12; ++seed)
        for (const std::size_t length : {15, 16, 17, 19, 30, 63, 64, 65, 80, 1000})
            for (std::size_t start = 0; start < 8; ++start) {
                auto plain = RandomSource::seed_from_u64(seed);
                for (std::size_t k = 0; k < start; ++k) plain.next_u32();
                auto fours = plain;
                auto portable = plain;
                std::vector<double> got(length, -1.0), expected(length, -2.0);
                fill_standard_normal(fours, got);
                detail::fill_standard_normal_portable(portable, expected);
                for (std::size_t k = 0; k < length; ++k) {
                    auto peek = plain;
                    const std::uint64_t b = peek.next_u64();
                    const std::size_t i = b & 0xFF;
                    if (!(detail::unit_from_bits(b) * layers.x[i] < layers.x[i + 1])) ++slow;
                    const auto one = std::bit_cast<std::uint64_t>(standard_normal(plain));
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), one)
                        << "seed " << seed << " length " << length << " value " << k;
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(expected[k]), one)
                        << "seed " << seed << " length " << length << " value " << k;
                }
                const std::uint64_t next = plain.next_u64();
                ASSERT_EQ(fours.next_u64(), next);
                ASSERT_EQ(portable.next_u64(), next);
            }
    EXPECT_GT(slow, 1000u);
}

TEST(StandardNormal, LayersHaveEqualAreasAndCloseAtTheTop) {
    const detail::NormalLayers& t = detail::normal_layers();
    const double v = detail::NormalLayers::kArea;
    const double r = detail::NormalLayers::kTail;
    const auto f = [](double x) { return std::exp(-x * x / 2.0); };
    EXPECT_EQ(t.x[1], r);
    EXPECT_EQ(t.x[256], 0.0);
    EXPECT_EQ(t.f[256], 1.0);
    // The base: the rectangle under f(R) and the tail beyond R.
    EXPECT_NEAR(t.x[0] * f(r), v, 1e-15);
    EXPECT_NEAR(r * f(r) + std::sqrt(std::acos(-1.0) / 2.0) * std::erfc(r / std::sqrt(2.0)), v,
                1e-11);
    for (std::size_t i = 1; i < 256; ++i) {
        EXPECT_LT(t.x[i + 1], t.x[i]) << i;
        // Within an ulp or so: the compiler may fold the table's exp where this one is called.
        EXPECT_NEAR(t.f[i], f(t.x[i]), 4e-16 * t.f[i]) << i;
        // The last layer closes at f(0) = 1 only if R and V belong together.
        EXPECT_NEAR(t.x[i] * (t.f[i + 1] - t.f[i]), v, 1e-10) << i;
    }
}

TEST(StandardNormal, MomentsAndTailsOfAMillionDraws) {
    auto gen = RandomSource::seed_from_u64(2024);
    const int n = 1000000;
    double sum = 0.0, squares = 0.0, fourth = 0.0;
    int beyond_two = 0, beyond_tail = 0, negative = 0;
    for (int k = 0; k < n; ++k) {
        const double z = standard_normal(gen);
        sum += z;
        squares += z * z;
        fourth += z * z * z * z;
        beyond_two += std::fabs(z) > 2.0;
        beyond_tail += std::fabs(z) > detail::NormalLayers::kTail;
        negative += z < 0.0;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.005);
    EXPECT_NEAR(squares / n, 1.0, 0.005);
    EXPECT_NEAR(fourth / n, 3.0, 0.05);
    EXPECT_NEAR(beyond_two / double(n), std::erfc(2.0 / std::sqrt(2.0)), 0.001);
    // About 258 in the tail that only the slow path reaches.
    EXPECT_NEAR(beyond_tail / double(n), std::erfc(detail::NormalLayers::kTail / std::sqrt(2.0)),
                6e-5);
    EXPECT_NEAR(negative / double(n), 0.5, 0.002);
}

TEST(FillUniform01, SplitConversionEqualsTheDirectOneBitForBit) {
    const std::uint64_t edges[] = {0,
                                   1,
                                   (1ULL << 11) - 1,
                                   1ULL << 11,
                                   (1ULL << 43) - 1,
                                   1ULL << 43,
                                   (1ULL << 63) - 1,
                                   1ULL << 63,
                                   0xFFFFF80000000000ULL,
                                   0x00000000FFFFF800ULL,
                                   ~0ULL};
    for (const std::uint64_t v : edges)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(detail::unit_from_bits_exact_split(v)),
                  std::bit_cast<std::uint64_t>(detail::unit_from_bits(v)))
            << v;
    auto gen = RandomSource::seed_from_u64(99);
    for (int k = 0; k < 100000; ++k) {
        const std::uint64_t v = gen.next_u64();
        // Also with the high bits cleared, so small values (few significant bits) are seen.
        for (const std::uint64_t u : {v, v >> (k % 64)})
            ASSERT_EQ(std::bit_cast<std::uint64_t>(detail::unit_from_bits_exact_split(u)),
                      std::bit_cast<std::uint64_t>(detail::unit_from_bits(u)))
                << u;
    }
}

TEST(FillUniform01, BothConversionLoopsEqualTheDirectConversion) {
    // Random words with edge values mixed in, at every count up to 40 and at both word
    // alignments, so vector bodies and scalar tails are all reached.
    auto gen = RandomSource::seed_from_u64(2024);
    std::vector<std::uint32_t> words(2 * 41);
    for (int round = 0; round < 300; ++round) {
        for (std::uint32_t& w : words) {
            const std::uint64_t pick = index_below(gen, 8);
            w = pick == 0 ? 0u : pick == 1 ? ~0u : gen.next_u32();
        }
        for (const std::size_t offset : {0, 1})
            for (std::size_t count = 0; count <= 40; ++count) {
                const std::uint32_t* source = words.data() + offset;
                std::vector<double> portable(count, -1.0), dispatched(count, -1.0);
                detail::units_from_word_pairs_portable(source, count, portable.data());
                detail::units_from_word_pairs(source, count, dispatched.data());
                for (std::size_t j = 0; j < count; ++j) {
                    const std::uint64_t bits =
                        static_cast<std::uint64_t>(source[2 * j]) |
                        (static_cast<std::uint64_t>(source[2 * j + 1]) << 32);
                    const std::uint64_t expected =
                        std::bit_cast<std::uint64_t>(detail::unit_from_bits(bits));
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(portable[j]), expected)
                        << count << " " << j;
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(dispatched[j]), expected)
                        << count << " " << j;
                }
            }
    }
}

TEST(Uniform01, KnownValueAndExtremes) {
    auto gen = RandomSource::seed_from_u64(0);
    EXPECT_EQ(uniform01(gen), 0.7090754154265618);
    EXPECT_EQ(detail::unit_from_bits(~0ULL), 1.0 - 0x1.0p-53);
    EXPECT_EQ(detail::unit_from_bits(0), 0.0);
    EXPECT_EQ(detail::unit_from_bits((1ULL << 11) - 1), 0.0);
}

TEST(UniformInInclusive, KnownValues) {
    auto gen = RandomSource::seed_from_u64(0);
    EXPECT_EQ(detail::inclusive_scale(-5.12, 5.12), 10.240000000000002);
    EXPECT_EQ(uniform_in_inclusive(gen, -5.12, 5.12), 2.1409322539679936);
    EXPECT_EQ(uniform_in_inclusive(gen, 0, 1), 0.46592172228961026);
}

TEST(UniformInInclusive, EqualEndsReturnLowAndConsumeOneValue) {
    auto gen = RandomSource::seed_from_u64(1);
    EXPECT_EQ(uniform_in_inclusive(gen, 3.0, 3.0), 3.0);
    EXPECT_EQ(gen.index(), 2u);
}

TEST(UniformInInclusive, ScaleIsTheLargestThatKeepsTheTopInside) {
    auto gen = RandomSource::seed_from_u64(17);
    for (int i = 0; i < 2000; ++i) {
        const double a = uniform_in_inclusive(gen, -1e6, 1e6);
        const double b = a + uniform01(gen) * std::pow(10.0, static_cast<double>(i % 12) - 6);
        const double scale = detail::inclusive_scale(a, b);
        const double below_one = 0.9999999999999998;
        ASSERT_LE(scale * below_one + a, b);
        const double up = std::nextafter(scale, INFINITY);
        if (scale < (b - a) / below_one) {
            ASSERT_GT(up * below_one + a, b);
        }
    }
}

TEST(UniformInInclusive, FailuresCarryTheirMessages) {
    auto gen = RandomSource::seed_from_u64(0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double low, high;
        const char* message;
    };
    const Case cases[] = {{5, 1, "cannot sample empty range"},
                          {nan, 1, "cannot sample empty range"},
                          {0, nan, "cannot sample empty range"},
                          {-1e308, 1e308, "Uniform::new_inclusive: range overflow"},
                          {0, inf, "Uniform::new_inclusive: range overflow"},
                          {-inf, -inf, "Uniform::new_inclusive: range overflow"}};
    for (const Case& c : cases) {
        try {
            uniform_in_inclusive(gen, c.low, c.high);
            ADD_FAILURE() << "no failure for " << c.low << ", " << c.high;
        } catch (const InternalFailure& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(gen.index(), 64u);  // nothing consumed by a failing draw
}

TEST(IndexBelow, OneAlwaysGivesZeroAndRejectsTopBitValues) {
    auto raw = RandomSource::seed_from_u64(21);
    std::size_t expected_draws = 0;
    for (int call = 0; call < 50; ++call)
        for (;;) {
            ++expected_draws;
            if ((raw.next_u64() >> 63) == 0) break;
        }
    auto gen = RandomSource::seed_from_u64(21);
    for (int call = 0; call < 50; ++call) EXPECT_EQ(index_below(gen, 1), 0u);
    auto counter = RandomSource::seed_from_u64(21);
    for (std::size_t i = 0; i < expected_draws; ++i) counter.next_u64();
    EXPECT_EQ(gen.next_u64(), counter.next_u64());
    EXPECT_GT(expected_draws, 50u);  // some values were rejected
}

TEST(IndexBelow, MatchesWideningMultiplyWithRejection) {
    auto gen = RandomSource::seed_from_u64(8);
    auto raw = RandomSource::seed_from_u64(8);
    const std::uint64_t ns[] = {2, 3, 7, 10, 1000, (1ULL << 63) + 1, ~0ULL};
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t n = ns[round % 7];
        const std::uint64_t zone = (n << std::countl_zero(n)) - 1;
        std::uint64_t expected;
        for (;;) {
            const unsigned __int128 m = static_cast<unsigned __int128>(raw.next_u64()) * n;
            if (static_cast<std::uint64_t>(m) <= zone) {
                expected = static_cast<std::uint64_t>(m >> 64);
                break;
            }
        }
        const std::uint64_t got = index_below(gen, n);
        ASSERT_EQ(got, expected);
        ASSERT_LT(got, n);
    }
}

TEST(CoinFlip, ReadsTheTopBitOfOneWordAndShiftsAlignment) {
    auto words = RandomSource::seed_from_u64(4);
    auto gen = RandomSource::seed_from_u64(4);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(coin_flip(gen), (words.next_u32() >> 31) == 1);
    // One more word read: the following next_u64 starts at an odd word.
    coin_flip(gen);
    const std::uint32_t skipped = words.next_u32();
    (void)skipped;
    const std::uint32_t low = words.next_u32();
    const std::uint32_t high = words.next_u32();
    EXPECT_EQ(gen.next_u64(), low | (static_cast<std::uint64_t>(high) << 32));
}

TEST(FromEntropy, GivesWorkingIndependentGenerators) {
    auto a = RandomSource::from_entropy();
    auto b = RandomSource::from_entropy();
    EXPECT_EQ(a.index(), 64u);
    bool differs = false;
    for (int i = 0; i < 4; ++i) differs |= a.next_u64() != b.next_u64();
    EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace kestrelopt
