"""Option analytics, volatility smiles and a trading-time calendar.

Units everywhere in this module:

- ``ttx`` is time to expiry in years (a float);
- ``vol`` and every volatility a model returns are decimals per square-root
  year: 0.2 means 20 %;
- model parameters such as ``ref_vol``, ``vvol``, ``skew``, ``smile`` and the
  spline increments are in percent (volatility points): 50.0 means 50 %;
- ``df`` is a discount factor that multiplies every value and sensitivity;
- calendar time and tenors count a year as 365 days; business time gives
  every local calendar year exactly 1.0.

Numbers never raise: out-of-domain inputs give NaN or infinities. Wrong
argument kinds raise ``TypeError`` ("argument 'name': ..."), a bad option type,
calendar name or tenor raises ``ValueError``, and a fault in the native code
raises ``PanicException`` (derived from ``BaseException``, not exported).
"""

# The wheel also ships this file as tessel-stubs/__init__.pyi, copied through a
# template by the build: it must not contain a dollar sign.

from collections.abc import Callable, Sequence
from datetime import datetime
from typing import Protocol, SupportsFloat, SupportsIndex, final

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

_Floats: TypeAlias = Sequence[SupportsFloat | SupportsIndex]
"""A sequence of numbers (list, tuple, range, array, ...); a ``str`` is refused."""

_ParamMap: TypeAlias = dict[str, SupportsFloat | SupportsIndex]
"""A dict from parameter name to number; names a model does not have are ignored."""

_CallPut: TypeAlias = str
"""``"call"``/``"c"`` or ``"put"``/``"p"`` in any letter case, nothing around it."""

# ---------------------------------------------------------------------------
# Calendar
# ---------------------------------------------------------------------------

@final
class Calendar:
    """Calendar(underlying)

    Trading-time calendar of one underlying, with its day weights per weekday
    and quarter-hour weights on the local clock of its IANA time zone. The only
    calendar compiled in is ``"BTCUSDT"`` (zone ``"US/Eastern"``, week weight
    5.7: Monday to Thursday 1, Friday 0.9, Saturday 0.27, Sunday 0.53).

    ``repr`` shows the underlying; a calendar pickles and copies as its
    underlying, so it can be shipped to worker processes.

    Raises ``ValueError`` for an underlying that is not compiled in (the name
    is matched exactly: ``"btcusdt"`` is unknown).
    """

    def __new__(cls, underlying: str) -> Calendar:
        """The calendar of ``underlying``; ``ValueError`` when none is compiled in."""
    def get_bus_ttx(self, from_: _Instant, /, to: _Instant) -> float:
        """get_bus_ttx(from, to)

        Business time from ``from`` to ``to``, in years: each local calendar
        year holds exactly 1.0, spread over its days by the day weights and
        over each day by the quarter-hour profile, on the wall clock of the
        calendar's zone (daylight-saving jumps included). Negative when ``to``
        is earlier; sub-second parts are ignored.
        """

    @staticmethod
    def get_cal_ttx(from_: _Instant, /, to: _Instant) -> float:
        """get_cal_ttx(from, to)

        Calendar time from ``from`` to ``to`` in years of 365 days: the span
        in whole seconds (truncated toward zero) divided by 31,536,000.
        """

    @staticmethod
    def tenor_to_ttx(tenor: str) -> float:
        """Years of a tenor string: a decimal number followed by one unit.

        Units: ``"d"`` days (x / 365), ``"w"`` weeks (7x / 365), ``"m"``
        months of 30 days (30x / 365), ``"y"`` years (x). ``"6m"`` is
        180 / 365, ``"1y"`` is 1.0. Nothing is trimmed or case-folded:
        ``"1Y"`` and ``" 1y"`` raise ``ValueError``.
        """

    def __repr__(self) -> str:
        """``Calendar(underlying='BTCUSDT')``."""

    def __reduce__(self) -> tuple[Callable[[str], Calendar], tuple[str]]:
        """Pickles as the underlying; unpickling builds the calendar again."""

