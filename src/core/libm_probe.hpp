#pragma once
// Whether an in-line copy of a libm function returns the running libm's bits.
// The build can only expect it: the libm is the one loaded at run time, and a
// module built against glibc 2.36 also runs on glibc 2.43, whose erfc is
// correctly rounded rather than fdlibm's. So each copy is checked once per
// process, on arguments spread over every region of the function, and the
// libm function is used where the copy differs.
#include <bit>
#include <cstdint>
#include <initializer_list>

namespace tessel {

// `copy` and `libm` agree to the bit on n arguments in [lo, hi]: one in each
// of n equal steps, at a fixed pseudo-random place within it.
template <class Copy, class Libm>
bool same_bits_over(double lo, double hi, int n, Copy&& copy, Libm&& libm) {
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double within = static_cast<double>(state >> 11) * 0x1p-53;
        const double x = lo + (hi - lo) * ((i + within) / n);
        if (std::bit_cast<std::uint64_t>(copy(x)) != std::bit_cast<std::uint64_t>(libm(x))) return false;
    }
    return true;
}

struct ProbeRange {
    double lo, hi;
    int n;
};

// The same over several ranges: a function's whole domain, and its tiny or
// delicate arguments on finer grids of their own.
template <class Copy, class Libm>
bool same_bits_over(std::initializer_list<ProbeRange> ranges, Copy&& copy, Libm&& libm) {
    for (const ProbeRange& r : ranges)
        if (!same_bits_over(r.lo, r.hi, r.n, copy, libm)) return false;
    return true;
}

}  // namespace tessel
