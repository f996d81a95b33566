r"""Option analytics, volatility smiles and a trading-time calendar.

Notation of the option functions:

| Symbol | Argument | Meaning and unit |
|---|---|---|
| \(F\) | `fwd` | forward price of the underlying |
| \(K\) | `strike` | strike, in the units of `fwd` |
| \(T\) | `ttx` | time to expiry in years (business or calendar time, from a `Calendar`) |
| \(\sigma\) | `vol` | volatility, a decimal per square-root year: 0.2 is 20 % |
| \(D\) | `df` | discount factor, default 1.0; multiplies every value and sensitivity |
| | `call_put` | `"call"`/`"c"` or `"put"`/`"p"` in any letter case, nothing around it |

\(N\) is the standard normal distribution function and \(\varphi\) its
density, \(\varphi(x) = e^{-x^2/2}/\sqrt{2\pi}\).

Units everywhere in this module:

- `ttx` is time to expiry in years (a float);
- `vol` and every volatility a model returns are decimals per square-root
  year: 0.2 means 20 %;
- model parameters such as `ref_vol`, `vvol`, `skew`, `smile` and the
  spline increments are in percent (volatility points): 50.0 means 50 %;
- `df` is a discount factor that multiplies every value and sensitivity;
- calendar time and tenors count a year as 365 days; business time gives
  every local calendar year exactly 1.0.

Instants (`expiry`, `from`, `to`) are objects with a `timestamp()` method,
such as an aware `datetime` (a naive one is read in the process's local time
zone, as Python does); the seconds are kept to the nearest nanosecond. Instants
come back as `datetime` in UTC, rounded to the nearest microsecond, so a
`datetime` goes in and comes back unchanged.

Numbers never raise: out-of-domain inputs give NaN or infinities, and for
\(T \le 0\) or \(\sigma \le 0\) the option functions return their guard values
(a NaN `ttx` or `vol` is not guarded and gives NaN). Wrong argument kinds raise
`TypeError` ("argument 'name': ..."), a bad option type, calendar name or
tenor raises `ValueError`, so does an instant out of range ("Invalid
timestamp"); an object without `timestamp()` given as an instant raises
`AttributeError`. A model or calendar called again from inside one of its own
calls (from an argument's `__float__`) raises `RuntimeError` ("Already
borrowed" or "Already mutably borrowed"), and a fault in the native code
raises `PanicException` (derived from `BaseException`, not exported).

Examples:
    >>> from datetime import datetime, timedelta, timezone
    >>> an_hour_ahead = timezone(timedelta(hours=1))
    >>> VolGeo(datetime(2025, 3, 28, 9, tzinfo=an_hour_ahead)).expiry
    datetime.datetime(2025, 3, 28, 8, 0, tzinfo=datetime.timezone.utc)
    >>> b76_fairvalue(100, 0, 1, 0.2, "call"), b76_fairvalue(100, 100, 1, float("nan"), "call")
    (100.0, nan)
    >>> b76_fairvalue(100, 100, 1, "0.2", "call")
    Traceback (most recent call last):
    ...
    TypeError: argument 'vol': must be real number, not str
"""

# The wheel also ships this file as tessel-stubs/__init__.pyi, copied through a
# template by the build: it must not contain a dollar sign. Formulas are TeX
# between \( \) (inline) and \[ \] (display), which the documentation site
# renders; docstrings with a backslash are raw strings.

from collections.abc import Callable, Sequence
from datetime import datetime
from typing import Any, Protocol, SupportsFloat, SupportsIndex, TypeVar, final, overload, type_check_only

from typing_extensions import TypeAlias

