#include "analytics/batch.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "analytics/binary.hpp"
#include "analytics/black76.hpp"
#include "analytics/erfc_inline.hpp"
#include "analytics/normal.hpp"
#include "core/lanes.hpp"
#include "core/libm_lanes.hpp"

namespace tessel::analytics {
namespace {

using namespace detail;
using Numbers = Strided<double>;
using Types = Strided<OptionType>;

// Elements are done a block at a time, so that the intermediate columns stay
// in the first-level cache.
constexpr std::size_t BLOCK = 256;

template <class Body>
void by_block(std::size_t n, Body&& body) {
    for (std::size_t first = 0; first < n; first += BLOCK) body(first, std::min(BLOCK, n - first));
}

// An argument whose exp or log takes the common path of libm's algorithm,
// for the elements whose result is not used (the guarded ones).
constexpr double UNUSED_ARGUMENT = 2.0;

// log(F / K) of the block's elements past the guard.
void log_ratios(Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, std::size_t first, std::size_t m,
                bool* guard, double* out) {
    for (std::size_t j = 0; j < m; ++j) {
        const std::size_t i = first + j;
        guard[j] = guarded(ttx[i], vol[i]);
        out[j] = guard[j] ? UNUSED_ARGUMENT : fwd[i] / strike[i];
    }
    log_many(out, out, m);
}

// erfc of m arguments, each libm's erfc to the bit: erfc_inline's kernels
// run over the arguments of one region two at a time, and the tail's exps
// over all of its arguments at once. Where the in-line erfc is not libm's,
// libm's erfc of each.
void erfc_many(const double* x, double* out, std::size_t m) {
    using namespace erfc_detail;
    if (!inline_erfc_is_libm()) {
        for (std::size_t j = 0; j < m; ++j) out[j] = std::erfc(x[j]);
        return;
    }
    constexpr std::size_t MAX = 2 * BLOCK;
    std::array<std::array<std::uint16_t, MAX>, 5> members;
    std::array<std::size_t, 5> count{};
    for (std::size_t j = 0; j < m; ++j) {
        const Region r = region_of(high_word(x[j]));
        if (r == Region::Direct)
            out[j] = erfc_inline(x[j]);
        else
            members[static_cast<int>(r)][count[static_cast<int>(r)]++] = static_cast<std::uint16_t>(j);
    }
    // Two arguments of one region through its kernel, side by side; an odd one alone.
    const auto each_pair = [&](Region r, auto&& argument, auto&& kernel, auto&& finish) {
        const auto& idx = members[static_cast<int>(r)];
        const std::size_t c = count[static_cast<int>(r)];
        std::size_t k = 0;
        for (; k + 2 <= c; k += 2) {
            const double a = x[idx[k]], b = x[idx[k + 1]];
            const lanes::Double2 q = kernel(argument(lanes::make2(a, b)));
            finish(idx[k], lanes::lane0(q));
            finish(idx[k + 1], lanes::lane1(q));
        }
        if (k < c) finish(idx[k], kernel(argument(x[idx[k]])));
    };
    each_pair(
        Region::Small, [](auto v) { return v * v; }, [](auto z) { return ratio_small(z); },
        [&](std::size_t j, double q) { out[j] = finish_small(x[j], high_word(x[j]), q); });
    each_pair(
        Region::Middle, [](auto v) { using std::abs; return abs(v) - 1.0; }, [](auto s) { return ratio_middle(s); },
        [&](std::size_t j, double q) { out[j] = finish_middle(high_word(x[j]), q); });
    // The tails: the ratio, then exp(a) and exp(b) of every tail argument.
    std::array<double, MAX> exp_a, exp_b;
    std::array<std::uint16_t, MAX> tail;
    std::size_t tails = 0;
    const auto keep_tail = [&](std::size_t j, double q) {
        const TailExpArgs e = tail_exp_args(x[j], q);
        exp_a[tails] = e.a;
        exp_b[tails] = e.b;
        tail[tails++] = static_cast<std::uint16_t>(j);
    };
    const auto reciprocal_square = [](auto v) {
        using std::abs;
        const auto a = abs(v);
        return 1.0 / (a * a);
    };
    each_pair(Region::Near, reciprocal_square, [](auto s) { return ratio_near(s); }, keep_tail);
    each_pair(Region::Far, reciprocal_square, [](auto s) { return ratio_far(s); }, keep_tail);
    exp_many(exp_a.data(), exp_a.data(), tails);
    exp_many(exp_b.data(), exp_b.data(), tails);
    for (std::size_t k = 0; k < tails; ++k) {
        const std::size_t j = tail[k];
        out[j] = finish_tail_from(x[j], high_word(x[j]), exp_a[k], exp_b[k]);
    }
}

// The Black-76 sensitivities: log, then exp of -d1^2 / 2, then the formula.
template <class Finish>
void b76_sensitivity(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol,
                     Finish&& finish) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        bool guard[BLOCK];
        double values[BLOCK], sqrt_t[BLOCK];
        log_ratios(fwd, strike, ttx, vol, first, m, guard, values);
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            if (guard[j]) {
                values[j] = UNUSED_ARGUMENT;
                continue;
            }
            sqrt_t[j] = std::sqrt(ttx[i]);
            values[j] = gaussian_exp_arg(d1_from_log(values[j], ttx[i], vol[i], vol[i] * sqrt_t[j]));
        }
        exp_many(values, values, m);
        for (std::size_t j = 0; j < m; ++j)
            out[first + j] = guard[j] ? 0.0 : finish(first + j, values[j] / SQRT_2PI, sqrt_t[j]);
    });
}

