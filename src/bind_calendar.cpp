// The Calendar class: trading time between instants, calendar time, tenors.
#include "bindings.hpp"
#include "calendar/calendar.hpp"
#include "calendar/tenor.hpp"
#include "call.hpp"
#include "state.hpp"

namespace tessel::py {

namespace cal = tessel::calendar;

template <>
struct Bound<cal::Calendar> {
    static constexpr const char* name = "Calendar";
    static PyTypeObject* type();
};

// A calendar travels as its underlying: construction rebuilds the same
// tables, and the per-year cache never changes a result.
struct CalendarRepr {
    std::string underlying;
};
struct CalendarReduce : CalendarRepr {};

template <>
struct ResultConv<CalendarRepr> {
    static PyObject* convert(const CalendarRepr& c) {
        std::vector<std::pair<std::string, Ref>> fields;
        fields.emplace_back("underlying", Ref(repr_of(from_text(c.underlying))));
        return format_repr("Calendar", fields);
    }
};
template <>
struct ResultConv<CalendarReduce> {
    static PyObject* convert(const CalendarReduce& c) {
        return reduction("_calendar_from_state", Ref(Py_BuildValue("(N)", from_text(c.underlying))));
    }
};

namespace {

CalendarRepr repr(const cal::Calendar& c) { return {std::string(c.underlying())}; }
CalendarReduce reduce(const cal::Calendar& c) { return {repr(c)}; }

Result<cal::Calendar> make(std::string_view underlying) { return cal::Calendar::create(underlying); }
double get_bus_ttx(cal::Calendar& c, Instant from, Instant to) { return c.get_bus_ttx(from, to); }
double get_cal_ttx(Instant from, Instant to) { return cal::Calendar::get_cal_ttx(from, to); }
Result<double> tenor_to_ttx(std::string_view tenor) { return cal::tenor_to_ttx(tenor); }

constexpr auto construct_sig = method_sig("Calendar", "__new__", {"underlying"});
constexpr auto get_bus_ttx_sig = method_sig("Calendar", "get_bus_ttx", {"from", "to"});
constexpr auto get_cal_ttx_sig = method_sig("Calendar", "get_cal_ttx", {"from", "to"});
constexpr auto tenor_to_ttx_sig = method_sig("Calendar", "tenor_to_ttx", {"tenor"});

PyMethodDef calendar_methods[] = {
    method<get_bus_ttx_sig, &get_bus_ttx>("get_bus_ttx($self, from, to)\n--\n\n"),
    method<get_cal_ttx_sig, &get_cal_ttx>("get_cal_ttx(from, to)\n--\n\n", METH_STATIC),
    method<tenor_to_ttx_sig, &tenor_to_ttx>("tenor_to_ttx(tenor)\n--\n\n", METH_STATIC),
    method_noargs<&reduce>("__reduce__", "Pickles as the underlying."),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* Bound<cal::Calendar>::type() {
    static PyTypeObject* built = nullptr;
    if (built == nullptr)
        built = make_type({"builtins.Calendar", sizeof(Instance<cal::Calendar>), "Calendar(underlying)\n--\n\n",
                           &construct<construct_sig, &make>, &dealloc<cal::Calendar>, &repr_slot<&repr>,
                           calendar_methods, nullptr});
    return built;
}

namespace {
constexpr auto calendar_from_state_sig = function_sig("_calendar_from_state", {"underlying"});
}

const PyMethodDef calendar_restore_function =
    method<calendar_from_state_sig, &make>("_calendar_from_state(underlying)\n--\n\n");

const ClassEntry calendar_class = {"Calendar", &Bound<cal::Calendar>::type};

}  // namespace tessel::py