__all__ = [
    "Calendar",
    "GVVSpline",
    "VolGeo",
    "CubicSpline",
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
"""The package version (as in the wheel's metadata); not part of ``__all__``."""

class _Instant(Protocol):
    """Anything with a ``timestamp()`` method, such as ``datetime.datetime``.

    A naive datetime is read in the process's local time zone, as Python does.
    """

    def timestamp(self) -> SupportsFloat | SupportsIndex:
        """Seconds since 1970-01-01T00:00:00Z."""

_Float: TypeAlias = SupportsFloat | SupportsIndex
"""A number: float, int, bool or anything with ``__float__`` or ``__index__``."""

class _Floats(Protocol):
    """A sequence of numbers: list, tuple, range, ``array.array``, a 1-D numpy array, ...

    The module takes any object that Python counts as a sequence and reads it
    by iteration; a ``str``, a set, a dict or an iterator is refused.
    """

    def __len__(self) -> int:
        """The number of elements."""
    # Indexing by a slice as well is what tells a sequence from a dict keyed by numbers.
    @overload
    def __getitem__(self, index: int, /) -> _Float:
        """An element: a number."""
    @overload
    def __getitem__(self, index: slice, /) -> Any:
        """A slice."""

_Number = TypeVar("_Number", bound=SupportsFloat | SupportsIndex)
"""The value type of a parameter dict: any one number type, so ``dict[str, float]``
(what ``get_param_dict()`` returns) and ``dict[str, int]`` both fit."""

_ParamMap: TypeAlias = dict[str, _Number]
"""A dict (or a subclass) from parameter name to number; names a model does not have are
ignored. Other mappings are refused."""

_CallPut: TypeAlias = str
"""``"call"``/``"c"`` or ``"put"``/``"p"`` in any letter case, nothing around it."""

# ---------------------------------------------------------------------------
# Calendar
# ---------------------------------------------------------------------------

@final
class Calendar:
    r"""Trading-time calendar of one underlying.

    Every weekday carries a day weight, and within a day the weight is spread
    over the 96 quarter hours of the local clock of the calendar's IANA time
    zone by a per-weekday profile. The only calendar compiled in is
    `"BTCUSDT"`: zone `"US/Eastern"`, day weights Monday to Thursday 1, Friday
    0.9, Saturday 0.27 and Sunday 0.53 (a week of 5.7), with profiles that peak
    in the New York morning and stay low at weekends.

    Business time is a coordinate on the local calendar year \(Y\) of an
    instant \(t\):

    \[
    \operatorname{bus}(t) = Y + \frac{P(t)}{W(Y)},
    \]

    where \(P(t)\) is the weight from local midnight of 1 January up to
    \(t\) (the whole days before by their day weights, the current day by its
    profile, linearly within a quarter hour) and \(W(Y)\) the weight of the
    whole year, so every year holds exactly 1.0 however its weekdays fall:
    \(W(2025) = 52 \times 5.7 + 1 = 297.4\) (1 January is a Wednesday),
    \(W(2024) = 52 \times 5.7 + 1 + 1 = 298.4\) (a leap year starting on a
    Monday).

    `repr` shows the underlying; a calendar pickles and copies as its
    underlying, so it can be shipped to worker processes.

    Raises:
        ValueError: no calendar is compiled in for `underlying`: "No embedded
            calendar for underlying: " and the name. Names match exactly:
            `"btcusdt"` is unknown.
        TypeError: `underlying` is not a str.

    Examples:
        A year holds 1.0, a Monday of 2025 \(1/W(2025)\) of it, one of 2024
        \(1/W(2024)\):

        >>> from datetime import datetime
        >>> from zoneinfo import ZoneInfo
        >>> new_york = ZoneInfo("US/Eastern")
        >>> cal = Calendar("BTCUSDT")
        >>> cal.get_bus_ttx(datetime(2025, 1, 1, tzinfo=new_york), datetime(2026, 1, 1, tzinfo=new_york))
        1.0
        >>> monday = cal.get_bus_ttx(datetime(2025, 1, 6, tzinfo=new_york), datetime(2025, 1, 7, tzinfo=new_york))
        >>> round(1 / monday, 6)
        297.4
        >>> monday = cal.get_bus_ttx(datetime(2024, 1, 8, tzinfo=new_york), datetime(2024, 1, 9, tzinfo=new_york))
        >>> round(1 / monday, 6)
        298.4
        >>> cal
        Calendar(underlying='BTCUSDT')
        >>> Calendar("btcusdt")
        Traceback (most recent call last):
        ...
        ValueError: No embedded calendar for underlying: btcusdt
    """

    def __new__(cls, underlying: str) -> Calendar:
        """The calendar of ``underlying``; ``ValueError`` when none is compiled in."""
    def get_bus_ttx(self, from_: _Instant, /, to: _Instant) -> float:
        r"""Business time from `from` to `to` in years, \(\operatorname{bus}(to) - \operatorname{bus}(from)\).

        The parameters are named `from` and `to`; the stub spells the first
        `from_` because `from` is a Python keyword.

        Within one year this is the weight between the two instants divided by
        that year's weight \(W(Y)\); across a year end each year's share is
        divided by its own year's weight. It is negative when `to` is earlier,
        0.0 for equal instants and exactly the negative with the two swapped.
        The fractions of a second of both instants are dropped.

        Days and quarter hours follow the local wall clock, daylight saving
        included. When the clocks go forward the skipped hour's weight passes in
        no time; when they go back the repeated hour is measured along the same
        quarter hours twice, so business time steps back at the change and two
        instants an hour apart that show the same wall-clock time are 0.0
        apart (2025-11-02 05:30 UTC to 06:30 UTC in US/Eastern).

        With the embedded calendar: Monday 2025-01-06 00:00 local to Tuesday
        00:00 is \(1/297.4 \approx 0.00336247\), to the next Monday
        \(5.7/297.4 \approx 0.0191661\), and Saturday 2025-01-11 to Sunday
        \(0.27/297.4\).

        Raises:
            AttributeError: an argument has no `timestamp()` method (a float,
                for example).
            ValueError: an instant out of range ("Invalid timestamp").

        Examples:
            >>> from datetime import datetime, timedelta, timezone
            >>> from zoneinfo import ZoneInfo
            >>> cal = Calendar("BTCUSDT")
            >>> monday = datetime(2025, 1, 6, tzinfo=ZoneInfo("US/Eastern"))
            >>> round(cal.get_bus_ttx(monday, monday + timedelta(days=1)), 8)
            0.00336247
            >>> round(cal.get_bus_ttx(monday, monday + timedelta(days=7)), 7)
            0.0191661
            >>> saturday = monday + timedelta(days=5)
            >>> round(cal.get_bus_ttx(saturday, saturday + timedelta(days=1)) * 297.4, 9)
            0.27
            >>> week = monday + timedelta(days=7)
            >>> cal.get_bus_ttx(week, monday) == -cal.get_bus_ttx(monday, week)
            True

            The hour repeated when the clocks go back, 01:30 EDT and 01:30 EST:

            >>> cal.get_bus_ttx(datetime(2025, 11, 2, 5, 30, tzinfo=timezone.utc),
            ...                 datetime(2025, 11, 2, 6, 30, tzinfo=timezone.utc))
            0.0
            >>> cal.get_bus_ttx(1735689600.0, monday)
            Traceback (most recent call last):
            ...
            AttributeError: 'float' object has no attribute 'timestamp'
        """

    @staticmethod
    def get_cal_ttx(from_: _Instant, /, to: _Instant) -> float:
        r"""Calendar time from `from` to `to` in years of 365 days.

        \[
        \frac{S}{31\,536\,000}, \qquad S = \text{to} - \text{from}
        \text{ in whole seconds, truncated toward zero.}
        \]

        A static method: it needs no calendar object and ignores weights, zones
        and daylight saving. One day is \(86\,400/31\,536\,000 \approx
        0.00273973\); instants 1.5 s apart give \(1/31\,536\,000\), and the
        negative of that when swapped. The parameters are named `from` and `to`
        (the stub spells the first `from_`).

        Raises:
            AttributeError: an argument has no `timestamp()` method.
            ValueError: an instant out of range ("Invalid timestamp").

        Examples:
            >>> from datetime import datetime, timedelta, timezone
            >>> start = datetime(2025, 1, 1, tzinfo=timezone.utc)
            >>> round(Calendar.get_cal_ttx(start, start + timedelta(days=1)), 8)
            0.00273973
            >>> Calendar.get_cal_ttx(start, start + timedelta(seconds=1.5)) * 31_536_000
            1.0
            >>> Calendar.get_cal_ttx(start + timedelta(seconds=1.5), start) * 31_536_000
            -1.0
        """

    @staticmethod
    def tenor_to_ttx(tenor: str) -> float:
        """Years of a tenor string: a decimal number directly followed by one unit letter.

        | Unit | Meaning | Years for the number x |
        |---|---|---|
        | `d` | days | x / 365 |
        | `w` | weeks | (7 x) / 365 |
        | `m` | months of 30 days | (30 x) / 365 |
        | `y` | years | x |

        The basis is that of `get_cal_ttx`; no calendar weighting, whatever the
        dates: `"6m"` is 180 / 365 ≈ 0.493151, `"12m"` is 360 / 365 (not 1.0),
        `"52w"` 364 / 365, `"365d"` and `"1y"` 1.0. The number is a decimal
        floating-point literal with an optional sign and exponent (`".5y"`,
        `"1e1d"`, `"-1d"`, `"+3m"`), or inf, infinity or nan in any letter case;
        one too large reads as infinity (`"1e400d"`). Nothing is trimmed or
        case-folded.

        Raises:
            ValueError: "Invalid tenor format: " followed by the tenor when it
                is empty or does not end in d, w, m or y (`"1Y"`, `"1.5"`,
                `"1y "`); "cannot parse float from empty string" for a unit
                alone (`"y"`); "invalid float literal" when the text before the
                unit is not a number (`"1 y"`, `" 1y"`, `"+y"`).
            TypeError: `tenor` is not a str.

        Examples:
            >>> round(Calendar.tenor_to_ttx("6m"), 6)
            0.493151
            >>> Calendar.tenor_to_ttx("12m") == 360 / 365, Calendar.tenor_to_ttx("52w") == 364 / 365
            (True, True)
            >>> Calendar.tenor_to_ttx("365d"), Calendar.tenor_to_ttx("1y"), Calendar.tenor_to_ttx(".5y")
            (1.0, 1.0, 0.5)
            >>> Calendar.tenor_to_ttx("-1d") == -1 / 365, Calendar.tenor_to_ttx("+3m") == 90 / 365
            (True, True)
            >>> Calendar.tenor_to_ttx("1e400d"), Calendar.tenor_to_ttx("-Infinityw"), Calendar.tenor_to_ttx("NaNy")
            (inf, -inf, nan)
            >>> Calendar.tenor_to_ttx("1Y")
            Traceback (most recent call last):
            ...
            ValueError: Invalid tenor format: 1Y
            >>> Calendar.tenor_to_ttx("y")
            Traceback (most recent call last):
            ...
            ValueError: cannot parse float from empty string
            >>> Calendar.tenor_to_ttx(" 1y")
            Traceback (most recent call last):
            ...
            ValueError: invalid float literal
        """

    def __repr__(self) -> str:
        """``Calendar(underlying='BTCUSDT')``."""

    def __reduce__(self) -> tuple[Callable[[str], Calendar], tuple[str]]:
        """Pickles as the underlying; unpickling builds the calendar again."""

# ---------------------------------------------------------------------------
# Volatility models
# ---------------------------------------------------------------------------

@type_check_only
class VolModel(Protocol):
    """What the three smile models share, as one type: for annotations only.

    [`GVVSpline`][tessel.GVVSpline], [`VolGeo`][tessel.VolGeo] and
    [`CubicSpline`][tessel.CubicSpline] have these members with the same
    arguments and meaning, so a list of mixed models is a `list[VolModel]`
    and one fitter can drive all three. `VolModel` exists only in the type
    stub, not in the module: import it for the type checker alone.

    ```python
    from __future__ import annotations
    from typing import TYPE_CHECKING

    if TYPE_CHECKING:
        from tessel import VolModel

    def atm_vols(models: list[VolModel], ttx: float, spot: float) -> list[float]:
        return [m.get_vol_single(ttx, spot, spot) for m in models]
    ```

    Examples:
        >>> from datetime import datetime, timezone
        >>> expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
        >>> atm_vols([GVVSpline(expiry), VolGeo(expiry), CubicSpline(expiry, ref_vol=40.0)], 0.5, 100.0)
        [0.5, 0.5, 0.4]
        >>> import tessel
        >>> hasattr(tessel, "VolModel")
        False
    """

    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap[_Number]) -> VolModel:
        """A new model of the same class from an expiry and a dict of parameters."""
    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""
    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities, one per strike, in input order."""
    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike."""
    def arb_free(self) -> bool:
        """The model's own range test on its parameters."""
    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""
    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing."""
    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value."""
    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies."""
    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-anchor the smile at ``spot`` (spot first, then ttx)."""
    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to ``param`` unless the result would fail ``arb_free()``."""
    def get_jacobian(
        self, ttx: _Float, spot: _Float, strikes: _Floats, params: Sequence[str]
    ) -> dict[str, list[float]]:
        """Sensitivity of each strike's decimal volatility to each named parameter."""

