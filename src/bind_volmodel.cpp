// The three smile-model classes. Every member is written once as a template
// over the model; a model adds only its names to the table at the bottom.
#include <variant>

#include "bindings.hpp"
#include "call.hpp"
#include "state.hpp"
#include "volmodel/vol_model.hpp"

namespace tessel::py {

namespace vm = tessel::volmodel;

// Per class: the interpreter's name and the class docstring (its text signature).
template <class Def>
struct ModelNames;
template <>
struct ModelNames<vm::GVVSplineDef> {
    static constexpr const char* qualified = "builtins.GVVSpline";
    static constexpr const char* doc = "GVVSpline(expiry, **params)\n--\n\n";
};
template <>
struct ModelNames<vm::VolGeoDef> {
    static constexpr const char* qualified = "builtins.VolGeo";
    static constexpr const char* doc = "VolGeo(expiry, **params)\n--\n\n";
};
template <>
struct ModelNames<vm::CubicSplineDef> {
    static constexpr const char* qualified = "builtins.CubicSpline";
    static constexpr const char* doc = "CubicSpline(expiry, **params)\n--\n\n";
};

template <class Def>
struct Bound<vm::Model<Def>> {
    static constexpr const char* name = Def::name.data();
    static PyTypeObject* type();
};

template <>
struct ResultConv<vm::Jacobian> {
    static PyObject* convert(const vm::Jacobian& columns) {
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
    static PyObject* convert(const ModelRepr& m) {
        std::vector<std::pair<std::string, Ref>> fields;
        fields.emplace_back("expiry", Ref(instant_text(m.expiry)));
        for (const auto& [name, value] : m.params) fields.emplace_back(name, Ref(repr_of(from_double(value))));
        return format_repr(m.cls, fields);
    }
};
template <>
struct ResultConv<ModelReduce> {
    static PyObject* convert(const ModelReduce& m) {
        // The expiry travels as the instant itself: a datetime would drop its
        // nanoseconds and cannot hold years outside 1 to 9999.
        return reduction("_model_from_state",
                         Ref(Py_BuildValue("(sLkN)", m.cls, static_cast<long long>(m.expiry.seconds),
                                           static_cast<unsigned long>(m.expiry.nanos), from_named_doubles(m.params))));
    }
};

namespace model_ops {

template <class M>
M make(NamedDoubles params, Instant expiry) {
    return M::from_params(params, expiry);
}
template <class M>
Instant expiry(const M& m) {
    return m.expiry();
}
template <class M>
std::vector<double> get_vol(const M& m, double ttx, double spot, std::vector<double> strikes) {
    m.get_vol_into(ttx, spot, strikes, strikes);  // in place: the strikes' room becomes the result
    return strikes;
}
template <class M>
double get_vol_single(const M& m, double ttx, double spot, double strike) {
    return m.get_vol_single(ttx, spot, strike);
}
template <class M>
bool arb_free(const M& m) {
    return m.arb_free();
}
template <class M>
std::optional<double> get_parameter(const M& m, std::string_view name) {
    return m.get_parameter(name);
}
template <class M>
void set_param(M& m, std::string_view name, double value) {
    m.set_param(name, value);
}
template <class M>
NamedDoubles get_param_dict(const M& m) {
    return m.get_param_dict();
}
template <class M>
std::vector<std::string> get_fitting_params(const M& m) {
    return m.get_fitting_params();
}
template <class M>
void reanchor(M& m, double spot, double ttx) {
    m.reanchor(spot, ttx);
}
template <class M>
void bump_param(M& m, std::string_view name, double d_value) {
    m.bump_param(name, d_value);
}
template <class M>
ModelRepr repr(const M& m) {
    return {M::name.data(), m.expiry(), m.get_param_dict()};
}
template <class M>
ModelReduce reduce(const M& m) {
    return {repr(m)};
}

template <class M>
vm::Jacobian get_jacobian(const M& m, double ttx, double spot, std::vector<double> strikes,
                          std::vector<std::string> names) {
    return m.get_jacobian(ttx, spot, strikes, names);
}

}  // namespace model_ops

template <class M>
struct ModelSigs {
    static constexpr const char* owner = M::name.data();
    // The dict (extra keywords, or `params`) converts before the expiry.
    static constexpr Signature<1> construct{owner, "__new__", {"expiry"}, 1, true, 1.0, {1, 0}};
    static constexpr Signature<2> with_params{owner, "with_params", {"expiry", "params"}, 2, false, 1.0, {1, 0}};
    static constexpr auto get_vol = method_sig(owner, "get_vol", {"ttx", "spot", "strikes"});
    static constexpr auto get_vol_single = method_sig(owner, "get_vol_single", {"ttx", "spot", "strike"});
    static constexpr auto get_parameter = method_sig(owner, "get_parameter", {"param"});
    static constexpr auto set_param = method_sig(owner, "set_param", {"param", "value"});
    static constexpr auto reanchor = method_sig(owner, "reanchor", {"spot", "ttx"});
    static constexpr auto bump_param = method_sig(owner, "bump_param", {"param", "d_value"});
    static constexpr auto get_jacobian = method_sig(owner, "get_jacobian", {"ttx", "spot", "strikes", "params"});
};

template <class M>
PyMethodDef model_methods[] = {
    method<ModelSigs<M>::with_params, &model_ops::make<M>>("with_params(expiry, params)\n--\n\n", METH_STATIC),
    method<ModelSigs<M>::get_vol, &model_ops::get_vol<M>>("get_vol($self, ttx, spot, strikes)\n--\n\n"),
    method<ModelSigs<M>::get_vol_single, &model_ops::get_vol_single<M>>(
        "get_vol_single($self, ttx, spot, strike)\n--\n\n"),
    method_noargs<&model_ops::arb_free<M>>("arb_free", "arb_free($self)\n--\n\n"),
    method<ModelSigs<M>::get_parameter, &model_ops::get_parameter<M>>("get_parameter($self, param)\n--\n\n"),
    method<ModelSigs<M>::set_param, &model_ops::set_param<M>>("set_param($self, param, value)\n--\n\n"),
    method_noargs<&model_ops::get_param_dict<M>>("get_param_dict", "get_param_dict($self)\n--\n\n"),
    method_noargs<&model_ops::get_fitting_params<M>>("get_fitting_params", "get_fitting_params($self)\n--\n\n"),
    method<ModelSigs<M>::reanchor, &model_ops::reanchor<M>>("reanchor($self, spot, ttx)\n--\n\n"),
    method<ModelSigs<M>::bump_param, &model_ops::bump_param<M>>("bump_param($self, param, d_value)\n--\n\n"),
    method<ModelSigs<M>::get_jacobian, &model_ops::get_jacobian<M>>(
        "get_jacobian($self, ttx, spot, strikes, params)\n--\n\n"),
    method_noargs<&model_ops::reduce<M>>("__reduce__", "Pickles as the class, the expiry and the parameters."),
    {nullptr, nullptr, 0, nullptr},
};

template <class M>
PyGetSetDef model_getset[] = {
    {"expiry", &getter<&model_ops::expiry<M>>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

template <class Def>
PyTypeObject* Bound<vm::Model<Def>>::type() {
    using M = vm::Model<Def>;
    static PyTypeObject* built = nullptr;
    if (built == nullptr)
        built = make_type({ModelNames<Def>::qualified, sizeof(Instance<M>), ModelNames<Def>::doc,
                           &construct<ModelSigs<M>::construct, &model_ops::make<M>>, &dealloc<M>,
                           &repr_slot<&model_ops::repr<M>>, model_methods<M>, model_getset<M>});
    return built;
}

namespace {

// Rebuilds a pickled model: the class by name, the expiry from its seconds
// and nanoseconds (checked as a timestamp's would be), then the parameters.
using AnyModel = std::variant<vm::GVVSpline, vm::VolGeo, vm::CubicSpline>;

Result<AnyModel> model_from_state(std::string_view cls, std::int64_t seconds, std::int64_t nanos,
                                  NamedDoubles params) {
    const std::optional<Instant> expiry = instant_from_parts(seconds, nanos);
    if (!expiry) return Error{"Invalid timestamp"};
    if (cls == vm::GVVSpline::name) return AnyModel(vm::GVVSpline::from_params(params, *expiry));
    if (cls == vm::VolGeo::name) return AnyModel(vm::VolGeo::from_params(params, *expiry));
    if (cls == vm::CubicSpline::name) return AnyModel(vm::CubicSpline::from_params(params, *expiry));
    return Error{"Unknown model class: " + std::string(cls)};
}

constexpr auto model_from_state_sig = function_sig("_model_from_state", {"cls", "seconds", "nanos", "params"});

}  // namespace

template <>
struct ResultConv<AnyModel> {
    static PyObject* convert(AnyModel&& m) {
        return std::visit([](auto&& model) { return new_instance(std::move(model)); }, std::move(m));
    }
};

const PyMethodDef model_restore_function =
    method<model_from_state_sig, &model_from_state>("_model_from_state(cls, seconds, nanos, params)\n--\n\n");

const ClassEntry model_classes[3] = {
    {"GVVSpline", &Bound<vm::GVVSpline>::type},
    {"VolGeo", &Bound<vm::VolGeo>::type},
    {"CubicSpline", &Bound<vm::CubicSpline>::type},
};

}  // namespace tessel::py
