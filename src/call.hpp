#pragma once
// The generic calling convention. A binding declares each callable once, as
// its Python signature and the plain C++ operation behind it:
//     function<"b76_vega(fwd, strike, ttx, vol, df=1.0)", &analytics::b76_vega>()
//     method<Calendar, "get_bus_ttx(from, to)", &Calendar::get_bus_ttx>()
// and the templates derive everything else from the declaration and the
// operation's types: the text signature, argument matching, the calling
// convention, whether self is taken shared (a const member function, or a
// first parameter of type const V&) or exclusive (non-const), the conversion
// of each argument by its type, the conversion of the result by its type,
// and PanicException for any C++ exception.
//
// The life of a call, and what each step can raise (texts: core/messages.hpp):
//  1. The interpreter calls an entry wrapper (dispatch.hpp: fastcall,
//     construct, noargs, getter, repr_slot), which finds the module state of
//     its interpreter (module_state.hpp, classes.hpp). RuntimeError "this
//     tessel object belongs to another interpreter; ..." for a module or
//     object of another interpreter.
//  2. Matching (matching.cpp) places the arguments by position and keyword.
//     TypeError "<f>() takes N positional arguments but M were given", "...
//     got multiple values for argument '<p>'", "... got an unexpected keyword
//     argument '<p>'", "... missing K required positional argument(s): ...".
//  3. Methods check self (matching.cpp) and take the instance's access flag
//     (access.hpp). TypeError "'<T>' object is not an instance of '<C>'";
//     RuntimeError "Already borrowed" or "Already mutably borrowed".
//  4. Each argument converts by its parameter type (converters.hpp, with the
//     conversions of convert.cpp), in the declared order unless the binding
//     gives another. Their TypeErrors ("'<T>' object is not an instance of
//     'str'", "Can't extract `str` to `Vec`", "... of 'Sequence'", "... of
//     'dict'") and the interpreter's own from the float rule ("must be real
//     number, not <T>", OverflowError) are decorated "argument '<p>': ..."
//     (errors.cpp); an instant's errors (AttributeError, ValueError "Invalid
//     timestamp") pass unchanged, as does any other exception.
//  5. An unknown option type waits until every argument has converted, then
//     raises ValueError "Unknown option type: '<t>'. Use 'call'/'c' or
//     'put'/'p'." (converters.hpp, convert.cpp).
//  6. The operation runs on plain values; an error it returns becomes
//     ValueError with its text (converters.hpp: ResultConv<Result<T>>).
//  7. The access flag is released and the result converts (converters.hpp).
//  8. A C++ exception anywhere in 2 to 7 becomes PanicException (errors.cpp).
//
// tessel_array's functions (array_dispatch.hpp) take the same steps with the
// same code, but read each numeric argument into a column (arrays.cpp:
// TypeError "expected a number or a one-dimensional array, not '<T>'", "...
// not an array of N dimensions", "expected an array of numbers, not of dtype
// '<d>'", "the __array_interface__ of a '<T>' object ..."), call_put into a
// column of option types, then check that the arrays have one length
// (ValueError "arrays of unequal lengths: '<p>' has N elements, '<q>' has
// M") and run the kernel over the elements without the interpreter lock.
#include "dispatch.hpp"
