#include "volmodel/cubic_spline.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

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

// Largest i in 0..LAST-1 with grid[i] <= z, for z inside the grid: the
// count of inner nodes at or below z, without branches to mispredict. A NaN
// z compares false throughout and lands in interval 0.
inline std::size_t interval_of(double z) noexcept {
    std::size_t i = 0;
    for (std::size_t j = 1; j < LAST; ++j) i += PILLAR_GRID[j] <= z;
    return i;
}

// Two lanes at a time where every processor of the architecture has them
// (SSE2 on x86-64, NEON on AArch64), written with GCC's vector extension so
// that each lane does the very operation of the scalar code, correctly
// rounded; elsewhere the scalar loops do it all. Even a NaN comes out with the
// same bits: the divisions keep their operand order and the product has a
// constant factor, so no lane has to choose between two NaN operands in a way
// the scalar code might not.
#if defined(__SSE2__) || (defined(__aarch64__) && defined(__ARM_NEON))
#define TESSEL_PAIRS 1
using Pair = double __attribute__((vector_size(16)));
inline Pair load2(const double* p) noexcept {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store2(double* p, Pair v) noexcept { std::memcpy(p, &v, sizeof v); }
// The one operation the extension does not have.
inline Pair sqrt2(Pair v) noexcept {
#if defined(__SSE2__)
    return _mm_sqrt_pd(v);
#else
    return vsqrtq_f64(v);
#endif
}
#endif

// z = ((x / root_t) / atm) * 100 in place.
void standardise(std::span<double> xs, double root_t, double atm) noexcept {
    std::size_t i = 0;
#if defined(TESSEL_PAIRS)
    for (; i + 2 <= xs.size(); i += 2) store2(xs.data() + i, ((load2(xs.data() + i) / root_t) / atm) * 100.0);
#endif
    for (; i < xs.size(); ++i) xs[i] = ((xs[i] / root_t) / atm) * 100.0;
}

void square_roots(std::span<double> xs) noexcept {
    std::size_t i = 0;
#if defined(TESSEL_PAIRS)
    for (; i + 2 <= xs.size(); i += 2) store2(xs.data() + i, sqrt2(load2(xs.data() + i)));
#endif
    for (; i < xs.size(); ++i) xs[i] = std::sqrt(xs[i]);
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
    // Each interval's end derivatives scaled to its width: the Hermite tangents.
    std::array<double, LAST> tangent_left, tangent_right;
    for (std::size_t i = 0; i < LAST; ++i) {
        tangent_left[i] = WIDTH[i] * d[i];
        tangent_right[i] = WIDTH[i] * d[i + 1];
    }

    const double root_t = std::sqrt(ttx);
    // In passes over all strikes, so that the calls of log overlap and the
    // divisions and square roots go two at a time: the logarithms, the
    // standardised moneyness, the spline, the square roots. Each strike is
    // read before its slot is written.
    for (std::size_t n = 0; n < strikes.size(); ++n) out[n] = std::log(strikes[n] / spot);
    standardise(out, root_t, atm);
    for (std::size_t n = 0; n < strikes.size(); ++n) {
        const double z = out[n];
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
            const double two_t3 = 2.0 * t * t * t;
            const double three_t2 = 3.0 * t * t;
            v = y[i] * (two_t3 - three_t2 + 1.0) + y[i + 1] * (three_t2 - two_t3) +
                tangent_left[i] * (t3 - 2.0 * t * t + t) + tangent_right[i] * (t3 - t * t);
        }
        out[n] = v;
    }
    square_roots(out);
}

bool CubicSplineDef::arb_free(const Values& p) noexcept {
    return p[P25] >= 0.0 && p[C25] >= 0.0 && p[REF_VOL] > 1.0;
}

template class Model<CubicSplineDef>;

}  // namespace tessel::volmodel