@final
class GVVSpline:
    r"""Parametric smile for one expiry: a level, a skew, a smile and two wings.

    The volatility at strike \(K\) for `ttx` \(T\) (a decimal), with the
    percent parameters scaled to decimals, \(\sigma_0\) = `ref_vol`/100,
    \(s\) = `skew`/100, \(m\) = `smile`/100, \(p\) = `pwing`/100,
    \(q\) = `cwing`/100, and \(K_0\) = `ref_spot`:

    \[
    \begin{aligned}
    z &= \frac{\ln(K/K_0)}{\sqrt{T}}, &
    y &= \Bigl(1 - \tfrac12 e^{-z^2}\Bigr)\, z, \\
    A &= 2 s\, y\, \sigma_0 + \sigma_0^2, &
    V &= \tfrac12\Bigl(\sqrt{4 m y^2 + A^2} + A\Bigr), \\
    w &= 6 \tanh\Bigl(\frac{y}{6\sqrt{V}}\Bigr), &
    U &= V + \begin{cases} p\, w^4 & y < 0 \\ q\, w^4 & y > 0 \\ 0 & y = 0 \end{cases} \\
    \sigma(K) &= \sqrt{U}.
    \end{aligned}
    \]

    \(V\) is the core variance (the larger root of \(V^2 - AV - m y^2 = 0\));
    `skew` tilts it, `smile` raises both sides, `pwing` adds variance only
    below `ref_spot` and `cwing` only above. At \(K = K_0\) the volatility is
    `ref_vol`/100. A result that is not finite becomes NaN, so `ttx` ≤ 0, a
    non-positive strike or a negative variance give NaN for that strike.
    `spot` is accepted by every method and ignored.

    Parameters (percent unless stated; nothing is range-checked):

    | Name | Default | Role |
    |---|---|---|
    | `vpr` | 1.0 | stored only, no volatility depends on it |
    | `ref_spot` | 100.0 | \(K_0\), the strike the smile is centred on (a price) |
    | `ref_vol` | 50.0 | at-the-money volatility \(100\,\sigma_0\) |
    | `skew` | 0.0 | slope term \(100\,s\) |
    | `smile` | 5.0 | curvature term \(100\,m\) |
    | `pwing` | 0.0 | wing term \(100\,p\) for strikes below `ref_spot` |
    | `cwing` | 0.0 | wing term \(100\,q\) for strikes above `ref_spot` |
    | `offset` | 0.0 | stored only |

    `arb_free()` is true when `pwing` ≥ 0, `cwing` ≥ 0, `smile` ≥ 1 and
    `ref_vol` > 10. Fitting varies `ref_vol`, `skew` and `smile`.

    Parameters not given take their defaults, unknown names are ignored.
    `expiry` is stored and reported only (every method takes `ttx`). `repr`
    shows every parameter; models pickle and copy by value.

    Raises:
        TypeError: a parameter value is not a number ("argument 'params': ...").
        AttributeError: `expiry` has no `timestamp()` method.
        ValueError: `expiry` is out of range ("Invalid timestamp").

    Examples:
        The examples of the methods below continue this one.

        >>> from datetime import datetime, timezone
        >>> expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
        >>> smile = GVVSpline(expiry, ref_vol=20, skew=-10, smile=5, pwing=10, cwing=5)
        >>> [round(v, 6) for v in smile.get_vol(0.25, 100.0, [80.0, 100.0, 125.0])]
        [0.384674, 0.2, 0.341095]
        >>> smile.get_vol(0.25, 55.5, [80.0]) == smile.get_vol(0.25, 100.0, [80.0])   # spot is ignored
        True
        >>> smile.get_vol(0.0, 100.0, [80.0, 100.0])
        [nan, nan]
        >>> smile
        GVVSpline(expiry=2025-03-28T08:00:00+00:00, vpr=1.0, ref_spot=100.0, ref_vol=20.0, skew=-10.0, smile=5.0, pwing=10.0, cwing=5.0, offset=0.0)
        >>> GVVSpline(expiry, nonsense=1.0).get_param_dict() == GVVSpline(expiry).get_param_dict()
        True
        >>> GVVSpline(expiry, ref_vol="20")
        Traceback (most recent call last):
        ...
        TypeError: argument 'params': must be real number, not str
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> GVVSpline:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap[_Number]) -> GVVSpline:
        """A new model from an expiry and a dict of parameters.

        Parameters missing from ``params`` take their defaults; names the
        model does not have are ignored.

        Examples:
            The copy idiom, and a dict of ints:

            >>> clone = GVVSpline.with_params(smile.expiry, smile.get_param_dict())
            >>> clone.get_param_dict() == smile.get_param_dict()
            True
            >>> GVVSpline.with_params(expiry, {"ref_vol": 30}).get_parameter("ref_vol")
            30.0
        """

    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""

    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities (0.2 is 20 %), one per strike, in input order; ``spot`` is ignored."""

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``.

        Examples:
            >>> smile.get_vol_single(0.25, 100.0, 80.0) == smile.get_vol(0.25, 100.0, [80.0])[0]
            True
        """

    def arb_free(self) -> bool:
        """True when ``pwing >= 0``, ``cwing >= 0``, ``smile >= 1`` and ``ref_vol > 10``.

        Examples:
            >>> GVVSpline(expiry, smile=1.0).arb_free(), GVVSpline(expiry, ref_vol=10.0).arb_free()
            (True, False)
        """

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have.

        Examples:
            >>> smile.get_parameter("ref_vol"), smile.get_parameter("REF_VOL")
            (20.0, None)
        """

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check.

        Examples:
            >>> model = GVVSpline(expiry)
            >>> model.set_param("ref_vol", -5.0)
            >>> model.get_parameter("ref_vol"), model.arb_free()
            (-5.0, False)
        """

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined).

        Examples:
            >>> sorted(smile.get_param_dict())
            ['cwing', 'offset', 'pwing', 'ref_spot', 'ref_vol', 'skew', 'smile', 'vpr']
        """

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``["ref_vol", "skew", "smile"]``."""

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-centre the smile on ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; nothing else changes. When that
        volatility is not finite (such as at ``ttx`` = 0) the model is left as it is.

        Examples:
            >>> model = GVVSpline(expiry)
            >>> level = 100 * model.get_vol_single(0.5, 110.0, 110.0)
            >>> model.reanchor(110.0, 0.5)
            >>> model.get_parameter("ref_vol") == level, model.get_parameter("ref_spot")
            (True, 110.0)
            >>> model.reanchor(120.0, 0.0)
            >>> model.get_parameter("ref_spot")
            110.0
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.

        Examples:
            >>> model = GVVSpline(expiry)
            >>> model.bump_param("smile", -4.5)     # to 0.5: arb_free() would fail
            >>> model.get_parameter("smile")
            5.0
            >>> model.bump_param("smile", -4.0)     # to 1.0: allowed
            >>> model.get_parameter("smile")
            1.0
        """

    def get_jacobian(
        self, ttx: _Float, spot: _Float, strikes: _Floats, params: Sequence[str]
    ) -> dict[str, list[float]]:
        """Sensitivity of each strike's decimal volatility to each named parameter.

        A forward difference with an increment of 0.01 in the parameter's own
        units (percent for ``ref_vol``), divided by 0.01: one list per name,
        one entry per strike. Unknown names give zeros. The model is not changed.

        Examples:
            One volatility point of ``ref_vol`` moves the at-the-money volatility
            by 0.01:

            >>> jac = GVVSpline(expiry).get_jacobian(0.5, 100.0, [100.0, 120.0], ["ref_vol", "offset", "nonsense"])
            >>> [round(d, 9) for d in jac["ref_vol"]], jac["offset"], jac["nonsense"]
            ([0.01, 0.00978361], [0.0, 0.0], [0.0, 0.0])
        """

    def __repr__(self) -> str:
        """``GVVSpline(expiry=..., vpr=1.0, ref_spot=100.0, ref_vol=50.0, ...)``."""

    def __reduce__(
        self,
    ) -> tuple[Callable[[str, int, int, dict[str, float]], GVVSpline], tuple[str, int, int, dict[str, float]]]:
        """Pickles as the class name, the expiry (whole seconds since the epoch and
        nanoseconds, so that every expiry survives exactly) and the parameters."""

