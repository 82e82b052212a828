// The portable time arithmetic against the compiler's exact arithmetic: every pair and triple of edge values,
// then random values of every magnitude.
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "support/wide_math.h"

#if !defined(__SIZEOF_INT128__)
#error "the exact reference needs the compiler's 128-bit type: these tests run on a 64-bit Linux build"
#endif

namespace {
namespace ref = wide_math_reference;

std::vector<int64_t> EdgeValues() {
    std::vector<int64_t> v = {0,
                              1,
                              2,
                              3,
                              7,
                              1000,
                              44100,
                              48000,
                              10000000,
                              (int64_t{1} << 31) - 1,
                              int64_t{1} << 31,
                              (int64_t{1} << 32) - 1,
                              int64_t{1} << 32,
                              (int64_t{1} << 32) + 1,
                              int64_t{1} << 40,
                              int64_t{1} << 62,
                              (int64_t{1} << 62) + 1,
                              3037000499, // the largest square below 2^63: sqrt(2^63 - 1) rounded down
                              3037000500,
                              INT64_MAX / 10000000,
                              INT64_MAX / 10000000 + 1,
                              INT64_MAX / 2,
                              INT64_MAX / 2 + 1,
                              INT64_MAX - 1,
                              INT64_MAX};
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i)
        if (v[i] != 0) v.push_back(-v[i]);
    v.push_back(INT64_MIN);
    v.push_back(INT64_MIN + 1);
    return v;
}

TEST(WideMath, SaturatingSumsDifferencesAndProductsOnEveryPairOfEdgeValues) {
    const auto v = EdgeValues();
    for (int64_t a : v)
        for (int64_t b : v) {
            ASSERT_EQ(SatAdd(a, b), ref::SatAdd(a, b)) << a << " + " << b;
            ASSERT_EQ(SatSub(a, b), ref::SatSub(a, b)) << a << " - " << b;
            ASSERT_EQ(SatMul(a, b), ref::SatMul(a, b)) << a << " * " << b;
        }
}

TEST(WideMath, ExactScalingOnEveryTripleOfEdgeValues) {
    const auto v = EdgeValues();
    for (int64_t g : v)
        for (int64_t num : v)
            for (int64_t den : v)
                ASSERT_EQ(ScaleGranule(g, num, den), ref::ScaleGranule(g, num, den))
                    << g << " * " << num << " / " << den;
}

// Random values with a random number of significant bits, so that every size of product and quotient comes
// up.
TEST(WideMath, RandomValuesOfEveryMagnitude) {
    std::mt19937_64 random(20240601);
    auto value = [&] {
        const int bits = static_cast<int>(random() % 64);
        int64_t x = static_cast<int64_t>(random() >> (63 - bits));
        return random() % 2 ? x : (x == INT64_MIN ? x : -x);
    };
    for (int i = 0; i < 300000; ++i) {
        const int64_t a = value(), b = value(), c = value();
        ASSERT_EQ(SatAdd(a, b), ref::SatAdd(a, b)) << a << " + " << b;
        ASSERT_EQ(SatSub(a, b), ref::SatSub(a, b)) << a << " - " << b;
        ASSERT_EQ(SatMul(a, b), ref::SatMul(a, b)) << a << " * " << b;
        ASSERT_EQ(ScaleGranule(a, b, c), ref::ScaleGranule(a, b, c)) << a << " * " << b << " / " << c;
    }
}

// The rounding the timeline relies on, stated on its own: nearest for positive values, a remainder of exactly
// half down, toward zero for negative values; no time for a divisor that is not positive; the ends held.
TEST(WideMath, RoundingAndRangeAsStated) {
    EXPECT_EQ(ScaleGranule(1, 10000000, 44100), 227); // 226.757...
    EXPECT_EQ(ScaleGranule(3, 1, 2), 1);              // 1.5: half rounds down
    EXPECT_EQ(ScaleGranule(5, 1, 3), 2);              // 1.67
    EXPECT_EQ(ScaleGranule(-5, 1, 3), -1);            // -1.67: toward zero
    EXPECT_EQ(ScaleGranule(5, 1, 0), -1);
    EXPECT_EQ(ScaleGranule(5, 1, -3), -1);
    EXPECT_EQ(ScaleGranule(INT64_MAX, INT64_MAX, 1), INT64_MAX);
    EXPECT_EQ(ScaleGranule(INT64_MIN, INT64_MAX, 1), INT64_MIN);
    EXPECT_EQ(ScaleGranule(INT64_MAX, 10000000, 10000000), INT64_MAX); // exact through a 128-bit product
    EXPECT_EQ(ScaleGranule(INT64_MIN, 10000000, 10000000), INT64_MIN);
    EXPECT_EQ(SatMul(INT64_MIN, -1), INT64_MAX);
    EXPECT_EQ(SatMul(INT64_MIN, 1), INT64_MIN);
    EXPECT_EQ(SatSub(0, INT64_MIN), INT64_MAX);
    EXPECT_EQ(SatSub(-1, INT64_MIN), INT64_MAX);
}
} // namespace
