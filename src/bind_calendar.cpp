// The Calendar class: trading time between instants, calendar time, tenors.
#include "bindings.hpp"
#include "calendar/calendar.hpp"
#include "calendar/tenor.hpp"
#include "call.hpp"

namespace tessel::py {

namespace cal = tessel::calendar;

template <>
struct Bound<cal::Calendar> {
    static constexpr const char* name = "Calendar";
    static PyTypeObject* type();
};

namespace {

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
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* Bound<cal::Calendar>::type() {
    static PyTypeObject* built = nullptr;
    if (built == nullptr)
        built = make_type("builtins.Calendar", sizeof(Instance<cal::Calendar>), "Calendar(underlying)\n--\n\n",
                          &construct<construct_sig, &make>, &dealloc<cal::Calendar>, calendar_methods, nullptr);
    return built;
}

const ClassEntry calendar_class = {"Calendar", &Bound<cal::Calendar>::type};

}  // namespace tessel::py
