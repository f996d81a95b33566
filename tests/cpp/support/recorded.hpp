#pragma once
// Results recorded from an earlier build, to show that a faster version left
// every one of them as it was, bit for bit. The inputs come back from a seed,
// so only digests of the results are stored: one per block of cases, which
// says where a difference lies.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>

namespace tessel::recorded {

inline constexpr std::uint64_t FNV_OFFSET = 0xcbf29ce484222325;

// FNV-1a over the eight bytes of x.
inline std::uint64_t mix(std::uint64_t h, double x) {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    for (int i = 0; i < 8; ++i, bits >>= 8) h = (h ^ (bits & 0xff)) * 0x100000001b3;
    return h;
}

// Numbers from a seed without any libm call, the same on every machine.
class Seeded {
public:
    explicit Seeded(std::uint64_t seed) : gen_(seed) {}
    std::uint64_t bits() { return gen_(); }
    std::uint64_t below(std::uint64_t n) { return gen_() % n; }
    double unit() { return static_cast<double>(gen_() >> 11) * 0x1p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    // 2^k (1 + u) for k in [lo, hi): every binade equally often.
    double log_uniform(int lo, int hi) {
        const int k = lo + static_cast<int>(below(static_cast<std::uint64_t>(hi - lo)));
        return std::ldexp(1.0 + unit(), k);
    }

private:
    std::mt19937_64 gen_;
};

// The last bits of libm's exp, log, erfc and tanh on this machine: the x86-64
// code paths with and without FMA differ in a few of these arguments.
inline std::uint64_t libm_fingerprint() {
    Seeded s(20);
    std::uint64_t h = FNV_OFFSET;
    for (int i = 0; i < 65536; ++i) {
        const double u = s.unit();
        h = mix(h, std::exp(60.0 * u - 30.0));
        h = mix(h, std::log(std::ldexp(1.0 + u, i % 64 - 32)));
        h = mix(h, std::erfc(12.0 * u - 4.0));
        h = mix(h, std::tanh(8.0 * u - 4.0));
    }
    return h;
}

template <std::size_t Blocks>
struct Digests {
    std::uint64_t libm;
    std::array<std::uint64_t, Blocks> blocks;
};

// The digests recorded for this machine's libm, or none.
template <std::size_t Blocks>
const Digests<Blocks>* for_this_libm(std::span<const Digests<Blocks>> recorded) {
    const std::uint64_t libm = libm_fingerprint();
    for (const Digests<Blocks>& r : recorded)
        if (r.libm == libm) return &r;
    return nullptr;
}

template <std::size_t Blocks>
void expect_same(const std::array<std::uint64_t, Blocks>& computed, const Digests<Blocks>& recorded,
                 std::size_t cases_per_block) {
    std::size_t differing = 0;
    for (std::size_t b = 0; b < Blocks; ++b) {
        if (computed[b] == recorded.blocks[b]) continue;
        if (++differing <= 5)
            ADD_FAILURE() << "results differ in cases " << b * cases_per_block << " to "
                          << (b + 1) * cases_per_block - 1;
    }
    EXPECT_EQ(differing, 0u) << "blocks of " << cases_per_block << " cases with a different result";
}

// The table entry for this build and libm, for the .inc file beside the test.
template <std::size_t Blocks>
void print_entry(const std::array<std::uint64_t, Blocks>& computed) {
    std::printf("    {0x%016llxULL, {{\n", static_cast<unsigned long long>(libm_fingerprint()));
    for (std::size_t b = 0; b < Blocks; ++b)
        std::printf("%s0x%016llxULL,%s", b % 4 == 0 ? "        " : " ",
                    static_cast<unsigned long long>(computed[b]), b % 4 == 3 ? "\n" : "");
    std::printf("    }}},\n");
}

inline const char* const NO_RECORD =
    "no results recorded for this machine's libm: its exp, log, erfc or tanh give other last bits";

}  // namespace tessel::recorded