// The binary sensitivities: log, then exp of -x^2 / 2, then the formula.
template <class Finish>
void binary_sensitivity(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol,
                        Finish&& finish) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        bool guard[BLOCK];
        double values[BLOCK];
        BinaryDriver driver[BLOCK];
        log_ratios(fwd, strike, ttx, vol, first, m, guard, values);
        for (std::size_t j = 0; j < m; ++j) {
            if (guard[j]) {
                values[j] = UNUSED_ARGUMENT;
                continue;
            }
            driver[j] = binary_driver(values[j], ttx[first + j], vol[first + j]);
            values[j] = gaussian_exp_arg(driver[j].x);
        }
        exp_many(values, values, m);
        for (std::size_t j = 0; j < m; ++j) out[first + j] = guard[j] ? 0.0 : finish(first + j, values[j], driver[j]);
    });
}

}  // namespace

void b76_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                        Numbers df) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        bool guard[BLOCK];
        double log_fk[BLOCK], z[2 * BLOCK], e[2 * BLOCK];
        log_ratios(fwd, strike, ttx, vol, first, m, guard, log_fk);
        // z[j] weighs F, z[BLOCK + j] weighs K: erfc of the cdf arguments
        // (d1, d2) for a call, (-d1, -d2) for a put.
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            if (guard[j]) {
                z[j] = z[m + j] = 0.0;
                continue;
            }
            const double vol_sqrt_t = vol[i] * std::sqrt(ttx[i]);
            const double d1 = d1_from_log(log_fk[j], ttx[i], vol[i], vol_sqrt_t);
            const double d2 = d1 - vol_sqrt_t;
            const bool call = cp[i] == OptionType::Call;
            z[j] = cdf_erfc_arg(call ? d1 : -d1);
            z[m + j] = cdf_erfc_arg(call ? d2 : -d2);
        }
        erfc_many(z, e, 2 * m);
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            out[i] = guard[j] ? b76_guard_value(fwd[i], strike[i], cp[i], df[i])
                              : b76_from_cdfs(fwd[i], strike[i], cp[i], df[i], cdf_from_erfc(e[j]),
                                              cdf_from_erfc(e[m + j]));
        }
    });
}

void b76_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                    Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double pdf, double sqrt_t) {
        return b76_delta_from(pdf, fwd[i], vol[i], sqrt_t, cp[i], df[i]);
    });
}

void b76_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol,
                    [&](std::size_t i, double pdf, double sqrt_t) { return b76_vega_from(pdf, fwd[i], sqrt_t, df[i]); });
}

void b76_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double pdf, double sqrt_t) {
        return b76_gamma_from(pdf, fwd[i], vol[i], sqrt_t, df[i]);
    });
}

void binary_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol,
                           Types cp, Numbers df) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        bool guard[BLOCK];
        double z[BLOCK];
        log_ratios(fwd, strike, ttx, vol, first, m, guard, z);
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            z[j] = guard[j] ? 0.0 : cdf_erfc_arg(binary_cdf_arg(binary_driver(z[j], ttx[i], vol[i]), cp[i]));
        }
        erfc_many(z, z, m);
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            out[i] = guard[j] ? binary_guard_value(fwd[i], strike[i], cp[i], df[i])
                              : binary_value_from_cdf(cdf_from_erfc(z[j]), df[i]);
        }
    });
}

void binary_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double e, const BinaryDriver&) {
        return binary_delta_from(e / SQRT_2PI, fwd[i], ttx[i], vol[i], cp[i], df[i]);
    });
}

void binary_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double e, const BinaryDriver& d) {
        return binary_gamma_from(e / SQRT_2PI, d, fwd[i], cp[i], df[i]);
    });
}

void binary_speed_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double e, const BinaryDriver& d) {
        return binary_speed_from(e / SQRT_2PI, d, fwd[i], cp[i], df[i]);
    });
}

void binary_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                      Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double e, const BinaryDriver& d) {
        return binary_vega_from(e / -SQRT_2PI, d, vol[i], cp[i], df[i]);
    });
}

void binary_theta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                       Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, [&](std::size_t i, double e, const BinaryDriver& d) {
        return binary_theta_from(e / SQRT_2PI, d, ttx[i], cp[i], df[i]);
    });
}

}  // namespace tessel::analytics
