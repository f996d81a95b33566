#pragma once
// erfc in line, bit for bit what glibc's erfc returns on x86-64, so that a hot
// loop can keep it in registers and evaluate two arguments side by side.
//
// The algorithm and its coefficients are fdlibm's (s_erf.c):
//   Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
//   Developed at SunPro, a Sun Microsystems, Inc. business.
//   Permission to use, copy, modify, and distribute this software is freely
//   granted, provided that this notice is preserved.
//
// Two things make it glibc's to the last bit, not only accurate:
// - each rational function is evaluated in glibc's order, in pairs of terms
//   summed over powers of z (Horner's rule gives other last bits in about 1 %
//   of arguments);
// - the tail calls std::exp, the exp that glibc's erfc calls, whichever code
//   path (with or without FMA) the CPU selects for it.
// glibc compiles erfc without contracting a * b + c into FMA on x86-64 only;
// other targets' builds may contract, and glibc 2.43 replaced the algorithm
// with a correctly rounded one, so the copy is used only where the running
// libm is shown to agree (inline_erfc_is_libm) and std::erfc everywhere else.
//
// Reuse, for example for many arguments at once: the kernels in erfc_detail
// (ratio_small, ratio_middle, ratio_near, ratio_far) are templates over the
// lane type V (double, lanes::Double2, or any type with + - * / elementwise
// and with a double) and compute every lane with exactly the scalar
// operations. Sort the lanes by region (the high word of x against the bounds
// below, as erfc_inline does), run the lanes that share a region through its
// kernel, and finish each lane with finish_small, finish_middle or
// finish_tail (the tail's exp stays per lane: it must be libm's).
// erfc_inline_pair does that for two arguments.
#include <bit>
#include <cmath>
#include <cstdint>

#include "core/lanes.hpp"
#include "core/libm_probe.hpp"

