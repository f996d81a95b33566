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

    // The work per strike in three parts around the calls of exp and tanh.
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
        double u = core;
        if (y < 0.0)
            u = pwing * w4 + core;
        else if (y > 0.0)
            u = w4 * cwing + core;
        const double v = std::sqrt(u);
        return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
    };

    // Many strikes go in blocks, each through five passes with one kind of
    // work apiece, so that the calls of log, exp and tanh for different
    // strikes overlap instead of waiting on one another; a few go straight
    // through. Every strike meets the same operations in the same order.
    constexpr std::size_t BLOCK = 64;
    constexpr std::size_t FEW = 4;
    std::size_t start = 0;
    if (strikes.size() >= FEW) {
        double z[BLOCK], y[BLOCK], core[BLOCK], w[BLOCK];
        for (; start < strikes.size(); start += BLOCK) {
            const std::size_t m = std::min(BLOCK, strikes.size() - start);
            const double* k = strikes.data() + start;
            for (std::size_t i = 0; i < m; ++i) z[i] = std::log(k[i] / ref_spot) / root_t;
            for (std::size_t i = 0; i < m; ++i) w[i] = std::exp(-z[i] * z[i]);
            for (std::size_t i = 0; i < m; ++i) w[i] = damp(z[i], w[i], y[i], core[i]);
            for (std::size_t i = 0; i < m; ++i) w[i] = std::tanh(w[i]) * 6.0;
            for (std::size_t i = 0; i < m; ++i) out[start + i] = finish(w[i], y[i], core[i]);
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