# ---------------------------------------------------------------------------
# Volatility models
# ---------------------------------------------------------------------------

@final
class GVVSpline:
    """GVVSpline(expiry, **params)

    Parametric smile for one expiry: an at-the-money level, a skew and a
    smile (curvature) term in a closed-form variance, plus put-side and
    call-side wing terms that add variance away from ``ref_spot``.

    Parameters (keywords, percent unless stated; names it does not have are
    ignored, nothing is range-checked):

    - ``vpr`` = 1.0: stored only, no volatility depends on it;
    - ``ref_spot`` = 100.0: the strike the smile is centred on (a price);
    - ``ref_vol`` = 50.0: at-the-money volatility;
    - ``skew`` = 0.0: slope term;
    - ``smile`` = 5.0: curvature term;
    - ``pwing`` = 0.0: wing term for strikes below ``ref_spot``;
    - ``cwing`` = 0.0: wing term for strikes above ``ref_spot``;
    - ``offset`` = 0.0: stored only.

    ``spot`` is accepted by every method and ignored by the volatility
    function. ``arb_free()`` is true when ``pwing >= 0``, ``cwing >= 0``,
    ``smile >= 1`` and ``ref_vol > 10``. Fitting varies ``ref_vol``, ``skew``
    and ``smile``.

    ``expiry`` is any object with ``timestamp()``; it is stored and reported
    only, never used by a computation. ``repr`` shows the class, the expiry and
    every parameter; models pickle and copy by value.
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> GVVSpline:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap) -> GVVSpline:
        """A new model from an expiry and a dict of parameters.

        Parameters missing from ``params`` take their defaults; names the
        model does not have are ignored.
        """

    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""

    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities (0.2 is 20 %), one per strike, in input order."""

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``."""

    def arb_free(self) -> bool:
        """True when ``pwing >= 0``, ``cwing >= 0``, ``smile >= 1`` and ``ref_vol > 10``."""

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check."""

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined)."""

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``["ref_vol", "skew", "smile"]``."""

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-centre the smile on ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; nothing else changes. When that
        volatility is not finite (such as at ``ttx`` = 0) the model is left as it is.
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.
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
        """``GVVSpline(expiry=..., vpr=1.0, ref_spot=100.0, ref_vol=50.0, ...)``."""

    def __reduce__(
        self,
    ) -> tuple[Callable[[str, datetime, dict[str, float]], GVVSpline], tuple[str, datetime, dict[str, float]]]:
        """Pickles as the class name, the expiry and the parameters."""

