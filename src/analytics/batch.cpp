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

// Each kernel is compiled twice (core/lanes.hpp) with everything it calls in
// line, so that its loops run four elements per instruction where the CPU
// has AVX2.
#if defined(__GNUC__)
#define TESSEL_KERNEL TESSEL_WIDE_LANES __attribute__((flatten))
#else
#define TESSEL_KERNEL TESSEL_WIDE_LANES
#endif

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

// A block's arguments side by side, a number repeated for every element: the
// loops over them then run several elements per instruction (their
// operations are those of the scalar formulas, lane by lane, so the bits are
// the same).
struct Block {
    std::size_t m;
    double fwd[BLOCK], strike[BLOCK], ttx[BLOCK], vol[BLOCK], df[BLOCK];
    // 1.0 or 0.0: flags held as doubles, which the loops can choose by
    // several at a time (bool flags they cannot).
    double call[BLOCK], guard[BLOCK];
    double log_fk[BLOCK];

    // Reads elements [first, first + m), and log(F / K) of those past the guard.
    void load(std::size_t first, std::size_t count, Numbers f, Numbers k, Numbers t, Numbers v,
                                Types cp, Numbers d) {
        m = count;
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t i = first + j;
            fwd[j] = f[i], strike[j] = k[i], ttx[j] = t[i], vol[j] = v[i], df[j] = d[i];
            call[j] = cp[i] == OptionType::Call ? 1.0 : 0.0;
        }
        for (std::size_t j = 0; j < m; ++j) {
            // guarded(), without a branch.
            const bool g = (ttx[j] <= 0.0) | (vol[j] <= 0.0);
            guard[j] = g ? 1.0 : 0.0;
            log_fk[j] = g ? UNUSED_ARGUMENT : fwd[j] / strike[j];
        }
        log_many(log_fk, log_fk, m);
    }
};

constexpr double ONE = 1.0;
constexpr OptionType CALL = OptionType::Call;
constexpr Numbers UNIT{&ONE, 0};
constexpr Types CALLS{&CALL, 0};

// erfc of m arguments, each libm's erfc to the bit: erfc_inline's kernels
// run over the arguments of one region four at a time, and the tail's exps
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
    // The arguments of one region through its kernel four side by side, then
    // two, then an odd one alone.
    const auto each_pair = [&](Region r, auto&& argument, auto&& kernel, auto&& finish) {
        const auto& idx = members[static_cast<int>(r)];
        const std::size_t c = count[static_cast<int>(r)];
        std::size_t k = 0;
#if defined(TESSEL_HAS_DOUBLE4)
        for (; k + 4 <= c; k += 4) {
            const lanes::Double4 s = {argument(x[idx[k]]), argument(x[idx[k + 1]]), argument(x[idx[k + 2]]),
                                      argument(x[idx[k + 3]])};
            const lanes::Double4 q = kernel(s);
            for (std::size_t l = 0; l < 4; ++l) finish(idx[k + l], q[l]);
        }
#endif
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

OptionType type_of(double call) { return call != 0.0 ? OptionType::Call : OptionType::Put; }

// The sensitivities: log(F / K), then exp of an argument made of it, then
// the formula. `argument(b, j, p, q)` gives exp's argument and may keep two
// numbers of the element in p and q for `finish(b, j, exp value, p, q)`.
template <class Argument, class Finish>
void through_exp(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                 Numbers df, Argument&& argument, Finish&& finish) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        Block b;
        b.load(first, m, fwd, strike, ttx, vol, cp, df);
        double e[BLOCK], p[BLOCK], q[BLOCK];
        for (std::size_t j = 0; j < m; ++j) {
            const double arg = argument(b, j, p[j], q[j]);
            e[j] = b.guard[j] != 0.0 ? UNUSED_ARGUMENT : arg;
        }
        exp_many(e, e, m);
        for (std::size_t j = 0; j < m; ++j) {
            const double value = finish(b, j, e[j], p[j], q[j]);
            out[first + j] = b.guard[j] != 0.0 ? 0.0 : value;
        }
    });
}

// Black-76: exp(-d1^2 / 2), keeping sqrt(T).
template <class Finish>
void b76_sensitivity(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                     Numbers df, Finish&& finish) {
    through_exp(
        n, out, fwd, strike, ttx, vol, cp, df,
        [](const Block& b, std::size_t j, double& sqrt_t, double&) {
            sqrt_t = std::sqrt(b.ttx[j]);
            return gaussian_exp_arg(d1_from_log(b.log_fk[j], b.ttx[j], b.vol[j], b.vol[j] * sqrt_t));
        },
        [&](const Block& b, std::size_t j, double e, double sqrt_t, double) { return finish(b, j, e / SQRT_2PI, sqrt_t); });
}

// Binary options: exp(-x^2 / 2), keeping the driver.
template <class Finish>
void binary_sensitivity(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx, Numbers vol, Types cp,
                        Numbers df, Finish&& finish) {
    through_exp(
        n, out, fwd, strike, ttx, vol, cp, df,
        [](const Block& b, std::size_t j, double& s, double& x) {
            const BinaryDriver d = binary_driver(b.log_fk[j], b.ttx[j], b.vol[j]);
            s = d.s, x = d.x;
            return gaussian_exp_arg(d.x);
        },
        [&](const Block& b, std::size_t j, double e, double s, double x) { return finish(b, j, e, BinaryDriver{s, x}); });
}

}  // namespace

