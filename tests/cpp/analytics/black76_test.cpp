#include "analytics/black76.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>

#include "analytics/normal.hpp"

namespace {

using namespace tessel::analytics;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr OptionType CALL = OptionType::Call;
constexpr OptionType PUT = OptionType::Put;

TEST(Normal, SpecialValues) {
    EXPECT_EQ(norm_cdf(-INF), 0.0);
    EXPECT_EQ(norm_cdf(INF), 1.0);
    EXPECT_TRUE(std::isnan(norm_cdf(NOT_A_NUMBER)));
    EXPECT_EQ(norm_cdf(0.0), 0.5);
    EXPECT_EQ(norm_pdf(INF), 0.0);
    EXPECT_EQ(norm_pdf(0.0), 1.0 / SQRT_2PI);
    // The double nearest sqrt(2 pi), which sqrt(2.0 * pi) misses by one ulp:
    // its square is closer to 2 pi than either neighbour's.
    const long double two_pi = 2.0L * std::numbers::pi_v<long double>;
    const auto miss = [&](double r) { return std::fabs(static_cast<long double>(r) * r - two_pi); };
    EXPECT_LT(miss(SQRT_2PI), miss(std::nextafter(SQRT_2PI, 0.0)));
    EXPECT_LT(miss(SQRT_2PI), miss(std::nextafter(SQRT_2PI, 3.0)));
    EXPECT_NE(SQRT_2PI, std::sqrt(2.0 * std::numbers::pi));
}

TEST(Normal, TabulatedValuesAndTails) {
    EXPECT_NEAR(norm_cdf(1.0), 0.8413447460685429, 2e-16);
    EXPECT_NEAR(norm_cdf(-1.959963984540054), 0.025, 1e-16);
    // Far tail keeps relative accuracy instead of cancelling to 0.
    EXPECT_NEAR(norm_cdf(-10.0) / 7.619853024160527e-24, 1.0, 1e-14);
    EXPECT_EQ(norm_cdf(40.0), 1.0);
}

TEST(Normal, PdfIsDerivativeOfCdf) {
    for (double x : {-3.0, -1.0, -0.2, 0.0, 0.7, 2.5}) {
        const double h = 1e-5;
        EXPECT_NEAR((norm_cdf(x + h) - norm_cdf(x - h)) / (2 * h), norm_pdf(x), 1e-10) << x;
        EXPECT_NEAR(norm_cdf(x) + norm_cdf(-x), 1.0, 2e-16) << x;
    }
}

TEST(Black76, WorkedValuesAtTheMoney) {
    EXPECT_EQ(b76_fairvalue(100, 100, 1, 0.2, CALL, 1.0), 7.965567455405804);
    EXPECT_EQ(b76_fairvalue(100, 100, 1, 0.2, PUT, 1.0), 7.965567455405804);
    EXPECT_EQ(b76_delta(100, 100, 1, 0.2, CALL, 1.0), 0.01984762737385059);
    EXPECT_EQ(b76_delta(100, 100, 1, 0.2, PUT, 1.0), -0.01984762737385059);
    EXPECT_EQ(b76_gamma(100, 100, 1, 0.2, 1.0), 0.00019847627373850588);
    EXPECT_EQ(b76_vega(100, 100, 1, 0.2, 1.0), 39.69525474770118);
}

// (ttx, vol) pairs that hit the guard.
class Black76Guard : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(Black76Guard, DiscountedIntrinsicAndZeroSensitivities) {
    const auto [t, v] = GetParam();
    EXPECT_EQ(b76_fairvalue(110, 100, t, v, CALL, 0.9), 9.0);
    EXPECT_EQ(b76_fairvalue(110, 100, t, v, PUT, 0.9), 0.0);
    EXPECT_EQ(b76_fairvalue(90, 100, t, v, PUT, 0.5), 5.0);
    for (OptionType cp : {CALL, PUT}) {
        EXPECT_EQ(b76_delta(110, 100, t, v, cp, 0.9), 0.0);
        EXPECT_EQ(b76_delta(-1, 100, t, v, cp, 0.9), 0.0);  // no logarithm taken
    }
    EXPECT_EQ(b76_vega(110, 100, t, v, 0.9), 0.0);
    EXPECT_EQ(b76_gamma(110, 100, t, v, 0.9), 0.0);
}

INSTANTIATE_TEST_SUITE_P(TimeOrVol, Black76Guard,
                         ::testing::Values(std::make_tuple(0.0, 0.2), std::make_tuple(-1.0, 0.2),
                                           std::make_tuple(1.0, 0.0), std::make_tuple(1.0, -0.3),
                                           std::make_tuple(-0.0, -INF)));

TEST(Black76, NaNTimeOrVolIsNotGuarded) {
    EXPECT_TRUE(std::isnan(b76_fairvalue(110, 100, NOT_A_NUMBER, 0.2, CALL, 1.0)));
    EXPECT_TRUE(std::isnan(b76_delta(110, 100, 1.0, NOT_A_NUMBER, PUT, 1.0)));
    EXPECT_TRUE(std::isnan(b76_vega(110, 100, NOT_A_NUMBER, 0.2, 1.0)));
    EXPECT_TRUE(std::isnan(b76_gamma(110, 100, 1.0, NOT_A_NUMBER, 1.0)));
}

TEST(Black76, ForwardAndStrikeUnchecked) {
    EXPECT_EQ(b76_fairvalue(0, 100, 1, 0.2, CALL, 1.0), 0.0);
    EXPECT_EQ(b76_fairvalue(0, 100, 1, 0.2, PUT, 0.5), 50.0);
    EXPECT_TRUE(std::isnan(b76_fairvalue(-5, 100, 1, 0.2, CALL, 1.0)));
}

// Central difference with step h and h/2 combined to cancel the h^2 term.
template <class D>
double richardson(D&& diff, double h) {
    return (4 * diff(h / 2) - diff(h)) / 3;
}

// (fwd, ttx, vol, df) with strike 100.
class Black76Grid : public ::testing::TestWithParam<std::tuple<double, double, double, double>> {};

TEST_P(Black76Grid, ParityAndFiniteDifferences) {
    const auto [f, t, v, df] = GetParam();
    const double k = 100.0;
    const double call = b76_fairvalue(f, k, t, v, CALL, df);
    const double put = b76_fairvalue(f, k, t, v, PUT, df);
    EXPECT_NEAR(call - put, df * (f - k), 1e-12 * f);
    EXPECT_EQ(b76_delta(f, k, t, v, PUT, df), -b76_delta(f, k, t, v, CALL, df));
    EXPECT_NEAR(b76_fairvalue(f, k, t, v, CALL, 1.0) * df, call, 1e-13 * f);

    // Vega is the derivative of the value in vol.
    const double hv = 1e-5;
    const double fd_vega =
        (b76_fairvalue(f, k, t, v + hv, CALL, df) - b76_fairvalue(f, k, t, v - hv, CALL, df)) / (2 * hv);
    EXPECT_NEAR(b76_vega(f, k, t, v, df), fd_vega, 1e-6 * f);

    // Delta is D * dN(d1)/dF, with d1 re-derived here; it also equals the
    // second derivative of the call value in F. Gamma is that over F.
    const auto disc_n_d1 = [&](double fw) {
        const double d1 = (std::log(fw / k) + v * v * t / 2) / (v * std::sqrt(t));
        return df * 0.5 * std::erfc(-d1 / std::sqrt(2.0));
    };
    const auto call_at = [&](double fw) { return b76_fairvalue(fw, k, t, v, CALL, df); };
    const double scale = f * v * std::sqrt(t);  // F moves on this scale
    const double delta = b76_delta(f, k, t, v, CALL, df);
    EXPECT_NEAR(delta, richardson([&](double h) { return (disc_n_d1(f + h) - disc_n_d1(f - h)) / (2 * h); },
                                  1e-2 * scale),
                1e-8 * std::abs(delta));
    EXPECT_NEAR(delta,
                richardson([&](double h) { return (call_at(f + h) - 2 * call + call_at(f - h)) / (h * h); },
                           5e-2 * scale),
                1e-5 * std::abs(delta));
    EXPECT_NEAR(b76_gamma(f, k, t, v, df), delta / f, 1e-15 * std::abs(delta / f));
}

INSTANTIATE_TEST_SUITE_P(Grid, Black76Grid,
                         ::testing::Combine(::testing::Values(80.0, 100.0, 125.0), ::testing::Values(0.25, 1.0, 4.0),
                                            ::testing::Values(0.2, 0.6), ::testing::Values(1.0, 0.93)));

}  // namespace
