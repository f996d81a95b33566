#include "volmodel/gvv_spline.hpp"

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

    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const double z = std::log(strikes[i] / ref_spot) / root_t;
        // Damped moneyness: about z/2 near the money, z in the wings.
        const double y = (1.0 - std::exp(-z * z) * 0.5) * z;
        const double a = (two_skew * y) * sigma0 + sigma0_sq;
        const double core = (std::sqrt(((smile * y) * y) * 4.0 + a * a) + a) * 0.5;
        // Saturating at +-6 keeps the quartic wing term bounded far out.
        const double w = std::tanh(y / std::sqrt(core) / 6.0) * 6.0;
        const double w4 = (w * w) * (w * w);
        double u = core;
        if (y < 0.0)
            u = pwing * w4 + core;
        else if (y > 0.0)
            u = w4 * cwing + core;
        const double v = std::sqrt(u);
        out[i] = std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
    }
}

bool GVVSplineDef::arb_free(const Values& p) noexcept {
    return p[PWING] >= 0.0 && p[CWING] >= 0.0 && p[SMILE] >= 1.0 && p[REF_VOL] > 10.0;
}

template class Model<GVVSplineDef>;

}  // namespace tessel::volmodel
