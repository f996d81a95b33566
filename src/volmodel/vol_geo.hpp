#pragma once
// Closed-form smile whose squared volatility is the larger root of a quadratic
// in scaled log-moneyness; the at-the-money level follows spot through
// correlation times vol-of-vol.
#include "volmodel/model.hpp"

namespace tessel::volmodel {

struct VolGeoDef {
    enum : std::size_t { CORR = 3, VVOL, OFFSET };
    using Values = std::array<double, 6>;

    static constexpr std::string_view name = "VolGeo";
    static constexpr std::array<ParamEntry, 6> table{{
        {"vpr", 1.0},
        {"ref_spot", 100.0},
        {"ref_vol", 50.0},
        {"corr", 0.0},
        {"vvol", 20.0},
        {"offset", 0.0},
    }};
    static constexpr std::array<std::string_view, 3> fitting{"ref_vol", "corr", "vvol"};

    static void vol(const Values& p, double ttx, double spot, std::span<const double> strikes,
                    std::span<double> out) noexcept;
    static bool arb_free(const Values& p) noexcept;
};

static_assert(positions_match<VolGeoDef>(
    {{VolGeoDef::CORR, "corr"}, {VolGeoDef::VVOL, "vvol"}, {VolGeoDef::OFFSET, "offset"}}));

using VolGeo = Model<VolGeoDef>;
extern template class Model<VolGeoDef>;

}  // namespace tessel::volmodel
