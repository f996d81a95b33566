// Implied volatilities against results recorded from an earlier build: a
// faster search must leave every result bit for bit as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "../support/recorded.hpp"
#include "analytics/implied_vol.hpp"

namespace {

using namespace tessel::analytics;
using tessel::recorded::Digests;

constexpr std::size_t BLOCK = 4096;
constexpr std::size_t BLOCKS = 256;  // 1,048,576 cases

const Digests<BLOCKS> RECORDED[] = {
#include "implied_vol_recorded.inc"
};

// Calls and puts, df 1 and below, tiny to huge ttx, prices from 0 and below
// to above any value, NaN and infinite inputs.
class Inputs {
public:
    struct Case {
        double ttx, fwd, strike, price, df;
        OptionType cp;
    };

    Case next() {
        Case c{};
        c.cp = s_.bits() & 1 ? OptionType::Call : OptionType::Put;
        c.df = s_.below(4) == 0 ? 1.0 : s_.uniform(0.3, 1.0);
        switch (s_.below(40)) {
            case 0: c.ttx = 0.0; break;
            case 1: c.ttx = -s_.unit(); break;
            case 2: c.ttx = s_.log_uniform(-60, -12); break;  // too short for most vols to show
            case 3: c.ttx = s_.log_uniform(5, 9); break;       // 32 to 512 years
            default: c.ttx = s_.log_uniform(-12, 5); break;    // 2 hours to 32 years
        }
        c.fwd = s_.log_uniform(-10, 20);
        switch (s_.below(10)) {
            case 0: c.strike = c.fwd; break;
            case 1: c.strike = c.fwd * s_.log_uniform(-8, 8); break;
            default: c.strike = c.fwd * s_.log_uniform(-1, 1); break;
        }
        const bool call = c.cp == OptionType::Call;
        const double intrinsic = c.df * (call ? std::max(c.fwd - c.strike, 0.0) : std::max(c.strike - c.fwd, 0.0));
        const double cap = c.df * (call ? c.fwd : c.strike);
        switch (s_.below(40)) {
            case 0: c.price = 0.0; break;
            case 1: c.price = std::numeric_limits<double>::quiet_NaN(); break;
            case 2: c.price = -s_.unit() * cap; break;
            case 3: c.price = cap * (1.0 + s_.unit()); break;  // above any value
            case 4: c.price = intrinsic; break;
            case 5: c.fwd = special(); break;
            case 6: c.df = special(); break;
            case 7: c.price = intrinsic + (cap - intrinsic) * s_.log_uniform(-50, 0); break;  // toward vol 0
            case 8: c.price = cap - (cap - intrinsic) * s_.log_uniform(-50, 0); break;        // toward vol infinity
            default: c.price = intrinsic + (cap - intrinsic) * s_.unit();
        }
        return c;
    }

private:
    double special() {
        constexpr double values[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                     0.0, -1.0};
        return values[s_.below(4)];
    }

    tessel::recorded::Seeded s_{20};
};

struct Computed {
    std::array<std::uint64_t, BLOCKS> blocks;
    std::size_t nan = 0, low_end = 0, high_end = 0, inside = 0;
};

Computed compute() {
    Inputs inputs;
    Computed out;
    for (std::size_t b = 0; b < BLOCKS; ++b) {
        std::uint64_t h = tessel::recorded::FNV_OFFSET;
        for (std::size_t i = 0; i < BLOCK; ++i) {
            const Inputs::Case c = inputs.next();
            const double iv = calibrate_black76_iv(c.ttx, c.fwd, c.strike, c.price, c.cp, c.df);
            h = tessel::recorded::mix(h, iv);
            if (std::isnan(iv))
                ++out.nan;
            else if (iv < 0.0101)
                ++out.low_end;
            else if (iv > 9.99)
                ++out.high_end;
            else
                ++out.inside;
        }
        out.blocks[b] = h;
    }
    return out;
}

TEST(ImpliedVolRecorded, EveryResultAsRecorded) {
    const Digests<BLOCKS>* recorded = tessel::recorded::for_this_libm<BLOCKS>(RECORDED);
    if (!recorded) GTEST_SKIP() << tessel::recorded::NO_RECORD;
    const Computed computed = compute();
    // The inputs reach every kind of outcome.
    EXPECT_GT(computed.nan, BLOCK * BLOCKS / 10);
    EXPECT_GT(computed.inside, BLOCK * BLOCKS / 3);
    EXPECT_GT(computed.low_end, 1000u);
    EXPECT_GT(computed.high_end, 1000u);
    tessel::recorded::expect_same(computed.blocks, *recorded, BLOCK);
}

// Prints the entry of implied_vol_recorded.inc for the build at hand:
//   test_analytics --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_Record'
TEST(ImpliedVolRecorded, DISABLED_Record) {
    const Computed computed = compute();
    tessel::recorded::print_entry(computed.blocks);
    std::printf("// %zu NaN, %zu near 0.01, %zu near 10, %zu inside\n", computed.nan, computed.low_end,
                computed.high_end, computed.inside);
}

}  // namespace