@final
class VolGeo:
    r"""Closed-form smile for one expiry from a level, a correlation and a volatility of volatility.

    With \(\rho = \tanh(\texttt{corr})\), \(\nu\) = `vvol`/100, spot \(S\),
    \(S_0\) = `ref_spot` and \(T\) = `ttx`, the at-the-money level in percent
    moves with spot, and the squared volatility at strike \(K\) is the larger
    root of a quadratic in the log-moneyness scaled by \(\sqrt{T}\):

    \[
    \begin{aligned}
    A &= \texttt{ref\_vol} + \texttt{vpr}\cdot\rho\,\texttt{vvol}\cdot
         \frac{\ln(S/S_0)}{\sqrt{T}\;\texttt{ref\_vol}}, \qquad
    \sigma_a = \frac{A}{100}, \\
    x &= \frac{\ln(K/S)}{\sqrt{T}}, \qquad
    g = \sigma_a^2 + 2\rho\,\nu\,\sigma_a\, x, \\
    \sigma(K)^2 &= \tfrac12\Bigl(g + \sqrt{g^2 + 4\,(1-\rho^2)\,\nu^2 x^2/\sigma_a}\Bigr).
    \end{aligned}
    \]

    At \(K = S\) the volatility is \(\sigma_a\); at \(S = S_0\) it is
    `ref_vol`/100. With the default `corr` = 0 the smile is symmetric in
    \(x\) and neither `ref_spot` nor `vpr` has any effect. Non-finite values
    flow through: `ttx` = 0 gives NaN everywhere; `corr` above about 354.9
    makes \(\rho\) NaN, below about −372.6 exactly −1.

    Parameters (percent unless stated; nothing is range-checked):

    | Name | Default | Role |
    |---|---|---|
    | `vpr` | 1.0 | multiplier of the spot-driven shift of the level (no unit) |
    | `ref_spot` | 100.0 | \(S_0\), the spot at which the level is `ref_vol` (a price) |
    | `ref_vol` | 50.0 | at-the-money volatility at `ref_spot` |
    | `corr` | 0.0 | unbounded correlation parameter, \(\rho = \tanh(\texttt{corr})\) (no unit) |
    | `vvol` | 20.0 | volatility of volatility, \(100\,\nu\) |
    | `offset` | 0.0 | stored only |

    `arb_free()` is true when `vvol` ≥ 1 and `ref_vol` > 1. Fitting varies
    `ref_vol`, `corr` and `vvol`.

    Construction, `expiry`, copies and errors are as for
    [`GVVSpline`][tessel.GVVSpline].

    Examples:
        The examples of the methods below continue this one. At \(S = S_0\)
        and \(T = 1\), the strikes \(S\), \(S e\) and \(S/e\) (\(x\) = 0,
        1 and −1):

        >>> import math
        >>> from datetime import datetime, timezone
        >>> expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
        >>> strikes = [100.0, 100.0 * math.e, 100.0 / math.e]
        >>> VolGeo(expiry).get_vol(1.0, 100.0, strikes)
        [0.5, 0.6589635209336892, 0.6589635209336892]
        >>> smile = VolGeo(expiry, corr=0.5)
        >>> smile.get_vol(1.0, 100.0, strikes)
        [0.5, 0.6891331069644575, 0.5845524796821399]

        Spot 110 moves the level \(A\) (at \(K = S\) the volatility is
        \(A/100\)):

        >>> smile.get_vol_single(1.0, 110.0, 110.0)
        0.5001761778773964

        With `corr` = 0 neither `ref_spot` nor `vpr` matters; `ttx` = 0 and a
        huge `corr` give NaN:

        >>> moved = VolGeo(expiry, ref_spot=50.0, vpr=3.0)
        >>> moved.get_vol(0.5, 100.0, [80.0, 120.0]) == VolGeo(expiry).get_vol(0.5, 100.0, [80.0, 120.0])
        True
        >>> VolGeo(expiry).get_vol(0.0, 100.0, [90.0, 100.0]), VolGeo(expiry, corr=400.0).get_vol(1.0, 100.0, [90.0])
        ([nan, nan], [nan])
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> VolGeo:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap[_Number]) -> VolGeo:
        """A new model from an expiry and a dict of parameters.

        Parameters missing from ``params`` take their defaults; names the
        model does not have are ignored.
        """

    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""

    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities (0.2 is 20 %), one per strike, in input order.

        ``spot`` sets each strike's moneyness and moves the level away from ``ref_vol``.

        Examples:
            >>> smile.get_vol(1.0, 110.0, [100.0])
            [0.4936684306785863]
        """

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``."""

    def arb_free(self) -> bool:
        """True when ``vvol >= 1`` and ``ref_vol > 1``.

        Examples:
            >>> VolGeo(expiry, vvol=1.0).arb_free(), VolGeo(expiry, vvol=0.999).arb_free()
            (True, False)
            >>> VolGeo(expiry, ref_vol=1.0).arb_free(), VolGeo(expiry, corr=1000.0).arb_free()
            (False, True)
        """

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check."""

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined)."""

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``["ref_vol", "corr", "vvol"]``.

        Examples:
            >>> smile.get_fitting_params()
            ['ref_vol', 'corr', 'vvol']
        """

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-anchor the smile at ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; nothing else changes. When that
        volatility is not finite (such as at ``ttx`` = 0) the model is left as it is.

        Examples:
            >>> model = VolGeo(expiry, corr=-0.5)
            >>> model.reanchor(110.0, 0.0)
            >>> model.get_parameter("ref_spot")
            100.0
            >>> model.reanchor(110.0, 1.0)
            >>> model.get_parameter("ref_vol"), model.get_parameter("ref_spot")
            (49.982382212260354, 110.0)
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.

        Examples:
            >>> model = VolGeo(expiry)
            >>> model.bump_param("vvol", -19.5)     # to 0.5: refused
            >>> model.bump_param("corr", 0.5)
            >>> model.get_parameter("vvol"), model.get_parameter("corr")
            (20.0, 0.5)
        """

    def get_jacobian(
        self, ttx: _Float, spot: _Float, strikes: _Floats, params: Sequence[str]
    ) -> dict[str, list[float]]:
        """Sensitivity of each strike's decimal volatility to each named parameter.

        A forward difference with an increment of 0.01 in the parameter's own
        units (percent for ``ref_vol``), divided by 0.01: one list per name,
        one entry per strike. Unknown names give zeros. The model is not changed.
        """

    def __repr__(self) -> str:
        """``VolGeo(expiry=..., vpr=1.0, ref_spot=100.0, ref_vol=50.0, corr=0.0, ...)``."""

    def __reduce__(
        self,
    ) -> tuple[Callable[[str, int, int, dict[str, float]], VolGeo], tuple[str, int, int, dict[str, float]]]:
        """Pickles as the class name, the expiry (whole seconds since the epoch and
        nanoseconds, so that every expiry survives exactly) and the parameters."""

@final
class CubicSpline:
    r"""Smile through eleven pillars of standardised moneyness, joined by a shape-preserving cubic in variance.

    The pillars stand at \(z\) = −5, −2.5, −1.5, −1, −0.5, 0, 0.5, 1, 1.5, 2.5
    and 5. The at-the-money level \(A\) (percent) sits at \(z = 0\); each
    increment steps the volatility from one pillar to the next one outward,
    `p05` to `p25` on the put side and `c05` to `c25` on the call side (so the
    pillar at −1 has \(A\) + `p05` + `p10`). With spot \(S\), \(S_0\) =
    `ref_spot` and \(T\) = `ttx`:

    \[
    \begin{aligned}
    A &= \texttt{ref\_vol} + \texttt{vpr}\cdot\frac{\texttt{p05} - \texttt{c05}}{0.1}\cdot 100\cdot
         \frac{\ln(S/S_0)}{\ln(T)\;\texttt{ref\_vol}}, \\
    z(K) &= \frac{100\,\ln(K/S)}{\sqrt{T}\,A}.
    \end{aligned}
    \]

    The pillar volatilities (percent / 100) are squared into variances, joined
    by a monotone piecewise-cubic Hermite curve (zero slope at a pillar where
    the neighbouring secants change sign, else their weighted harmonic mean)
    and continued as straight lines beyond ±5; the volatility is the square
    root, NaN where the variance is negative.

    Note the logarithm of `ttx` (not its square root) in the level: at `ttx`
    = 1 the level is not finite (NaN at `spot` = `ref_spot`) and so is every
    volatility; elsewhere at `spot` = `ref_spot` the level is `ref_vol`.

    Parameters (all but `vpr` and `ref_spot` in percent; nothing is
    range-checked):

    | Name | Default | Role |
    |---|---|---|
    | `vpr` | 1.0 | multiplier of the spot-driven shift of the level (no unit) |
    | `ref_spot` | 100.0 | \(S_0\), the spot at which the level is `ref_vol` (a price) |
    | `ref_vol` | 50.0 | at-the-money volatility at `ref_spot` |
    | `p05`, `p10`, `p15`, `p20`, `p25` | 0.0 | steps to the pillars −0.5, −1, −1.5, −2.5, −5 |
    | `c05`, `c10`, `c15`, `c20`, `c25` | 0.0 | steps to the pillars 0.5, 1, 1.5, 2.5, 5 |

    `arb_free()` is true when `p25` ≥ 0, `c25` ≥ 0 and `ref_vol` > 1. Fitting
    varies `ref_vol` and the ten increments.

    Construction, `expiry`, copies and errors are as for
    [`GVVSpline`][tessel.GVVSpline].

    Examples:
        The examples of the methods below continue this one. Pillar
        volatilities 25, 24, 23, 22, 21, 20, 19.5, 19, 19, 19.5 and 20.5 %:

        >>> from datetime import datetime, timezone
        >>> expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
        >>> smile = CubicSpline(expiry, ref_vol=20.0, p05=1.0, p10=1.0, p15=1.0, p20=1.0, p25=1.0,
        ...                     c05=-0.5, c10=-0.5, c15=0.0, c20=0.5, c25=1.0)
        >>> smile.get_vol(0.25, 100.0, [95.0, 110.0, 150.0])
        [0.21025852342644197, 0.19008441843107368, 0.20137134771866558]

        Strike 60 lies beyond the pillar at −5, on the straight line:

        >>> smile.get_vol_single(0.25, 100.0, 60.0)
        0.2504240048913311

        Spot 105 moves the level through the skew `p05` − `c05`:

        >>> smile.get_vol_single(0.25, 105.0, 105.0)
        0.17360400204072576

        The pillar at \(z = -0.5\) is where `p05` puts it:

        >>> import math
        >>> model = CubicSpline(expiry, ref_vol=20.0, p05=2.0)
        >>> [round(v, 12) for v in model.get_vol(0.5, 100.0, [100.0 * math.exp(-0.5 * 0.2 * math.sqrt(0.5)), 100.0])]
        [0.22, 0.2]
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> CubicSpline:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap[_Number]) -> CubicSpline:
        """A new model from an expiry and a dict of parameters.

        Parameters missing from ``params`` take their defaults; names the
        model does not have are ignored.
        """

    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""

    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities (0.2 is 20 %), one per strike, in input order.

        ``ttx`` of exactly 1.0 makes the spot-driven shift non-finite (it
        divides by ln(ttx)); NaN where the extrapolated variance is negative.

        Examples:
            >>> smile.get_vol(1.0, 100.0, [90.0, 100.0])
            [nan, nan]
            >>> CubicSpline(expiry, p25=-4.0).get_vol(0.25, 100.0, [5.0, 1.0, 0.001])
            [0.32302044689592463, 0.07388060484925514, nan]
        """

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``."""

    def arb_free(self) -> bool:
        """True when ``p25 >= 0``, ``c25 >= 0`` and ``ref_vol > 1``.

        Examples:
            >>> CubicSpline(expiry, p05=-10.0).arb_free(), CubicSpline(expiry, p25=-0.0001).arb_free()
            (True, False)
            >>> CubicSpline(expiry, ref_vol=1.0).arb_free()
            False
        """

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check."""

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined)."""

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``ref_vol``, then ``p25`` ... ``p05``, ``c05`` ... ``c25``.

        Examples:
            >>> smile.get_fitting_params()
            ['ref_vol', 'p25', 'p20', 'p15', 'p10', 'p05', 'c05', 'c10', 'c15', 'c20', 'c25']
        """

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-anchor the smile at ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; the increments keep the shape. When that
        volatility is not finite (such as at ``ttx`` = 1) the model is left as it is.

        Examples:
            >>> model = CubicSpline(expiry, ref_vol=20.0, p05=1.0, c05=-0.5)
            >>> model.reanchor(105.0, 1.0)
            >>> model.get_parameter("ref_spot")
            100.0
            >>> model.reanchor(105.0, 0.25)
            >>> round(model.get_parameter("ref_vol"), 9), model.get_parameter("ref_spot")
            (17.360400204, 105.0)
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.

        Examples:
            >>> model = CubicSpline(expiry)
            >>> model.bump_param("p25", -0.01)      # p25 < 0: refused
            >>> model.bump_param("p10", -0.01)      # inner increments may be negative
            >>> model.get_parameter("p25"), model.get_parameter("p10")
            (0.0, -0.01)
        """

    def get_jacobian(
        self, ttx: _Float, spot: _Float, strikes: _Floats, params: Sequence[str]
    ) -> dict[str, list[float]]:
        """Sensitivity of each strike's decimal volatility to each named parameter.

        A forward difference with an increment of 0.01 in the parameter's own
        units (percent), divided by 0.01: one list per name, one entry per
        strike. Unknown names give zeros. The model is not changed.
        """

    def __repr__(self) -> str:
        """``CubicSpline(expiry=..., vpr=1.0, ref_spot=100.0, ref_vol=50.0, p05=0.0, ...)``."""

    def __reduce__(
        self,
    ) -> tuple[Callable[[str, int, int, dict[str, float]], CubicSpline], tuple[str, int, int, dict[str, float]]]:
        """Pickles as the class name, the expiry (whole seconds since the epoch and
        nanoseconds, so that every expiry survives exactly) and the parameters."""

