"""Odd arguments at every callable: only documented exceptions, no crash, no leak."""
import gc
import math
import sys
from datetime import datetime

import pytest

import tessel
from conftest import EXPIRY, FUNCTIONS, MODEL_CLASSES, UTC, panic_type

ALLOWED = (TypeError, ValueError, OverflowError, RuntimeError, AttributeError, UnicodeEncodeError, KeyError,
           ZeroDivisionError)


class RaisingFloat:
    def __float__(self):
        raise ZeroDivisionError("float")


class RaisingIndex:
    def __index__(self):
        raise KeyError("index")


class RaisingStamp:
    def timestamp(self):
        raise ZeroDivisionError("stamp")


class Weird(dict):
    def __iter__(self):
        raise AssertionError("never iterated through Python")


def gen():
    yield 1.0


ODD = [None, "x", "", b"ab", 10**400, -(10**400), math.nan, math.inf, -0.0, True, RaisingFloat(), RaisingIndex(),
       RaisingStamp(), Weird(a=1.0), gen(), object(), [1.0, None], (), {}, {"vvol": "x"}, {1: 1.0}, "\ud800", 1e300,
       datetime(2025, 1, 1), EXPIRY]


def callables():
    cal = tessel.Calendar("BTCUSDT")
    out = []
    for name in FUNCTIONS:
        out.append((name, getattr(tessel, name), 6))
    for cls in MODEL_CLASSES:
        m = cls(EXPIRY)
        out += [(f"{cls.__name__}()", cls, 1), (f"{cls.__name__}.with_params", cls.with_params, 2)]
        for meth in ("get_vol", "get_vol_single", "get_parameter", "set_param", "reanchor", "bump_param",
                     "get_jacobian"):
            out.append((f"{cls.__name__}.{meth}", getattr(m, meth), 4))
    out += [("Calendar", tessel.Calendar, 1), ("get_bus_ttx", cal.get_bus_ttx, 2),
            ("get_cal_ttx", tessel.Calendar.get_cal_ttx, 2), ("tenor_to_ttx", tessel.Calendar.tenor_to_ttx, 1)]
    return out


@pytest.mark.parametrize("name,f,arity", callables(), ids=lambda x: x if isinstance(x, str) else "")
def test_odd_arguments(name, f, arity):
    good = {1: [EXPIRY], 2: [EXPIRY, {}], 4: [1.0, 100.0, [90.0], ["vvol"]], 6: [100.0, 100.0, 1.0, 0.2, "c", 1.0]}
    base = good[arity]
    if name == "Calendar" or name == "tenor_to_ttx":
        base = ["BTCUSDT"] if name == "Calendar" else ["1y"]
    if name in ("get_bus_ttx", "get_cal_ttx"):
        base = [EXPIRY, EXPIRY]
    for i in range(len(base)):
        for odd in ODD:
            args = list(base)
            args[i] = odd
            try:
                f(*args)
            except ALLOWED:
                pass
            except BaseException as e:  # noqa: BLE001
                pytest.fail(f"{name} arg {i} = {odd!r}: {type(e).__name__}: {e}")
    with pytest.raises(TypeError):
        f(*base, *base, 1, 2, 3, 4, 5, 6)
    with pytest.raises(TypeError):
        f(**{"\ud800": 1})


def test_callbacks_into_the_same_object_and_panics_leave_it_usable():
    m = tessel.GVVSpline(EXPIRY)

    class Evil:
        def __float__(self):
            m.bump_param("skew", 1.0)
            return 1.0

        def __index__(self):
            return 1

        def timestamp(self):
            return m.get_vol_single(0.5, 100.0, 100.0)

    # Each holds m while its __float__ asks for m exclusively, which the flag refuses.
    for f in (m.get_vol_single, m.set_param, m.reanchor, m.bump_param):
        args = (["vpr"] if f in (m.set_param, m.bump_param) else [Evil()]) + [Evil()]
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            f(*args, *([100.0] if f == m.get_vol_single else []))
    assert m.get_parameter("skew") == 0.0
    with pytest.raises(panic_type()):
        d = {"a": type("X", (), {"__float__": lambda s: (d.clear(), 1.0)[1]})(), "b": 1.0}
        tessel.GVVSpline.with_params(EXPIRY, d)
    m.set_param("skew", 2.0)
    assert m.get_parameter("skew") == 2.0


def run_everything(cal, models, args):
    ks, names = args
    for _ in range(200):
        tessel.b76_fairvalue(100.0, 100.0, 1.0, 0.2, "call")
        tessel.binary_delta(100.0, 110.0, 1.0, 0.2, "put", df=0.9)
        tessel.calibrate_black76_iv(1.0, 100.0, 100.0, 7.9, "c")
        for bad in (lambda: tessel.b76_fairvalue(100.0, 100.0, 1.0, 0.2, "nope"),
                    lambda: tessel.b76_vega(100.0, 100.0, 1.0, None),
                    lambda: tessel.b76_vega(100.0, 100.0, ttx=1.0),
                    lambda: tessel.Calendar("nope"),
                    lambda: tessel.Calendar.tenor_to_ttx("3x"),
                    lambda: models[0].get_vol(1.0, 100.0, [1.0, "x"]),
                    lambda: tessel.VolGeo(EXPIRY, vvol="x"),
                    lambda: tessel.VolGeo(1.0)):
            try:
                bad()
            except (TypeError, ValueError, AttributeError):
                pass
        for m in models:
            m.get_vol(0.5, 100.0, ks)
            m.get_jacobian(0.5, 100.0, ks, names)
            m.get_param_dict()
            m.get_fitting_params()
            m.expiry
            m.bump_param("ref_vol", 0.0)
            type(m).with_params(EXPIRY, {"ref_vol": 20.0})
        cal.get_bus_ttx(EXPIRY, datetime(2026, 1, 1, tzinfo=UTC))
        tessel.Calendar("BTCUSDT")


def test_no_reference_or_memory_growth():
    import resource

    cal = tessel.Calendar("BTCUSDT")
    models = [cls(EXPIRY) for cls in MODEL_CLASSES]
    # Mortal objects only: literals may be immortal, and a stable-ABI module
    # moves an immortal's count where the interpreter never moves it back.
    args = ([float(k) for k in (90, 100, 110)], ["".join(n) for n in (("ref", "_vol"), ("no", "pe"))])
    run_everything(cal, models, args)  # warm caches
    gc.collect()
    counts = [sys.getrefcount(x) for x in (EXPIRY, *args, *args[0], *args[1])]
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(10):
        run_everything(cal, models, args)
    gc.collect()
    assert [sys.getrefcount(x) for x in (EXPIRY, *args, *args[0], *args[1])] == counts
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss < 4096  # KiB
