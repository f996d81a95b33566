#pragma once
// tanh in line, bit for bit what glibc's tanh returns: its arithmetic around
// the call of expm1, so that a loop over many arguments can run that
// arithmetic (a division among it) two lanes at a time. The expm1 is libm's,
// the one glibc's tanh calls, whichever code path the CPU selects for it.
//
// The algorithm is fdlibm's (s_tanh.c):
//   Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
//   Developed at SunPro, a Sun Microsystems, Inc. business.
//   Permission to use, copy, modify, and distribute this software is freely
//   granted, provided that this notice is preserved.
// Its operations hold no product to fuse with an addition, so no compiler's
// contraction can make glibc's build differ from this one: the copy is
// glibc's wherever glibc keeps this algorithm, which a probe of the running
// libm confirms (inline_tanh_is_libm); elsewhere callers use std::tanh.
//
// Use: for a regular argument x (tanh_regular), tanh(x) is
// tanh_from_expm1(x, std::expm1(tanh_expm1_argument(x))); V is double or
// lanes::Double2. Any other argument (0, below 2^-55, 22 and above, NaN,
// infinities) goes to std::tanh.
#include <cmath>

#include "core/lanes.hpp"
#include "core/libm_probe.hpp"

namespace tessel::volmodel {

#if defined(__GLIBC__)
inline constexpr bool INLINE_TANH_MAY_BE_LIBM = true;
#else
inline constexpr bool INLINE_TANH_MAY_BE_LIBM = false;
#endif

inline bool tanh_regular(double x) {
    const double ax = std::abs(x);
    return ax >= 0x1p-55 && ax < 22.0;
}

// 2|x| from 1 on, -2|x| below.
template <class V>
V tanh_expm1_argument(V x) {
    using std::abs;
    const V ax = abs(x);
    return lanes::select(lanes::greater_equal(ax, 1.0), 2.0 * ax, -2.0 * ax);
}

// tanh(x) from t = expm1(tanh_expm1_argument(x)): 1 - 2/(t + 2) from 1 on,
// -t/(t + 2) below, with the sign of x.
template <class V>
V tanh_from_expm1(V x, V t) {
    using std::abs;
    const auto large = lanes::greater_equal(abs(x), 1.0);
    const V q = lanes::select(large, 2.0, -t) / (t + 2.0);
    const V z = lanes::select(large, 1.0 - q, q);
    return lanes::select(lanes::less(x, 0.0), -z, z);
}

inline double tanh_inline(double x) {
    if (!tanh_regular(x)) return std::tanh(x);
    return tanh_from_expm1(x, std::expm1(tanh_expm1_argument(x)));
}

// Whether tanh_inline gives the running libm's bits (core/libm_probe.hpp),
// checked once per process over its formulas' ranges.
inline bool inline_tanh_is_libm() noexcept {
    static const bool same =
        INLINE_TANH_MAY_BE_LIBM && same_bits_over({{-22.5, 22.5, 4096}, {-1.5, 1.5, 1024}, {-0x1p-20, 0x1p-20, 64}},
                                                  tanh_inline, [](double x) { return std::tanh(x); });
    return same;
}

}  // namespace tessel::volmodel
