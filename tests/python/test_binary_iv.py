"""Binary options and implied volatility through the Python surface."""
import math

import pytest
from hypothesis import given, settings, strategies as st

import reference as ref
import tessel

BINARY = ["binary_fairvalue", "binary_delta", "binary_gamma", "binary_speed", "binary_vega", "binary_theta"]


def test_worked_values():
    assert tessel.binary_delta(100, 100, 1, 0.2, "call") == 0.019947114020071634
    assert tessel.binary_gamma(100, 100, 1, 0.2, "call") == -0.00019947114020071633
    assert tessel.binary_fairvalue(110, 100, 1, 0.2, "call") == 0.6831590226808273
    assert tessel.binary_fairvalue(110, 100, 1, 0.2, "put") == pytest.approx(1 - 0.6831590226808273, rel=1e-15)
    for cp in ("call", "put"):
        assert tessel.binary_fairvalue(100, 100, 1, 0.2, cp, 0.8) == 0.4
        assert tessel.binary_vega(100, 100, 1, 0.2, cp) == 0.0
        assert tessel.binary_theta(100, 100, 1, 0.2, cp) == 0.0


@pytest.mark.parametrize("f,k,t,v,cp,df,expected", [
    (110, 100, 0, 0.2, "put", 0.9, 0.0), (110, 100, 0, 0.2, "call", 0.9, 0.9), (90, 100, -1, 0.2, "put", 1.0, 1.0),
    (100, 100, 1, 0, "call", 1.0, 0.0), (100, 100, 1, 0, "put", 1.0, 0.0), (100, 100, 0, 0.2, "p", 0.5, 0.0),
])
def test_value_guard(f, k, t, v, cp, df, expected):
    assert tessel.binary_fairvalue(f, k, t, v, cp, df) == expected
    for name in BINARY[1:]:
        assert getattr(tessel, name)(f, k, t, v, cp, df) == 0.0


def deriv(fn, x, h):
    """Five-point central difference: truncation error O(h^4)."""
    return (-fn(x + 2 * h) + 8 * fn(x + h) - 8 * fn(x - h) + fn(x - 2 * h)) / (12 * h)


@settings(max_examples=200, deadline=None)
@given(f=st.floats(min_value=50, max_value=200), k=st.floats(min_value=50, max_value=200),
       t=st.floats(min_value=0.05, max_value=3), v=st.floats(min_value=0.05, max_value=1.5),
       df=st.floats(min_value=0.5, max_value=1.0))
def test_sensitivities_are_derivatives_of_the_value(f, k, t, v, df):
    s = v * math.sqrt(t)
    hf, hv, ht = 1e-3 * f * s, 1e-3 * v, 1e-3 * t
    for cp in ("call", "put"):
        fv = lambda x: ref.binary_fairvalue(x, k, t, v, cp, df)  # noqa: E731
        fd = lambda x: tessel.binary_delta(x, k, t, v, cp, df)  # noqa: E731
        fg = lambda x: tessel.binary_gamma(x, k, t, v, cp, df)  # noqa: E731
        scale = df / (f * s)  # the size of delta at the money
        assert tessel.binary_delta(f, k, t, v, cp, df) == pytest.approx(deriv(fv, f, hf), rel=1e-6, abs=1e-9 * scale)
        assert tessel.binary_gamma(f, k, t, v, cp, df) == pytest.approx(
            deriv(fd, f, hf), rel=1e-6, abs=1e-9 * scale / (f * s))
        assert tessel.binary_speed(f, k, t, v, cp, df) == pytest.approx(
            deriv(fg, f, hf), rel=1e-5, abs=1e-8 * scale / (f * s) ** 2)
        assert tessel.binary_vega(f, k, t, v, cp, df) == pytest.approx(
            deriv(lambda x: ref.binary_fairvalue(f, k, t, x, cp, df), v, hv), rel=1e-6, abs=1e-9 * df / v)
        assert tessel.binary_theta(f, k, t, v, cp, df) == pytest.approx(
            -deriv(lambda x: ref.binary_fairvalue(f, k, x, v, cp, df), t, ht), rel=1e-6, abs=1e-9 * df / t)


@settings(max_examples=200, deadline=None)
@given(f=st.floats(min_value=1, max_value=1e4), k=st.floats(min_value=1, max_value=1e4),
       t=st.floats(min_value=1e-3, max_value=10), v=st.floats(min_value=1e-3, max_value=3))
def test_put_sensitivities_are_negated_calls(f, k, t, v):
    for name in BINARY[1:]:
        fn = getattr(tessel, name)
        assert fn(f, k, t, v, "put") == -fn(f, k, t, v, "call")
    assert tessel.binary_fairvalue(f, k, t, v, "put") == ref.binary_fairvalue(f, k, t, v, "put")


# ---- implied volatility ----

def test_iv_worked_values():
    assert tessel.calibrate_black76_iv(1, 100, 100, 7.965567455405804, "call") == 0.20001446329252923
    assert tessel.calibrate_black76_iv(0, 110, 100, 10.0, "call") == 10.0
    assert math.isnan(tessel.calibrate_black76_iv(0, 110, 100, 9.0, "call"))
    assert math.isnan(tessel.calibrate_black76_iv(1, 100, 100, 0.0, "call"))
    assert math.isnan(tessel.calibrate_black76_iv(1, 100, 100, 150.0, "call"))
    assert math.isnan(tessel.calibrate_black76_iv(1, 100, 100, -1.0, "put"))


@pytest.mark.parametrize("args", [
    (1, 100, 100, math.nan), (1, math.nan, 100, 8.0), (1, 100, math.nan, 8.0), (1, 100, 100, 8.0, "call", math.nan),
])
def test_iv_nan_inputs_give_nan(args):
    # A NaN price must not come back as a plausible volatility near the lower end.
    full = args[:4] + ("call",) + args[5:]
    assert math.isnan(tessel.calibrate_black76_iv(*full))


def test_iv_parses_option_type_first():
    with pytest.raises(ValueError, match="^Unknown option type: 'x'"):
        tessel.calibrate_black76_iv(1, 100, 100, 1e9, "X")


@settings(max_examples=300, deadline=None)
@given(f=st.floats(min_value=50, max_value=200), k=st.floats(min_value=50, max_value=200),
       t=st.floats(min_value=0.05, max_value=3), v=st.floats(min_value=0.05, max_value=2),
       cp=st.sampled_from(["call", "put"]), df=st.floats(min_value=0.5, max_value=1.0))
def test_iv_round_trip(f, k, t, v, cp, df):
    price = tessel.b76_fairvalue(f, k, t, v, cp, df)
    iv = tessel.calibrate_black76_iv(t, f, k, price, cp, df)
    if math.isnan(iv):
        # Only where the price carries no information about the volatility at double precision.
        assert tessel.b76_vega(f, k, t, v, df) < 1e-6 * f
        return
    assert 0.01 <= iv <= 10.0
    # Brent stops within its 1e-4 tolerance; the price error follows through vega.
    assert abs(tessel.b76_fairvalue(f, k, t, iv, cp, df) - price) <= 2e-4 * tessel.b76_vega(f, k, t, v, df) + 1e-9 * f
