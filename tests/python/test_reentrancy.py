"""Python code that runs while a call holds an object: callbacks from an
argument's __float__, __index__ or timestamp() into the same object, and
several threads sharing one object. Only the two access errors may come out,
the object is always free again afterwards, and its results do not change."""
import sys
import threading
import time
from datetime import datetime

import pytest

import tessel
from conftest import EXPIRY, MODEL_CLASSES, UTC

BORROWED = "Already borrowed"
MUTABLY_BORROWED = "Already mutably borrowed"
LATER = datetime(2025, 4, 25, 16, tzinfo=UTC)
STRIKES = [80.0, 100.0, 125.0]

# Every way into a model: (name, access, call). Inside a call that holds the
# model an exclusive call always fails, so the values it would write do not matter.
MODEL_CALLS = [
    ("get_vol", "shared", lambda m: m.get_vol(0.5, 100.0, STRIKES)),
    ("get_vol_single", "shared", lambda m: m.get_vol_single(0.5, 100.0, 90.0)),
    ("arb_free", "shared", lambda m: m.arb_free()),
    ("get_parameter", "shared", lambda m: m.get_parameter("ref_vol")),
    ("get_param_dict", "shared", lambda m: m.get_param_dict()),
    ("get_fitting_params", "shared", lambda m: m.get_fitting_params()),
    ("get_jacobian", "shared", lambda m: m.get_jacobian(0.5, 100.0, STRIKES, ["ref_vol", "vpr"])),
    ("expiry", "shared", lambda m: m.expiry),
    ("repr", "shared", repr),
    ("reduce", "shared", lambda m: m.__reduce__()),
    ("set_param", "exclusive", lambda m: m.set_param("vpr", 1.0)),
    ("bump_param", "exclusive", lambda m: m.bump_param("ref_vol", 0.0)),
    ("reanchor", "exclusive", lambda m: m.reanchor(100.0, 0.5)),
]
# The calls that convert a number while they hold the model, with the
# argument position that receives the callback object.
OUTER_MODEL_CALLS = [
    ("get_vol", "shared", lambda m, x: m.get_vol(0.5, 100.0, [80.0, x, 125.0])),
    ("get_vol_single", "shared", lambda m, x: m.get_vol_single(0.5, x, 90.0)),
    ("get_jacobian", "shared", lambda m, x: m.get_jacobian(x, 100.0, STRIKES, ["ref_vol", "vpr"])),
    ("set_param", "exclusive", lambda m, x: m.set_param("vpr", x)),
    ("bump_param", "exclusive", lambda m, x: m.bump_param("ref_vol", x)),
    ("reanchor", "exclusive", lambda m, x: m.reanchor(100.0, x)),
]
# What the callback object stands for in each outer call, so that the result
# can be compared with the same call on a plain number.
# Whole numbers, which __index__ can give too.
PLAIN = {"get_vol": 100.0, "get_vol_single": 100.0, "get_jacobian": 2.0, "set_param": 3.0, "bump_param": 1.0,
         "reanchor": 2.0}


def expected_error(outer, inner):
    if outer == "shared":
        return None if inner == "shared" else BORROWED
    return MUTABLY_BORROWED if inner == "shared" else BORROWED


class Callback:
    """Stands for a number or an instant and calls `inner` each time the
    module converts it."""

    def __init__(self, inner, value):
        self.inner, self.value = inner, value
        self.errors, self.calls = [], 0

    def run(self):
        self.calls += 1
        try:
            self.inner()
        except RuntimeError as e:
            self.errors.append(str(e))

    def timestamp(self):
        self.run()
        return self.value.timestamp()


class FloatCallback(Callback):
    def __float__(self):
        self.run()
        return float(self.value)


class IndexCallback(Callback):
    # No __float__: the float rule falls back to __index__.
    def __index__(self):
        self.run()
        return int(self.value)


def make_callback(inner, value, via):
    return {"index": IndexCallback, "float": FloatCallback, "timestamp": Callback}[via](inner, value)


def assert_free(m):
    """Both kinds of access succeed, so the flag is back at 0."""
    m.set_param("vpr", m.get_parameter("vpr"))
    m.get_param_dict()


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
@pytest.mark.parametrize("via", ["float", "index"])
@pytest.mark.parametrize("outer_name,outer_access,outer", OUTER_MODEL_CALLS, ids=[c[0] for c in OUTER_MODEL_CALLS])
@pytest.mark.parametrize("inner_name,inner_access,inner", MODEL_CALLS, ids=[c[0] for c in MODEL_CALLS])
def test_model_callbacks_into_the_same_object(cls, via, outer_name, outer_access, outer, inner_name, inner_access,
                                              inner):
    m = cls(EXPIRY, ref_spot=100.0, skew=-2.0, corr=-0.2, p10=1.0, c10=0.5)
    twin = cls.with_params(EXPIRY, m.get_param_dict())
    plain = PLAIN[outer_name]
    expected = outer(twin, plain)

    cb = make_callback(lambda: inner(m), plain, via)
    result = outer(m, cb)

    assert cb.calls >= 1
    want = expected_error(outer_access, inner_access)
    assert cb.errors == ([want] * cb.calls if want else [])
    assert result == expected
    assert m.get_param_dict() == twin.get_param_dict()
    assert_free(m)


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
@pytest.mark.parametrize("outer_name,outer_access,outer", OUTER_MODEL_CALLS, ids=[c[0] for c in OUTER_MODEL_CALLS])
def test_an_access_error_that_propagates_is_raised_undecorated(cls, outer_name, outer_access, outer):
    m = cls(EXPIRY)
    state = m.get_param_dict()
    inner = (lambda: m.set_param("vpr", 1.0)) if outer_access == "shared" else m.get_param_dict

    class Propagate:
        def __float__(self):
            inner()
            return 1.0

    with pytest.raises(RuntimeError) as e:
        outer(m, Propagate())
    assert str(e.value) == expected_error(outer_access, "exclusive" if outer_access == "shared" else "shared")
    assert e.value.__cause__ is None and type(e.value) is RuntimeError
    assert m.get_param_dict() == state
    assert_free(m)


