// glibc's exp, log and expm1, four arguments at a time, in its two builds
// (with and without fused multiply-add): compiled for AVX2 and FMA, and
// called only on CPUs that have both (libm_lanes.cpp). Everything here is local to this
// file, so that no function compiled for AVX2 can stand in for another one's
// copy elsewhere. The operations follow glibc's own, fused exactly where its
// FMA build fuses them; lanes that its algorithms treat apart go to libm.
#include "core/libm_lanes.hpp"

#if defined(__AVX2__) && defined(__FMA__)

#include <immintrin.h>

#include <cmath>
#include <type_traits>

namespace tessel::libm_avx2 {
namespace {

using namespace libm_data;

using V = __m256d;
using I = __m256i;

inline V splat(double x) { return _mm256_set1_pd(x); }
inline I splat_bits(std::uint64_t x) { return _mm256_set1_epi64x(static_cast<long long>(x)); }
inline V add(V a, V b) { return _mm256_add_pd(a, b); }
inline V sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline I bits(V a) { return _mm256_castpd_si256(a); }
inline V from_bits(I a) { return _mm256_castsi256_pd(a); }

// a * b + c, rounded once (Fused) or twice (Plain).
struct Fused {
    static V madd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
};
struct Plain {
    static V madd(V a, V b, V c) { return add(mul(a, b), c); }
};

// Lanes whose mask bit is clear take libm's value of their argument (kept
// apart: `out` may be the arguments' memory).
template <class Libm>
inline void store(double* out, V x, V result, int ok, Libm libm) {
    if (ok == 0xF) {
        _mm256_storeu_pd(out, result);
        return;
    }
    alignas(32) double args[4];
    _mm256_store_pd(args, x);
    _mm256_storeu_pd(out, result);
    for (int j = 0; j < 4; ++j)
        if (!(ok >> j & 1)) out[j] = libm(args[j]);
}

inline int mask_of(I m) { return _mm256_movemask_pd(_mm256_castsi256_pd(m)); }
inline I select_bits(I mask, I yes, I no) { return _mm256_blendv_epi8(no, yes, mask); }

template <class M>
void exp_lanes(const double* x, double* out, std::size_t n) {
    const auto* table = reinterpret_cast<const long long*>(EXP_TABLE);
    for (std::size_t i = 0; i < n; i += 4) {
        const V vx = _mm256_loadu_pd(x + i);
        // |x| in [2^-54, 512): the common path.
        const I abstop = _mm256_and_si256(_mm256_srli_epi64(bits(vx), 52), splat_bits(0x7ff));
        const int ok = mask_of(_mm256_and_si256(_mm256_cmpgt_epi64(abstop, splat_bits(0x3c9 - 1)),
                                                _mm256_cmpgt_epi64(splat_bits(0x3c9 + 63), abstop)));
        V kd = M::madd(vx, splat(EXP_INV_LN2_N), splat(EXP_SHIFT));
        const I ki = bits(kd);
        kd = sub(kd, splat(EXP_SHIFT));
        const V r = M::madd(kd, splat(EXP_NEG_LN2_LO_N), M::madd(kd, splat(EXP_NEG_LN2_HI_N), vx));
        const I idx = _mm256_slli_epi64(_mm256_and_si256(ki, splat_bits(127)), 1);
        const V tail = from_bits(_mm256_i64gather_epi64(table, idx, 8));
        const I sbits = _mm256_add_epi64(_mm256_i64gather_epi64(table + 1, idx, 8), _mm256_slli_epi64(ki, 45));
        const V r2 = mul(r, r);
        const V p23 = M::madd(r, splat(EXP_C3), splat(EXP_C2));
        const V p45 = M::madd(r, splat(EXP_C5), splat(EXP_C4));
        // tail + r + r2 (C2 + r C3) + r2 r2 (C4 + r C5), in glibc's order.
        const V tmp = M::madd(mul(r2, r2), p45, M::madd(p23, r2, add(tail, r)));
        const V scale = from_bits(sbits);
        store(out + i, vx, M::madd(scale, tmp, scale), ok, [](double a) { return std::exp(a); });
    }
}

// log near 1: r = x - 1, a polynomial in r, and r^2 / 2 in two parts.
template <class M>
inline V log_near_one(V x) {
    const V r = sub(x, splat(1.0));
    const V r2 = mul(r, r);
    const V r3 = mul(r, r2);
    const auto b = [](double c) { return splat(c); };
    // B1 + r B2 + r2 B3 + r3 (B4 + r B5 + r2 B6 + r3 (B7 + r B8 + r2 B9 + r3 B10)), in glibc's order.
    const V q1 = M::madd(r2, b(LOG_B3), M::madd(r, b(LOG_B2), b(LOG_B1)));
    const V q2 = M::madd(r2, b(LOG_B6), M::madd(r, b(LOG_B5), b(LOG_B4)));
    const V q3 = M::madd(r3, b(LOG_B10), M::madd(r2, b(LOG_B9), M::madd(r, b(LOG_B8), b(LOG_B7))));
    const V inner = M::madd(M::madd(q3, r3, q2), r3, q1);
    // r = rhi + rlo with rhi to 26 bits, so rhi * rhi * B0 is exact.
    const V w = mul(r, splat(0x1p27));
    const V rhi = sub(add(r, w), w);
    const V rlo = sub(r, rhi);
    const V half_square = mul(mul(rhi, rhi), b(LOG_B0));
    const V hi = add(r, half_square);
    V lo = add(sub(r, hi), half_square);
    lo = M::madd(mul(b(LOG_B0), rlo), add(rhi, r), lo);
    V y;
    if constexpr (std::is_same_v<M, Fused>)
        y = _mm256_fmadd_pd(r3, inner, lo);
    else
        y = add(mul(r3, inner), lo);
    return add(y, hi);
}

template <class M>
void log_lanes(const double* x, double* out, std::size_t n) {
    const auto* table = reinterpret_cast<const double*>(LOG_TABLE);
    const auto* table2 = reinterpret_cast<const double*>(LOG_TABLE2);
    for (std::size_t i = 0; i < n; i += 4) {
        const V vx = _mm256_loadu_pd(x + i);
        const I ix = bits(vx);
        // A positive normal number: the common path, or the one near 1.
        const I top = _mm256_srli_epi64(ix, 48);
        const I near = _mm256_and_si256(_mm256_cmpgt_epi64(ix, splat_bits(LOG_NEAR_ONE - 1)),
                                        _mm256_cmpgt_epi64(splat_bits(LOG_NEAR_ONE + LOG_NEAR_ONE_SPAN), ix));
        const I normal = _mm256_and_si256(_mm256_cmpgt_epi64(top, splat_bits(0x10 - 1)),
                                          _mm256_cmpgt_epi64(splat_bits(0x7ff0), top));
        const int ok = mask_of(normal);
        const I tmp = _mm256_sub_epi64(ix, splat_bits(LOG_OFF));
        const I index = _mm256_slli_epi64(_mm256_and_si256(_mm256_srli_epi64(tmp, 45), splat_bits(127)), 1);
        // k = tmp >> 52, arithmetic: the 12 top bits as a signed number.
        const I high = _mm256_srli_epi64(tmp, 52);
        const I k = _mm256_sub_epi64(high, _mm256_and_si256(_mm256_cmpgt_epi64(high, splat_bits(2047)),
                                                            splat_bits(4096)));
        const V z = from_bits(_mm256_sub_epi64(ix, _mm256_and_si256(tmp, splat_bits(0xfffULL << 52))));
        // (double) k, exactly: k + 1.5 * 2^52 in the low bits of that number.
        const V kd = sub(from_bits(_mm256_add_epi64(k, bits(splat(0x1.8p52)))), splat(0x1.8p52));
        const V invc = _mm256_i64gather_pd(table, index, 8);
        const V logc = _mm256_i64gather_pd(table + 1, index, 8);
        V r, w, lo;
        const V hi_part = splat(LOG_LN2_HI), lo_part = splat(LOG_LN2_LO);
        V hi;
        if constexpr (std::is_same_v<M, Fused>) {
            r = _mm256_fmadd_pd(z, invc, splat(-1.0));
            w = _mm256_fmadd_pd(kd, hi_part, logc);
            hi = add(w, r);
            lo = _mm256_fmadd_pd(kd, lo_part, add(sub(w, hi), r));
        } else {
            const V chi = _mm256_i64gather_pd(table2, index, 8);
            const V clo = _mm256_i64gather_pd(table2 + 1, index, 8);
            r = mul(sub(sub(z, chi), clo), invc);
            w = add(mul(kd, hi_part), logc);
            hi = add(w, r);
            lo = add(add(sub(w, hi), r), mul(kd, lo_part));
        }
        const V r2 = mul(r, r);
        const V p12 = M::madd(r, splat(LOG_A2), splat(LOG_A1));
        const V p34 = M::madd(r, splat(LOG_A4), splat(LOG_A3));
        // lo + r2 A0 + r r2 (A1 + r A2 + r2 (A3 + r A4)) + hi, in glibc's order.
        V y = add(M::madd(mul(r, r2), M::madd(p34, r2, p12), M::madd(r2, splat(LOG_A0), lo)), hi);
        if (mask_of(near) != 0) y = _mm256_blendv_pd(y, log_near_one<M>(vx), _mm256_castsi256_pd(near));
        store(out + i, vx, y, ok, [](double a) { return std::log(a); });
    }
}

// a * b - c and c - a * b, rounded once (Fused) or twice (Plain).
template <class M>
inline V msub(V a, V b, V c) {
    if constexpr (std::is_same_v<M, Fused>)
        return _mm256_fmsub_pd(a, b, c);
    else
        return sub(mul(a, b), c);
}
template <class M>
inline V nmadd(V a, V b, V c) {
    if constexpr (std::is_same_v<M, Fused>)
        return _mm256_fnmadd_pd(a, b, c);
    else
        return sub(c, mul(a, b));
}

inline V select(I mask, V yes, V no) { return _mm256_blendv_pd(no, yes, _mm256_castsi256_pd(mask)); }
inline I in_range(I a, std::int64_t lo, std::int64_t hi) {  // lo <= a <= hi
    return _mm256_and_si256(_mm256_cmpgt_epi64(a, splat_bits(static_cast<std::uint64_t>(lo - 1))),
                            _mm256_cmpgt_epi64(splat_bits(static_cast<std::uint64_t>(hi + 1)), a));
}

// expm1: x = k ln2 + r with the correction c, then fdlibm's rational
// approximation of r and the reconstruction that k's size calls for: each
// case that some lane of the four has is computed, and each lane keeps its
// own.
template <class M>
void expm1_lanes(const double* x, double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 4) {
        const V vx = _mm256_loadu_pd(x + i);
        const I hx = _mm256_and_si256(_mm256_srli_epi64(bits(vx), 32), splat_bits(0x7fffffff));
        // |x| in [2^-54, 56 ln2]: the common path; 0, tiny, huge and special arguments go to libm.
        const int ok = mask_of(in_range(hx, EXPM1_TINY + 1, EXPM1_HUGE));
        const I negative = _mm256_cmpgt_epi64(_mm256_setzero_si256(), _mm256_castpd_si256(vx));
        const I reduced = _mm256_cmpgt_epi64(hx, splat_bits(EXPM1_HALF_LN2));
        const I near = _mm256_cmpgt_epi64(splat_bits(EXPM1_THREE_HALVES_LN2 + 1), hx);
        // k: 0 within ln2 / 2, the sign within 3 ln2 / 2, x / ln2 rounded away from zero by a half beyond.
        const V half = select(negative, splat(-0.5), splat(0.5));
        const __m128i k_far = _mm256_cvttpd_epi32(add(mul(vx, splat(EXPM1_INV_LN2)), half));
        const I k_sign = select_bits(negative, splat_bits(static_cast<std::uint64_t>(-1)), splat_bits(1));
        I k = select_bits(near, k_sign, _mm256_cvtepi32_epi64(k_far));
        k = _mm256_and_si256(k, reduced);
        const V t = _mm256_cvtepi32_pd(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
            k, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6))));
        const V hi = nmadd<M>(t, splat(EXPM1_LN2_HI), vx);
        const V lo = mul(t, splat(EXPM1_LN2_LO));
        const V xr = select(reduced, sub(hi, lo), vx);
        const V c = sub(sub(hi, xr), lo);
        // The rational approximation, in glibc's order.
        const V hfx = mul(splat(0.5), xr);
        const V hxs = mul(xr, hfx);
        const V r1a = M::madd(hxs, splat(EXPM1_Q1), splat(1.0));
        const V h2 = mul(hxs, hxs);
        const V r2 = M::madd(hxs, splat(EXPM1_Q3), splat(EXPM1_Q2));
        const V h4 = mul(h2, h2);
        const V r3 = M::madd(hxs, splat(EXPM1_Q5), splat(EXPM1_Q4));
        const V r1 = M::madd(h4, r3, M::madd(h2, r2, r1a));
        const V tt = nmadd<M>(r1, hfx, splat(3.0));
        const V e0 = mul(hxs, _mm256_div_pd(sub(r1, tt), nmadd<M>(xr, tt, splat(6.0))));
        // k = 0.
        V y = sub(xr, msub<M>(xr, e0, hxs));
        // Otherwise, with e corrected by c: only the cases of k that some lane has.
        const I k_zero = _mm256_cmpeq_epi64(k, _mm256_setzero_si256());
        if (mask_of(k_zero) != 0xF) {
            const V e = sub(msub<M>(xr, sub(e0, c), c), hxs);
            const V x_e = sub(xr, e), e_x = sub(e, xr);
            const I k_bits = _mm256_slli_epi64(k, 52);
            const auto scaled = [&](V v) { return from_bits(_mm256_add_epi64(bits(v), k_bits)); };
            const auto take = [&](I lanes_of_case, auto&& value) {
                if (mask_of(lanes_of_case) != 0) y = select(lanes_of_case, value(), y);
            };
            // k = -1.
            take(_mm256_cmpeq_epi64(k, splat_bits(static_cast<std::uint64_t>(-1))),
                 [&] { return M::madd(x_e, splat(0.5), splat(-0.5)); });
            // k = 1, in two forms on either side of x = -1/4.
            take(_mm256_cmpeq_epi64(k, splat_bits(1)), [&] {
                const V low = mul(splat(-2.0), sub(e, add(xr, splat(0.5))));
                const V high = M::madd(x_e, splat(2.0), splat(1.0));
                return select(bits(_mm256_cmp_pd(xr, splat(-0.25), _CMP_LT_OQ)), low, high);
            });
            // 2 <= k < 20: 2^k ((1 - 2^-k) - (e - x)).
            const I small = in_range(k, 2, 19);
            take(small, [&] {
                const I t_bits = _mm256_slli_epi64(
                    _mm256_sub_epi64(splat_bits(0x3ff00000), _mm256_srlv_epi64(splat_bits(0x200000), k)), 32);
                return scaled(sub(from_bits(t_bits), e_x));
            });
            // 20 <= k <= 56: 2^k ((x - (e + 2^-k)) + 1).
            const I large = in_range(k, 20, 56);
            take(large, [&] {
                const I t_bits = _mm256_slli_epi64(_mm256_sub_epi64(splat_bits(0x3ff), k), 52);
                return scaled(add(sub(xr, add(e, from_bits(t_bits))), splat(1.0)));
            });
            // k <= -2 or k > 56: 2^k (1 - (e - x)) - 1.
            const I wide = _mm256_or_si256(_mm256_cmpgt_epi64(splat_bits(static_cast<std::uint64_t>(-1)), k),
                                           _mm256_cmpgt_epi64(k, splat_bits(56)));
            take(wide, [&] { return sub(scaled(sub(splat(1.0), e_x)), splat(1.0)); });
        }
        store(out + i, vx, y, ok, [](double a) { return std::expm1(a); });
    }
}

}  // namespace

bool available() noexcept { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
void exp_plain(const double* x, double* out, std::size_t n) { exp_lanes<Plain>(x, out, n); }
void exp_fused(const double* x, double* out, std::size_t n) { exp_lanes<Fused>(x, out, n); }
void log_plain(const double* x, double* out, std::size_t n) { log_lanes<Plain>(x, out, n); }
void log_fused(const double* x, double* out, std::size_t n) { log_lanes<Fused>(x, out, n); }
void expm1_plain(const double* x, double* out, std::size_t n) { expm1_lanes<Plain>(x, out, n); }
void expm1_fused(const double* x, double* out, std::size_t n) { expm1_lanes<Fused>(x, out, n); }

}  // namespace tessel::libm_avx2

#else

// Built without AVX2 (another architecture): the lanes are never chosen.
namespace tessel::libm_avx2 {
bool available() noexcept { return false; }
void exp_plain(const double*, double*, std::size_t) {}
void exp_fused(const double*, double*, std::size_t) {}
void log_plain(const double*, double*, std::size_t) {}
void log_fused(const double*, double*, std::size_t) {}
void expm1_plain(const double*, double*, std::size_t) {}
void expm1_fused(const double*, double*, std::size_t) {}
}  // namespace tessel::libm_avx2

#endif
