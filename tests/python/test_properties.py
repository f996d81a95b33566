"""Invariants that hold for every input, checked over generated ones."""
import math
import struct
from datetime import datetime, timedelta
from zoneinfo import ZoneInfo

import pytest
from hypothesis import assume, example, given, settings, strategies as st

import tessel
from conftest import EXPIRY, MODEL_CLASSES, UTC

PROPERTY = settings(max_examples=300, deadline=None)

prices = st.floats(min_value=1e-3, max_value=1e6)
times = st.floats(min_value=-1.0, max_value=30.0) | st.sampled_from([0.0, -0.0, 1e-12])
vols = st.floats(min_value=-0.5, max_value=5.0) | st.sampled_from([0.0, 1e-9])
discounts = st.floats(min_value=0.0, max_value=2.0)
options = st.sampled_from(["call", "put", "C", "p"])


def bits(x):
    return struct.pack("<d", x)


# ---- Black-76 ----

@PROPERTY
@given(f=prices, k=prices, t=times, v=vols, df=discounts)
@example(f=100.0, k=100.0, t=1.0, v=0.2, df=1.0)
@example(f=110.0, k=100.0, t=0.0, v=0.2, df=0.9)
@example(f=1.0, k=1.0, t=0.25, v=5e-324, df=0.0)
@example(f=1.0, k=1.5, t=1.0, v=1.0, df=5e-324)
def test_black76_put_call_parity(f, k, t, v, df):
    c = tessel.b76_fairvalue(f, k, t, v, "call", df)
    p = tessel.b76_fairvalue(f, k, t, v, "put", df)
    if math.isnan(c) or math.isnan(p):
        # A total volatility that underflows to 0 gives d1 = 0/0: NaN, for both.
        assert math.isnan(c) and math.isnan(p) and v * math.sqrt(t) == 0.0
        return
    assert c >= 0.0 and p >= 0.0
    if t <= 0 or v <= 0:
        assert c - p == df * (f - k)  # discounted intrinsic values: exact
    else:
        # A subnormal df keeps only a few bits: allow a few of its steps.
        assert c - p == pytest.approx(df * (f - k), rel=1e-12, abs=1e-12 * df * (f + k) + 4 * math.ulp(0.0))


@PROPERTY
@given(f=st.floats(min_value=1.0, max_value=1e5), moneyness=st.floats(min_value=-1.0, max_value=1.0),
       t=st.floats(min_value=1e-2, max_value=5.0), v=st.floats(min_value=0.02, max_value=5.0),
       df=st.floats(min_value=0.5, max_value=1.0), cp=options)
@example(f=100.0, moneyness=0.0, t=1.0, v=0.2, df=1.0, cp="call")
def test_implied_vol_round_trip(f, moneyness, t, v, df, cp):
    k = f * math.exp(moneyness)
    # Where the price hardly moves with the volatility, any nearby volatility
    # is a root; the round trip is only defined where the price is sensitive.
    assume(tessel.b76_vega(f, k, t, v, df) > 1e-6 * f)
    price = tessel.b76_fairvalue(f, k, t, v, cp, df)
    iv = tessel.calibrate_black76_iv(t, f, k, price, cp, df)
    # The root lies inside the final bracket, at most 1e-4 wide.
    assert abs(iv - v) <= 1e-4 + 1e-12
    assert 0.01 <= iv <= 10.0


@PROPERTY
@given(t=times, f=prices, k=prices, price=st.floats(allow_nan=True, allow_infinity=True), cp=options)
def test_implied_vol_is_nan_or_inside_the_interval(t, f, k, price, cp):
    iv = tessel.calibrate_black76_iv(t, f, k, price, cp)
    assert math.isnan(iv) or 0.01 <= iv <= 10.0


# ---- binary options ----

SENSITIVITIES = [tessel.binary_delta, tessel.binary_gamma, tessel.binary_speed, tessel.binary_vega,
                 tessel.binary_theta]


@PROPERTY
@given(f=prices, k=prices, t=times, v=vols, df=discounts)
@example(f=100.0, k=100.0, t=1.0, v=0.2, df=1.0)
@example(f=100.0, k=100.0, t=0.0, v=0.2, df=1.0)
@example(f=1.0, k=1.0, t=0.25, v=5e-324, df=0.5)
def test_binary_put_sensitivities_are_the_negated_call_ones(f, k, t, v, df):
    for g in SENSITIVITIES:
        call, put = g(f, k, t, v, "call", df), g(f, k, t, v, "put", df)
        assert put == -call or (math.isnan(put) and math.isnan(call)), g.__name__
        if t <= 0 or v <= 0:
            assert call == 0.0, g.__name__
    call, put = tessel.binary_fairvalue(f, k, t, v, "call", df), tessel.binary_fairvalue(f, k, t, v, "put", df)
    if t <= 0 or v <= 0:
        assert (call, put) == ((df, 0.0) if f > k else (0.0, df) if f < k else (0.0, 0.0))
    elif math.isnan(call) or math.isnan(put):
        # ln(F/K) / (σ√T) is 0/0 once the total volatility underflows.
        assert math.isnan(call) and math.isnan(put) and f == k and v * math.sqrt(t) == 0.0
    else:
        assert call + put == pytest.approx(df, rel=1e-15, abs=1e-300)
        assert 0.0 <= call <= df and 0.0 <= put <= df