# ---------------------------------------------------------------------------
# Black-76 on a forward
# ---------------------------------------------------------------------------

def b76_fairvalue(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0) -> float:
    r"""Black-76 value of a European call or put on the forward `fwd`.

    \[
    C = D\,\bigl(F\,N(d_1) - K\,N(d_2)\bigr), \qquad
    P = D\,\bigl(K\,N(-d_2) - F\,N(-d_1)\bigr),
    \]

    \[
    d_1 = \frac{\ln(F/K) + \tfrac12\sigma^2 T}{\sigma\sqrt{T}}, \qquad
    d_2 = d_1 - \sigma\sqrt{T}.
    \]

    Guard: for \(T \le 0\) or \(\sigma \le 0\) the discounted intrinsic
    value, \(D\max(F-K, 0)\) for a call and \(D\max(K-F, 0)\) for a put.
    `fwd` and `strike` are not checked: zero or negative ones give NaN or
    infinities through the logarithm.

    Returns:
        The value, in the price units of `fwd`, discounted by `df`.

    Raises:
        ValueError: `call_put` is none of call, c, put, p in any letter case:
            "Unknown option type: '<text in lower case>'. Use 'call'/'c' or
            'put'/'p'."

    Examples:
        At the money the call and the put are worth the same (parity at \(F = K\)):

        >>> b76_fairvalue(100, 100, 1, 0.2, "call"), b76_fairvalue(100, 100, 1, 0.2, "put")
        (7.965567455405804, 7.965567455405804)
        >>> b76_fairvalue(110, 100, 0, 0.2, "call", 0.9), b76_fairvalue(110, 100, 0, 0.2, "put", 0.9)
        (9.0, 0.0)
        >>> b76_fairvalue(100, -5, 1, 0.2, "call")
        nan
        >>> b76_fairvalue(100, 100, 1, 0.2, "Calls")
        Traceback (most recent call last):
        ...
        ValueError: Unknown option type: 'calls'. Use 'call'/'c' or 'put'/'p'.
    """

