#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "support.hpp"
#include "volmodel/vol_geo.hpp"

using namespace tessel::volmodel;
using namespace volmodel_test;

namespace {

const double E = std::exp(1.0);

// The quadratic's larger root, recomputed from scratch for every strike.
double reference_vol(const ParamMap& params, double ttx, double spot, double k) {
    const VolGeo m = VolGeo::from_params(params, {});
    auto p = [&](const char* n) { return *m.get_parameter(n); };
    const double e = std::exp(2.0 * p("corr"));
    const double rho = (e - 1.0) / (e + 1.0);
    const double vv = p("vvol"), rv = p("ref_vol");
    const double atm = ((((std::log(spot / p("ref_spot")) / std::sqrt(ttx)) / rv) * (vv * rho)) * p("vpr")) + rv;
    const double sigma = atm / 100.0;
    const double k1 = (vv * rho) / 100.0;
    const double k2 = (((1.0 - rho * rho) * (vv * vv)) / (sigma * 100.0)) / 100.0;
    const double x = std::log(k / spot) / std::sqrt(ttx);
    const double g = ((2.0 * k1) * x) * sigma + sigma * sigma;
    return std::sqrt((std::sqrt(((k2 * x) * x) * 4.0 + g * g) + g) * 0.5);
}

class VolGeoReference : public ::testing::TestWithParam<ParamMap> {};

TEST_P(VolGeoReference, MatchesStraightforwardFormulaOnGrid) {
    const VolGeo m = VolGeo::from_params(GetParam(), {});
    for (double ttx : TTXS)
        for (double spot : SPOTS)
            for (double k : STRIKES) {
                const double expected = reference_vol(GetParam(), ttx, spot, k);
                EXPECT_TRUE(same_bits(m.get_vol_single(ttx, spot, k), expected)) << ttx << " " << spot << " " << k;
            }
}

INSTANTIATE_TEST_SUITE_P(ParamSets, VolGeoReference,
                         ::testing::Values(ParamMap{}, ParamMap{{"corr", 0.5}},
                                           ParamMap{{"corr", -1.2}, {"vvol", 80}, {"vpr", 2}, {"ref_spot", 90}},
                                           ParamMap{{"ref_vol", -20}, {"corr", 0.3}},  // k2 < 0
                                           ParamMap{{"corr", 400}}, ParamMap{{"corr", -400}}));

TEST(VolGeo, WorkedValues) {
    const VolGeo d;
    EXPECT_EQ(d.get_vol_single(1, 100, 100), 0.5);
    EXPECT_EQ(d.get_vol_single(1, 100, 100 * E), 0.6589635209336892);
    EXPECT_EQ(d.get_vol_single(1, 100, 100 / E), 0.6589635209336892);
    const VolGeo c = VolGeo::from_params({{"corr", 0.5}}, {});
    EXPECT_EQ(c.get_vol_single(1, 100, 100), 0.5);
    EXPECT_EQ(c.get_vol_single(1, 100, 100 * E), 0.6891331069644575);
    EXPECT_EQ(c.get_vol_single(1, 100, 100 / E), 0.5845524796821399);
    EXPECT_EQ(c.get_vol_single(1, 110, 100), 0.4936684306785863);
    VolGeo r = c;
    r.reanchor(110, 1);
    EXPECT_NEAR(*r.get_parameter("ref_vol"), 50.017617787739646, 1e-12);
    EXPECT_EQ(r.get_parameter("corr"), 0.5);
}

TEST(VolGeo, DegenerateCorrelationAndTime) {
    for (double k : STRIKES) {
        EXPECT_TRUE(std::isnan(VolGeo().get_vol_single(0.0, 100, k)));
        EXPECT_TRUE(std::isnan(VolGeo::from_params({{"corr", 400}}, {}).get_vol_single(1, 100, k)));
    }
    const VolGeo m = VolGeo::from_params({{"corr", -400}}, {});  // rho = -1, k2 = 0: v = max(g, 0)
    for (double k : {80.0, 100.0, 300.0, 400.0, 1e4}) {
        const double g = ((2.0 * -0.2) * std::log(k / 100)) * 0.5 + 0.25;
        EXPECT_EQ(m.get_vol_single(1, 100, k), std::sqrt(std::max(g, 0.0))) << k;
    }
}

TEST(VolGeo, ZeroCorrIgnoresAnchorAndOffsetIgnored) {
    const VolGeo base = VolGeo::from_params({{"ref_vol", 30}}, {});
    const VolGeo moved = VolGeo::from_params({{"ref_vol", 30}, {"ref_spot", 70}, {"vpr", 3}, {"offset", 3}}, {});
    for (double spot : SPOTS) {
        const auto a = base.get_vol(0.4, spot, STRIKES), b = moved.get_vol(0.4, spot, STRIKES);
        for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(same_bits(a[i], b[i])) << spot << " " << STRIKES[i];
    }
    EXPECT_EQ(moved.get_parameter("offset"), 3.0);
    const Jacobian j = moved.get_jacobian(0.4, 90, std::vector<double>{80, 100, 125}, std::vector<std::string>{"offset"});
    EXPECT_EQ(j[0].values, (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST(VolGeo, ArbFreeBoundariesAndBumpGating) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::tuple<const char*, double, bool>> cases{
        {"vvol", 1.0, true}, {"vvol", 0.999, false}, {"ref_vol", 1.0, false}, {"ref_vol", 1.0001, true},
        {"vvol", nan, false}, {"ref_vol", nan, false}, {"corr", 1000.0, true}, {"offset", nan, true}};
    for (const auto& [name, value, expected] : cases) EXPECT_EQ(VolGeo::from_params({{name, value}}, {}).arb_free(), expected) << name << value;

    VolGeo m;
    m.bump_param("vvol", -19.5);
    EXPECT_EQ(m.get_parameter("vvol"), 20.0);
    m.bump_param("corr", 0.5);
    EXPECT_EQ(m.get_parameter("corr"), 0.5);
    EXPECT_EQ(m.get_fitting_params(), (std::vector<std::string>{"ref_vol", "corr", "vvol"}));
}

}  // namespace
