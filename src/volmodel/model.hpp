#pragma once
// The smile models' contract and the one class template that gives every
// model its parameter rules. A model is defined by a Def type supplying:
//   name, table (ParamEntry[N]), fitting (names), vol(p, ttx, spot, strikes, out)
//   and arb_free(p).
// Everything else (construction, lookup, bumping, Jacobian, reanchor) lives
// here once.
#include <array>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/instant.hpp"

namespace tessel::volmodel {

// Parameters as they travel in and out; names are distinct.
using ParamMap = std::vector<std::pair<std::string, double>>;

struct ParamEntry {
    std::string_view name;
    double default_value;
};

struct JacobianColumn {
    std::string name;
    std::vector<double> values;
};
// One column per distinct requested name, in first-occurrence order.
using Jacobian = std::vector<JacobianColumn>;

inline constexpr double JACOBIAN_BUMP = 0.01;

// What every smile model offers; the three models and the typed test suite
// hold to it.
template <class M>
concept SmileModel = requires(M m, const M& cm, double x, std::string_view name, std::vector<double> strikes,
                              std::span<const double> some_strikes, std::span<const std::string> names,
                              const ParamMap& params, Instant expiry) {
    { M::from_params(params, expiry) } -> std::same_as<M>;
    { cm.get_vol(x, x, strikes) } -> std::same_as<std::vector<double>>;
    { cm.get_vol_single(x, x, x) } -> std::same_as<double>;
    { cm.arb_free() } -> std::same_as<bool>;
    { cm.get_parameter(name) } -> std::same_as<std::optional<double>>;
    { m.set_param(name, x) } -> std::same_as<void>;
    { cm.get_param_dict() } -> std::same_as<ParamMap>;
    { cm.get_fitting_params() } -> std::same_as<std::vector<std::string>>;
    { cm.expiry() } -> std::same_as<Instant>;
    { m.bump_param(name, x) } -> std::same_as<void>;
    { cm.get_jacobian(x, x, some_strikes, names) } -> std::same_as<Jacobian>;
    { m.reanchor(x, x) } -> std::same_as<void>;
};

// Positions shared by every table.
inline constexpr std::size_t VPR = 0;
inline constexpr std::size_t REF_SPOT = 1;
inline constexpr std::size_t REF_VOL = 2;

template <class Def>
constexpr std::optional<std::size_t> param_index(std::string_view key) noexcept {
    for (std::size_t i = 0; i < Def::table.size(); ++i)
        if (Def::table[i].name == key) return i;
    return std::nullopt;
}

// For the static_asserts that tie a model's named positions to its table.
template <class Def>
consteval bool positions_match(std::initializer_list<std::pair<std::size_t, std::string_view>> positions) {
    for (const auto& [i, name] : positions)
        if (param_index<Def>(name) != i) return false;
    return true;
}

template <class Def>
consteval bool table_is_valid() {
    const auto& t = Def::table;
    if (t.size() < 3 || t[VPR].name != "vpr" || t[REF_SPOT].name != "ref_spot" || t[REF_VOL].name != "ref_vol")
        return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        for (std::size_t j = i + 1; j < t.size(); ++j)
            if (t[i].name == t[j].name) return false;
    for (std::string_view f : Def::fitting)
        if (!param_index<Def>(f)) return false;
    return true;
}

template <class Def>
class Model {
    static_assert(table_is_valid<Def>(), "table must start with vpr, ref_spot, ref_vol, have distinct names "
                                         "and contain every fitting name");

public:
    static constexpr std::size_t N = Def::table.size();
    static constexpr std::string_view name = Def::name;
    using Values = std::array<double, N>;

    static constexpr std::optional<std::size_t> index_of(std::string_view key) noexcept {
        return param_index<Def>(key);
    }

    static constexpr Values defaults() noexcept {
        Values v{};
        for (std::size_t i = 0; i < N; ++i) v[i] = Def::table[i].default_value;
        return v;
    }

