#pragma once
// The analytics over many elements at once: out[i] = f(args[i]...), every
// element to the bit what the scalar function returns for it. Each argument
// is a run of values or one value that every element shares.
#include <cstddef>

#include "analytics/binary.hpp"
#include "analytics/black76.hpp"
#include "analytics/option_type.hpp"

namespace tessel::analytics {

template <class T>
struct Strided {
    const T* data;
    std::size_t step;  // 1: a value per element; 0: one for all
    T operator[](std::size_t i) const { return data[i * step]; }
};

// The scalar function element by element.
template <auto F>
struct Over {
    template <class... A>
    static void run(std::size_t n, double* out, Strided<A>... in) {
        for (std::size_t i = 0; i < n; ++i) out[i] = F(in[i]...);
    }
};

// Kernels that compute the log, exp and erfc of a block of elements together
// (libm's own bits, several at a time: core/libm_lanes.hpp, erfc_inline.hpp),
// then finish each element with the scalar function's formula (batch.cpp).
// Implied volatility stays element by element: its search is a chain of
// dependent steps, and the scalar loop is its core already.
using Numbers = Strided<double>;
using Types = Strided<OptionType>;
void b76_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                        Numbers df);
void b76_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                    Numbers df);
void b76_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Numbers df);
void b76_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Numbers df);
void binary_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol,
                           Types cp, Numbers df);
void binary_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df);
void binary_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df);
void binary_speed_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df);
void binary_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                      Numbers df);
void binary_theta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df);

template <auto Kernel>
struct ByKernel {
    template <class... A>
    static void run(std::size_t n, double* out, Strided<A>... in) {
        Kernel(n, out, in...);
    }
};
template <>
struct Over<&b76_fairvalue> : ByKernel<&b76_fairvalue_many> {};
template <>
struct Over<&b76_delta> : ByKernel<&b76_delta_many> {};
template <>
struct Over<&b76_vega> : ByKernel<&b76_vega_many> {};
template <>
struct Over<&b76_gamma> : ByKernel<&b76_gamma_many> {};
template <>
struct Over<&binary_fairvalue> : ByKernel<&binary_fairvalue_many> {};
template <>
struct Over<&binary_delta> : ByKernel<&binary_delta_many> {};
template <>
struct Over<&binary_gamma> : ByKernel<&binary_gamma_many> {};
template <>
struct Over<&binary_speed> : ByKernel<&binary_speed_many> {};
template <>
struct Over<&binary_vega> : ByKernel<&binary_vega_many> {};
template <>
struct Over<&binary_theta> : ByKernel<&binary_theta_many> {};

}  // namespace tessel::analytics