def b76_delta(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0) -> float:
    r"""Warning: not the textbook delta but the textbook gamma D·φ(d1)/(F·σ·√T) (negated for a put).

    \[
    \text{call: } \frac{D\,\varphi(d_1)}{F\,\sigma\sqrt{T}}, \qquad
    \text{put: } -\frac{D\,\varphi(d_1)}{F\,\sigma\sqrt{T}},
    \]

    with \(d_1\) as in [`b76_fairvalue`][tessel.b76_fairvalue]. This is
    \(\partial\,(D\,N(d_1))/\partial F\), the forward derivative of the
    textbook call delta, which equals the textbook Black-76 gamma
    \(\partial^2 V/\partial F^2\) (with the sign reversed for a put).

    The textbook delta \(\partial V/\partial F\), \(D\,N(d_1)\) for a call and
    \(-D\,N(-d_1)\) for a put, is a central difference of `b76_fairvalue`;
    a relative step of \(10^{-4}\) gives it to about seven digits:

    ```python
    def textbook_delta(fwd, strike, ttx, vol, call_put, df=1.0):
        h = 1e-4 * fwd
        return (b76_fairvalue(fwd + h, strike, ttx, vol, call_put, df)
                - b76_fairvalue(fwd - h, strike, ttx, vol, call_put, df)) / (2 * h)
    ```

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`, as for `b76_fairvalue`.

    Examples:
        >>> b76_delta(100, 100, 1, 0.2, "call"), b76_delta(100, 100, 1, 0.2, "put")
        (0.01984762737385059, -0.01984762737385059)

        Against \(N(d_1)\) and a second difference of the value:

        >>> import math
        >>> from statistics import NormalDist
        >>> fwd, strike, ttx, vol = 100.0, 95.0, 0.5, 0.3
        >>> d1 = (math.log(fwd / strike) + 0.5 * vol**2 * ttx) / (vol * math.sqrt(ttx))
        >>> round(textbook_delta(fwd, strike, ttx, vol, "call"), 7), round(NormalDist().cdf(d1), 7)
        (0.6360292, 0.6360292)
        >>> h = 1e-4 * fwd
        >>> up, mid, down = (b76_fairvalue(f, strike, ttx, vol, "call") for f in (fwd + h, fwd, fwd - h))
        >>> round((up - 2 * mid + down) / h**2, 8), round(b76_delta(fwd, strike, ttx, vol, "call"), 8)
        (0.01770218, 0.01770218)
    """