@final
class VolGeo:
    """VolGeo(expiry, **params)

    Closed-form smile for one expiry from an at-the-money level, a correlation
    and a volatility of volatility. The squared volatility at each strike is
    the larger root of a quadratic in the strike's log-moneyness scaled by
    the square root of ``ttx``; the at-the-money level moves with spot in
    proportion to ``rho * vvol``.

    Parameters (keywords, percent unless stated; names it does not have are
    ignored, nothing is range-checked):

    - ``vpr`` = 1.0: multiplier of the spot-driven shift of the level;
    - ``ref_spot`` = 100.0: spot at which the level equals ``ref_vol`` (a price);
    - ``ref_vol`` = 50.0: at-the-money volatility at ``ref_spot``;
    - ``corr`` = 0.0: unbounded correlation parameter, ``rho = tanh(corr)``
      (no unit);
    - ``vvol`` = 20.0: volatility of volatility;
    - ``offset`` = 0.0: stored only.

    ``arb_free()`` is true when ``vvol >= 1`` and ``ref_vol > 1``. Fitting
    varies ``ref_vol``, ``corr`` and ``vvol``.

    ``expiry`` is any object with ``timestamp()``; it is stored and reported
    only, never used by a computation. ``repr`` shows the class, the expiry and
    every parameter; models pickle and copy by value.
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> VolGeo:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap) -> VolGeo:
        """A new model from an expiry and a dict of parameters.

        Parameters missing from ``params`` take their defaults; names the
        model does not have are ignored.
        """

    @property
    def expiry(self) -> datetime:
        """The expiry, a timezone-aware datetime in UTC (read-only)."""

    def get_vol(self, ttx: _Float, spot: _Float, strikes: _Floats) -> list[float]:
        """Decimal volatilities (0.2 is 20 %), one per strike, in input order."""

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``."""

    def arb_free(self) -> bool:
        """True when ``vvol >= 1`` and ``ref_vol > 1``."""

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check."""

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined)."""

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``["ref_vol", "corr", "vvol"]``."""

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-anchor the smile at ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; nothing else changes. When that
        volatility is not finite (such as at ``ttx`` = 0) the model is left as it is.
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.
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
    ) -> tuple[Callable[[str, datetime, dict[str, float]], VolGeo], tuple[str, datetime, dict[str, float]]]:
        """Pickles as the class name, the expiry and the parameters."""

@final
class CubicSpline:
    """CubicSpline(expiry, **params)

    Smile set by volatilities at eleven pillars of standardised moneyness
    z = ln(K / spot) / sqrt(ttx) / level, at z = -5, -2.5, -1.5, -1, -0.5, 0,
    0.5, 1, 1.5, 2.5 and 5. The pillar variances are joined by a
    shape-preserving cubic and extended linearly beyond the outer pillars.

    Parameters (keywords, all but ``vpr`` and ``ref_spot`` in percent; names
    it does not have are ignored, nothing is range-checked):

    - ``vpr`` = 1.0: multiplier of the spot-driven shift of the level;
    - ``ref_spot`` = 100.0: spot at which the level equals ``ref_vol`` (a price);
    - ``ref_vol`` = 50.0: at-the-money volatility at ``ref_spot``;
    - ``p05``, ``p10``, ``p15``, ``p20``, ``p25`` = 0.0: steps of the
      volatility from the money outward on the put side, to the pillars
      -0.5, -1, -1.5, -2.5 and -5;
    - ``c05``, ``c10``, ``c15``, ``c20``, ``c25`` = 0.0: the same on the call
      side, to the pillars 0.5, 1, 1.5, 2.5 and 5.

    ``arb_free()`` is true when ``p25 >= 0``, ``c25 >= 0`` and ``ref_vol > 1``.
    Fitting varies ``ref_vol`` and the ten increments.

    ``expiry`` is any object with ``timestamp()``; it is stored and reported
    only, never used by a computation. ``repr`` shows the class, the expiry and
    every parameter; models pickle and copy by value.
    """

    def __new__(cls, expiry: _Instant, **params: _Float) -> CubicSpline:
        """A model for ``expiry`` with the parameters given as keywords, defaults for the rest."""
    @staticmethod
    def with_params(expiry: _Instant, params: _ParamMap) -> CubicSpline:
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
        """

    def get_vol_single(self, ttx: _Float, spot: _Float, strike: _Float) -> float:
        """Decimal volatility at one strike; equals ``get_vol(ttx, spot, [strike])[0]``."""

    def arb_free(self) -> bool:
        """True when ``p25 >= 0``, ``c25 >= 0`` and ``ref_vol > 1``."""

    def get_parameter(self, param: str) -> float | None:
        """The value of parameter ``param``, or None for a name the model does not have."""

    def set_param(self, param: str, value: _Float) -> None:
        """Store ``value`` in parameter ``param``; an unknown name does nothing. No check."""

    def get_param_dict(self) -> dict[str, float]:
        """Every parameter with its value (key order not defined)."""

    def get_fitting_params(self) -> list[str]:
        """The parameters fitting varies: ``ref_vol``, then ``p25`` ... ``p05``, ``c05`` ... ``c25``."""

    def reanchor(self, spot: _Float, ttx: _Float) -> None:
        """Re-anchor the smile at ``spot`` (note: spot first, then ttx).

        ``ref_vol`` becomes 100 times the current volatility at strike ``spot``
        and ``ref_spot`` becomes ``spot``; the increments keep the shape. When that
        volatility is not finite (such as at ``ttx`` = 1) the model is left as it is.
        """

    def bump_param(self, param: str, d_value: _Float) -> None:
        """Add ``d_value`` to parameter ``param`` unless the result would fail ``arb_free()``.

        A refused bump or an unknown name leaves the model unchanged, silently.
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
    ) -> tuple[Callable[[str, datetime, dict[str, float]], CubicSpline], tuple[str, datetime, dict[str, float]]]:
        """Pickles as the class name, the expiry and the parameters."""

# ---------------------------------------------------------------------------
# Black-76 on a forward
# ---------------------------------------------------------------------------

def b76_fairvalue(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0) -> float:
    """Black-76 value of a European call or put on the forward ``fwd``.

    ``vol`` is decimal, ``ttx`` in years. For ``ttx <= 0`` or ``vol <= 0`` the
    discounted intrinsic value ``df * max(fwd - strike, 0)`` (call) or
    ``df * max(strike - fwd, 0)`` (put). Raises ``ValueError`` for an unknown
    ``call_put``.
    """

def b76_delta(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0) -> float:
    """``df * pdf(d1) / (fwd * vol * sqrt(ttx))``, negated for a put.

    Note that this is the derivative of the discounted N(d1) with respect to
    the forward, not N(d1) itself. 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def b76_vega(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, df: _Float = 1.0) -> float:
    """Black-76 vega, ``df * fwd * pdf(d1) * sqrt(ttx)``, per 1.0 of volatility.

    The same for calls and puts; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def b76_gamma(fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, df: _Float = 1.0) -> float:
    """Black-76 gamma, ``df * pdf(d1) / (fwd**2 * vol * sqrt(ttx))``.

    The same for calls and puts; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

