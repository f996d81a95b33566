// exp, log and expm1 of many arguments against libm's, and the kernels over many
// elements against the scalar functions, bit for bit (every NaN as one: the
// compiler may fold a NaN's sign either way). Named Inline*, so that ctest
// runs them on glibc's code without FMA as well.
#include "analytics/batch.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "../support/libm_copy.hpp"
#include "core/libm_lanes.hpp"

namespace {

using namespace tessel;
using namespace tessel::analytics;
using tessel::libm_copy::bits;

bool same(double a, double b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

template <class Many, class Libm>
void check_many(std::vector<double> xs, Many many, Libm libm) {
    std::vector<double> out(xs.size());
    many(xs.data(), out.data(), xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i)
        ASSERT_EQ(bits(out[i]), bits(libm(xs[i]))) << std::hexfloat << xs[i];
    // In place, and at every offset from the lanes' groups of four.
    for (std::size_t skip = 0; skip < 4 && xs.size() > 4; ++skip) {
        std::vector<double> in(xs.begin() + static_cast<std::ptrdiff_t>(skip), xs.end());
        many(in.data(), in.data(), in.size());
        for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(bits(in[i]), bits(libm(xs[i + skip])));
    }
}

std::vector<double> arguments(double lo, double hi, std::size_t n, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::vector<double> xs(n);
    for (std::size_t i = 0; i < n; ++i)
        xs[i] = i % 5 == 4 ? libm_copy::from_bits(gen()) : lo + (hi - lo) * (static_cast<double>(gen() >> 11) * 0x1p-53);
    auto edges = libm_copy::exponent_edges(), special = libm_copy::special_values();
    xs.insert(xs.end(), edges.begin(), edges.end());
    xs.insert(xs.end(), special.begin(), special.end());
    return xs;
}

TEST(InlineLibmLanes, ExpIsLibms) {
    check_many(arguments(-750.0, 720.0, 400'000, 1), exp_many, [](double x) { return std::exp(x); });
    check_many(arguments(-40.0, 1.0, 400'000, 2), exp_many, [](double x) { return std::exp(x); });
}

TEST(InlineLibmLanes, LogIsLibms) {
    check_many(arguments(0.0, 3.0, 400'000, 3), log_many, [](double x) { return std::log(x); });
    // Near 1, where another polynomial takes over, and its edges.
    std::vector<double> near = arguments(0.93, 1.07, 400'000, 4);
    for (const double edge : {1.0 - 0x1p-4, 1.0 + 0x1.09p-4, 1.0}) libm_copy::around(near, edge, 2048);
    check_many(near, log_many, [](double x) { return std::log(x); });
}

TEST(InlineLibmLanes, Expm1IsLibms) {
    std::vector<double> xs = arguments(-45.0, 45.0, 200'000, 6);
    const std::vector<double> dense = arguments(-3.0, 3.0, 200'000, 7);
    xs.insert(xs.end(), dense.begin(), dense.end());
    // Where the cases change: 2^-54, ln2 / 2, 3 ln2 / 2, 56 ln2, x = -1/4 after reduction, and k's 2, 20 and 57.
    for (const double edge : {0x1p-54, 0x1.62e42p-2, 0x1.0a2b2p+0, 0x1.3687ap+5, 0.25 + 0x1.62e42fefa39efp-1,
                              2.5 * 0x1.62e42fefa39efp-1, 19.5 * 0x1.62e42fefa39efp-1, 56.5 * 0x1.62e42fefa39efp-1})
        libm_copy::around(xs, edge, 2048);  // both signs
    check_many(xs, expm1_many, [](double x) { return std::expm1(x); });
}

// One column of each argument over an edge grid and random book-like values.
struct Columns {
    std::vector<double> fwd, strike, ttx, vol, df;
    std::vector<OptionType> cp;
    void add(double f, double k, double t, double v, OptionType c, double d) {
        fwd.push_back(f), strike.push_back(k), ttx.push_back(t), vol.push_back(v), cp.push_back(c), df.push_back(d);
    }
    std::size_t size() const { return fwd.size(); }
};

Columns grid() {
    Columns c;
    const double nan = NAN, inf = INFINITY;
    for (double f : {100.0, 0.0, -1.0, nan, inf, 1e-300})
        for (double k : {100.0, 90.0, 0.0, nan, inf})
            for (double t : {1.0, 0.25, 0.0, -1.0, nan, inf, 1e-12})
                for (double v : {0.2, 0.0, -0.1, nan, inf, 5.0})
                    for (OptionType cp : {OptionType::Call, OptionType::Put})
                        for (double d : {1.0, 0.9, nan}) c.add(f, k, t, v, cp, d);
    std::mt19937_64 gen(5);
    std::lognormal_distribution<double> level(std::log(100.0), 0.3), moneyness(0.0, 0.5);
    std::uniform_real_distribution<double> time(1e-4, 3.0), vol(0.01, 2.5), df(0.5, 1.0);
    for (int i = 0; i < 20'000; ++i) {
        const double f = level(gen);
        c.add(f, f * moneyness(gen), time(gen), vol(gen), i % 3 ? OptionType::Call : OptionType::Put, df(gen));
    }
    return c;
}

template <auto Kernel, auto Scalar>
void check_kernel(const Columns& c) {
    std::vector<double> out(c.size());
    const Strided<double> f{c.fwd.data(), 1}, k{c.strike.data(), 1}, t{c.ttx.data(), 1}, v{c.vol.data(), 1},
        d{c.df.data(), 1};
    const Strided<OptionType> cp{c.cp.data(), 1};
    if constexpr (requires { Kernel(c.size(), out.data(), f, k, t, v, cp, d); })
        Kernel(c.size(), out.data(), f, k, t, v, cp, d);
    else
        Kernel(c.size(), out.data(), f, k, t, v, d);
    for (std::size_t i = 0; i < c.size(); ++i) {
        double want;
        if constexpr (requires { Scalar(1.0, 1.0, 1.0, 1.0, OptionType::Call, 1.0); })
            want = Scalar(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.cp[i], c.df[i]);
        else
            want = Scalar(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.df[i]);
        ASSERT_TRUE(same(out[i], want)) << i << ": " << c.fwd[i] << " " << c.strike[i] << " " << c.ttx[i] << " "
                                        << c.vol[i] << " " << (c.cp[i] == OptionType::Call) << " " << c.df[i] << " -> "
                                        << out[i] << " not " << want;
    }
}

TEST(InlineBatch, EveryElementIsTheScalarFunctions) {
    const Columns c = grid();
    check_kernel<&b76_fairvalue_many, &b76_fairvalue>(c);
    check_kernel<&b76_delta_many, &b76_delta>(c);
    check_kernel<&b76_vega_many, &b76_vega>(c);
    check_kernel<&b76_gamma_many, &b76_gamma>(c);
    check_kernel<&binary_fairvalue_many, &binary_fairvalue>(c);
    check_kernel<&binary_delta_many, &binary_delta>(c);
    check_kernel<&binary_gamma_many, &binary_gamma>(c);
    check_kernel<&binary_speed_many, &binary_speed>(c);
    check_kernel<&binary_vega_many, &binary_vega>(c);
    check_kernel<&binary_theta_many, &binary_theta>(c);
}

TEST(InlineBatch, SharedArgumentsStandForEveryElement) {
    // Step 0: one forward, time and type for all, against the same repeated.
    const Columns c = grid();
    const std::size_t n = 3'000;
    const double fwd = 100.0, ttx = 0.3;
    const OptionType put = OptionType::Put;
    std::vector<double> shared(n), repeated(n), fwds(n, fwd), ttxs(n, ttx);
    std::vector<OptionType> puts(n, put);
    const Strided<double> k{c.strike.data() + 2'000, 1}, v{c.vol.data() + 2'000, 1}, d{c.df.data() + 2'000, 1};
    b76_fairvalue_many(n, shared.data(), {&fwd, 0}, k, {&ttx, 0}, v, {&put, 0}, d);
    b76_fairvalue_many(n, repeated.data(), {fwds.data(), 1}, k, {ttxs.data(), 1}, v, {puts.data(), 1}, d);
    for (std::size_t i = 0; i < n; ++i) ASSERT_TRUE(same(shared[i], repeated[i])) << i;
}

}  // namespace
