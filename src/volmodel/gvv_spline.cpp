#include "volmodel/gvv_spline.hpp"

#include <algorithm>
#include <limits>

namespace tessel::volmodel {

void GVVSplineDef::vol(const Values& p, double ttx, double /*spot*/, std::span<const double> strikes,
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

    // The work per strike in parts around the calls of log, exp and tanh.
    const auto damp = [&](double z, double e, double& y, double& core) {
        // Damped moneyness: about z/2 near the money, z in the wings.
        y = (1.0 - e * 0.5) * z;
        const double a = (two_skew * y) * sigma0 + sigma0_sq;
        core = (std::sqrt(((smile * y) * y) * 4.0 + a * a) + a) * 0.5;
        return y / std::sqrt(core) / 6.0;
    };
    const auto finish = [&](double w, double y, double core) {
        // w saturates at +-6, which keeps the quartic wing term bounded far out.
        const double w4 = (w * w) * (w * w);
        // Both wings computed and both tests made on every strike, then one
        // chosen: a loop without branches runs several strikes at a time.
        const double put_side = pwing * w4 + core;
        const double call_side = w4 * cwing + core;
        const bool put = std::isless(y, 0.0);
        const bool call = std::isgreater(y, 0.0);
        double u = put ? put_side : core;
        u = call ? call_side : u;
        const double v = std::sqrt(u);
        const bool finite = std::islessequal(std::abs(v), std::numeric_limits<double>::max());
        return finite ? v : std::numeric_limits<double>::quiet_NaN();
    };

    // Many strikes go in blocks, each through passes that either call log,
    // exp or tanh or do only arithmetic: the calls for different strikes
    // overlap instead of waiting on one another, and the arithmetic passes
    // (divisions and square roots included) run several strikes per
    // instruction. A few strikes go straight through. Every strike meets the
    // same operations in the same order either way.
    constexpr std::size_t BLOCK = 64;
    constexpr std::size_t FEW = 4;
    std::size_t start = 0;
    if (strikes.size() >= FEW) {
        double a[BLOCK], b[BLOCK], y[BLOCK], core[BLOCK];
        for (; start < strikes.size(); start += BLOCK) {
            const std::size_t m = std::min(BLOCK, strikes.size() - start);
            const double* k = strikes.data() + start;
            for (std::size_t i = 0; i < m; ++i) a[i] = k[i] / ref_spot;
            for (std::size_t i = 0; i < m; ++i) a[i] = std::log(a[i]);
            for (std::size_t i = 0; i < m; ++i) {
                a[i] = a[i] / root_t;  // z
                b[i] = -a[i] * a[i];
            }
            for (std::size_t i = 0; i < m; ++i) b[i] = std::exp(b[i]);
            for (std::size_t i = 0; i < m; ++i) a[i] = damp(a[i], b[i], y[i], core[i]);
            for (std::size_t i = 0; i < m; ++i) a[i] = std::tanh(a[i]);
            for (std::size_t i = 0; i < m; ++i) out[start + i] = finish(a[i] * 6.0, y[i], core[i]);
        }
    }
    for (std::size_t i = start; i < strikes.size(); ++i) {
        const double z = std::log(strikes[i] / ref_spot) / root_t;
        double y, core;
        const double w = std::tanh(damp(z, std::exp(-z * z), y, core)) * 6.0;
        out[i] = finish(w, y, core);
    }
}

bool GVVSplineDef::arb_free(const Values& p) noexcept {
    return p[PWING] >= 0.0 && p[CWING] >= 0.0 && p[SMILE] >= 1.0 && p[REF_VOL] > 10.0;
}

template class Model<GVVSplineDef>;

}  // namespace tessel::volmodel
