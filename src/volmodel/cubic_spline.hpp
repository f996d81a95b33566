#pragma once
// Smile through eleven pillars of standardised moneyness: pillar variances
// joined by a monotone piecewise-cubic Hermite curve, straight beyond the ends.
#include "volmodel/model.hpp"

namespace tessel::volmodel {

inline constexpr std::array<double, 11> PILLAR_GRID{-5.0, -2.5, -1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.5, 5.0};

struct CubicSplineDef {
    enum : std::size_t { P05 = 3, P10, P15, P20, P25, C05, C10, C15, C20, C25 };
    using Values = std::array<double, 13>;

    static constexpr std::string_view name = "CubicSpline";
    static constexpr std::array<ParamEntry, 13> table{{
        {"vpr", 1.0},
        {"ref_spot", 100.0},
        {"ref_vol", 50.0},
        {"p05", 0.0},
        {"p10", 0.0},
        {"p15", 0.0},
        {"p20", 0.0},
        {"p25", 0.0},
        {"c05", 0.0},
        {"c10", 0.0},
        {"c15", 0.0},
        {"c20", 0.0},
        {"c25", 0.0},
    }};
    static constexpr std::array<std::string_view, 11> fitting{"ref_vol", "p25", "p20", "p15", "p10", "p05",
                                                              "c05",     "c10", "c15", "c20", "c25"};

    static void vol(const Values& p, double ttx, double spot, std::span<const double> strikes,
                    std::span<double> out) noexcept;
    static bool arb_free(const Values& p) noexcept;
};

static_assert(positions_match<CubicSplineDef>(
    {{CubicSplineDef::P05, "p05"}, {CubicSplineDef::P10, "p10"}, {CubicSplineDef::P15, "p15"},
     {CubicSplineDef::P20, "p20"}, {CubicSplineDef::P25, "p25"}, {CubicSplineDef::C05, "c05"},
     {CubicSplineDef::C10, "c10"}, {CubicSplineDef::C15, "c15"}, {CubicSplineDef::C20, "c20"},
     {CubicSplineDef::C25, "c25"}}));

using CubicSpline = Model<CubicSplineDef>;
extern template class Model<CubicSplineDef>;

}  // namespace tessel::volmodel
