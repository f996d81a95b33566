#pragma once
// exp, log and expm1 of many arguments: each result to the bit what the
// running libm's function returns for that argument, computed several at a
// time.
//
// glibc (2.28 and later) computes exp and log with Arm's table-driven
// algorithms, expm1 with fdlibm's, and on x86-64 picks at load time one of
// two builds of each: one that fuses multiplications and additions (FMA, on
// CPUs that have it and AVX2) and one that does not (any other CPU, or when
// told so by GLIBC_TUNABLES). They differ in the last bit now and then. Here
// both are written out, four arguments per AVX2 instruction, and a probe at
// first use shows which of them the running libm is, by comparing them with
// it over every range of its arguments. Where neither is (another libm,
// another CPU, another algorithm), and for the arguments the algorithms treat
// apart (exp of tiny, huge or special numbers, log of subnormals and special
// numbers, expm1 of 0, tiny, huge and special numbers), each argument goes to
// the libm function itself.
#include <cstddef>
#include <cstdint>

namespace tessel {

// out[i] = std::exp(x[i]), out[i] = std::log(x[i]) for i < n, to the bit;
// `out` may be `x`.
void exp_many(const double* x, double* out, std::size_t n);
void log_many(const double* x, double* out, std::size_t n);
void expm1_many(const double* x, double* out, std::size_t n);

// Which build of the libm function the lanes reproduce, found by the probe.
enum class LibmBuild { Libm, Plain, Fused };
LibmBuild exp_lanes() noexcept;
LibmBuild log_lanes() noexcept;
LibmBuild expm1_lanes() noexcept;

namespace libm_data {

struct LogEntry {
    double first, second;
};
extern const std::uint64_t EXP_TABLE[256];
extern const LogEntry LOG_TABLE[128];   // {invc, logc}
extern const LogEntry LOG_TABLE2[128];  // {chi, clo}

// exp: x = k ln2/128 + r, exp(x) = 2^(k/128) exp(r).
inline constexpr double EXP_INV_LN2_N = 0x1.71547652b82fep7;
inline constexpr double EXP_NEG_LN2_HI_N = -0x1.62e42fefa0000p-8;
inline constexpr double EXP_NEG_LN2_LO_N = -0x1.cf79abc9e3b3ap-47;
inline constexpr double EXP_SHIFT = 0x1.8p52;
inline constexpr double EXP_C2 = 0x1.ffffffffffdbdp-2, EXP_C3 = 0x1.555555555543cp-3,
                        EXP_C4 = 0x1.55555cf172b91p-5, EXP_C5 = 0x1.1111167a4d017p-7;

// log: x = 2^k z, log(x) = k ln2 + log(c) + log1p(z/c - 1).
inline constexpr double LOG_LN2_HI = 0x1.62e42fefa3800p-1;
inline constexpr double LOG_LN2_LO = 0x1.ef35793c76730p-45;
inline constexpr double LOG_A0 = -0x1.0000000000001p-1, LOG_A1 = 0x1.555555551305bp-2,
                        LOG_A2 = -0x1.fffffffeb4590p-3, LOG_A3 = 0x1.999b324f10111p-3,
                        LOG_A4 = -0x1.55575e506c89fp-3;
inline constexpr std::uint64_t LOG_OFF = 0x3fe6000000000000;
// Arguments in [1 - 2^-4, 1 + 0x1.09p-4) take another polynomial in r = x - 1.
inline constexpr std::uint64_t LOG_NEAR_ONE = 0x3fee000000000000;
inline constexpr std::uint64_t LOG_NEAR_ONE_SPAN = 0x3090000000000;
inline constexpr double LOG_B0 = -0x1.0000000000000p-1, LOG_B1 = 0x1.5555555555577p-2,
                        LOG_B2 = -0x1.ffffffffffdcbp-3, LOG_B3 = 0x1.999999995dd0cp-3,
                        LOG_B4 = -0x1.55555556745a7p-3, LOG_B5 = 0x1.24924a344de30p-3,
                        LOG_B6 = -0x1.fffffa4423d65p-4, LOG_B7 = 0x1.c7184282ad6cap-4,
                        LOG_B8 = -0x1.999eb43b068ffp-4, LOG_B9 = 0x1.78182f7afd085p-4,
                        LOG_B10 = -0x1.5521375d145cdp-4;

// expm1 (fdlibm's algorithm, glibc's evaluation order): high words of |x|
// that bound its cases, ln2 in two parts, and the rational function's
// coefficients.
inline constexpr std::int64_t EXPM1_TINY = 0x3c8fffff;              // below 2^-54: x itself
inline constexpr std::int64_t EXPM1_HALF_LN2 = 0x3fd62e42;          // up to ln2 / 2: k = 0
inline constexpr std::int64_t EXPM1_THREE_HALVES_LN2 = 0x3ff0a2b1;  // up to 3 ln2 / 2: k = +-1
inline constexpr std::int64_t EXPM1_HUGE = 0x40436879;              // up to 56 ln2
inline constexpr double EXPM1_INV_LN2 = 0x1.71547652b82fep+0;
inline constexpr double EXPM1_LN2_HI = 0x1.62e42fee00000p-1;
inline constexpr double EXPM1_LN2_LO = 0x1.a39ef35793c76p-33;
inline constexpr double EXPM1_Q1 = -0x1.11111111110f4p-5, EXPM1_Q2 = 0x1.a01a019fe5585p-10,
                        EXPM1_Q3 = -0x1.4ce199eaadbb7p-14, EXPM1_Q4 = 0x1.0cfca86e65239p-18,
                        EXPM1_Q5 = -0x1.afdb76e09c32dp-23;

}  // namespace libm_data

// The AVX2 builds (libm_lanes_avx2.cpp, x86-64 only): n a multiple of 4.
namespace libm_avx2 {
bool available() noexcept;  // the CPU has AVX2 and FMA
void exp_plain(const double* x, double* out, std::size_t n);
void exp_fused(const double* x, double* out, std::size_t n);
void log_plain(const double* x, double* out, std::size_t n);
void log_fused(const double* x, double* out, std::size_t n);
void expm1_plain(const double* x, double* out, std::size_t n);
void expm1_fused(const double* x, double* out, std::size_t n);
}  // namespace libm_avx2

}  // namespace tessel