# ---- the calendar: get_bus_ttx holds it exclusively while it reads instants ----

CALENDAR_CALLS = [
    ("get_bus_ttx", "exclusive", lambda c: c.get_bus_ttx(EXPIRY, LATER)),
    ("get_cal_ttx", None, lambda c: c.get_cal_ttx(EXPIRY, LATER)),
    ("tenor_to_ttx", None, lambda c: c.tenor_to_ttx("3m")),
    ("repr", "shared", repr),
    ("reduce", "shared", lambda c: c.__reduce__()),
]


@pytest.mark.parametrize("position", [0, 1])
@pytest.mark.parametrize("inner_name,inner_access,inner", CALENDAR_CALLS, ids=[c[0] for c in CALENDAR_CALLS])
def test_calendar_callbacks_into_the_same_object(position, inner_name, inner_access, inner):
    cal = tessel.Calendar("BTCUSDT")
    expected = tessel.Calendar("BTCUSDT").get_bus_ttx(EXPIRY, LATER)
    args = [EXPIRY, LATER]
    cb = make_callback(lambda: inner(cal), args[position], "timestamp")
    args[position] = cb
    assert cal.get_bus_ttx(*args) == expected
    assert cb.calls == 1
    assert cb.errors == ([expected_error("exclusive", inner_access)] if inner_access else [])
    assert cal.get_bus_ttx(EXPIRY, LATER) == expected  # free again, same answer


def test_static_calls_hold_nothing():
    """get_cal_ttx and tenor_to_ttx take no access, so a callback may do anything."""
    cal = tessel.Calendar("BTCUSDT")
    cb = make_callback(lambda: cal.get_bus_ttx(EXPIRY, LATER), EXPIRY, "timestamp")
    assert cal.get_cal_ttx(cb, LATER) == tessel.Calendar.get_cal_ttx(EXPIRY, LATER)
    assert cb.errors == []


def test_a_model_callback_may_use_other_objects_freely():
    m, other, cal = tessel.VolGeo(EXPIRY), tessel.VolGeo(EXPIRY), tessel.Calendar("BTCUSDT")

    def elsewhere():
        other.set_param("vvol", 30.0)
        cal.get_bus_ttx(EXPIRY, LATER)
        tessel.b76_fairvalue(100.0, 100.0, 1.0, 0.2, "call")

    cb = make_callback(elsewhere, 25.0, "float")
    m.set_param("vvol", cb)
    assert cb.errors == [] and m.get_parameter("vvol") == 25.0 and other.get_parameter("vvol") == 30.0


# ---- threads ----

@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


class Yielding:
    """A number whose conversion gives other threads the interpreter."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        time.sleep(0.0002)
        return self.value

    def timestamp(self):
        time.sleep(0.0002)
        return self.value.timestamp()


def run_threads(workers, rounds):
    errors, unexpected = [], []
    barrier = threading.Barrier(len(workers))

    def body(work):
        barrier.wait()
        for i in range(rounds):
            try:
                work(i)
            except RuntimeError as e:
                errors.append(str(e))
            except BaseException as e:  # noqa: BLE001 - anything else fails the test
                unexpected.append(e)

    threads = [threading.Thread(target=body, args=(w,)) for w in workers]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert not any(t.is_alive() for t in threads)
    assert unexpected == []
    return errors


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_threads_sharing_one_model(cls, fast_switching):
    m = cls(EXPIRY, ref_spot=100.0, skew=-2.0, corr=-0.2, p10=1.0)
    state = m.get_param_dict()
    vols = m.get_vol(0.5, 100.0, STRIKES)
    jac = m.get_jacobian(0.5, 100.0, STRIKES, ["ref_vol"])
    wrong = []

    def reader(i):
        got = m.get_vol(0.5, Yielding(100.0), STRIKES) if i % 2 else m.get_vol(0.5, 100.0, STRIKES)
        if got != vols:
            wrong.append(got)
        if m.get_jacobian(0.5, 100.0, STRIKES, ["ref_vol"]) != jac:
            wrong.append("jacobian")

    def writer(i):
        if i % 3 == 0:
            m.set_param("vpr", Yielding(state["vpr"]))
        elif i % 3 == 1:
            m.bump_param("ref_vol", Yielding(0.0))
        else:
            m.set_param("ref_vol", state["ref_vol"])

    errors = run_threads([reader, reader, writer, writer], 150)
    assert wrong == []
    assert set(errors) <= {BORROWED, MUTABLY_BORROWED}
    assert errors, "the threads never met on the object"
    assert m.get_param_dict() == state
    assert m.get_vol(0.5, 100.0, STRIKES) == vols
    assert_free(m)


def test_threads_sharing_one_calendar(fast_switching):
    cal = tessel.Calendar("BTCUSDT")
    expected = cal.get_bus_ttx(EXPIRY, LATER)
    wrong = []

    def worker(i):
        got = cal.get_bus_ttx(Yielding(EXPIRY), LATER) if i % 2 else cal.get_bus_ttx(EXPIRY, Yielding(LATER))
        if got != expected:
            wrong.append(got)
        if cal.tenor_to_ttx("1w") != 7 / 365:
            wrong.append("tenor")

    errors = run_threads([worker] * 4, 100)
    assert wrong == []
    assert set(errors) == {BORROWED}
    assert cal.get_bus_ttx(EXPIRY, LATER) == expected
