#pragma once
// Two doubles operated on together: one SSE2 instruction per operation where
// the target has SSE2, two scalar operations elsewhere. Every lane gets
// exactly the IEEE operation that scalar code would apply, so a formula
// written once as a template over V (double or Double2) gives the same bits
// either way; only the speed differs.
//
// For templates, the scalar forms are here too: select, less, greater and
// greater_equal on doubles, and sqrt and abs found by argument-dependent
// lookup next to std::sqrt and std::abs.
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A function compiled twice, for the x86-64 baseline and for AVX2, the copy
// for the CPU chosen once at load time: its loops of arithmetic, divisions
// and square roots among it, then run four lanes wide. AVX2 brings no FMA and
// contraction is off, so both copies give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__GLIBC__)
#define TESSEL_WIDE_LANES __attribute__((target_clones("avx2", "default")))
#else
#define TESSEL_WIDE_LANES
#endif

namespace tessel::lanes {

inline double select(bool m, double a, double b) { return m ? a : b; }
// Ordered comparisons: false when either side is NaN.
inline bool less(double a, double b) { return a < b; }
inline bool greater(double a, double b) { return a > b; }
inline bool greater_equal(double a, double b) { return a >= b; }

#if defined(__SSE2__)

struct Double2 {
    __m128d v;
};
struct Mask2 {
    __m128d m;
};

inline Double2 load2(const double* p) { return {_mm_loadu_pd(p)}; }
inline void store2(double* p, Double2 x) { _mm_storeu_pd(p, x.v); }
inline Double2 make2(double lane0, double lane1) { return {_mm_set_pd(lane1, lane0)}; }
inline double lane0(Double2 x) { return _mm_cvtsd_f64(x.v); }
inline double lane1(Double2 x) { return _mm_cvtsd_f64(_mm_unpackhi_pd(x.v, x.v)); }

inline Double2 operator+(Double2 a, Double2 b) { return {_mm_add_pd(a.v, b.v)}; }
inline Double2 operator-(Double2 a, Double2 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Double2 operator*(Double2 a, Double2 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Double2 operator/(Double2 a, Double2 b) { return {_mm_div_pd(a.v, b.v)}; }
inline Double2 operator-(Double2 a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
inline Double2 sqrt(Double2 a) { return {_mm_sqrt_pd(a.v)}; }
inline Double2 abs(Double2 a) { return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)}; }

inline Mask2 less(Double2 a, Double2 b) { return {_mm_cmplt_pd(a.v, b.v)}; }
inline Mask2 greater(Double2 a, Double2 b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
inline Mask2 greater_equal(Double2 a, Double2 b) { return {_mm_cmpge_pd(a.v, b.v)}; }
inline Double2 select(Mask2 m, Double2 a, Double2 b) {
    return {_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v))};
}

#else

struct Double2 {
    double v[2];
};
struct Mask2 {
    bool m[2];
};

inline Double2 load2(const double* p) { return {{p[0], p[1]}}; }
inline void store2(double* p, Double2 x) { p[0] = x.v[0], p[1] = x.v[1]; }
inline Double2 make2(double lane0, double lane1) { return {{lane0, lane1}}; }
inline double lane0(Double2 x) { return x.v[0]; }
inline double lane1(Double2 x) { return x.v[1]; }

inline Double2 operator+(Double2 a, Double2 b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1]}}; }
inline Double2 operator-(Double2 a, Double2 b) { return {{a.v[0] - b.v[0], a.v[1] - b.v[1]}}; }
inline Double2 operator*(Double2 a, Double2 b) { return {{a.v[0] * b.v[0], a.v[1] * b.v[1]}}; }
inline Double2 operator/(Double2 a, Double2 b) { return {{a.v[0] / b.v[0], a.v[1] / b.v[1]}}; }
inline Double2 operator-(Double2 a) { return {{-a.v[0], -a.v[1]}}; }
inline Double2 sqrt(Double2 a) { return {{std::sqrt(a.v[0]), std::sqrt(a.v[1])}}; }
inline Double2 abs(Double2 a) { return {{std::abs(a.v[0]), std::abs(a.v[1])}}; }

inline Mask2 less(Double2 a, Double2 b) { return {{a.v[0] < b.v[0], a.v[1] < b.v[1]}}; }
inline Mask2 greater(Double2 a, Double2 b) { return {{a.v[0] > b.v[0], a.v[1] > b.v[1]}}; }
inline Mask2 greater_equal(Double2 a, Double2 b) { return {{a.v[0] >= b.v[0], a.v[1] >= b.v[1]}}; }
inline Double2 select(Mask2 m, Double2 a, Double2 b) {
    return {{m.m[0] ? a.v[0] : b.v[0], m.m[1] ? a.v[1] : b.v[1]}};
}

#endif

inline Double2 splat2(double x) { return make2(x, x); }

// A double on either side stands for both lanes.
inline Double2 operator+(double a, Double2 b) { return splat2(a) + b; }
inline Double2 operator+(Double2 a, double b) { return a + splat2(b); }
inline Double2 operator-(double a, Double2 b) { return splat2(a) - b; }
inline Double2 operator-(Double2 a, double b) { return a - splat2(b); }
inline Double2 operator*(double a, Double2 b) { return splat2(a) * b; }
inline Double2 operator*(Double2 a, double b) { return a * splat2(b); }
inline Double2 operator/(double a, Double2 b) { return splat2(a) / b; }
inline Double2 operator/(Double2 a, double b) { return a / splat2(b); }
inline Mask2 less(Double2 a, double b) { return less(a, splat2(b)); }
inline Mask2 greater(Double2 a, double b) { return greater(a, splat2(b)); }
inline Mask2 greater_equal(Double2 a, double b) { return greater_equal(a, splat2(b)); }
inline Double2 select(Mask2 m, double a, Double2 b) { return select(m, splat2(a), b); }
inline Double2 select(Mask2 m, Double2 a, double b) { return select(m, a, splat2(b)); }

#if defined(__GNUC__)
// Four doubles in GCC's generic vector: one AVX2 instruction per operation in
// a function compiled for AVX2, two SSE2 or NEON instructions elsewhere; each
// lane the IEEE operation scalar code would apply. Only + - * / (a double on
// either side stands for every lane), for the rational functions of
// templates over V.
#define TESSEL_HAS_DOUBLE4 1
typedef double Double4 __attribute__((vector_size(32)));
#endif

// out[i] = f(in[i]...) for i < n: two at a time, then the odd one alone. f
// takes double or Double2 arguments alike (a generic lambda).
template <class F, class... In>
void map2(std::size_t n, double* out, F&& f, const In*... in) {
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) store2(out + i, f(load2(in + i)...));
    for (; i < n; ++i) out[i] = f(in[i]...);
}

}  // namespace tessel::lanes