namespace tessel::analytics {

#if defined(__x86_64__) && defined(__GLIBC__)
inline constexpr bool INLINE_ERFC_MAY_BE_LIBM = true;
#else
inline constexpr bool INLINE_ERFC_MAY_BE_LIBM = false;
#endif

namespace erfc_detail {

inline constexpr double ERX = 8.45062911510467529297e-01;
// erf on [0, 0.84375]: x + x * P(x^2) / Q(x^2).
inline constexpr double PP0 = 1.28379167095512558561e-01, PP1 = -3.25042107247001499370e-01,
                        PP2 = -2.84817495755985104766e-02, PP3 = -5.77027029648944159157e-03,
                        PP4 = -2.37630166566501626084e-05;
inline constexpr double QQ1 = 3.97917223959155352819e-01, QQ2 = 6.50222499887672944485e-02,
                        QQ3 = 5.08130628187576562776e-03, QQ4 = 1.32494738004321644526e-04,
                        QQ5 = -3.96022827877536812320e-06;
// erf on [0.84375, 1.25]: erx + P(s) / Q(s), s = |x| - 1.
inline constexpr double PA0 = -2.36211856075265944077e-03, PA1 = 4.14856118683748331666e-01,
                        PA2 = -3.72207876035701323847e-01, PA3 = 3.18346619901161753674e-01,
                        PA4 = -1.10894694282396677476e-01, PA5 = 3.54783043256182359371e-02,
                        PA6 = -2.16637559486879084300e-03;
inline constexpr double QA1 = 1.06420880400844228286e-01, QA2 = 5.40397917702171048937e-01,
                        QA3 = 7.18286544141962662868e-02, QA4 = 1.26171219808761642112e-01,
                        QA5 = 1.36370839120290507362e-02, QA6 = 1.19844998467991074170e-02;
// erfc on [1.25, 1/0.35]: exp(-x^2 - 0.5625 + R(s) / S(s)) / x, s = 1 / x^2.
inline constexpr double RA0 = -9.86494403484714822705e-03, RA1 = -6.93858572707181764372e-01,
                        RA2 = -1.05586262253232909814e+01, RA3 = -6.23753324503260060396e+01,
                        RA4 = -1.62396669462573470355e+02, RA5 = -1.84605092906711035994e+02,
                        RA6 = -8.12874355063065934246e+01, RA7 = -9.81432934416914548592e+00;
inline constexpr double SA1 = 1.96512716674392571292e+01, SA2 = 1.37657754143519042600e+02,
                        SA3 = 4.34565877475229228821e+02, SA4 = 6.45387271733267880336e+02,
                        SA5 = 4.29008140027567833386e+02, SA6 = 1.08635005541779435134e+02,
                        SA7 = 6.57024977031928170135e+00, SA8 = -6.04244152148580987438e-02;
// erfc on [1/0.35, 28]: the same form.
inline constexpr double RB0 = -9.86494292470009928597e-03, RB1 = -7.99283237680523006574e-01,
                        RB2 = -1.77579549177547519889e+01, RB3 = -1.60636384855821916062e+02,
                        RB4 = -6.37566443368389627722e+02, RB5 = -1.02509513161107724954e+03,
                        RB6 = -4.83519191608651397019e+02;
inline constexpr double SB1 = 3.03380607434824582924e+01, SB2 = 3.25792512996573918826e+02,
                        SB3 = 1.53672958608443695994e+03, SB4 = 3.19985821950859553908e+03,
                        SB5 = 2.55305040643316442583e+03, SB6 = 4.74528541206955367215e+02,
                        SB7 = -2.24409524465858183362e+01;

inline std::int32_t high_word(double x) { return static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(x) >> 32); }

// The regions, by the high word of |x| as glibc tests it.
inline constexpr std::int32_t TINY = 0x3c700000;    // below: |x| < 2^-56
inline constexpr std::int32_t QUARTER = 0x3fd00000; // 1/4, inside the small region
inline constexpr std::int32_t SMALL = 0x3feb0000;   // below: |x| < 0.84375
inline constexpr std::int32_t MIDDLE = 0x3ff40000;  // below: |x| < 1.25
inline constexpr std::int32_t NEAR = 0x4006db6d;    // below: |x| < 1/0.35
inline constexpr std::int32_t SIX = 0x40180000;     // x <= -6: erfc is 2
inline constexpr std::int32_t TAIL = 0x403c0000;    // |x| >= 28: erfc is 0 or 2
inline constexpr std::int32_t SPECIAL = 0x7ff00000; // NaN and infinities

// The kernels. Each takes what glibc computes first (x * x, |x| - 1 or
// 1 / x^2) and returns its ratio.
template <class V>
V ratio_small(V z) {
    const V r1 = PP0 + z * PP1;
    const V z2 = z * z;
    const V r2 = PP2 + z * PP3;
    const V z4 = z2 * z2;
    const V s1 = 1.0 + z * QQ1;
    const V s2 = QQ2 + z * QQ3;
    const V s3 = QQ4 + z * QQ5;
    const V r = r1 + z2 * r2 + z4 * PP4;
    const V s = s1 + z2 * s2 + z4 * s3;
    return r / s;
}

template <class V>
V ratio_middle(V s) {
    const V p1 = PA0 + s * PA1;
    const V s2 = s * s;
    const V q1 = 1.0 + s * QA1;
    const V s4 = s2 * s2;
    const V p2 = PA2 + s * PA3;
    const V s6 = s4 * s2;
    const V q2 = QA2 + s * QA3;
    const V p3 = PA4 + s * PA5;
    const V q3 = QA4 + s * QA5;
    const V p = p1 + s2 * p2 + s4 * p3 + s6 * PA6;
    const V q = q1 + s2 * q2 + s4 * q3 + s6 * QA6;
    return p / q;
}

template <class V>
V ratio_near(V s) {
    const V r1 = RA0 + s * RA1;
    const V s2 = s * s;
    const V t1 = 1.0 + s * SA1;
    const V s4 = s2 * s2;
    const V r2 = RA2 + s * RA3;
    const V s6 = s4 * s2;
    const V t2 = SA2 + s * SA3;
    const V s8 = s4 * s4;
    const V r3 = RA4 + s * RA5;
    const V t3 = SA4 + s * SA5;
    const V r4 = RA6 + s * RA7;
    const V t4 = SA6 + s * SA7;
    const V r = r1 + s2 * r2 + s4 * r3 + s6 * r4;
    const V t = t1 + s2 * t2 + s4 * t3 + s6 * t4 + s8 * SA8;
    return r / t;
}

template <class V>
V ratio_far(V s) {
    const V r1 = RB0 + s * RB1;
    const V s2 = s * s;
    const V t1 = 1.0 + s * SB1;
    const V s4 = s2 * s2;
    const V r2 = RB2 + s * RB3;
    const V s6 = s4 * s2;
    const V t2 = SB2 + s * SB3;
    const V r3 = RB4 + s * RB5;
    const V t3 = SB4 + s * SB5;
    const V t4 = SB6 + s * SB7;
    const V r = r1 + s2 * r2 + s4 * r3 + s6 * RB6;
    const V t = t1 + s2 * t2 + s4 * t3 + s6 * t4;
    return r / t;
}

// erfc(x) from the kernels' ratios, for x in their regions.
inline double finish_small(double x, std::int32_t hx, double ratio) {
    if (hx < QUARTER) return 1.0 - (x + x * ratio);
    double t = x * ratio;
    t += x - 0.5;
    return 0.5 - t;
}
inline double finish_middle(std::int32_t hx, double ratio) {
    return hx >= 0 ? (1.0 - ERX) - ratio : 1.0 + (ERX + ratio);
}
// The tail is exp(a) * exp(b) / |x| (or 2 less that for x < 0): its two exp
// arguments, and erfc from their values, apart so that the exps of many
// arguments can be computed together.
struct TailExpArgs {
    double a, b;
};
inline TailExpArgs tail_exp_args(double x, double ratio) {
    const double ax = std::abs(x);
    // z is |x| to 21 bits, so z * z is exact and the rounding error of x * x
    // goes into the second exp's argument.
    const double z = std::bit_cast<double>(std::bit_cast<std::uint64_t>(ax) & 0xffffffff00000000ULL);
    return {-z * z - 0.5625, (z - ax) * (z + ax) + ratio};
}
inline double finish_tail_from(double x, std::int32_t hx, double exp_a, double exp_b) {
    const double ax = std::abs(x);
    const double t = exp_a * exp_b;
    return hx > 0 ? t / ax : 2.0 - t / ax;
}
inline double finish_tail(double x, std::int32_t hx, double ratio) {
    const TailExpArgs e = tail_exp_args(x, ratio);
    return finish_tail_from(x, hx, std::exp(e.a), std::exp(e.b));
}

// Which kernel erfc_inline runs for an argument (by its high word): Direct
// for the tiny, saturated and special ones, which need no kernel.
enum class Region : unsigned char { Direct, Small, Middle, Near, Far };
inline Region region_of(std::int32_t hx) {
    const std::int32_t ix = hx & 0x7fffffff;
    if (ix < TINY) return Region::Direct;
    if (ix < SMALL) return Region::Small;
    if (ix < MIDDLE) return Region::Middle;
    if (ix < NEAR) return Region::Near;
    if (ix < TAIL && !(hx < 0 && ix >= SIX)) return Region::Far;
    return Region::Direct;
}

}  // namespace erfc_detail

