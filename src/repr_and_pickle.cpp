#include "repr_and_pickle.hpp"

#include "convert.hpp"
#include "errors.hpp"

namespace tessel::py {

PyObject* format_repr(const char* cls, const std::vector<std::pair<std::string, Ref>>& fields) noexcept {
    Ref parts(PyList_New(0));
    if (!parts) return nullptr;
    for (const auto& [name, value] : fields) {
        Ref part(PyUnicode_FromFormat("%s=%U", name.c_str(), value.get()));
        if (!part || PyList_Append(parts.get(), part.get()) < 0) return nullptr;
    }
    Ref separator(PyUnicode_FromString(", "));
    if (!separator) return nullptr;
    Ref body(PyUnicode_Join(separator.get(), parts.get()));
    if (!body) return nullptr;
    return PyUnicode_FromFormat("%s(%U)", cls, body.get());
}

PyObject* reduction(const char* restore_name, Ref args) noexcept {
    if (!args) return nullptr;
    Ref module(PyImport_ImportModule("tessel"));
    if (!module) return nullptr;
    Ref restore(PyObject_GetAttrString(module.get(), restore_name));
    if (!restore) return nullptr;
    return PyTuple_Pack(2, restore.get(), args.get());
}

PyObject* instant_text(const Instant& t, ModuleState& module) noexcept {
    Ref datetime(from_instant(t, module));
    if (datetime) return PyObject_CallMethod(datetime.get(), "isoformat", nullptr);
    if (!clear_ordinary_error()) return nullptr;
    return PyUnicode_FromFormat("%lld.%09u", static_cast<long long>(t.seconds), static_cast<unsigned>(t.nanos));
}

}  // namespace tessel::py