def b76_vega(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, df: _Float = 1.0) -> float:
    r"""Warning: vega per 1.0 of volatility (100 points), not per point: divide by 100 for one point.

    \[
    \frac{\partial V}{\partial\sigma} = D\,F\,\varphi(d_1)\sqrt{T},
    \]

    the same for calls and puts (no `call_put`), with \(d_1\) as in
    [`b76_fairvalue`][tessel.b76_fairvalue]. The unit is value per 1.0 of
    `vol`, that is per 100 volatility points.

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Examples:
        >>> b76_vega(100, 100, 1, 0.2)
        39.69525474770118
        >>> round(b76_vega(100, 100, 1, 0.2) / 100, 6)          # per volatility point
        0.396953
        >>> round(b76_fairvalue(100, 100, 1, 0.21, "call") - b76_fairvalue(100, 100, 1, 0.2, "call"), 6)
        0.396852
    """

def b76_gamma(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, df: _Float = 1.0) -> float:
    r"""Warning: not the textbook gamma but D·φ(d1)/(F²·σ·√T), the textbook gamma divided by F once more.

    Note the \(F^2\). The textbook Black-76 gamma
    \(\partial^2 V/\partial F^2 = D\,\varphi(d_1)/(F\sigma\sqrt{T})\) is what
    [`b76_delta`][tessel.b76_delta] returns for a call; this is that divided
    by \(F\). The same for calls and puts (no `call_put`), with
    \(d_1\) as in [`b76_fairvalue`][tessel.b76_fairvalue].

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Examples:
        >>> b76_gamma(100, 100, 1, 0.2)
        0.00019847627373850588
        >>> b76_gamma(100, 100, 1, 0.2) * 100 == b76_delta(100, 100, 1, 0.2, "call")
        True
    """

# ---------------------------------------------------------------------------
# Binary cash-or-nothing options
# ---------------------------------------------------------------------------