# ---------------------------------------------------------------------------
# Binary cash-or-nothing options
# ---------------------------------------------------------------------------

def binary_fairvalue(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Value of a binary cash-or-nothing option paying ``df`` if it ends in the money.

    ``df * N(x)`` for a call and ``df * N(-x)`` for a put, with
    ``x = ln(fwd / strike) / (vol * sqrt(ttx))`` (no drift term). For
    ``ttx <= 0`` or ``vol <= 0``: ``df`` if strictly in the money, else 0.0.
    """

def binary_vega(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Derivative of ``binary_fairvalue`` with respect to ``vol`` (per 1.0 of volatility).

    The put's is the call's negated; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def binary_delta(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """First derivative of ``binary_fairvalue`` with respect to ``fwd``.

    The put's is the call's negated; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def binary_gamma(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Second derivative of ``binary_fairvalue`` with respect to ``fwd``.

    The put's is the call's negated; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def binary_speed(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Third derivative of ``binary_fairvalue`` with respect to ``fwd``.

    The put's is the call's negated; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

def binary_theta(
    fwd: _Float, strike: _Float, ttx: _Float, vol: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Decay of ``binary_fairvalue`` as time passes: minus its derivative in ``ttx``, per year.

    The put's is the call's negated; 0.0 for ``ttx <= 0`` or ``vol <= 0``.
    """

# ---------------------------------------------------------------------------
# Implied volatility
# ---------------------------------------------------------------------------

def calibrate_black76_iv(
    ttx: _Float, fwd: _Float, strike: _Float, price: _Float, call_put: _CallPut, df: _Float = 1.0
) -> float:
    """Decimal Black-76 volatility at which ``b76_fairvalue`` gives ``price``.

    Note the order: ``ttx`` first. Brent's method on [0.01, 10.0] with an
    absolute tolerance of 1e-4 in volatility, so the result is only that
    close (about 0.200014 for a price made with 0.2). Returns NaN, without
    raising, when no volatility in the interval matches the price.
    """
