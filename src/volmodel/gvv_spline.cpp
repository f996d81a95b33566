#include "volmodel/gvv_spline.hpp"

#include <algorithm>
#include <limits>

#include "core/lanes.hpp"
#include "core/libm_lanes.hpp"
#include "volmodel/tanh_inline.hpp"

namespace tessel::volmodel {

TESSEL_WIDE_LANES void GVVSplineDef::vol(const Values& p, double ttx, double /*spot*/, std::span<const double> strikes,
                                         std::span<double> out) noexcept {
    const double sigma0 = p[REF_VOL] / 100.0;
    const double skew = p[SKEW] / 100.0;
    const double smile = p[SMILE] / 100.0;
    const double pwing = p[PWING] / 100.0;
    const double cwing = p[CWING] / 100.0;
    const double root_t = std::sqrt(ttx);
    const double ref_spot = p[REF_SPOT];
    const double two_skew = skew + skew;
    const double sigma0_sq = sigma0 * sigma0;

    // The work per strike in parts around the calls of log, exp and tanh,
    // each a template over one strike (double) or two (lanes::Double2).
    const auto damp = [&](auto z, auto e, auto& y, auto& core) {
        using std::sqrt;
        // Damped moneyness: about z/2 near the money, z in the wings.
        y = (1.0 - e * 0.5) * z;
        const auto a = (two_skew * y) * sigma0 + sigma0_sq;
        core = (sqrt(((smile * y) * y) * 4.0 + a * a) + a) * 0.5;
        return y / sqrt(core) / 6.0;
    };
    const auto finish = [&](auto tanh_w, auto y, auto core) {
        using std::abs, std::sqrt;
        // w saturates at +-6, which keeps the quartic wing term bounded far out.
        const auto w = tanh_w * 6.0;
        const auto w4 = (w * w) * (w * w);
        // Both wings computed and one chosen, without a branch.
        auto u = lanes::select(lanes::less(y, 0.0), pwing * w4 + core, core);
        u = lanes::select(lanes::greater(y, 0.0), w4 * cwing + core, u);
        const auto v = sqrt(u);
        const auto finite = lanes::less(abs(v), std::numeric_limits<double>::infinity());
        return lanes::select(finite, v, std::numeric_limits<double>::quiet_NaN());
    };

    // Many strikes go in blocks, each through passes that either call log,
    // exp, expm1 or tanh, or do only arithmetic: the calls for different
    // strikes overlap instead of waiting on one another (log, exp and expm1
    // run four at a time where they are the running libm's,
    // core/libm_lanes.hpp), and the arithmetic, divisions and square roots
    // included, runs two strikes per instruction.
    // A few strikes go straight through. Every strike meets the same
    // operations in the same order either way.
    constexpr std::size_t BLOCK = 64;
    constexpr std::size_t FEW = 4;
    std::size_t start = 0;
    if (strikes.size() >= FEW) {
        double a[BLOCK], b[BLOCK], y[BLOCK], core[BLOCK];
        for (; start < strikes.size(); start += BLOCK) {
            const std::size_t m = std::min(BLOCK, strikes.size() - start);
            const double* k = strikes.data() + start;
            for (std::size_t i = 0; i < m; ++i) a[i] = k[i] / ref_spot;
            log_many(a, a, m);
            for (std::size_t i = 0; i < m; ++i) {
                a[i] = a[i] / root_t;  // z
                b[i] = -a[i] * a[i];
            }
            exp_many(b, b, m);
            for (std::size_t i = 0; i < m; ++i) a[i] = damp(a[i], b[i], y[i], core[i]);  // tanh's argument
            if (inline_tanh_is_libm()) {
                lanes::map2(m, b, [](auto x) { return tanh_expm1_argument(x); }, a);
                expm1_many(b, b, m);
                lanes::map2(m, b, [](auto x, auto t) { return tanh_from_expm1(x, t); }, a, b);
                for (std::size_t i = 0; i < m; ++i)
                    if (!tanh_regular(a[i])) b[i] = std::tanh(a[i]);
            } else {
                for (std::size_t i = 0; i < m; ++i) b[i] = std::tanh(a[i]);
            }
            lanes::map2(m, out.data() + start, finish, b, y, core);
        }
    }
    for (std::size_t i = start; i < strikes.size(); ++i) {
        const double z = std::log(strikes[i] / ref_spot) / root_t;
        double y, core;
        const double tanh_w = std::tanh(damp(z, std::exp(-z * z), y, core));
        out[i] = finish(tanh_w, y, core);
    }
}

bool GVVSplineDef::arb_free(const Values& p) noexcept {
    return p[PWING] >= 0.0 && p[CWING] >= 0.0 && p[SMILE] >= 1.0 && p[REF_VOL] > 10.0;
}

template class Model<GVVSplineDef>;

}  // namespace tessel::volmodel
