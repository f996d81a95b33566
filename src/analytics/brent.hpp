#pragma once
// Brent's bracketing root finder: inverse quadratic interpolation, secant
// step, bisection.
#include <cmath>
#include <limits>

namespace tessel::analytics {

// The relative resolution that a step never goes below: twice the machine
// epsilon, 4.440892098500626e-16, per unit of |b|.
inline constexpr double BRENT_RESOLUTION = 2.0 * std::numeric_limits<double>::epsilon();
static_assert(BRENT_RESOLUTION == 4.440892098500626e-16);

// The root of f in [a, b] to within about tol, given fa = f(a) and fb = f(b)
// of opposite signs (or a NaN, which makes every step a bisection): the
// estimate after at most max_iter further evaluations.
template <class F>
double brent_solve(F& f, double a, double fa, double b, double fb, double tol, int max_iter) {
    double c = a;
    double fc = fa;
    double d = b - a;
    double e = d;
    // Comparisons with NaN are false, so a NaN objective falls back to bisection.
    for (int iter = 0; iter < max_iter; ++iter) {
        if (fb * fc > 0.0) {
            c = a;
            fc = fa;
            d = b - a;
            e = d;
        }
        if (std::abs(fc) < std::abs(fb)) {
            a = b;
            b = c;
            c = a;
            fa = fb;
            fb = fc;
            fc = fa;
        }
        const double tol1 = BRENT_RESOLUTION * std::abs(b) + 0.5 * tol;
        const double xm = 0.5 * (c - b);
        if (std::abs(xm) <= tol1 || fb == 0.0) return b;
        if (std::abs(e) >= tol1 && std::abs(fa) > std::abs(fb)) {
            const double s = fb / fa;
            double p;
            double q;
            if (a == c) {
                p = 2.0 * xm * s;
                q = 1.0 - s;
            } else {
                const double q0 = fa / fc;
                const double r = fb / fc;
                p = s * (2.0 * xm * q0 * (q0 - r) - (b - a) * (r - 1.0));
                q = (q0 - 1.0) * (r - 1.0) * (s - 1.0);
            }
            if (p > 0.0) q = -q;
            p = std::abs(p);
            if (2.0 * p < 3.0 * xm * q - std::abs(tol1 * q) && p < std::abs(0.5 * e * q)) {
                e = d;
                d = p / q;
            } else {
                d = xm;
                e = d;
            }
        } else {
            d = xm;
            e = d;
        }
        a = b;
        fa = fb;
        b += std::abs(d) > tol1 ? d : std::copysign(tol1, xm);
        fb = f(b);
    }
    return b;
}

}  // namespace tessel::analytics
