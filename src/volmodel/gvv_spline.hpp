#pragma once
// Parametric smile: a closed-form core variance in damped log-moneyness plus
// separate put and call wing variances. Ignores spot.
#include "volmodel/model.hpp"

namespace tessel::volmodel {

struct GVVSplineDef {
    enum : std::size_t { SKEW = 3, SMILE, PWING, CWING, OFFSET };
    using Values = std::array<double, 8>;

    static constexpr std::string_view name = "GVVSpline";
    static constexpr std::array<ParamEntry, 8> table{{
        {"vpr", 1.0},
        {"ref_spot", 100.0},
        {"ref_vol", 50.0},
        {"skew", 0.0},
        {"smile", 5.0},
        {"pwing", 0.0},
        {"cwing", 0.0},
        {"offset", 0.0},
    }};
    static constexpr std::array<std::string_view, 3> fitting{"ref_vol", "skew", "smile"};

    static void vol(const Values& p, double ttx, double spot, std::span<const double> strikes,
                    std::span<double> out) noexcept;
    static bool arb_free(const Values& p) noexcept;
};

static_assert(positions_match<GVVSplineDef>({{GVVSplineDef::SKEW, "skew"},
                                             {GVVSplineDef::SMILE, "smile"},
                                             {GVVSplineDef::PWING, "pwing"},
                                             {GVVSplineDef::CWING, "cwing"},
                                             {GVVSplineDef::OFFSET, "offset"}}));

using GVVSpline = Model<GVVSplineDef>;
extern template class Model<GVVSplineDef>;

}  // namespace tessel::volmodel
