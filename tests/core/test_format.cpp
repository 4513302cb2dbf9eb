#include "kestrelopt/format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace kestrelopt {
namespace {

struct FormatCase {
    double value;
    const char* text;
};

class FormatFloat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatFloat, ShortestDigitsWithoutExponent) {
    EXPECT_EQ(format_float(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatFloat,
    ::testing::Values(FormatCase{4.0, "4"}, FormatCase{1.0, "1"}, FormatCase{0.1, "0.1"},
                      FormatCase{1e-7, "0.0000001"}, FormatCase{-0.0, "-0"}, FormatCase{0.0, "0"},
                      FormatCase{-2.5, "-2.5"}, FormatCase{4.1, "4.1"},
                      FormatCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      FormatCase{std::numeric_limits<double>::infinity(), "inf"},
                      FormatCase{-std::numeric_limits<double>::infinity(), "-inf"},
                      FormatCase{123456789012345680.0, "123456789012345680"},
                      FormatCase{1e21, "1000000000000000000000"}, FormatCase{0.001, "0.001"},
                      FormatCase{-1.5e-5, "-0.000015"}));

TEST(FormatFloatLarge, HugeValuesPrintAllDigits) {
    const std::string text = format_float(1e300);
    EXPECT_EQ(text, "1" + std::string(300, '0'));
    EXPECT_EQ(format_float(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
}

TEST(FormatFloatRoundTrip, ReadsBackToTheSameDouble) {
    const double values[] = {5e-324,    2.2250738585072014e-308, 1.7976931348623157e308, 0.3,
                             1.0 / 3.0, 4.440892098500626e-16,   10.240000000000002};
    for (const double v : values) {
        const std::string text = format_float(v);
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
}

}  // namespace
}  // namespace kestrelopt
