#pragma once
// Brent's bracketing root finder: inverse quadratic interpolation, secant
// step, bisection.
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "core/result.hpp"

namespace tessel::analytics {
namespace detail {

// Plain decimal, shortest round-trip, never an exponent: 0.01 -> "0.01",
// 10.0 -> "10", NaN -> "NaN".
inline void append_plain(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    char buf[400];  // the longest fixed form, of the smallest subnormal, has 327 characters
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    out.append(buf, r.ptr);
}

// The search loop once f(a) and f(b) are known to bracket a root (or hold a
// NaN). Returns the estimate after at most max_iter further evaluations.
template <class F>
double brent_iterate(F& f, double a, double fa, double b, double fb, double tol, int max_iter) {
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
        const double tol1 = 4.440892098500626e-16 * std::abs(b) + 0.5 * tol;
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

}  // namespace detail

// Root of f in [a, b] to within about tol; at most max_iter evaluations
// after the two ends. Fails when f(a) and f(b) have the same strict sign.
template <class F>
Result<double> brent_solve(F&& f, double a, double b, double tol, int max_iter) {
    const double fa = f(a);
    const double fb = f(b);
    if (fa * fb > 0.0) {
        std::string msg = "Root not bracketed: f(";
        detail::append_plain(msg, a);
        msg += ") = ";
        detail::append_plain(msg, fa);
        msg += ", f(";
        detail::append_plain(msg, b);
        msg += ") = ";
        detail::append_plain(msg, fb);
        return Error{std::move(msg)};
    }
    return detail::brent_iterate(f, a, fa, b, fb, tol, max_iter);
}

}  // namespace tessel::analytics
