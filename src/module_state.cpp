#include "module_state.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "core/messages.hpp"
#include "errors.hpp"

namespace tessel::py {
namespace {

std::int64_t running_interpreter() noexcept { return PyInterpreterState_GetID(PyInterpreterState_Get()); }

// Interpreters with their own locks run at once, so the register has a lock
// of its own. It holds addresses only, never a Python object.
std::mutex register_lock;
std::vector<ModuleState*> registered;
// Changes with every entry made or dropped.
std::atomic<std::uint64_t> register_version{1};

// Each thread's last answer. It stays right while the version does: a state
// is only dropped by its own interpreter, whose lock the asking thread holds.
struct LastFound {
    std::int64_t interpreter = -1;
    std::uint64_t version = 0;
    ModuleState* state = nullptr;
};
thread_local LastFound last_found;

}  // namespace

ModuleState* state_of_interpreter() noexcept {
    const std::int64_t interpreter = running_interpreter();
    LastFound& last = last_found;
    const std::uint64_t version = register_version.load(std::memory_order_acquire);
    if (last.interpreter == interpreter && last.version == version) return last.state;
    {
        const std::lock_guard lock(register_lock);
        const auto it = std::find_if(registered.rbegin(), registered.rend(),
                                     [&](const ModuleState* s) { return s->interpreter_id == interpreter; });
        if (it != registered.rend()) {
            last = {interpreter, version, *it};
            return *it;
        }
    }
    return refuse_other_interpreter();
}

bool remember_state(ModuleState& state) noexcept {
    try {
        const std::lock_guard lock(register_lock);
        registered.push_back(&state);
        register_version.fetch_add(1, std::memory_order_release);
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

void forget_state(const ModuleState& state) noexcept {
    const std::lock_guard lock(register_lock);
    std::erase(registered, &state);
    register_version.fetch_add(1, std::memory_order_release);
}

ModuleState* refuse_other_interpreter() noexcept {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, messages::OTHER_INTERPRETER);
    return nullptr;
}

const DatetimeApi* datetime_api(ModuleState& state) noexcept {
    if (state.datetime_ready) return &state.datetime;
    Ref module(PyImport_ImportModule("datetime"));
    if (!module) return nullptr;
    Ref type(PyObject_GetAttrString(module.get(), "datetime"));
    Ref timezone(PyObject_GetAttrString(module.get(), "timezone"));
    Ref tzinfo(PyObject_GetAttrString(module.get(), "tzinfo"));
    if (!type || !timezone || !tzinfo) return nullptr;
    Ref utc(PyObject_GetAttrString(timezone.get(), "utc"));
    if (!utc) return nullptr;
    const int is_tzinfo = PyObject_IsInstance(utc.get(), tzinfo.get());
    if (is_tzinfo <= 0) {
        if (is_tzinfo == 0) PyErr_SetString(PyExc_TypeError, messages::UTC_IS_NOT_A_TZINFO);
        return nullptr;
    }
    Ref kwargs(Py_BuildValue("{s:i}", "fold", 0));
    if (!kwargs) return nullptr;
    Ref reduce(PyObject_GetAttrString(type.get(), "__reduce__"));
    if (!reduce) return nullptr;
    DatetimeApi& api = state.datetime;
    api.datetime_type = type.release();
    api.utc = utc.release();
    api.fold_kwargs = kwargs.release();
    api.reduce = reduce.release();
    state.datetime_ready = true;
    return &api;
}

const DatetimeApi* loaded_datetime_api(ModuleState& state) noexcept {
    if (state.datetime_ready) return &state.datetime;
    if (state.datetime_name == nullptr) return nullptr;
    Ref module(PyImport_GetModule(state.datetime_name));
    const DatetimeApi* api = module ? datetime_api(state) : nullptr;
    if (api == nullptr) clear_ordinary_error();
    return api;
}

}  // namespace tessel::py
