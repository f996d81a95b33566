#include "volmodel/cubic_spline.hpp"

namespace tessel::volmodel {
namespace {

constexpr std::size_t NODES = PILLAR_GRID.size();
constexpr std::size_t LAST = NODES - 1;

constexpr std::array<double, LAST> widths() {
    std::array<double, LAST> h{};
    for (std::size_t i = 0; i < LAST; ++i) h[i] = PILLAR_GRID[i + 1] - PILLAR_GRID[i];
    return h;
}
constexpr std::array<double, LAST> WIDTH = widths();

// Largest i in 0..LAST-1 with grid[i] <= z, for z inside the grid; a NaN z
// compares false throughout and lands in interval 0.
inline std::size_t interval_of(double z) noexcept {
    std::size_t lo = 0, hi = LAST;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (PILLAR_GRID[mid] <= z)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

}  // namespace

void CubicSplineDef::vol(const Values& p, double ttx, double spot, std::span<const double> strikes,
                         std::span<double> out) noexcept {
    const double ref_vol = p[REF_VOL];
    // The at-the-money level moves with spot by the innermost pillar skew.
    const double r = (std::log(spot / p[REF_SPOT]) / std::log(ttx)) / ref_vol;
    const double s = ((p[P05] - p[C05]) / 0.1) * 100.0;
    const double atm = (s * r) * p[VPR] + ref_vol;

    // Pillar variances, increments accumulated from the money outward.
    std::array<double, NODES> y;
    double put = 0.0, call = 0.0;
    for (std::size_t j = 0; j < 5; ++j) {
        put = put + p[P05 + j];
        call = call + p[C05 + j];
        const double up = (put + atm) / 100.0;
        const double uc = (call + atm) / 100.0;
        y[4 - j] = up * up;
        y[6 + j] = uc * uc;
    }
    const double u0 = atm / 100.0;
    y[5] = u0 * u0;

    std::array<double, LAST> slope;
    for (std::size_t i = 0; i < LAST; ++i) slope[i] = (y[i + 1] - y[i]) / WIDTH[i];

    // Monotone node derivatives: flat at local extrema, else the weighted
    // harmonic mean of the neighbouring secants.
    std::array<double, NODES> d;
    d[0] = slope[0];
    d[LAST] = slope[LAST - 1];
    for (std::size_t k = 1; k < LAST; ++k) {
        if (slope[k - 1] * slope[k] <= 0.0) {
            d[k] = 0.0;
        } else {
            const double w1 = 2.0 * WIDTH[k] + WIDTH[k - 1];
            const double w2 = 2.0 * WIDTH[k - 1] + WIDTH[k];
            d[k] = (w1 + w2) / (w1 / slope[k - 1] + w2 / slope[k]);
        }
    }
    std::array<double, LAST> hd_lo, hd_hi;
    for (std::size_t i = 0; i < LAST; ++i) {
        hd_lo[i] = WIDTH[i] * d[i];
        hd_hi[i] = WIDTH[i] * d[i + 1];
    }

    const double root_t = std::sqrt(ttx);
    for (std::size_t n = 0; n < strikes.size(); ++n) {
        const double z = ((std::log(strikes[n] / spot) / root_t) / atm) * 100.0;
        double v;
        if (z <= PILLAR_GRID[0]) {
            v = y[0] + (z - PILLAR_GRID[0]) * slope[0];
        } else if (z >= PILLAR_GRID[LAST]) {
            v = slope[LAST - 1] * (z - PILLAR_GRID[LAST]) + y[LAST];
        } else {
            const std::size_t i = interval_of(z);
            const double t = (z - PILLAR_GRID[i]) / WIDTH[i];
            // Products strictly left to right: 3*t*t is (3t)t, not 3(t*t).
            const double t3 = t * t * t;
            const double t3_2 = 2.0 * t * t * t;
            const double t2_3 = 3.0 * t * t;
            v = y[i] * (t3_2 - t2_3 + 1.0) + y[i + 1] * (t2_3 - t3_2) + hd_lo[i] * (t3 - 2.0 * t * t + t) +
                hd_hi[i] * (t3 - t * t);
        }
        out[n] = std::sqrt(v);
    }
}

bool CubicSplineDef::arb_free(const Values& p) noexcept {
    return p[P25] >= 0.0 && p[C25] >= 0.0 && p[REF_VOL] > 1.0;
}

template class Model<CubicSplineDef>;

}  // namespace tessel::volmodel
