#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "support.hpp"
#include "volmodel/gvv_spline.hpp"

using namespace tessel::volmodel;
using namespace volmodel_test;

namespace {

// Straight from the formula, one strike at a time; spot is not an input.
double reference_vol(const ParamMap& params, double ttx, double k) {
    const GVVSpline m = GVVSpline::from_params(params, {});
    auto p = [&](const char* n) { return *m.get_parameter(n); };
    const double z = std::log(k / p("ref_spot")) / std::sqrt(ttx);
    const double y = (1.0 - std::exp(-z * z) * 0.5) * z;
    const double s0 = p("ref_vol") / 100.0, sk = p("skew") / 100.0, sm = p("smile") / 100.0;
    const double a = ((sk + sk) * y) * s0 + s0 * s0;
    const double v = (std::sqrt(sm * y * y * 4.0 + a * a) + a) * 0.5;
    const double w = std::tanh(y / std::sqrt(v) / 6.0) * 6.0;
    const double w4 = (w * w) * (w * w);
    const double u = y < 0.0 ? (p("pwing") / 100.0) * w4 + v : y > 0.0 ? w4 * (p("cwing") / 100.0) + v : v;
    return std::sqrt(u);
}

class GVVReference : public ::testing::TestWithParam<ParamMap> {};

TEST_P(GVVReference, MatchesStraightforwardFormulaOnGrid) {
    const GVVSpline m = GVVSpline::from_params(GetParam(), {});
    for (double ttx : TTXS)
        for (double k : STRIKES) {
            const double expected = reference_vol(GetParam(), ttx, k);
            for (double spot : SPOTS) {
                const double v = m.get_vol_single(ttx, spot, k);
                if (std::isfinite(expected)) {
                    EXPECT_TRUE(same_bits(v, expected)) << ttx << " " << k << ": " << v << " vs " << expected;
                } else {  // every non-finite result is the positive quiet NaN
                    EXPECT_TRUE(std::isnan(v) && !std::signbit(v)) << ttx << " " << k << ": " << v;
                }
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    ParamSets, GVVReference,
    ::testing::Values(ParamMap{}, ParamMap{{"ref_vol", 20}, {"skew", -10}, {"smile", 5}, {"pwing", 10}, {"cwing", 5}},
                      ParamMap{{"ref_spot", 90}, {"ref_vol", 35}, {"skew", 12}, {"smile", 1}, {"cwing", 30}},
                      ParamMap{{"ref_vol", 0}, {"smile", 0}, {"pwing", 3}},   // V = 0: saturated wing
                      ParamMap{{"ref_vol", 20}, {"smile", 2}, {"cwing", -40}}));  // negative variance

TEST(GVVSpline, WorkedValues) {
    const GVVSpline m = GVVSpline::from_params({{"ref_vol", 20}, {"skew", -10}, {"smile", 5}, {"pwing", 10}, {"cwing", 5}}, {});
    EXPECT_NEAR(m.get_vol_single(0.25, 100, 80), 0.384674, 5e-7);
    EXPECT_EQ(m.get_vol_single(0.25, 100, 100), 0.2);
    EXPECT_NEAR(m.get_vol_single(0.25, 100, 125), 0.341095, 5e-7);
    const GVVSpline d;
    EXPECT_NEAR(d.get_vol_single(1.0, 100, 80), 0.502701, 5e-7);
    EXPECT_NEAR(d.get_vol_single(1.0, 100, 125), 0.502701, 5e-7);
    for (double ttx : {0.01, 0.5, 3.0}) {
        EXPECT_EQ(d.get_vol_single(ttx, 100, 100), 0.5);
        for (double k : {50.0, 80.0, 99.0}) EXPECT_NEAR(d.get_vol_single(ttx, 100, k), d.get_vol_single(ttx, 100, 10000 / k), 1e-15);
    }
}

TEST(GVVSpline, WingsActOnOneSideAndSpotIsIgnored) {
    const GVVSpline flat = GVVSpline::from_params({{"ref_vol", 20}}, {});
    const GVVSpline put = GVVSpline::from_params({{"ref_vol", 20}, {"pwing", 10}}, {});
    for (double k : {100.0, 100.01, 125.0, 400.0}) EXPECT_TRUE(same_bits(put.get_vol_single(0.25, 1, k), flat.get_vol_single(0.25, 1, k)));
    EXPECT_GT(put.get_vol_single(0.25, 1, 80), flat.get_vol_single(0.25, 1, 80));
    EXPECT_EQ(put.get_vol(0.25, 50.0, STRIKES).size(), STRIKES.size());
    const auto a = put.get_vol(0.25, 50.0, STRIKES), b = put.get_vol(0.25, 150.0, STRIKES);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(same_bits(a[i], b[i]));
}

TEST(GVVSpline, ArbFreeBoundariesAndBumpGating) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::tuple<const char*, double, bool>> cases{
        {"smile", 1.0, true},     {"smile", 0.9999, false}, {"ref_vol", 10.0, false}, {"ref_vol", 10.0001, true},
        {"pwing", -0.0001, false}, {"cwing", -0.0001, false}, {"pwing", 0.0, true},   {"ref_vol", nan, false},
        {"skew", -1e6, true},     {"vpr", nan, true},       {"offset", -9.0, true}};
    for (const auto& [name, value, expected] : cases) EXPECT_EQ(GVVSpline::from_params({{name, value}}, {}).arb_free(), expected) << name << value;

    GVVSpline m;
    m.bump_param("smile", -4.5);
    EXPECT_EQ(m.get_parameter("smile"), 5.0);
    m.bump_param("smile", -4.0);
    EXPECT_EQ(m.get_parameter("smile"), 1.0);
    m.bump_param("skew", -7.0);
    EXPECT_EQ(m.get_parameter("skew"), -7.0);
    EXPECT_EQ(m.get_fitting_params(), (std::vector<std::string>{"ref_vol", "skew", "smile"}));
}

TEST(GVVSpline, JacobianIgnoresSpotAndOnlyVolInputsMove) {
    const GVVSpline m;
    const std::vector<std::string> names{"ref_vol", "vpr", "offset", "skew"};
    const Jacobian j = m.get_jacobian(0.5, 100.0, std::vector<double>{100.0, 80.0}, names);
    EXPECT_EQ(j[0].values[0], (50.01 / 100 - 0.5) / 0.01);
    for (int c : {1, 2}) EXPECT_EQ(j[c].values, (std::vector<double>{0.0, 0.0}));
    const Jacobian other = m.get_jacobian(0.5, 61.0, std::vector<double>{100.0, 80.0}, names);
    for (std::size_t c = 0; c < names.size(); ++c) EXPECT_EQ(other[c].values, j[c].values);
}

}  // namespace
