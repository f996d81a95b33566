// The Calendar class: trading time between instants, calendar time, tenors.
#include "bindings.hpp"
#include "calendar/calendar.hpp"
#include "calendar/tenor.hpp"
#include "call.hpp"
#include "repr_and_pickle.hpp"

namespace tessel::py {

namespace cal = tessel::calendar;

template <>
struct Bound<cal::Calendar> {
    static constexpr const char* name = "Calendar";
    static constexpr std::size_t index = 0;
    static PyTypeObject* make(PyObject* module);
};

namespace {

// A calendar travels as its underlying: construction rebuilds the same
// tables, and the per-year cache never changes a result.
struct CalendarRepr {
    std::string_view underlying;
};
struct CalendarReduce : CalendarRepr {};

CalendarRepr repr(const cal::Calendar& c) { return {c.underlying()}; }
CalendarReduce reduce(const cal::Calendar& c) { return {repr(c)}; }

}  // namespace

template <>
struct ResultConv<CalendarRepr> {
    static PyObject* convert(const CalendarRepr& c, ModuleState&) {
        std::vector<std::pair<std::string, Ref>> fields;
        fields.emplace_back("underlying", Ref(repr_of(from_text(c.underlying))));
        if (!fields.back().second) return nullptr;
        return format_repr(Bound<cal::Calendar>::name, fields);
    }
};
template <>
struct ResultConv<CalendarReduce> {
    static PyObject* convert(const CalendarReduce& c, ModuleState&) {
        return reduction("_calendar_from_state", Ref(Py_BuildValue("(N)", from_text(c.underlying))));
    }
};

namespace {

using C = cal::Calendar;

PyMethodDef calendar_methods[] = {
    method<C, "get_bus_ttx(from, to)", &C::get_bus_ttx>(),
    method<C, "get_cal_ttx(from, to)", &C::get_cal_ttx>(),
    method<C, "tenor_to_ttx(tenor)", &cal::tenor_to_ttx>(),
    method<C, "__reduce__()", &reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* Bound<C>::make(PyObject* module) {
    return class_type<C, "__new__(underlying)", &C::create>(module, calendar_methods, nullptr, &repr_slot<&repr>);
}

const PyMethodDef calendar_restore_function = function<"_calendar_from_state(underlying)", &C::create>();

const ClassEntry calendar_class = {Bound<C>::name, Bound<C>::index, &Bound<C>::make};

}  // namespace tessel::py
