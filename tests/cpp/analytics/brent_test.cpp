#include "analytics/brent.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace {

using tessel::analytics::brent_solve;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RootCase {
    const char* name;
    std::function<double(double)> f;
    double a, b, root;
};

class BrentRoots : public ::testing::TestWithParam<RootCase> {};

TEST_P(BrentRoots, WithinToleranceAndEvaluationBudget) {
    const RootCase& c = GetParam();
    for (double tol : {1e-4, 1e-10}) {
        int evals = 0;
        const auto r = brent_solve([&](double x) { ++evals; return c.f(x); }, c.a, c.b, tol, 100);
        ASSERT_TRUE(r.ok()) << r.error().message;
        EXPECT_NEAR(r.value(), c.root, tol) << "tol " << tol;
        EXPECT_LE(evals, 102);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Functions, BrentRoots,
    ::testing::Values(RootCase{"sqrt2", [](double x) { return x * x - 2; }, 0.0, 2.0, std::sqrt(2.0)},
                      RootCase{"sqrt2_reversed", [](double x) { return x * x - 2; }, 2.0, 0.0, std::sqrt(2.0)},
                      RootCase{"dottie", [](double x) { return std::cos(x) - x; }, 0.0, 1.0, 0.7390851332151607},
                      RootCase{"cubic", [](double x) { return x * x * x - 2 * x - 5; }, 2.0, 3.0,
                               2.0945514815423265},
                      RootCase{"exp", [](double x) { return std::exp(x) - 10; }, 0.0, 5.0, std::log(10.0)},
                      RootCase{"step", [](double x) { return x < 0.3 ? -1.0 : 1.0; }, 0.0, 1.0, 0.3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Brent, RootAtAnEndIsReturnedExactly) {
    EXPECT_EQ(brent_solve([](double x) { return x - 1; }, 1.0, 3.0, 1e-4, 100).value(), 1.0);
    EXPECT_EQ(brent_solve([](double x) { return x - 1; }, 0.0, 1.0, 1e-4, 100).value(), 1.0);
}

TEST(Brent, IterationCapReturnsCurrentEstimate) {
    int evals = 0;
    const auto step = [&](double x) { ++evals; return x < 0.3 ? -1.0 : 1.0; };
    EXPECT_EQ(brent_solve(step, 0.0, 1.0, 0.0, 0).value(), 1.0);  // no step taken
    EXPECT_EQ(evals, 2);
    evals = 0;
    const double r = brent_solve(step, 0.0, 1.0, 0.0, 5).value();
    EXPECT_EQ(evals, 7);
    EXPECT_GT(std::abs(r - 0.3), 1e-3);  // stopped well short of the root
}

TEST(Brent, NaNObjectiveBisectsTowardLowerEnd) {
    const auto r = brent_solve([](double) { return kNaN; }, 0.01, 10.0, 1e-4, 100);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), 0.010076217651367188);
}

struct Unbracketed {
    double a, fa, b, fb;
    const char* message;
};

class BrentUnbracketed : public ::testing::TestWithParam<Unbracketed> {};

TEST_P(BrentUnbracketed, MessageInPlainDecimals) {
    const Unbracketed& c = GetParam();
    const auto r = brent_solve([&](double x) { return x == c.a ? c.fa : c.fb; }, c.a, c.b, 1e-4, 100);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BrentUnbracketed,
    ::testing::Values(Unbracketed{0.01, 1.0001, 10.0, 101.0, "Root not bracketed: f(0.01) = 1.0001, f(10) = 101"},
                      Unbracketed{-2.5, -1e20, 1e-7, -kInf,
                                  "Root not bracketed: f(-2.5) = -100000000000000000000, f(0.0000001) = -inf"},
                      Unbracketed{0.01, kInf, 10.0, 0.1 + 0.2,
                                  "Root not bracketed: f(0.01) = inf, f(10) = 0.30000000000000004"},
                      Unbracketed{-0.0, -3.0, 1.0, -1.5e-5, "Root not bracketed: f(-0) = -3, f(1) = -0.000015"}));

}  // namespace