    explicit Model(Instant expiry = {}) noexcept : values_(defaults()), expiry_(expiry) {}
    Model(const Values& values, Instant expiry) noexcept : values_(values), expiry_(expiry) {}

    // Missing names take the table default; names outside the table are ignored.
    static Model from_params(const ParamMap& params, Instant expiry) {
        Values v = defaults();
        for (const auto& [key, value] : params)
            if (auto i = index_of(key)) v[*i] = value;
        return Model(v, expiry);
    }

    const Values& values() const noexcept { return values_; }

    // Computed in place: the strikes' room becomes the result.
    std::vector<double> get_vol(double ttx, double spot, std::vector<double> strikes) const {
        Def::vol(values_, ttx, spot, strikes, strikes);
        return strikes;
    }

    // Same code path as get_vol so the two agree bit for bit.
    double get_vol_single(double ttx, double spot, double strike) const {
        double v;
        Def::vol(values_, ttx, spot, std::span<const double>(&strike, 1), std::span<double>(&v, 1));
        return v;
    }

    bool arb_free() const { return Def::arb_free(values_); }

    std::optional<double> get_parameter(std::string_view key) const {
        if (auto i = index_of(key)) return values_[*i];
        return std::nullopt;
    }

    void set_param(std::string_view key, double value) {
        if (auto i = index_of(key)) values_[*i] = value;
    }

    ParamMap get_param_dict() const {
        ParamMap out;
        out.reserve(N);
        for (std::size_t i = 0; i < N; ++i) out.emplace_back(std::string(Def::table[i].name), values_[i]);
        return out;
    }

    std::vector<std::string> get_fitting_params() const {
        return std::vector<std::string>(Def::fitting.begin(), Def::fitting.end());
    }

    Instant expiry() const { return expiry_; }

    // Applied only when the bumped model passes arb_free; a model already
    // failing it accepts just a bump that repairs it.
    void bump_param(std::string_view key, double d_value) {
        const auto i = index_of(key);
        if (!i) return;
        Values candidate = values_;
        candidate[*i] += d_value;
        if (Def::arb_free(candidate)) values_[*i] = candidate[*i];
    }

    // Forward differences with no arb_free gate. A name outside the table
    // leaves the bumped model equal to this one, so its column is base - base.
    Jacobian get_jacobian(double ttx, double spot, std::span<const double> strikes,
                          std::span<const std::string> names) const {
        Jacobian out;
        if (names.empty()) return out;
        const std::size_t n = strikes.size();
        std::vector<double> base(n);
        Def::vol(values_, ttx, spot, strikes, base);
        // A repeated name would recompute the same column. Table names are
        // tracked by position; any other name (each with a column of zeros)
        // in a hash set, which allocates only once such a name occurs.
        std::array<bool, N> seen_param{};
        std::unordered_set<std::string_view> seen_other;
        for (const std::string& key : names) {
            const auto i = index_of(key);
            if (i ? std::exchange(seen_param[*i], true) : !seen_other.insert(key).second) continue;
            JacobianColumn col{key, i ? std::vector<double>(n) : base};
            if (i) {
                Values bumped = values_;
                bumped[*i] += JACOBIAN_BUMP;
                Def::vol(bumped, ttx, spot, strikes, col.values);
            }
            for (std::size_t k = 0; k < n; ++k) col.values[k] = (col.values[k] - base[k]) / JACOBIAN_BUMP;
            out.push_back(std::move(col));
        }
        return out;
    }

    // A non-finite at-the-money volatility (e.g. ttx at a singular point of the
    // model) would poison ref_vol for good, so the model is then left as is.
    void reanchor(double spot, double ttx) {
        const double v = get_vol_single(ttx, spot, spot);
        if (!std::isfinite(v)) return;
        values_[REF_VOL] = 100.0 * v;
        values_[REF_SPOT] = spot;
    }

private:
    Values values_;
    Instant expiry_;
};

}  // namespace tessel::volmodel
