#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "support.hpp"
#include "volmodel/cubic_spline.hpp"

using namespace tessel::volmodel;
using namespace volmodel_test;

namespace {

// Explicit pillars, linear interval search and the textbook Hermite basis.
double reference_vol(const ParamMap& params, double ttx, double spot, double k) {
    const CubicSpline m = CubicSpline::from_params(params, {});
    auto p = [&](const char* n) { return *m.get_parameter(n); };
    const double x[11] = {-5.0, -2.5, -1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.5, 5.0};
    const double r = (std::log(spot / p("ref_spot")) / std::log(ttx)) / p("ref_vol");
    const double a = ((((p("p05") - p("c05")) / 0.1) * 100.0) * r) * p("vpr") + p("ref_vol");
    const double P1 = 0.0 + p("p05"), P2 = P1 + p("p10"), P3 = P2 + p("p15"), P4 = P3 + p("p20"), P5 = P4 + p("p25");
    const double C1 = 0.0 + p("c05"), C2 = C1 + p("c10"), C3 = C2 + p("c15"), C4 = C3 + p("c20"), C5 = C4 + p("c25");
    const double u[11] = {(P5 + a) / 100, (P4 + a) / 100, (P3 + a) / 100, (P2 + a) / 100, (P1 + a) / 100, a / 100,
                          (C1 + a) / 100, (C2 + a) / 100, (C3 + a) / 100, (C4 + a) / 100, (C5 + a) / 100};
    double y[11], h[10], dl[10], d[11];
    for (int i = 0; i < 11; ++i) y[i] = u[i] * u[i];
    for (int i = 0; i < 10; ++i) h[i] = x[i + 1] - x[i], dl[i] = (y[i + 1] - y[i]) / h[i];
    d[0] = dl[0];
    d[10] = dl[9];
    for (int i = 1; i < 10; ++i) {
        const double w1 = 2 * h[i] + h[i - 1], w2 = 2 * h[i - 1] + h[i];
        d[i] = dl[i - 1] * dl[i] <= 0 ? 0.0 : (w1 + w2) / (w1 / dl[i - 1] + w2 / dl[i]);
    }
    const double z = ((std::log(k / spot) / std::sqrt(ttx)) / a) * 100.0;
    if (z <= x[0]) return std::sqrt(y[0] + (z - x[0]) * ((y[1] - y[0]) / (x[1] - x[0])));
    if (z >= x[10]) return std::sqrt(((y[10] - y[9]) / (x[10] - x[9])) * (z - x[10]) + y[10]);
    int i = 0;
    while (i < 9 && x[i + 1] <= z) ++i;
    const double hw = x[i + 1] - x[i], t = (z - x[i]) / hw;
    return std::sqrt(y[i] * (2 * t * t * t - 3 * t * t + 1) + y[i + 1] * (3 * t * t - 2 * t * t * t) +
                     hw * d[i] * (t * t * t - 2 * t * t + t) + hw * d[i + 1] * (t * t * t - t * t));
}

const ParamMap WORKED{{"ref_vol", 20}, {"p05", 1}, {"p10", 1},  {"p15", 1}, {"p20", 1},   {"p25", 1},
                      {"c05", -0.5},   {"c10", -0.5}, {"c15", 0}, {"c20", 0.5}, {"c25", 1}};

class CubicReference : public ::testing::TestWithParam<ParamMap> {};

TEST_P(CubicReference, MatchesHermiteReferenceOnGrid) {
    const CubicSpline m = CubicSpline::from_params(GetParam(), {});
    for (double ttx : TTXS)
        for (double spot : SPOTS) {
            for (double k : STRIKES) {
                const double expected = reference_vol(GetParam(), ttx, spot, k);
                EXPECT_TRUE(same_bits(m.get_vol_single(ttx, spot, k), expected)) << ttx << " " << spot << " " << k;
            }
            // get_vol goes two strikes at a time where the processor can: the
            // pairs and an odd last strike alike give the scalar value.
            for (std::size_t skip : {0, 1}) {
                const std::vector<double> ks(STRIKES.begin() + skip, STRIKES.end());
                const std::vector<double> vols = m.get_vol(ttx, spot, ks);
                for (std::size_t n = 0; n < ks.size(); ++n)
                    EXPECT_TRUE(same_bits(vols[n], reference_vol(GetParam(), ttx, spot, ks[n])))
                        << ttx << " " << spot << " " << ks[n] << " of " << ks.size();
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    ParamSets, CubicReference,
    ::testing::Values(ParamMap{}, WORKED, ParamMap{{"ref_vol", 30}, {"p25", -4}},
                      ParamMap{{"ref_spot", 95}, {"vpr", 1.5}, {"ref_vol", 25}, {"p05", -1}, {"p10", 2}, {"p20", -0.5},
                               {"p25", 3}, {"c05", 1}, {"c10", -3}, {"c15", 0.5}, {"c25", 2}},
                      ParamMap{{"ref_vol", 5}, {"p05", 4}, {"c05", -4}, {"c10", 8}}));

TEST(CubicSpline, WorkedValues) {
    const CubicSpline m = CubicSpline::from_params(WORKED, {});
    EXPECT_EQ(m.get_vol_single(0.25, 100, 95), 0.21025852342644197);
    EXPECT_EQ(m.get_vol_single(0.25, 100, 60), 0.2504240048913311);
    EXPECT_EQ(m.get_vol_single(0.25, 100, 110), 0.19008441843107368);
    EXPECT_EQ(m.get_vol_single(0.25, 100, 150), 0.20137134771866558);
    EXPECT_EQ(m.get_vol_single(0.25, 100, 100), 0.2);
    EXPECT_NEAR(m.get_vol_single(0.25, 100, 100 * std::exp(0.12)), 0.19, 1e-15);  // flat between +1.0 and +1.5
    EXPECT_EQ(m.get_vol_single(0.25, 105, 105), 0.17360400204072576);             // z = 0: the ATM pillar
    CubicSpline r = m;
    r.reanchor(105, 0.25);
    EXPECT_NEAR(*r.get_parameter("ref_vol"), 17.360400204072576, 1e-12);
    EXPECT_EQ(r.get_parameter("ref_spot"), 105.0);
    EXPECT_EQ(r.get_parameter("p05"), 1.0);

    const CubicSpline p = CubicSpline::from_params({{"ref_vol", 20}, {"p05", 2}}, {});
    EXPECT_NEAR(p.get_vol_single(0.5, 100, 100 * std::exp(-0.5 * 0.2 * std::sqrt(0.5))), 0.22, 1e-15);
    EXPECT_EQ(p.get_vol_single(0.5, 100, 100), 0.2);
    for (double k : {1e-3, 60.0, 100.0, 170.0, 1e4}) EXPECT_NEAR(CubicSpline().get_vol_single(0.3, 80, k), 0.5, 1e-15);
}

TEST(CubicSpline, LinearWingsAndSingularTime) {
    const CubicSpline up = CubicSpline::from_params({{"p25", 4}}, {}), down = CubicSpline::from_params({{"p25", -4}}, {});
    double prev = up.get_vol_single(0.25, 100, 100 * std::exp(-1.25));  // z = -5
    for (double z : {-6.0, -8.0, -12.0}) {
        const double v = up.get_vol_single(0.25, 100, 100 * std::exp(z / 4));
        EXPECT_GT(v, prev);
        prev = v;
    }
    EXPECT_LT(down.get_vol_single(0.25, 100, 100 * std::exp(-1.5)), down.get_vol_single(0.25, 100, 100 * std::exp(-1.25)));
    EXPECT_TRUE(std::isnan(down.get_vol_single(0.25, 100, 1e-3)));
    for (double spot : {100.0, 104.0}) {
        CubicSpline m = CubicSpline::from_params(WORKED, {});
        EXPECT_FALSE(std::isfinite(m.get_vol_single(1.0, spot, spot)));
        m.reanchor(spot, 1.0);  // left as it was
        EXPECT_EQ(m.values(), CubicSpline::from_params(WORKED, {}).values());
    }
    EXPECT_TRUE(std::isnan(CubicSpline().get_vol_single(1.0, 100, 90)));
}

TEST(CubicSpline, ArbFreeBoundariesAndBumpGating) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::tuple<const char*, double, bool>> cases{
        {"p25", 0.0, true},  {"p25", -1e-4, false}, {"c25", -1e-4, false}, {"ref_vol", 1.0, false},
        {"ref_vol", 1.0001, true}, {"c25", nan, false}, {"p05", -10.0, true}, {"c20", -3.0, true}};
    for (const auto& [name, value, expected] : cases) EXPECT_EQ(CubicSpline::from_params({{name, value}}, {}).arb_free(), expected) << name << value;

    CubicSpline m;
    m.bump_param("p25", -0.01);
    EXPECT_EQ(m.get_parameter("p25"), 0.0);
    m.bump_param("p10", -0.01);
    EXPECT_EQ(m.get_parameter("p10"), -0.01);
    m.set_param("p25", -0.5);
    m.bump_param("c05", 1.0);
    m.bump_param("p25", 0.25);
    EXPECT_EQ(m.get_parameter("c05"), 0.0);
    EXPECT_EQ(m.get_parameter("p25"), -0.5);
    m.bump_param("p25", 0.5);
    EXPECT_EQ(m.get_parameter("p25"), 0.0);
    EXPECT_EQ(m.get_parameter("offset"), std::nullopt);
    EXPECT_EQ(m.get_fitting_params(), (std::vector<std::string>{"ref_vol", "p25", "p20", "p15", "p10", "p05", "c05", "c10",
                                                                "c15", "c20", "c25"}));
}

}  // namespace
