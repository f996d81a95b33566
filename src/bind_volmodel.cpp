// The three smile-model classes: one table of members, written once for all.
#include <array>
#include <optional>
#include <span>
#include <variant>

#include "bindings.hpp"
#include "call.hpp"
#include "core/messages.hpp"
#include "repr_and_pickle.hpp"
#include "volmodel/vol_model.hpp"

namespace tessel::py {

namespace vm = tessel::volmodel;

// The models follow the calendar in the module state, in their list's order.
template <class Def>
struct Bound<vm::Model<Def>> {
    static constexpr const char* name = Def::name.data();
    static constexpr std::size_t index = 1 + vm::Models::index_of<vm::Model<Def>>;
    static PyTypeObject* make(PyObject* module);
};

template <>
struct ResultConv<vm::Jacobian> {
    static PyObject* convert(const vm::Jacobian& columns, ModuleState&) {
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        for (const vm::JacobianColumn& column : columns) {
            Ref key(from_text(column.name)), values(from_doubles(column.values));
            if (!key || !values || PyDict_SetItem(dict.get(), key.get(), values.get()) < 0) return nullptr;
        }
        return dict.release();
    }
};

// A model's class, expiry and parameters, for repr and for pickling.
struct ModelRepr {
    const char* cls;
    Instant expiry;
    NamedDoubles params;
};
struct ModelReduce : ModelRepr {};

template <>
struct ResultConv<ModelRepr> {
    static PyObject* convert(const ModelRepr& m, ModuleState& state) {
        // Each text is made only while no error is pending: a failure (an
        // interrupt raised by a warning's handler, say) ends the repr there.
        std::vector<std::pair<std::string, Ref>> fields;
        fields.emplace_back("expiry", Ref(instant_text(m.expiry, state)));
        if (!fields.back().second) return nullptr;
        for (const auto& [name, value] : m.params) {
            fields.emplace_back(name, Ref(repr_of(from_double(value))));
            if (!fields.back().second) return nullptr;
        }
        return format_repr(m.cls, fields);
    }
};
template <>
struct ResultConv<ModelReduce> {
    static PyObject* convert(const ModelReduce& m, ModuleState&) {
        // The expiry travels as the instant itself: a datetime would drop its
        // nanoseconds and cannot hold years outside 1 to 9999.
        return reduction("_model_from_state",
                         Ref(Py_BuildValue("(sLkN)", m.cls, static_cast<long long>(m.expiry.seconds),
                                           static_cast<unsigned long>(m.expiry.nanos), from_named_doubles(m.params))));
    }
};

template <class M>
ModelRepr repr(const M& m) {
    return {Bound<M>::name, m.expiry(), m.get_param_dict()};
}
template <class M>
ModelReduce reduce(const M& m) {
    return {repr(m)};
}

// The parameter dict, whether the extra keywords or `params`, converts before the expiry.
inline constexpr Order PARAMS_FIRST{.of = {1, 0}};

template <class M>
PyMethodDef model_methods[] = {
    method<M, "with_params(expiry, params)", &M::from_params, PARAMS_FIRST>(),
    method<M, "get_vol(ttx, spot, strikes)", &M::get_vol>(),
    method<M, "get_vol_single(ttx, spot, strike)", &M::get_vol_single>(),
    method<M, "arb_free()", &M::arb_free>(),
    method<M, "get_parameter(param)", &M::get_parameter>(),
    method<M, "set_param(param, value)", &M::set_param>(),
    method<M, "get_param_dict()", &M::get_param_dict>(),
    method<M, "get_fitting_params()", &M::get_fitting_params>(),
    method<M, "reanchor(spot, ttx)", &M::reanchor>(),
    method<M, "bump_param(param, d_value)", &M::bump_param>(),
    method<M, "get_jacobian(ttx, spot, strikes, params)", &M::get_jacobian>(),
    method<M, "__reduce__()", &reduce<M>>(),
    {nullptr, nullptr, 0, nullptr},
};

template <class M>
PyGetSetDef model_getset[] = {
    {"expiry", &getter<&M::expiry>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <class Def>
PyTypeObject* Bound<vm::Model<Def>>::make(PyObject* module) {
    using M = vm::Model<Def>;
    return class_type<M, "__new__(expiry, **params)", &M::from_params, PARAMS_FIRST>(
        module, model_methods<M>, model_getset<M>, &repr_slot<&repr<M>>);
}

namespace {

// Rebuilds a pickled model: the class by name, the expiry from its seconds
// and nanoseconds (checked as a timestamp's would be), then the parameters.
using AnyModel = vm::Models::apply<std::variant>;


Result<AnyModel> model_from_state(std::string_view cls, std::int64_t seconds, std::int64_t nanos,
                                  NamedDoubles params) {
    const std::optional<Instant> expiry = instant_from_parts(seconds, nanos);
    if (!expiry) return Error{messages::INVALID_TIMESTAMP};
    std::optional<AnyModel> model;
    [&]<class... M>(TypeList<M...>) {
        ((cls == M::name && (model.emplace(M::from_params(params, *expiry)), true)) || ...);
    }(vm::Models{});
    if (!model) return Error{messages::unknown_model_class(cls)};
    return std::move(*model);
}

}  // namespace

template <>
struct ResultConv<AnyModel> {
    static PyObject* convert(AnyModel&& m, ModuleState& state) {
        return std::visit([&](auto&& model) { return new_instance(state, std::move(model)); }, std::move(m));
    }
};

const PyMethodDef model_restore_function =
    function<"_model_from_state(cls, seconds, nanos, params)", &model_from_state>();

namespace {
constexpr auto model_entries = []<class... M>(TypeList<M...>) {
    return std::array<ClassEntry, sizeof...(M)>{ClassEntry{Bound<M>::name, Bound<M>::index, &Bound<M>::make}...};
}(vm::Models{});
}  // namespace

const std::span<const ClassEntry> model_classes = model_entries;

}  // namespace tessel::py
