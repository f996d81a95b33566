// Rules shared by every smile model, exercised on each through one suite.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support.hpp"
#include "volmodel/vol_model.hpp"

using namespace tessel::volmodel;
using namespace volmodel_test;
using tessel::Instant;

namespace {

const Instant EXPIRY{1'700'000'000, 5};

template <SmileModel M>
class Protocol : public ::testing::Test {
protected:
    // A non-default model that passes arb_free for every table.
    M model = M::from_params({{"ref_vol", 30.0}, {"p05", 0.7}, {"c25", 0.4}, {"skew", -3.0}, {"corr", 0.3}}, EXPIRY);
};
// Every model of the module's list, and only those.
using AllModels = Models::apply<::testing::Types>;
TYPED_TEST_SUITE(Protocol, AllModels);

TYPED_TEST(Protocol, ConstructionDefaultsIgnoresUnknownAndIsCaseSensitive) {
    using M = TypeParam;
    const M m = M::from_params({{"REF_VOL", 7.0}, {"ref_vol ", 8.0}, {"bogus", 9.0}, {"ref_spot", 42.0}}, EXPIRY);
    auto expected = M::defaults();
    expected[REF_SPOT] = 42.0;
    EXPECT_EQ(m.values(), expected);
    EXPECT_EQ(m.expiry(), EXPIRY);
    const ParamMap dict = m.get_param_dict();
    ASSERT_EQ(dict.size(), M::N);
    for (std::size_t i = 0; i < M::N; ++i) {
        EXPECT_EQ(dict[i].second, expected[i]) << dict[i].first;
        EXPECT_EQ(m.get_parameter(dict[i].first), expected[i]);
    }
    EXPECT_EQ(dict[0].first, "vpr");
    EXPECT_EQ(dict[2].first, "ref_vol");
    EXPECT_EQ(m.get_parameter("REF_VOL"), std::nullopt);
    for (const std::string& f : m.get_fitting_params()) EXPECT_TRUE(m.get_parameter(f).has_value()) << f;
}

TYPED_TEST(Protocol, SetParamAndWithBumps) {
    TypeParam m = this->model;
    const auto before = m.values();
    m.set_param("nope", 1.0);
    m.set_param("Ref_vol", 1.0);
    EXPECT_EQ(m.values(), before);
    m.set_param("ref_vol", -5.0);  // no validation
    EXPECT_EQ(m.get_parameter("ref_vol"), -5.0);
    EXPECT_FALSE(m.arb_free());

    const TypeParam b = with_bumps(this->model, {{"ref_vol", 0.25}, {"nope", 3.0}, {"vpr", -1.5}});
    EXPECT_EQ(b.get_parameter("ref_vol"), 30.0 + 0.25);
    EXPECT_EQ(b.get_parameter("vpr"), 1.0 - 1.5);
    EXPECT_EQ(b.get_parameter("ref_spot"), 100.0);
    EXPECT_EQ(b.expiry(), EXPIRY);
    EXPECT_EQ(this->model.get_parameter("ref_vol"), 30.0);
}

TYPED_TEST(Protocol, BumpParamIsGatedByArbFree) {
    TypeParam m = this->model;
    m.bump_param("nope", 1.0);
    m.bump_param("vpr", 0.5);
    EXPECT_EQ(m.get_parameter("vpr"), 1.5);
    m.set_param("ref_vol", 1.0);  // fails every model's ref_vol bound
    const auto failing = m.values();
    m.bump_param("vpr", 0.5);  // candidate still fails
    EXPECT_EQ(m.values(), failing);
    m.bump_param("ref_vol", 20.0);  // the repairing bump is accepted
    EXPECT_EQ(m.get_parameter("ref_vol"), 21.0);
    EXPECT_TRUE(m.arb_free());
}

TYPED_TEST(Protocol, SingleMatchesGetVolBitForBit) {
    for (double ttx : TTXS)
        for (double spot : SPOTS) {
            const std::vector<double> vols = this->model.get_vol(ttx, spot, STRIKES);
            ASSERT_EQ(vols.size(), STRIKES.size());
            for (std::size_t i = 0; i < STRIKES.size(); ++i) {
                EXPECT_TRUE(same_bits(vols[i], this->model.get_vol_single(ttx, spot, STRIKES[i])))
                    << ttx << " " << spot << " " << STRIKES[i];
            }
        }
    EXPECT_TRUE(this->model.get_vol(0.5, 100.0, {}).empty());
}

TYPED_TEST(Protocol, JacobianRules) {
    const TypeParam& m = this->model;
    const auto before = this->model.values();
    EXPECT_TRUE(m.get_jacobian(0.5, 100.0, STRIKES, {}).empty());

    const std::vector<std::string> names{"ref_vol", "nope", "ref_vol", "vpr", "REF_VOL"};
    const Jacobian empty = m.get_jacobian(0.5, 100.0, {}, names);
    ASSERT_EQ(empty.size(), 4u);
    for (const auto& c : empty) EXPECT_TRUE(c.values.empty());

    const double ttx = 0.5, spot = 97.0;
    const Jacobian jac = m.get_jacobian(ttx, spot, STRIKES, names);
    ASSERT_EQ(jac.size(), 4u);
    EXPECT_EQ(jac[0].name, "ref_vol");
    EXPECT_EQ(jac[1].name, "nope");
    EXPECT_EQ(jac[2].name, "vpr");
    EXPECT_EQ(jac[3].name, "REF_VOL");
    const std::vector<double> base = m.get_vol(ttx, spot, STRIKES);
    for (const auto& col : jac) {
        const auto bumped = with_bumps(this->model, {{col.name, 0.01}}).get_vol(ttx, spot, STRIKES);
        ASSERT_EQ(col.values.size(), STRIKES.size());
        for (std::size_t i = 0; i < STRIKES.size(); ++i) {
            EXPECT_TRUE(same_bits(col.values[i], (bumped[i] - base[i]) / 0.01)) << col.name << " " << STRIKES[i];
            if (!TypeParam::index_of(col.name)) {
                EXPECT_TRUE(std::isfinite(base[i]) ? col.values[i] == 0.0 : std::isnan(col.values[i]));
            }
        }
    }
    EXPECT_EQ(this->model.values(), before);
}

TYPED_TEST(Protocol, ReanchorKeepsModelWhenAtmVolIsNotFinite) {
    TypeParam m = this->model;
    const double v = m.get_vol_single(0.3, 104.0, 104.0);
    m.reanchor(104.0, 0.3);
    EXPECT_EQ(m.get_parameter("ref_vol"), 100.0 * v);
    EXPECT_EQ(m.get_parameter("ref_spot"), 104.0);
    const auto moved = m.values();
    for (double ttx : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        ASSERT_FALSE(std::isfinite(m.get_vol_single(ttx, 90.0, 90.0)));
        m.reanchor(90.0, ttx);
        EXPECT_EQ(m.values(), moved);
    }
}

}  // namespace
