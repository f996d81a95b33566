// The C++ core alone: the calls that bench.py times through the module, on
// the same inputs, so that the difference between the two is the cost of the
// Python boundary (argument matching, conversions, result objects).
// Keep the inputs in step with bench.py.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/binary.hpp"
#include "analytics/black76.hpp"
#include "analytics/implied_vol.hpp"
#include "calendar/calendar.hpp"
#include "calendar/tenor.hpp"
#include "core/instant.hpp"
#include "volmodel/vol_model.hpp"

namespace {

namespace an = tessel::analytics;
namespace vm = tessel::volmodel;
namespace cal = tessel::calendar;

// ---- analytics: F = K = 100, T = 1, vol = 0.2, "call", df = 1 ----

template <class Fn>
void analytic(benchmark::State& state, Fn fn) {
    double fwd = 100.0, strike = 100.0, ttx = 1.0, vol = 0.2, df = 1.0;
    std::string_view cp = "call";
    for (auto _ : state) {
        benchmark::DoNotOptimize(fwd);
        benchmark::DoNotOptimize(strike);
        benchmark::DoNotOptimize(ttx);
        benchmark::DoNotOptimize(vol);
        benchmark::DoNotOptimize(df);
        benchmark::DoNotOptimize(cp);
        benchmark::DoNotOptimize(fn(fwd, strike, ttx, vol, cp, df));
    }
}

using Typed = double (*)(double, double, double, double, an::OptionType, double);
using Plain = double (*)(double, double, double, double, double);

// The option type is read from its text on every call, as the module does.
template <Typed F>
void typed(benchmark::State& state) {
    analytic(state, [](double f, double k, double t, double v, std::string_view cp, double df) {
        return F(f, k, t, v, *an::parse_option_type(cp), df);
    });
}
template <Plain F>
void plain(benchmark::State& state) {
    analytic(state, [](double f, double k, double t, double v, std::string_view, double df) { return F(f, k, t, v, df); });
}

BENCHMARK(typed<&an::b76_fairvalue>)->Name("b76_fairvalue");
BENCHMARK(typed<&an::b76_delta>)->Name("b76_delta");
BENCHMARK(plain<&an::b76_vega>)->Name("b76_vega");
BENCHMARK(plain<&an::b76_gamma>)->Name("b76_gamma");
BENCHMARK(typed<&an::binary_fairvalue>)->Name("binary_fairvalue");
BENCHMARK(typed<&an::binary_vega>)->Name("binary_vega");
BENCHMARK(typed<&an::binary_delta>)->Name("binary_delta");
BENCHMARK(typed<&an::binary_gamma>)->Name("binary_gamma");
BENCHMARK(typed<&an::binary_speed>)->Name("binary_speed");
BENCHMARK(typed<&an::binary_theta>)->Name("binary_theta");

// At the money: the price of the case above. Deep out of the money: a call
// struck at twice the forward, T = 0.25, vol = 0.5.
void iv(benchmark::State& state, double ttx, double fwd, double strike, double vol) {
    double price = an::b76_fairvalue(fwd, strike, ttx, vol, an::OptionType::Call, 1.0);
    std::string_view cp = "call";
    double df = 1.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(price);
        benchmark::DoNotOptimize(cp);
        benchmark::DoNotOptimize(ttx);
        benchmark::DoNotOptimize(df);
        benchmark::DoNotOptimize(an::calibrate_black76_iv(ttx, fwd, strike, price, *an::parse_option_type(cp), df));
    }
}
BENCHMARK_CAPTURE(iv, atm, 1.0, 100.0, 100.0, 0.2)->Name("calibrate_black76_iv/atm");
BENCHMARK_CAPTURE(iv, otm, 0.25, 100.0, 200.0, 0.5)->Name("calibrate_black76_iv/otm");

// ---- a column of 10,000 options, as bench.py's arrays section times them ----
// F = 100; K, T and vol spread by the fractional parts of multiples of
// irrational steps; a call but every third a put. Keep in step with bench.py.

constexpr std::size_t COLUMN = 10'000;

struct Column {
    std::vector<double> fwd, strike, ttx, vol, price;
    std::vector<an::OptionType> cp;
};

