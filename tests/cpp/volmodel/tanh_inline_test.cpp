// The in-line tanh against libm's, bit for bit: around the bounds of its
// formulas, every binade's edges, the special values and random arguments.
#include "volmodel/tanh_inline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "../support/libm_copy.hpp"

namespace {

using namespace tessel;
using namespace tessel::libm_copy;

double libm(double x) { return std::tanh(x); }

// Two lanes as GVVSpline runs them: the arithmetic on both at once, expm1
// and the irregular arguments lane by lane.
void pair(double x0, double x1, double& out0, double& out1) {
    const lanes::Double2 x = lanes::make2(x0, x1);
    const lanes::Double2 a = volmodel::tanh_expm1_argument(x);
    const lanes::Double2 t = volmodel::tanh_from_expm1(
        x, lanes::make2(std::expm1(lanes::lane0(a)), std::expm1(lanes::lane1(a))));
    out0 = volmodel::tanh_regular(x0) ? lanes::lane0(t) : std::tanh(x0);
    out1 = volmodel::tanh_regular(x1) ? lanes::lane1(t) : std::tanh(x1);
}

void check_tanh(const std::vector<double>& xs) {
    check(xs, &volmodel::tanh_inline, &libm, &pair, volmodel::inline_tanh_is_libm());
}

TEST(TanhInline, FormulaBounds) {
    std::vector<double> xs;
    for (const double edge : {0x1p-55, 1.0, 22.0}) around(xs, edge, 4096);
    check_tanh(xs);
}

TEST(TanhInline, ExponentEdges) { check_tanh(exponent_edges()); }

TEST(TanhInline, SpecialValues) { check_tanh(special_values()); }

TEST(TanhInline, RandomArguments) {
    // Half uniform where the formulas apply, half any bit pattern.
    std::mt19937_64 gen(13);
    std::vector<double> xs(2'000'000);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const std::uint64_t b = gen();
        xs[i] = i % 2 ? from_bits(b) : static_cast<double>(b >> 11) * 0x1p-53 * 50.0 - 25.0;
    }
    check_tanh(xs);
}

}  // namespace