def binary_fairvalue(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: not the textbook digital D·N(d2) but D·N(x), x = ln(F/K)/(σ√T), without the drift.

    \[
    C = D\,N(x), \qquad P = D\,N(-x), \qquad x = \frac{\ln(F/K)}{\sigma\sqrt{T}}.
    \]

    A binary cash-or-nothing option that pays \(D\) if it ends in the money.
    The put is computed as \(D\,N(-x)\), not as \(D\) minus the call. Every
    `binary_*` sensitivity is an exact derivative of this value.

    \(x\) is neither \(d_1\) nor \(d_2\). The textbook Black-76 digital call
    is \(D\,N(d_2)\) with \(d_2 = x - \tfrac12\sigma\sqrt{T}\); get it by
    passing the forward shifted by the drift,
    `binary_fairvalue(fwd * math.exp(-0.5 * vol**2 * ttx), strike, ttx, vol, call_put, df)`.

    Guard: for \(T \le 0\) or \(\sigma \le 0\), \(D\) when the option is
    strictly in the money (\(F > K\) for a call, \(F < K\) for a put), else
    0.0; \(F = K\) gives 0.0 for both. At the money with \(T, \sigma > 0\)
    the value is \(D/2\).

    Returns:
        The discounted value of a payout of 1.

    Raises:
        ValueError: unknown `call_put`, as for `b76_fairvalue`, also when the
            guard applies.

    Examples:
        >>> binary_fairvalue(100, 100, 1, 0.2, "call", 0.9), binary_fairvalue(100, 100, 1, 0.2, "put", 0.9)
        (0.45, 0.45)
        >>> binary_fairvalue(110, 100, 1, 0.2, "call"), binary_fairvalue(110, 100, 1, 0.2, "put")
        (0.6831590226808273, 0.31684097731917266)
        >>> binary_fairvalue(110, 100, 0, 0.2, "call", 0.9), binary_fairvalue(100, 100, 0, 0.2, "call", 0.9)
        (0.9, 0.0)

        The textbook digital from the shifted forward, against \(N(d_2)\):

        >>> import math
        >>> from statistics import NormalDist
        >>> fwd, strike, ttx, vol = 100.0, 95.0, 0.5, 0.3
        >>> d2 = (math.log(fwd / strike) - 0.5 * vol**2 * ttx) / (vol * math.sqrt(ttx))
        >>> digital = binary_fairvalue(fwd * math.exp(-0.5 * vol**2 * ttx), strike, ttx, vol, "call")
        >>> round(digital, 12), round(NormalDist().cdf(d2), 12)
        (0.553983777631, 0.553983777631)
    """

def binary_vega(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: the vega of `binary_fairvalue` (no drift), not of the textbook digital; per 1.0 of volatility.

    \[
    \frac{\partial V}{\partial\sigma} = -\varepsilon\,\frac{D\,\varphi(x)\,x}{\sigma},
    \]

    \(\varepsilon = +1\) for a call and \(-1\) for a put, \(x\) as in
    [`binary_fairvalue`][tessel.binary_fairvalue]. Per 1.0 of `vol` (per 100
    volatility points); zero at the money.

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`.

    Examples:
        >>> binary_vega(100, 100, 1, 0.2, "call") == 0.0
        True
        >>> value = lambda vol: binary_fairvalue(100, 95, 0.5, vol, "call")
        >>> round(binary_vega(100, 95, 0.5, 0.3, "call"), 8), round((value(0.3 + 1e-5) - value(0.3 - 1e-5)) / 2e-5, 8)
        (-0.31228222, -0.31228222)
    """

def binary_delta(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: the delta of `binary_fairvalue` (no drift), not of the textbook digital D·N(d2).

    \[
    \frac{\partial V}{\partial F} = \varepsilon\,\frac{D\,\varphi(x)}{F\sigma\sqrt{T}},
    \]

    \(\varepsilon = +1\) for a call and \(-1\) for a put, \(x\) as in
    [`binary_fairvalue`][tessel.binary_fairvalue].

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`.

    Examples:
        >>> binary_delta(100, 100, 1, 0.2, "call"), binary_delta(100, 100, 1, 0.2, "put")
        (0.019947114020071634, -0.019947114020071634)
        >>> value = lambda fwd: binary_fairvalue(fwd, 95, 0.5, 0.3, "call")
        >>> round(binary_delta(100, 95, 0.5, 0.3, "call"), 8), round((value(100.01) - value(99.99)) / 0.02, 8)
        (0.01826451, 0.01826451)
    """

def binary_gamma(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: the gamma of `binary_fairvalue` (no drift), not of the textbook digital D·N(d2).

    \[
    \frac{\partial^2 V}{\partial F^2} =
    -\varepsilon\,\frac{D\,\varphi(x)}{F^2 s}\Bigl(1 + \frac{x}{s}\Bigr), \qquad s = \sigma\sqrt{T},
    \]

    \(\varepsilon = +1\) for a call and \(-1\) for a put, \(x\) as in
    [`binary_fairvalue`][tessel.binary_fairvalue].

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`.

    Examples:
        >>> binary_gamma(100, 100, 1, 0.2, "call")
        -0.00019947114020071633
        >>> delta = lambda fwd: binary_delta(fwd, 95, 0.5, 0.3, "call")
        >>> round(binary_gamma(100, 95, 0.5, 0.3, "call"), 10), round((delta(100.01) - delta(99.99)) / 0.02, 10)
        (-0.0003908332, -0.0003908332)
    """

def binary_speed(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: the speed of `binary_fairvalue` (no drift), not of the textbook digital D·N(d2).

    \[
    \frac{\partial^3 V}{\partial F^3} =
    \varepsilon\,\frac{D\,\varphi(x)}{F^3 s}
    \Bigl(\Bigl(\frac{x}{s} + 2\Bigr)\Bigl(\frac{x}{s} + 1\Bigr) - \frac{1}{s^2}\Bigr),
    \qquad s = \sigma\sqrt{T},
    \]

    \(\varepsilon = +1\) for a call and \(-1\) for a put, \(x\) as in
    [`binary_fairvalue`][tessel.binary_fairvalue].

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`.

    Examples:
        >>> gamma = lambda fwd: binary_gamma(fwd, 95, 0.5, 0.3, "call")
        >>> round(binary_speed(100, 95, 0.5, 0.3, "call"), 11), round((gamma(100.01) - gamma(99.99)) / 0.02, 11)
        (-2.831621e-05, -2.831621e-05)
        >>> binary_speed(100, 95, 0.5, 0.3, "put") == -binary_speed(100, 95, 0.5, 0.3, "call")
        True
    """

def binary_theta(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""Warning: the theta of `binary_fairvalue` (no drift), not of the textbook digital; per year, not per day.

    \[
    -\frac{\partial V}{\partial T} = \varepsilon\,\frac{D\,\varphi(x)\,x}{2T},
    \]

    the decay of `binary_fairvalue` as time passes, \(\varepsilon = +1\) for a
    call and \(-1\) for a put, \(x\) as in
    [`binary_fairvalue`][tessel.binary_fairvalue]. Per year of `ttx`, in
    whatever measure `ttx` was taken (business or calendar time); it is not
    divided by any day count. Zero at the money.

    Guard: 0.0 for \(T \le 0\) or \(\sigma \le 0\).

    Raises:
        ValueError: unknown `call_put`.

    Examples:
        >>> binary_theta(100, 100, 1, 0.2, "call") == 0.0
        True
        >>> value = lambda ttx: binary_fairvalue(100, 95, ttx, 0.3, "call")
        >>> round(binary_theta(100, 95, 0.5, 0.3, "call"), 9), round((value(0.5 - 1e-5) - value(0.5 + 1e-5)) / 2e-5, 9)
        (0.093684667, 0.093684667)
    """

# ---------------------------------------------------------------------------
# Implied volatility
# ---------------------------------------------------------------------------

def calibrate_black76_iv(
    ttx: _Float, fwd: _Float, strike: _Float, price: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    r"""The decimal Black-76 volatility at which `b76_fairvalue` gives `price`.

    Note the order: `ttx` first, then `fwd`, `strike` and `price`.

    Solves \(\texttt{b76\_fairvalue}(F, K, T, \sigma, \texttt{call\_put}, D) = P\)
    for \(\sigma\) with Brent's method (inverse quadratic interpolation,
    secant steps and bisection) on \([0.01, 10]\), to an absolute tolerance of
    \(10^{-4}\) in \(\sigma\), with at most 100 evaluations after the two ends.
    The result is only that close: the price made with `vol` = 0.2 at the
    money gives 0.20001446329252923.

    Returns NaN, without raising, when no volatility in \([0.01, 10]\)
    reaches the price: a price below the value at 0.01 (a negative price, or
    one below the discounted intrinsic value) or above the value at 10 (a
    call above \(D F\)), and a NaN price. For \(T \le 0\) the value does not
    depend on \(\sigma\): a price equal to the discounted intrinsic value
    gives 10.0, any other NaN.

    Returns:
        A volatility in \([0.01, 10]\), or NaN.

    Raises:
        ValueError: unknown `call_put`, as for `b76_fairvalue`, also when the
            price is out of reach.

    Examples:
        >>> calibrate_black76_iv(1, 100, 100, b76_fairvalue(100, 100, 1, 0.2, "call"), "call")
        0.20001446329252923
        >>> calibrate_black76_iv(1, 100, 100, 0.0, "call"), calibrate_black76_iv(1, 100, 100, 150.0, "call")
        (nan, nan)
        >>> calibrate_black76_iv(1, 100, 100, float("nan"), "call")
        nan
        >>> calibrate_black76_iv(0, 110, 100, 10.0, "call"), calibrate_black76_iv(0, 110, 100, 9.0, "call")
        (10.0, nan)
        >>> calibrate_black76_iv(1, 100, 100, -1.0, "straddle")
        Traceback (most recent call last):
        ...
        ValueError: Unknown option type: 'straddle'. Use 'call'/'c' or 'put'/'p'.
    """
