r"""tessel's eleven analytics over arrays: a whole book in one call.

Every function has the name, the arguments and the meaning of its namesake in
`tessel` (see there for the formulas, the guards and the conventions). Each
numeric argument is a number or a one-dimensional array, the numbers standing
for every element; `call_put` is one text or a sequence of texts. The result
is a new numpy `float64` array with one element per position (of shape ()
when every argument is a number), and each element is, bit for bit, what the
scalar function of `tessel` returns for that position's arguments.

What an array argument may be:

- a numpy array of `float64`, read in place when its elements are aligned and
  adjacent, copied otherwise (a slice with a step, a field of a record array);
- a numpy array of another integer, float or bool dtype, converted as
  `float()` converts its elements; an array of objects, element by element
  by `float()`'s rules;
- a list, a tuple or any other sequence of numbers, converted like
  `tessel`'s lists of strikes;
- anything numpy turns into an array through `__array__` (a pandas Series),
  or whose `__array_interface__` describes bytes-like data.

Refused, with `TypeError` naming the argument: texts, arrays of more than one
dimension, arrays of complex numbers, texts, dates or records, and an
`__array_interface__` that points at bare memory (other than a numpy array's
own), whose bounds cannot be checked. Arrays of different lengths raise
`ValueError` naming both lengths. Argument matching, the rules for numbers and
texts, and their messages are `tessel`'s.

The interpreter lock is released while the elements are computed (from 500
elements on), so threads can price slices of a book at the same time.
Importing the module needs numpy; without it the import raises `ImportError`
saying so.

Examples:
    >>> import numpy as np
    >>> b76_fairvalue(np.array([90.0, 100.0, 110.0]), 100.0, 1.0, 0.2, ["put", "call", "call"])
    array([13.58910812,  7.96556746, 14.29201094])
    >>> b76_vega([100.0, 100.0], 100.0, 1.0, [0.2, 0.3]).tolist()
    [39.69525474770118, 39.44793309078889]
    >>> b76_fairvalue(100.0, 100.0, 1.0, 0.2, "call")
    array(7.96556746)
    >>> b76_vega([100.0, 100.0], [90.0, 100.0, 110.0], 1.0, 0.2)
    Traceback (most recent call last):
    ...
    ValueError: arrays of unequal lengths: 'fwd' has 2 elements, 'strike' has 3
"""

from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt
from typing_extensions import TypeAlias

__all__ = [
    "b76_fairvalue",
    "b76_delta",
    "b76_vega",
    "b76_gamma",
    "binary_fairvalue",
    "binary_vega",
    "binary_delta",
    "binary_gamma",
    "binary_speed",
    "binary_theta",
    "calibrate_black76_iv",
]

__version__: str

# A number, or a one-dimensional array of numbers: what numpy accepts as one,
# less texts and complex numbers, which are refused.
_Floats: TypeAlias = (
    SupportsFloat
    | SupportsIndex
    | Sequence[SupportsFloat | SupportsIndex]
    | npt.NDArray[np.floating[Any] | np.integer[Any] | np.bool_ | np.object_]
)
# One text, or one per element.
_CallPut: TypeAlias = str | Sequence[str] | npt.NDArray[np.str_ | np.object_]
_Result: TypeAlias = npt.NDArray[np.float64]

def b76_fairvalue(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                  df: _Floats = 1.0) -> _Result:
    """`tessel.b76_fairvalue` of every element: Black-76 values of European calls and puts."""

def b76_delta(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
              df: _Floats = 1.0) -> _Result:
    """`tessel.b76_delta` of every element: D·φ(d1)/(Fσ√T), negated for puts (the textbook gamma, not the delta)."""

def b76_vega(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, df: _Floats = 1.0) -> _Result:
    """`tessel.b76_vega` of every element: per 1.0 of volatility."""

def b76_gamma(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, df: _Floats = 1.0) -> _Result:
    """`tessel.b76_gamma` of every element: D·φ(d1)/(F²σ√T)."""

def binary_fairvalue(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                     df: _Floats = 1.0) -> _Result:
    """`tessel.binary_fairvalue` of every element: D·N(±ln(F/K)/(σ√T)), without the drift term.

    Examples:
        >>> binary_fairvalue(100.0, [90.0, 100.0, 110.0], 0.25, 0.5, "call").round(12).tolist()
        [0.66328384514, 0.5, 0.351512318482]
        >>> binary_fairvalue(100.0, [90.0, 100.0, 110.0], 0.0, 0.5, "put", 0.9).tolist()
        [0.0, 0.0, 0.9]
    """

def binary_vega(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                df: _Floats = 1.0) -> _Result:
    """`tessel.binary_vega` of every element: the derivative of the binary value in σ."""

def binary_delta(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                 df: _Floats = 1.0) -> _Result:
    """`tessel.binary_delta` of every element: the derivative of the binary value in F."""

def binary_gamma(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                 df: _Floats = 1.0) -> _Result:
    """`tessel.binary_gamma` of every element: the second derivative of the binary value in F."""

def binary_speed(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                 df: _Floats = 1.0) -> _Result:
    """`tessel.binary_speed` of every element: the third derivative of the binary value in F."""

def binary_theta(fwd: _Floats, strike: _Floats, ttx: _Floats, vol: _Floats, call_put: _CallPut,
                 df: _Floats = 1.0) -> _Result:
    """`tessel.binary_theta` of every element: the decay of the binary value per year."""

def calibrate_black76_iv(ttx: _Floats, fwd: _Floats, strike: _Floats, price: _Floats, call_put: _CallPut,
                         df: _Floats = 1.0) -> _Result:
    """`tessel.calibrate_black76_iv` of every element: time first, NaN where no volatility in [0.01, 10] fits.

    Examples:
        >>> calibrate_black76_iv(1.0, 100.0, 100.0, [7.965567455405804, 0.0, 150.0], "call").tolist()
        [0.20001446329252923, nan, nan]
    """