# ---- smile models ----

def model_params(cls):
    table = cls(EXPIRY).get_param_dict()
    wide = st.floats(min_value=-200.0, max_value=200.0)
    return st.fixed_dictionaries({}, optional={name: wide for name in table}).map(
        lambda d: {**d, "ref_spot": abs(d.get("ref_spot", 100.0)) + 1.0})


@PROPERTY
@given(data=st.data(), cls=st.sampled_from(MODEL_CLASSES),
       ttx=st.floats(min_value=1e-4, max_value=10.0) | st.sampled_from([0.0, 1.0, -1.0, math.nan]),
       spot=st.floats(min_value=1.0, max_value=1e6),
       strikes=st.lists(st.floats(min_value=1e-3, max_value=1e7) | st.sampled_from([0.0, -1.0, math.inf]),
                        min_size=1, max_size=6))
def test_get_vol_single_is_the_element_of_get_vol_bit_for_bit(data, cls, ttx, spot, strikes):
    m = cls(EXPIRY, **data.draw(model_params(cls)))
    many = m.get_vol(ttx, spot, strikes)
    assert len(many) == len(strikes)
    for k, elem in zip(strikes, many):
        assert bits(m.get_vol_single(ttx, spot, k)) == bits(elem), k
        assert bits(m.get_vol(ttx, spot, [k])[0]) == bits(elem), k


# ---- trading time ----

EASTERN = ZoneInfo("US/Eastern")
CAL = tessel.Calendar("BTCUSDT")
instants = st.datetimes(min_value=datetime(1950, 1, 1), max_value=datetime(2150, 1, 1)).map(
    lambda d: d.replace(tzinfo=UTC))


def wall(t):
    """Local wall-clock time to the second, the scale the business time follows."""
    return t.astimezone(EASTERN).replace(tzinfo=None, microsecond=0)


@PROPERTY
@given(a=instants, b=instants)
@example(a=datetime(2025, 11, 2, 5, 30, tzinfo=UTC), b=datetime(2025, 11, 2, 6, 30, tzinfo=UTC))
@example(a=datetime(2024, 12, 31, 23, 59, 59, 999999, tzinfo=UTC), b=datetime(2025, 1, 1, 5, tzinfo=UTC))
def test_business_time_is_antisymmetric_and_follows_the_wall_clock(a, b):
    ab, ba = CAL.get_bus_ttx(a, b), CAL.get_bus_ttx(b, a)
    assert ab == -ba
    assert CAL.get_bus_ttx(a, a) == 0.0
    lo, hi = sorted((a, b))
    forward = ab if lo is a else ba
    # Non-decreasing along the local clock; only the repeated hour of a
    # fall-back change runs the clock, and with it business time, backwards.
    if wall(lo) <= wall(hi):
        assert forward >= 0.0
    # A calendar year holds exactly 1.0 of business time, so no span exceeds
    # the calendar years it touches.
    assert abs(ab) <= abs(wall(b).year - wall(a).year) + 1


@PROPERTY
@given(start=instants, steps=st.lists(st.integers(min_value=0, max_value=86400 * 9), min_size=2, max_size=12))
def test_business_time_accumulates_along_a_path(start, steps):
    """Consecutive spans add up to the span from the first to the last point."""
    points = [start]
    for s in steps:
        points.append(points[-1] + timedelta(seconds=s))
    legs = [CAL.get_bus_ttx(x, y) for x, y in zip(points, points[1:])]
    assert math.fsum(legs) == pytest.approx(CAL.get_bus_ttx(points[0], points[-1]), abs=1e-12)
    if all(wall(x) <= wall(y) for x, y in zip(points, points[1:])):
        assert all(leg >= 0.0 for leg in legs)


@PROPERTY
@given(a=instants, b=instants)
def test_calendar_time_is_antisymmetric_and_counts_whole_seconds(a, b):
    ab = tessel.Calendar.get_cal_ttx(a, b)
    assert ab == -tessel.Calendar.get_cal_ttx(b, a)
    assert abs(ab * 31_536_000 - (b - a).total_seconds()) < 1.0 + 1e-6
