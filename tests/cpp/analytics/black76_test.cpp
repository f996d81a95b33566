#include "analytics/black76.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "analytics/normal.hpp"

namespace {

using namespace tessel::analytics;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr OptionType kCall = OptionType::Call;
constexpr OptionType kPut = OptionType::Put;

TEST(Normal, SpecialValues) {
    EXPECT_EQ(norm_cdf(-kInf), 0.0);
    EXPECT_EQ(norm_cdf(kInf), 1.0);
    EXPECT_TRUE(std::isnan(norm_cdf(kNaN)));
    EXPECT_EQ(norm_cdf(0.0), 0.5);
    EXPECT_EQ(norm_pdf(kInf), 0.0);
    EXPECT_EQ(norm_pdf(0.0), 1.0 / SQRT_2PI);
    // The double nearest sqrt(2 pi), which sqrt(2.0 * pi) misses by one ulp.
    EXPECT_EQ(SQRT_2PI, 2.506628274631000502415765284811045253);
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
    EXPECT_EQ(b76_fairvalue(100, 100, 1, 0.2, kCall, 1.0), 7.965567455405804);
    EXPECT_EQ(b76_fairvalue(100, 100, 1, 0.2, kPut, 1.0), 7.965567455405804);
    EXPECT_EQ(b76_delta(100, 100, 1, 0.2, kCall, 1.0), 0.01984762737385059);
    EXPECT_EQ(b76_delta(100, 100, 1, 0.2, kPut, 1.0), -0.01984762737385059);
    EXPECT_EQ(b76_gamma(100, 100, 1, 0.2, 1.0), 0.00019847627373850588);
    EXPECT_EQ(b76_vega(100, 100, 1, 0.2, 1.0), 39.69525474770118);
}

// (ttx, vol) pairs that hit the guard.
class Black76Guard : public ::testing::TestWithParam<std::tuple<double, double>> {};

TEST_P(Black76Guard, DiscountedIntrinsicAndZeroSensitivities) {
    const auto [t, v] = GetParam();
    EXPECT_EQ(b76_fairvalue(110, 100, t, v, kCall, 0.9), 9.0);
    EXPECT_EQ(b76_fairvalue(110, 100, t, v, kPut, 0.9), 0.0);
    EXPECT_EQ(b76_fairvalue(90, 100, t, v, kPut, 0.5), 5.0);
    for (OptionType cp : {kCall, kPut}) {
        EXPECT_EQ(b76_delta(110, 100, t, v, cp, 0.9), 0.0);
        EXPECT_EQ(b76_delta(-1, 100, t, v, cp, 0.9), 0.0);  // no logarithm taken
    }
    EXPECT_EQ(b76_vega(110, 100, t, v, 0.9), 0.0);
    EXPECT_EQ(b76_gamma(110, 100, t, v, 0.9), 0.0);
}

INSTANTIATE_TEST_SUITE_P(TimeOrVol, Black76Guard,
                         ::testing::Values(std::make_tuple(0.0, 0.2), std::make_tuple(-1.0, 0.2),
                                           std::make_tuple(1.0, 0.0), std::make_tuple(1.0, -0.3),
                                           std::make_tuple(-0.0, -kInf)));

TEST(Black76, NaNTimeOrVolIsNotGuarded) {
    EXPECT_TRUE(std::isnan(b76_fairvalue(110, 100, kNaN, 0.2, kCall, 1.0)));
    EXPECT_TRUE(std::isnan(b76_delta(110, 100, 1.0, kNaN, kPut, 1.0)));
    EXPECT_TRUE(std::isnan(b76_vega(110, 100, kNaN, 0.2, 1.0)));
    EXPECT_TRUE(std::isnan(b76_gamma(110, 100, 1.0, kNaN, 1.0)));
}

TEST(Black76, ForwardAndStrikeUnchecked) {
    EXPECT_EQ(b76_fairvalue(0, 100, 1, 0.2, kCall, 1.0), 0.0);
    EXPECT_EQ(b76_fairvalue(0, 100, 1, 0.2, kPut, 0.5), 50.0);
    EXPECT_TRUE(std::isnan(b76_fairvalue(-5, 100, 1, 0.2, kCall, 1.0)));
}

TEST(Black76, TextVersionsParseFirst) {
    EXPECT_EQ(b76_fairvalue(110, 100, 0.5, 0.3, "Put", 0.9).value(), b76_fairvalue(110, 100, 0.5, 0.3, kPut, 0.9));
    EXPECT_EQ(b76_delta(110, 100, 0.5, 0.3, "C", 0.9).value(), b76_delta(110, 100, 0.5, 0.3, kCall, 0.9));
    // Refused even where the guard makes the type irrelevant.
    const auto r = b76_delta(110, 100, 0.0, 0.2, "cal", 1.0);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Unknown option type: 'cal'. Use 'call'/'c' or 'put'/'p'.");
    EXPECT_FALSE(b76_fairvalue(110, 100, 0.0, 0.2, "", 1.0).ok());
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
    const double call = b76_fairvalue(f, k, t, v, kCall, df);
    const double put = b76_fairvalue(f, k, t, v, kPut, df);
    EXPECT_NEAR(call - put, df * (f - k), 1e-12 * f);
    EXPECT_EQ(b76_delta(f, k, t, v, kPut, df), -b76_delta(f, k, t, v, kCall, df));
    EXPECT_NEAR(b76_fairvalue(f, k, t, v, kCall, 1.0) * df, call, 1e-13 * f);

    // Vega is the derivative of the value in vol.
    const double hv = 1e-5;
    const double fd_vega =
        (b76_fairvalue(f, k, t, v + hv, kCall, df) - b76_fairvalue(f, k, t, v - hv, kCall, df)) / (2 * hv);
    EXPECT_NEAR(b76_vega(f, k, t, v, df), fd_vega, 1e-6 * f);

    // Delta is D * dN(d1)/dF, with d1 re-derived here; it also equals the
    // second derivative of the call value in F. Gamma is that over F.
    const auto disc_n_d1 = [&](double fw) {
        const double d1 = (std::log(fw / k) + v * v * t / 2) / (v * std::sqrt(t));
        return df * 0.5 * std::erfc(-d1 / std::sqrt(2.0));
    };
    const auto call_at = [&](double fw) { return b76_fairvalue(fw, k, t, v, kCall, df); };
    const double scale = f * v * std::sqrt(t);  // F moves on this scale
    const double delta = b76_delta(f, k, t, v, kCall, df);
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
