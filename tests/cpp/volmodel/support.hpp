#pragma once
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "volmodel/model.hpp"

namespace volmodel_test {

// The model with each named increment added to its parameter, names outside
// the table skipped: the rule by which bump_param and get_jacobian bump.
template <class M>
M with_bumps(const M& m, const tessel::volmodel::ParamMap& bumps) {
    tessel::volmodel::ParamMap params = m.get_param_dict();
    for (const auto& [name, increment] : bumps)
        for (auto& [key, value] : params)
            if (key == name) value += increment;
    return M::from_params(params, m.expiry());
}

// Bit identity, with every NaN treated as equal.
inline bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::int64_t>(a) == std::bit_cast<std::int64_t>(b);
}

// Strikes from deep wings through the money, plus invalid ones.
inline const std::vector<double> STRIKES{1e-3, 30, 60, 80, 95, 99.99, 100, 100.01, 104.9,
                                         110,  125, 170, 400, 1e4, 0.0,   -5.0};
inline const std::vector<double> SPOTS{80.0, 100.0, 123.4};
inline const std::vector<double> TTXS{0.0, 0.01, 0.25, 0.5, 1.0, 2.0, -0.5};

}  // namespace volmodel_test