const Column& column() {
    static const Column c = [] {
        Column c;
        for (std::size_t i = 0; i < COLUMN; ++i) {
            const double x = static_cast<double>(i);
            c.fwd.push_back(100.0);
            c.strike.push_back(70.0 + 60.0 * std::fmod(x * 0.6180339887498949, 1.0));
            c.ttx.push_back(0.02 + 0.98 * std::fmod(x * 0.7548776662466927, 1.0));
            c.vol.push_back(0.2 + 0.8 * std::fmod(x * 0.5698402909980532, 1.0));
            c.cp.push_back(i % 3 == 2 ? an::OptionType::Put : an::OptionType::Call);
            c.price.push_back(an::b76_fairvalue(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.cp[i], 1.0));
        }
        return c;
    }();
    return c;
}

// The scalar core element by element: what tessel_array's loop would cost
// without its kernels; per element.
template <class Fn>
void over_column(benchmark::State& state, Fn fn) {
    const Column& c = column();
    std::vector<double> out(COLUMN);
    for (auto _ : state) {
        for (std::size_t i = 0; i < COLUMN; ++i) out[i] = fn(c, i);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * COLUMN));
}
BENCHMARK_CAPTURE(over_column, b76_fairvalue, [](const Column& c, std::size_t i) {
    return an::b76_fairvalue(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.cp[i], 1.0);
})->Name("column/b76_fairvalue");
BENCHMARK_CAPTURE(over_column, b76_delta, [](const Column& c, std::size_t i) {
    return an::b76_delta(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.cp[i], 1.0);
})->Name("column/b76_delta");
BENCHMARK_CAPTURE(over_column, b76_vega, [](const Column& c, std::size_t i) {
    return an::b76_vega(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], 1.0);
})->Name("column/b76_vega");
BENCHMARK_CAPTURE(over_column, binary_fairvalue, [](const Column& c, std::size_t i) {
    return an::binary_fairvalue(c.fwd[i], c.strike[i], c.ttx[i], c.vol[i], c.cp[i], 1.0);
})->Name("column/binary_fairvalue");
BENCHMARK_CAPTURE(over_column, calibrate_black76_iv, [](const Column& c, std::size_t i) {
    return an::calibrate_black76_iv(c.ttx[i], c.fwd[i], c.strike[i], c.price[i], c.cp[i], 1.0);
})->Name("column/calibrate_black76_iv");

// ---- smile models: strikes 60..160 around spot 100 (95 alone for one strike) ----

std::vector<double> strikes(std::size_t n) {
    if (n == 1) return {95.0};
    std::vector<double> ks(n);
    for (std::size_t i = 0; i < n; ++i)
        ks[i] = 60.0 + 100.0 * static_cast<double>(i) / static_cast<double>(n - 1);
    return ks;
}

constexpr double TTX = 0.25;
constexpr double SPOT = 100.0;

vm::GVVSpline gvv() {
    return vm::GVVSpline::from_params(
        {{"ref_vol", 20.0}, {"skew", -10.0}, {"smile", 5.0}, {"pwing", 10.0}, {"cwing", 5.0}}, {});
}
vm::VolGeo volgeo() {
    return vm::VolGeo::from_params({{"ref_spot", 98.0}, {"ref_vol", 55.0}, {"corr", -0.3}, {"vvol", 90.0}}, {});
}
vm::CubicSpline cubic() {
    return vm::CubicSpline::from_params({{"ref_spot", 95.0},
                                         {"ref_vol", 20.0},
                                         {"p05", 1.0},
                                         {"p10", 1.0},
                                         {"p15", 1.0},
                                         {"p20", 1.0},
                                         {"p25", 1.0},
                                         {"c05", -0.5},
                                         {"c10", -0.5},
                                         {"c15", 0.0},
                                         {"c20", 0.5},
                                         {"c25", 1.0}},
                                        {});
}

template <class M>
void get_vol(benchmark::State& state, M model) {
    const std::vector<double> ks = strikes(static_cast<std::size_t>(state.range(0)));
    double ttx = TTX, spot = SPOT;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ttx);
        benchmark::DoNotOptimize(spot);
        std::vector<double> v = model.get_vol(ttx, spot, ks);
        benchmark::DoNotOptimize(v.data());
    }
}

template <class M>
void get_jacobian(benchmark::State& state, M model) {
    const std::vector<double> ks = strikes(static_cast<std::size_t>(state.range(0)));
    const std::vector<std::string> names = model.get_fitting_params();
    double ttx = TTX, spot = SPOT;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ttx);
        benchmark::DoNotOptimize(spot);
        vm::Jacobian j = model.get_jacobian(ttx, spot, ks, names);
        benchmark::DoNotOptimize(j.data());
    }
}

