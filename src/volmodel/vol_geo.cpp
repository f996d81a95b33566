#include "volmodel/vol_geo.hpp"

namespace tessel::volmodel {

void VolGeoDef::vol(const Values& p, double ttx, double spot, std::span<const double> strikes,
                    std::span<double> out) noexcept {
    // tanh through exp: overflow gives NaN and underflow exactly -1, which
    // callers rely on at the extremes of corr.
    const double e = std::exp(2.0 * p[CORR]);
    const double rho = (e - 1.0) / (e + 1.0);
    const double root_t = std::sqrt(ttx);
    const double ref_vol = p[REF_VOL];
    const double vvol = p[VVOL];
    // The groupings below are the results' own: each is pinned to the bit.
    const double atm = ((((std::log(spot / p[REF_SPOT]) / root_t) / ref_vol) * (vvol * rho)) * p[VPR]) + ref_vol;
    const double sigma = atm / 100.0;
    const double k1 = (vvol * rho) / 100.0;
    const double k2 = (((1.0 - rho * rho) * (vvol * vvol)) / (sigma * 100.0)) / 100.0;
    const double two_k1 = 2.0 * k1;
    const double sigma_sq = sigma * sigma;

    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const double x = std::log(strikes[i] / spot) / root_t;
        const double g = (two_k1 * x) * sigma + sigma_sq;
        const double v = (std::sqrt(((k2 * x) * x) * 4.0 + g * g) + g) * 0.5;
        out[i] = std::sqrt(v);
    }
}

bool VolGeoDef::arb_free(const Values& p) noexcept { return p[VVOL] >= 1.0 && p[REF_VOL] > 1.0; }

template class Model<VolGeoDef>;

}  // namespace tessel::volmodel