TESSEL_KERNEL void b76_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                          Numbers vol, Types cp, Numbers df) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        Block b;
        b.load(first, m, fwd, strike, ttx, vol, cp, df);
        // z[j] weighs F, z[m + j] weighs K: erfc of the cdf arguments, (d1,
        // d2) for a call, (-d1, -d2) for a put.
        double z[2 * BLOCK], e[2 * BLOCK];
        for (std::size_t j = 0; j < m; ++j) {
            const double vol_sqrt_t = b.vol[j] * std::sqrt(b.ttx[j]);
            const double d1 = d1_from_log(b.log_fk[j], b.ttx[j], b.vol[j], vol_sqrt_t);
            const double d2 = d1 - vol_sqrt_t;
            z[j] = b.guard[j] != 0.0 ? 0.0 : cdf_erfc_arg(b.call[j] != 0.0 ? d1 : -d1);
            z[m + j] = b.guard[j] != 0.0 ? 0.0 : cdf_erfc_arg(b.call[j] != 0.0 ? d2 : -d2);
        }
        erfc_many(z, e, 2 * m);
        for (std::size_t j = 0; j < m; ++j) {
            const OptionType type = type_of(b.call[j]);
            out[first + j] = b.guard[j] != 0.0 ? b76_guard_value(b.fwd[j], b.strike[j], type, b.df[j])
                                        : b76_from_cdfs(b.fwd[j], b.strike[j], type, b.df[j], cdf_from_erfc(e[j]),
                                                        cdf_from_erfc(e[m + j]));
        }
    });
}

TESSEL_KERNEL void b76_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                      Numbers vol, Types cp, Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double pdf, double sqrt_t) {
        return b76_delta_from(pdf, b.fwd[j], b.vol[j], sqrt_t, type_of(b.call[j]), b.df[j]);
    });
}

TESSEL_KERNEL void b76_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                     Numbers vol, Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol, CALLS, df, [](const Block& b, std::size_t j, double pdf, double sqrt_t) {
        return b76_vega_from(pdf, b.fwd[j], sqrt_t, b.df[j]);
    });
}

TESSEL_KERNEL void b76_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                      Numbers vol, Numbers df) {
    b76_sensitivity(n, out, fwd, strike, ttx, vol, CALLS, df, [](const Block& b, std::size_t j, double pdf, double sqrt_t) {
        return b76_gamma_from(pdf, b.fwd[j], b.vol[j], sqrt_t, b.df[j]);
    });
}

TESSEL_KERNEL void binary_fairvalue_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                             Numbers vol, Types cp, Numbers df) {
    by_block(n, [&](std::size_t first, std::size_t m) {
        Block b;
        b.load(first, m, fwd, strike, ttx, vol, cp, df);
        double z[BLOCK];
        for (std::size_t j = 0; j < m; ++j) {
            const double arg = cdf_erfc_arg(binary_cdf_arg(binary_driver(b.log_fk[j], b.ttx[j], b.vol[j]),
                                                           type_of(b.call[j])));
            z[j] = b.guard[j] != 0.0 ? 0.0 : arg;
        }
        erfc_many(z, z, m);
        for (std::size_t j = 0; j < m; ++j) {
            const double guard = binary_guard_value(b.fwd[j], b.strike[j], type_of(b.call[j]), b.df[j]);
            out[first + j] = b.guard[j] != 0.0 ? guard : binary_value_from_cdf(cdf_from_erfc(z[j]), b.df[j]);
        }
    });
}

TESSEL_KERNEL void binary_delta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                         Numbers vol, Types cp, Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double e, const BinaryDriver&) {
        return binary_delta_from(e / SQRT_2PI, b.fwd[j], b.ttx[j], b.vol[j], type_of(b.call[j]), b.df[j]);
    });
}

TESSEL_KERNEL void binary_gamma_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                         Numbers vol, Types cp, Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double e, const BinaryDriver& d) {
        return binary_gamma_from(e / SQRT_2PI, d, b.fwd[j], type_of(b.call[j]), b.df[j]);
    });
}

TESSEL_KERNEL void binary_speed_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                         Numbers vol, Types cp, Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double e, const BinaryDriver& d) {
        return binary_speed_from(e / SQRT_2PI, d, b.fwd[j], type_of(b.call[j]), b.df[j]);
    });
}

TESSEL_KERNEL void binary_vega_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                        Numbers vol, Types cp, Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double e, const BinaryDriver& d) {
        return binary_vega_from(e / -SQRT_2PI, d, b.vol[j], type_of(b.call[j]), b.df[j]);
    });
}

TESSEL_KERNEL void binary_theta_many(std::size_t n, double* out, Numbers fwd, Numbers strike, Numbers ttx,
                                         Numbers vol, Types cp, Numbers df) {
    binary_sensitivity(n, out, fwd, strike, ttx, vol, cp, df, [](const Block& b, std::size_t j, double e, const BinaryDriver& d) {
        return binary_theta_from(e / SQRT_2PI, d, b.ttx[j], type_of(b.call[j]), b.df[j]);
    });
}

}  // namespace tessel::analytics
