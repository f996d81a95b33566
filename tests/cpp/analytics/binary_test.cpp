#include "analytics/binary.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace {

using namespace tessel::analytics;
constexpr OptionType CALL = OptionType::Call;
constexpr OptionType PUT = OptionType::Put;
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// The model's value, written out independently: D N(+-x), x = ln(F/K) / (vol sqrt(T)).
double reference_value(double f, double k, double t, double v, OptionType cp, double df) {
    const double x = std::log(f / k) / (v * std::sqrt(t));
    return df * 0.5 * std::erfc((cp == CALL ? -x : x) / std::sqrt(2.0));
}

using Typed = double (*)(double, double, double, double, OptionType, double);
const Typed SENSITIVITIES[] = {binary_delta, binary_gamma, binary_speed, binary_vega, binary_theta};

template <class D>
double richardson(D&& diff, double h) {
    return (4 * diff(h / 2) - diff(h)) / 3;
}

TEST(Binary, WorkedValuesAtTheMoney) {
    for (OptionType cp : {CALL, PUT}) {
        EXPECT_EQ(binary_fairvalue(100, 100, 1, 0.2, cp, 0.8), 0.4);
        EXPECT_EQ(binary_vega(100, 100, 1, 0.2, cp, 1.0), 0.0);
        EXPECT_EQ(binary_theta(100, 100, 1, 0.2, cp, 1.0), 0.0);
    }
    EXPECT_EQ(binary_delta(100, 100, 1, 0.2, CALL, 1.0), 0.019947114020071634);
    EXPECT_EQ(binary_gamma(100, 100, 1, 0.2, CALL, 1.0), -0.00019947114020071633);
}

TEST(Binary, WorkedValueInTheMoney) {
    const double call = binary_fairvalue(110, 100, 1, 0.2, CALL, 1.0);
    EXPECT_EQ(call, 0.6831590226808273);
    EXPECT_NEAR(binary_fairvalue(110, 100, 1, 0.2, PUT, 1.0), 1.0 - call, 1e-16);
}

TEST(Binary, PutTailComputedDirectly) {
    // 1 - call would round to 0 here; the direct N(-x) keeps the tail.
    const double put = binary_fairvalue(300, 100, 0.25, 0.2, PUT, 0.9);
    EXPECT_GT(put, 0.0);
    EXPECT_NEAR(put / reference_value(300, 100, 0.25, 0.2, PUT, 0.9), 1.0, 1e-12);
}

class BinaryGuard : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(BinaryGuard, PayoffAndZeroSensitivities) {
    const auto [t, v] = GetParam();
    EXPECT_EQ(binary_fairvalue(110, 100, t, v, CALL, 0.9), 0.9);
    EXPECT_EQ(binary_fairvalue(110, 100, t, v, PUT, 0.9), 0.0);
    EXPECT_EQ(binary_fairvalue(90, 100, t, v, PUT, 0.9), 0.9);
    EXPECT_EQ(binary_fairvalue(90, 100, t, v, CALL, 0.9), 0.0);
    EXPECT_EQ(binary_fairvalue(100, 100, t, v, CALL, 0.9), 0.0);
    EXPECT_EQ(binary_fairvalue(100, 100, t, v, PUT, 0.9), 0.0);
    for (OptionType cp : {CALL, PUT}) {
        for (Typed fn : SENSITIVITIES) {
            EXPECT_EQ(fn(110, 100, t, v, cp, 0.9), 0.0);
            EXPECT_EQ(fn(-1, 100, t, v, cp, 0.9), 0.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TimeOrVol, BinaryGuard,
                         ::testing::Values(std::make_tuple(0.0, 0.2), std::make_tuple(-0.5, 0.2),
                                           std::make_tuple(1.0, 0.0), std::make_tuple(1.0, -0.2)));

TEST(Binary, NaNTimeOrVolIsNotGuarded) {
    EXPECT_TRUE(std::isnan(binary_fairvalue(110, 100, NOT_A_NUMBER, 0.2, CALL, 1.0)));
    EXPECT_TRUE(std::isnan(binary_theta(110, 100, 1.0, NOT_A_NUMBER, PUT, 1.0)));
}


// (fwd, ttx, vol, type, df) with strike 100.
class BinaryGrid : public ::testing::TestWithParam<std::tuple<double, double, double, OptionType, double>> {};

TEST_P(BinaryGrid, SensitivitiesAreDerivativesOfValue) {
    const auto [f, t, v, cp, df] = GetParam();
    const double k = 100.0;
    const double value = binary_fairvalue(f, k, t, v, cp, df);
    EXPECT_NEAR(value, reference_value(f, k, t, v, cp, df), 1e-15);

    const auto at_f = [&](double fw) { return reference_value(fw, k, t, v, cp, df); };
    const double u = f * v * std::sqrt(t);  // F moves on this scale
    const double hf = 0.01 * u;
    const double d1 = richardson([&](double h) { return (at_f(f + h) - at_f(f - h)) / (2 * h); }, hf);
    const double d2 = richardson([&](double h) { return (at_f(f + h) - 2 * value + at_f(f - h)) / (h * h); }, hf);
    const double d3 = richardson(
        [&](double h) { return (at_f(f + 2 * h) - 2 * at_f(f + h) + 2 * at_f(f - h) - at_f(f - 2 * h)) / (2 * h * h * h); },
        2 * hf);
    EXPECT_NEAR(binary_delta(f, k, t, v, cp, df), d1, 1e-8 * df / u);
    EXPECT_NEAR(binary_gamma(f, k, t, v, cp, df), d2, 1e-6 * df / (u * u));
    EXPECT_NEAR(binary_speed(f, k, t, v, cp, df), d3, 1e-4 * df / (u * u * u));

    const double hv = 0.01 * v;
    const double dv = richardson(
        [&](double h) { return (reference_value(f, k, t, v + h, cp, df) - reference_value(f, k, t, v - h, cp, df)) / (2 * h); },
        hv);
    EXPECT_NEAR(binary_vega(f, k, t, v, cp, df), dv, 1e-8 * df / v);

    const double ht = 0.01 * t;
    const double dt = richardson(
        [&](double h) { return (reference_value(f, k, t + h, v, cp, df) - reference_value(f, k, t - h, v, cp, df)) / (2 * h); },
        ht);
    EXPECT_NEAR(binary_theta(f, k, t, v, cp, df), -dt, 1e-8 * df / t);

    const OptionType other = cp == CALL ? PUT : CALL;
    for (Typed fn : SENSITIVITIES) EXPECT_EQ(fn(f, k, t, v, cp, df), -fn(f, k, t, v, other, df));
}

INSTANTIATE_TEST_SUITE_P(Grid, BinaryGrid,
                         ::testing::Combine(::testing::Values(80.0, 100.0, 125.0), ::testing::Values(0.25, 1.0, 3.0),
                                            ::testing::Values(0.2, 0.6), ::testing::Values(CALL, PUT),
                                            ::testing::Values(1.0, 0.9)));

}  // namespace