// glibc's erfc(x), in line.
inline double erfc_inline(double x) {
    using namespace erfc_detail;
    const std::int32_t hx = high_word(x);
    const std::int32_t ix = hx & 0x7fffffff;
    if (ix < SMALL) {
        if (ix < TINY) return 1.0 - x;
        return finish_small(x, hx, ratio_small(x * x));
    }
    if (ix < MIDDLE) return finish_middle(hx, ratio_middle(std::abs(x) - 1.0));
    if (ix < TAIL) {
        const double ax = std::abs(x);
        if (ix < NEAR) return finish_tail(x, hx, ratio_near(1.0 / (ax * ax)));
        if (hx < 0 && ix >= SIX) return 2.0;
        return finish_tail(x, hx, ratio_far(1.0 / (ax * ax)));
    }
    if (ix >= SPECIAL) return static_cast<double>((static_cast<std::uint32_t>(hx) >> 31) << 1) + 1.0 / x;
    return hx > 0 ? 0.0 : 2.0;
}

// erfc_inline of two arguments, their rational functions side by side (one
// SSE2 instruction for both, where there is SSE2) when both lie in one region.
inline void erfc_inline_pair(double x0, double x1, double& out0, double& out1) {
    using namespace erfc_detail;
    using lanes::Double2;
    const std::int32_t hx0 = high_word(x0), hx1 = high_word(x1);
    const std::int32_t ix0 = hx0 & 0x7fffffff, ix1 = hx1 & 0x7fffffff;
    const auto in = [&](std::int32_t from, std::int32_t to) { return ix0 >= from && ix0 < to && ix1 >= from && ix1 < to; };
    const Double2 x = lanes::make2(x0, x1);
    if (in(TINY, SMALL)) {
        const Double2 q = ratio_small(x * x);
        out0 = finish_small(x0, hx0, lanes::lane0(q));
        out1 = finish_small(x1, hx1, lanes::lane1(q));
        return;
    }
    const Double2 ax = abs(x);
    if (in(SMALL, MIDDLE)) {
        const Double2 q = ratio_middle(ax - 1.0);
        out0 = finish_middle(hx0, lanes::lane0(q));
        out1 = finish_middle(hx1, lanes::lane1(q));
        return;
    }
    // Both in one part of the tail, neither saturated.
    const bool near = in(MIDDLE, NEAR);
    if (near || (in(NEAR, TAIL) && (hx0 >= 0 || ix0 < SIX) && (hx1 >= 0 || ix1 < SIX))) {
        const Double2 s = 1.0 / (ax * ax);
        const Double2 q = near ? ratio_near(s) : ratio_far(s);
        out0 = finish_tail(x0, hx0, lanes::lane0(q));
        out1 = finish_tail(x1, hx1, lanes::lane1(q));
        return;
    }
    out0 = erfc_inline(x0);
    out1 = erfc_inline(x1);
}

// Whether erfc_inline gives the running libm's bits (core/libm_probe.hpp):
// checked once per process over all of erfc's regions, the tiny and small
// arguments on a finer grid of their own.
inline bool inline_erfc_is_libm() noexcept {
    static const bool same =
        INLINE_ERFC_MAY_BE_LIBM && same_bits_over({{-6.5, 28.5, 4096}, {-1.25, 1.25, 1024}, {-0x1p-27, 0x1p-27, 64}},
                                                  erfc_inline, [](double x) { return std::erfc(x); });
    return same;
}

// libm's erfc: the in-line copy where it is the same to the bit.
inline double libm_erfc(double x) { return inline_erfc_is_libm() ? erfc_inline(x) : std::erfc(x); }

}  // namespace tessel::analytics
