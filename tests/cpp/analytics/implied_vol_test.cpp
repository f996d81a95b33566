#include "analytics/implied_vol.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "analytics/black76.hpp"

namespace {

using namespace tessel::analytics;
constexpr OptionType CALL = OptionType::Call;
constexpr OptionType PUT = OptionType::Put;
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

TEST(ImpliedVol, WorkedAtTheMoneyValue) {
    // Only as close to 0.2 as the 1e-4 tolerance lets it get.
    EXPECT_EQ(calibrate_black76_iv(1, 100, 100, 7.965567455405804, CALL, 1.0), 0.20001446329252923);
}

TEST(ImpliedVol, ZeroTimeMatchesOnlyIntrinsic) {
    EXPECT_EQ(calibrate_black76_iv(0, 110, 100, 10.0, CALL, 1.0), 10.0);
    EXPECT_EQ(calibrate_black76_iv(-1, 90, 100, 9.0, PUT, 0.9), 10.0);
    EXPECT_TRUE(std::isnan(calibrate_black76_iv(0, 110, 100, 10.5, CALL, 1.0)));
    EXPECT_TRUE(std::isnan(calibrate_black76_iv(0, 110, 100, 9.5, CALL, 1.0)));
}

struct Unmatched {
    double ttx, fwd, strike, price;
    OptionType cp;
    double df;
};

class ImpliedVolNaN : public ::testing::TestWithParam<Unmatched> {};

TEST_P(ImpliedVolNaN, GivesNaN) {
    const Unmatched& c = GetParam();
    EXPECT_TRUE(std::isnan(calibrate_black76_iv(c.ttx, c.fwd, c.strike, c.price, c.cp, c.df)));
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, ImpliedVolNaN,
                         ::testing::Values(Unmatched{1, 100, 100, 0.0, CALL, 1.0},
                                           Unmatched{1, 100, 100, 150.0, CALL, 1.0},
                                           Unmatched{1, 100, 100, -1.0, PUT, 1.0},
                                           Unmatched{1, 100, 120, 0.9 * 100 + 1e-9, CALL, 0.9}));

// A NaN objective is refused up front instead of being bisected down to 0.01.
INSTANTIATE_TEST_SUITE_P(NaNInput, ImpliedVolNaN,
                         ::testing::Values(Unmatched{1, 100, 100, NOT_A_NUMBER, CALL, 1.0},
                                           Unmatched{1, NOT_A_NUMBER, 100, 8.0, CALL, 1.0},
                                           Unmatched{1, 100, NOT_A_NUMBER, 8.0, PUT, 1.0},
                                           Unmatched{1, 100, 100, 8.0, CALL, NOT_A_NUMBER},
                                           Unmatched{NOT_A_NUMBER, 100, 100, 8.0, CALL, 1.0},
                                           Unmatched{0, 110, 100, NOT_A_NUMBER, CALL, 1.0}));

// (fwd, ttx, vol, type, df) with strike 100.
class ImpliedVolRoundTrip
    : public ::testing::TestWithParam<std::tuple<double, double, double, OptionType, double>> {};

TEST_P(ImpliedVolRoundTrip, RecoversVolWithinTolerance) {
    const auto [f, t, v, cp, df] = GetParam();
    const double price = b76_fairvalue(f, 100, t, v, cp, df);
    const double iv = calibrate_black76_iv(t, f, 100, price, cp, df);
    EXPECT_NEAR(iv, v, 1e-4) << "price " << price;
    EXPECT_GE(iv, 0.01);
    EXPECT_LE(iv, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Grid, ImpliedVolRoundTrip,
                         ::testing::Combine(::testing::Values(80.0, 100.0, 125.0), ::testing::Values(0.25, 1.0, 4.0),
                                            ::testing::Values(0.1, 0.3, 1.0, 3.0), ::testing::Values(CALL, PUT),
                                            ::testing::Values(1.0, 0.9)));

}  // namespace