#define MODEL_BENCH(Cls, make)                                                                   \
    BENCHMARK_CAPTURE(get_vol, Cls, make())->Name(#Cls ".get_vol")->RangeMultiplier(10)->Range(1, 10000); \
    BENCHMARK_CAPTURE(get_jacobian, Cls, make())->Name(#Cls ".get_jacobian")->RangeMultiplier(10)->Range(1, 10000);

MODEL_BENCH(GVVSpline, gvv)
MODEL_BENCH(VolGeo, volgeo)
MODEL_BENCH(CubicSpline, cubic)

// ---- calendar: 2025-03-14 15:30 UTC to 2025-03-28 08:00 UTC ----

constexpr tessel::Instant FROM{1741966200, 0};
constexpr tessel::Instant TO{1743148800, 0};

void calendar_create(benchmark::State& state) {
    std::string_view name = "BTCUSDT";
    for (auto _ : state) {
        benchmark::DoNotOptimize(name);
        auto c = cal::Calendar::create(name);
        benchmark::DoNotOptimize(c.ok());
    }
}
BENCHMARK(calendar_create)->Name("Calendar(BTCUSDT)");

void get_bus_ttx(benchmark::State& state) {
    cal::Calendar c = cal::Calendar::create("BTCUSDT").value();
    tessel::Instant from = FROM, to = TO;
    for (auto _ : state) {
        benchmark::DoNotOptimize(from);
        benchmark::DoNotOptimize(to);
        benchmark::DoNotOptimize(c.get_bus_ttx(from, to));
    }
}
BENCHMARK(get_bus_ttx)->Name("Calendar.get_bus_ttx");

// The four pairs of a pricing loop, all at 00:00 UTC: within one offset
// period, across a change of offset, across a year end, across both. Keep
// them in step with PAIRS in bench.py.
struct Pair {
    tessel::Instant from, to;
};
void get_bus_ttx_pair(benchmark::State& state, Pair pair) {
    cal::Calendar c = cal::Calendar::create("BTCUSDT").value();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pair);
        benchmark::DoNotOptimize(c.get_bus_ttx(pair.from, pair.to));
    }
    // Two coordinates a call: the time of one.
    state.counters["per_coordinate"] =
        benchmark::Counter(2, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// 2025-01-10, 2025-02-10, 2025-06-10, 2025-12-10, 2026-01-10, 2026-06-26
BENCHMARK_CAPTURE(get_bus_ttx_pair, same_period, Pair{{1736467200, 0}, {1739145600, 0}})
    ->Name("Calendar.get_bus_ttx/same_period");
BENCHMARK_CAPTURE(get_bus_ttx_pair, across_dst, Pair{{1736467200, 0}, {1749513600, 0}})
    ->Name("Calendar.get_bus_ttx/across_dst");
BENCHMARK_CAPTURE(get_bus_ttx_pair, across_year_end, Pair{{1765324800, 0}, {1768003200, 0}})
    ->Name("Calendar.get_bus_ttx/across_year_end");
BENCHMARK_CAPTURE(get_bus_ttx_pair, across_both, Pair{{1765324800, 0}, {1782432000, 0}})
    ->Name("Calendar.get_bus_ttx/across_both");

void get_cal_ttx(benchmark::State& state) {
    tessel::Instant from = FROM, to = TO;
    for (auto _ : state) {
        benchmark::DoNotOptimize(from);
        benchmark::DoNotOptimize(to);
        benchmark::DoNotOptimize(cal::Calendar::get_cal_ttx(from, to));
    }
}
BENCHMARK(get_cal_ttx)->Name("Calendar.get_cal_ttx");

void tenor_to_ttx(benchmark::State& state) {
    std::string_view tenor = "3m";
    for (auto _ : state) {
        benchmark::DoNotOptimize(tenor);
        benchmark::DoNotOptimize(cal::tenor_to_ttx(tenor).value());
    }
}
BENCHMARK(tenor_to_ttx)->Name("Calendar.tenor_to_ttx");

// The boundary's own share of a datetime argument: timestamp() in Python,
// this part in C++.
void instant_from_timestamp(benchmark::State& state) {
    double stamp = 1741966200.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(stamp);
        benchmark::DoNotOptimize(tessel::instant_from_timestamp(stamp));
    }
}
BENCHMARK(instant_from_timestamp)->Name("instant_from_timestamp");

}  // namespace

BENCHMARK_MAIN();
