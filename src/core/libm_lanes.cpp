#include "core/libm_lanes.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "core/libm_probe.hpp"

namespace tessel {
namespace {

using Many = void (*)(const double*, double*, std::size_t);

// Whether `lanes` gives libm's bits on every argument of a sample: spread
// over the whole domain, dense where the arguments of the analytics lie, and
// the special values that the lanes hand back to libm.
template <class Libm>
bool matches(Many lanes, Libm libm, double lo, double hi, double dense_lo, double dense_hi,
             std::initializer_list<double> special) {
    std::vector<double> x;
    const auto add_spread = [&](double a, double b, int n) {
        std::uint64_t state = 0x9e3779b97f4a7c15ULL;
        for (int i = 0; i < n; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const double within = static_cast<double>(state >> 11) * 0x1p-53;
            x.push_back(a + (b - a) * ((i + within) / n));
        }
    };
    add_spread(lo, hi, 4096);
    add_spread(dense_lo, dense_hi, 8192);
    x.insert(x.end(), special);
    while (x.size() % 4 != 0) x.push_back(1.0);
    std::vector<double> out(x.size());
    lanes(x.data(), out.data(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        if (std::bit_cast<std::uint64_t>(out[i]) != std::bit_cast<std::uint64_t>(libm(x[i]))) return false;
    return true;
}

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_ = std::numeric_limits<double>::quiet_NaN();

struct Choice {
    LibmBuild build = LibmBuild::Libm;
    Many lanes = nullptr;
};

// The build of one function that the lanes reproduce, probed at its first
// use, once per process.
template <class Libm>
Choice choose(Many plain, Many fused, Libm libm, double lo, double hi, double dense_lo, double dense_hi,
              std::initializer_list<double> special) {
    if (!libm_avx2::available()) return {};
    if (matches(fused, libm, lo, hi, dense_lo, dense_hi, special)) return {LibmBuild::Fused, fused};
    if (matches(plain, libm, lo, hi, dense_lo, dense_hi, special)) return {LibmBuild::Plain, plain};
    return {};
}

const Choice& exp_choice() noexcept {
    static const Choice choice =
        choose(libm_avx2::exp_plain, libm_avx2::exp_fused, [](double a) { return std::exp(a); }, -760.0, 720.0,
               -40.0, 40.0, {0.0, -0.0, 0x1p-60, -0x1p-60, 709.7, -745.0, -708.5, INF, -INF, NAN_});
    return choice;
}

const Choice& log_choice() noexcept {
    static const Choice choice =
        choose(libm_avx2::log_plain, libm_avx2::log_fused, [](double a) { return std::log(a); }, 1e-3, 1e3, 0.3,
               3.0, {1.0, 0.97, 1.05, 0.0, -1.0, 0x1p-1070, 1e300, INF, NAN_});
    return choice;
}

const Choice& expm1_choice() noexcept {
    static const Choice choice =
        choose(libm_avx2::expm1_plain, libm_avx2::expm1_fused, [](double a) { return std::expm1(a); }, -45.0,
               45.0, -3.0, 3.0,
               {0.0, -0.0, 0x1p-55, -0x1p-55, 0.25, -0.25, -0.3, 0.35, -0.35, 1.04, -1.04, 38.8, -38.8, 40.0, -40.0,
                710.0, INF, -INF, NAN_});
    return choice;
}

template <class Libm>
void many(const Choice& choice, const double* x, double* out, std::size_t n, Libm libm) {
    std::size_t i = 0;
    if (choice.lanes != nullptr) {
        i = n / 4 * 4;
        choice.lanes(x, out, i);
    }
    for (; i < n; ++i) out[i] = libm(x[i]);
}

}  // namespace

LibmBuild exp_lanes() noexcept { return exp_choice().build; }
LibmBuild log_lanes() noexcept { return log_choice().build; }
LibmBuild expm1_lanes() noexcept { return expm1_choice().build; }

void exp_many(const double* x, double* out, std::size_t n) {
    many(exp_choice(), x, out, n, [](double a) { return std::exp(a); });
}
void log_many(const double* x, double* out, std::size_t n) {
    many(log_choice(), x, out, n, [](double a) { return std::log(a); });
}
void expm1_many(const double* x, double* out, std::size_t n) {
    many(expm1_choice(), x, out, n, [](double a) { return std::expm1(a); });
}

}  // namespace tessel
