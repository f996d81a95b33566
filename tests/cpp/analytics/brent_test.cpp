#include "analytics/brent.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// The search from the two ends, as its callers run it.
template <class F>
double brent_solve(F&& f, double a, double b, double tol, int max_iter) {
    const double fa = f(a), fb = f(b);
    return tessel::analytics::brent_solve(f, a, fa, b, fb, tol, max_iter);
}

struct RootCase {
    const char* name;
    std::function<double(double)> f;
    double a, b, root;
    bool smooth = true;
};

class BrentRoots : public ::testing::TestWithParam<RootCase> {};

TEST_P(BrentRoots, WithinToleranceAndNeverSlowerThanBisection) {
    const RootCase& c = GetParam();
    for (double tol : {1e-4, 1e-10}) {
        int evals = 0;
        const double r = brent_solve([&](double x) { ++evals; return c.f(x); }, c.a, c.b, tol, 100);
        EXPECT_NEAR(r, c.root, tol) << "tol " << tol;
        // Bisection halves the bracket to tol after the two ends; Brent's
        // safeguards keep it to that, and on a smooth function interpolation
        // converges much faster.
        const int bisection = 2 + static_cast<int>(std::ceil(std::log2(std::abs(c.b - c.a) / tol)));
        EXPECT_LE(evals, bisection) << "tol " << tol;
        if (c.smooth && tol == 1e-10) {
            EXPECT_LT(2 * evals, bisection);
        }
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
                      RootCase{"step", [](double x) { return x < 0.3 ? -1.0 : 1.0; }, 0.0, 1.0, 0.3, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Brent, RootAtAnEndIsReturnedExactly) {
    EXPECT_EQ(brent_solve([](double x) { return x - 1; }, 1.0, 3.0, 1e-4, 100), 1.0);
    EXPECT_EQ(brent_solve([](double x) { return x - 1; }, 0.0, 1.0, 1e-4, 100), 1.0);
}

TEST(Brent, IterationCapReturnsCurrentEstimate) {
    int evals = 0;
    const auto step = [&](double x) { ++evals; return x < 0.3 ? -1.0 : 1.0; };
    EXPECT_EQ(brent_solve(step, 0.0, 1.0, 0.0, 0), 1.0);  // no step taken
    EXPECT_EQ(evals, 2);
    evals = 0;
    const double r = brent_solve(step, 0.0, 1.0, 0.0, 5);
    EXPECT_EQ(evals, 7);
    EXPECT_GT(std::abs(r - 0.3), 1e-3);  // stopped well short of the root
}

TEST(Brent, NaNObjectiveBisectsTowardLowerEnd) {
    EXPECT_EQ(brent_solve([](double) { return NOT_A_NUMBER; }, 0.01, 10.0, 1e-4, 100), 0.010076217651367188);
}

}  // namespace
