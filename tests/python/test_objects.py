"""repr, pickle and copy of the models and the calendar, in one process and across processes."""
import concurrent.futures
import copy
import math
import multiprocessing
import os
import pickle
import re
import subprocess
import sys
from datetime import datetime, timedelta, timezone

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessel
from conftest import EXPIRY, MODEL_CLASSES, MODEL_EVERY_PARAMETER_SET, MODEL_TABLES, PUBLIC

UTC = timezone.utc
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)
TTX, SPOT = 0.25, 95.0
STRIKES = [40.0, 70.0, 90.0, 95.0, 100.0, 120.0, 180.0]

# Parameter names in storage order: the order repr shows them in.
TABLES = {name: list(table) for name, table in MODEL_TABLES.items()}
SHAPED = MODEL_EVERY_PARAMETER_SET


def shaped(cls, expiry=EXPIRY):
    return cls(expiry, **SHAPED[cls.__name__])


def same_float(a, b):
    """Equal bit for bit in value and sign, NaN equal to NaN."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)


def assert_same_model(a, b):
    assert type(a) is type(b)
    assert a is not b
    assert a.expiry == b.expiry
    pa, pb = a.get_param_dict(), b.get_param_dict()
    assert pa.keys() == pb.keys()
    for name in pa:
        assert same_float(pa[name], pb[name]), name
    for va, vb in zip(a.get_vol(TTX, SPOT, STRIKES), b.get_vol(TTX, SPOT, STRIKES)):
        assert same_float(va, vb)
    assert a.arb_free() == b.arb_free()


def parse_repr(text):
    """Class name and the name=value fields of a repr (no field contains ', ')."""
    m = re.fullmatch(r"(\w+)\((.*)\)", text)
    assert m, text
    fields = [f.split("=", 1) for f in m.group(2).split(", ")]
    return m.group(1), fields


# ---------------------------------------------------------------------------
# repr
# ---------------------------------------------------------------------------

def test_repr_of_a_default_volgeo():
    m = tessel.VolGeo(datetime(2025, 3, 28, 8, tzinfo=UTC))
    assert repr(m) == ("VolGeo(expiry=2025-03-28T08:00:00+00:00, vpr=1.0, ref_spot=100.0, ref_vol=50.0, "
                       "corr=0.0, vvol=20.0, offset=0.0)")
    assert str(m) == repr(m)


def test_repr_of_a_calendar():
    cal = tessel.Calendar("BTCUSDT")
    assert repr(cal) == "Calendar(underlying='BTCUSDT')"
    cal.get_bus_ttx(EXPIRY - timedelta(days=400), EXPIRY)  # fills the per-year cache; repr does not show it
    assert repr(cal) == "Calendar(underlying='BTCUSDT')"


def test_repr_shows_class_expiry_and_every_parameter_in_table_order(model_cls):
    m = shaped(model_cls)
    name, fields = parse_repr(repr(m))
    assert name == model_cls.__name__
    assert fields[0] == ["expiry", EXPIRY.isoformat()]
    assert [f[0] for f in fields[1:]] == TABLES[name]
    values = m.get_param_dict()
    for field, text in fields[1:]:
        assert text == repr(values[field])
        assert float(text) == SHAPED[name][field]


def test_repr_follows_changes(model_cls):
    m = model_cls(EXPIRY)
    m.set_param("ref_vol", 12.5)
    assert "ref_vol=12.5," in repr(m)
    m.bump_param("ref_vol", 0.25)
    assert "ref_vol=12.75," in repr(m)


def test_repr_of_special_values(model_cls):
    m = model_cls(EXPIRY, ref_vol=float("nan"), ref_spot=float("-inf"), vpr=-0.0)
    text = repr(m)
    assert "ref_vol=nan" in text and "ref_spot=-inf" in text and "vpr=-0.0" in text


def test_repr_shows_the_expiry_in_utc_with_microseconds():
    local = timezone(timedelta(hours=-5))
    m = tessel.GVVSpline(datetime(2025, 3, 28, 3, 0, 0, 250000, tzinfo=local))
    assert repr(m).startswith("GVVSpline(expiry=2025-03-28T08:00:00.250000+00:00, vpr=1.0, ")


def test_repr_takes_shared_access(model_cls):
    """repr, pickling and copying read the object, so they wait for an exclusive holder like any read."""
    m = model_cls(EXPIRY)
    seen = []

    class Value:
        def __float__(self):
            for f in (repr, pickle.dumps, copy.copy):
                with pytest.raises(RuntimeError, match="Already mutably borrowed"):
                    f(m)
                seen.append(f)
            return 30.0

    m.set_param("ref_vol", Value())
    assert len(seen) == 3
    assert m.get_parameter("ref_vol") == 30.0
    assert "ref_vol=30.0" in repr(m)  # the flag is free again


# ---------------------------------------------------------------------------
# pickle and copy of models
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_pickle_round_trip(model_cls, protocol):
    m = shaped(model_cls)
    back = pickle.loads(pickle.dumps(m, protocol))
    assert_same_model(m, back)
    assert repr(back) == repr(m)


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy], ids=["copy", "deepcopy"])
def test_copy(model_cls, copier):
    m = shaped(model_cls)
    c = copier(m)
    assert_same_model(m, c)


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy, lambda m: pickle.loads(pickle.dumps(m))],
                         ids=["copy", "deepcopy", "pickle"])
def test_copies_are_independent(model_cls, copier):
    m = shaped(model_cls)
    before = repr(m)
    c = copier(m)
    c.set_param("ref_vol", 77.0)
    c.reanchor(110.0, TTX)
    c.bump_param("vpr", 0.5)
    assert repr(m) == before
    m.set_param("ref_spot", 1.0)
    assert c.get_parameter("ref_spot") == 110.0


def test_copy_of_a_changed_model_keeps_the_changes(model_cls):
    m = model_cls(EXPIRY)
    m.reanchor(120.0, TTX)
    m.bump_param("ref_vol", 1.0)
    m.set_param("not_a_parameter", 5.0)
    assert_same_model(m, copy.deepcopy(m))
    assert copy.copy(m).get_parameter("ref_spot") == 120.0


def test_copy_keeps_parameters_that_fail_arb_free(model_cls):
    m = model_cls(EXPIRY, ref_vol=-5.0)
    assert not m.arb_free()
    c = pickle.loads(pickle.dumps(m))
    assert not c.arb_free() and c.get_parameter("ref_vol") == -5.0


def test_pickle_goes_through_the_class_expiry_and_parameters(model_cls):
    m = shaped(model_cls)
    restore, args = m.__reduce__()
    assert restore is tessel._model_from_state
    assert args[0] == model_cls.__name__
    assert args[1:3] == (int(m.expiry.timestamp()), 0)  # whole seconds and nanoseconds
    assert args[3] == m.get_param_dict()
    # The same state through the public constructor gives the same model.
    assert_same_model(m, model_cls.with_params(m.expiry, args[3]))
    assert_same_model(m, restore(*args))


def test_restoring_an_unknown_class_fails():
    with pytest.raises(ValueError, match="NoSuchModel"):
        tessel._model_from_state("NoSuchModel", 0, 0, {})


@pytest.mark.parametrize("us", [0, 1, 7, 123456, 500000, 654321, 999998, 999999])
def test_expiry_survives_repeated_copies(model_cls, us):
    m = model_cls(datetime(2031, 7, 4, 13, 14, 15, us, tzinfo=UTC))
    expiry = m.expiry
    for _ in range(5):
        m = pickle.loads(pickle.dumps(copy.copy(m)))
        assert m.expiry == expiry


@pytest.mark.parametrize("expiry", [datetime(1970, 1, 1, tzinfo=UTC), datetime(1, 1, 1, tzinfo=UTC),
                                    datetime(9999, 12, 31, 23, 59, 59, tzinfo=UTC),
                                    datetime(1969, 12, 31, 23, 59, 59, tzinfo=UTC)])
def test_extreme_expiries_copy(model_cls, expiry):
    m = model_cls(expiry)
    assert_same_model(m, copy.deepcopy(m))
    assert copy.copy(m).expiry == expiry


finite_or_not = st.floats(allow_nan=True, allow_infinity=True, width=64)


@settings(max_examples=60, deadline=None)
@given(cls=st.sampled_from(MODEL_CLASSES), data=st.data(),
       seconds=st.integers(min_value=0, max_value=250_000_000_000))
def test_pickle_round_trip_of_any_parameters(cls, data, seconds):
    params = {name: data.draw(finite_or_not, label=name) for name in TABLES[cls.__name__]}
    expiry = datetime(1970, 1, 1, tzinfo=UTC) + timedelta(seconds=seconds)
    m = cls.with_params(expiry, params)
    for back in (pickle.loads(pickle.dumps(m)), copy.deepcopy(m)):
        assert_same_model(m, back)
        assert repr(back) == repr(m)


def test_pickle_of_a_list_of_models_and_a_calendar():
    book = {"models": [shaped(c) for c in MODEL_CLASSES], "calendar": tessel.Calendar("BTCUSDT")}
    back = pickle.loads(pickle.dumps(book))
    for a, b in zip(book["models"], back["models"]):
        assert_same_model(a, b)
    assert repr(back["calendar"]) == "Calendar(underlying='BTCUSDT')"


def test_deepcopy_keeps_shared_references():
    m = shaped(tessel.VolGeo)
    a, b = copy.deepcopy([m, m])
    assert a is b and a is not m


# ---------------------------------------------------------------------------
# pickle and copy of calendars
# ---------------------------------------------------------------------------

SPANS = [
    (datetime(2025, 1, 6, 5, tzinfo=UTC), datetime(2025, 1, 13, 5, tzinfo=UTC)),
    (datetime(2024, 12, 31, 5, tzinfo=UTC), datetime(2025, 1, 1, 5, tzinfo=UTC)),
    (datetime(2025, 3, 9, 6, 59, tzinfo=UTC), datetime(2025, 3, 9, 7, 0, tzinfo=UTC)),
    (datetime(2025, 11, 2, 5, 30, tzinfo=UTC), datetime(2025, 11, 2, 6, 30, tzinfo=UTC)),
    (datetime(2019, 6, 1, 12, 34, 56, tzinfo=UTC), datetime(2031, 2, 3, 4, 5, 6, tzinfo=UTC)),
]


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy] + [
    (lambda p: lambda c: pickle.loads(pickle.dumps(c, p)))(p) for p in PROTOCOLS],
    ids=["copy", "deepcopy"] + [f"pickle{p}" for p in PROTOCOLS])
def test_calendar_copies_measure_the_same(copier):
    cal = tessel.Calendar("BTCUSDT")
    used = [cal.get_bus_ttx(a, b) for a, b in SPANS]  # the original's per-year cache is now filled
    c = copier(cal)
    assert type(c) is tessel.Calendar and c is not cal
    assert repr(c) == repr(cal)
    assert [c.get_bus_ttx(a, b) for a, b in SPANS] == used
    assert [c.get_bus_ttx(b, a) for a, b in SPANS] == [-x for x in used]


def test_calendar_reduces_to_its_underlying():
    cal = tessel.Calendar("BTCUSDT")
    restore, args = cal.__reduce__()
    assert restore is tessel._calendar_from_state and args == ("BTCUSDT",)
    with pytest.raises(ValueError):
        tessel._calendar_from_state("ETHUSDT")


# ---------------------------------------------------------------------------
# The surface stays as it was
# ---------------------------------------------------------------------------

def test_all_stays_the_fifteen_names():
    assert tessel.__all__ == PUBLIC
    namespace = {}
    exec("from tessel import *", namespace)
    assert sorted(n for n in namespace if n != "__builtins__") == sorted(tessel.__all__)


# ---------------------------------------------------------------------------
# Across processes
# ---------------------------------------------------------------------------

def test_pickles_load_in_a_fresh_interpreter():
    objects = [shaped(c) for c in MODEL_CLASSES] + [tessel.Calendar("BTCUSDT")]
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(tessel.__file__), env.get("PYTHONPATH", "")])
    code = ("import pickle, sys; objs = pickle.load(sys.stdin.buffer); "
            "print('\\n'.join(repr(o) for o in objs)); "
            "print(objs[0].get_vol(0.25, 95.0, [70.0, 95.0, 120.0])); "
            "print(objs[-1].get_bus_ttx(objs[0].expiry - __import__('datetime').timedelta(days=3), objs[0].expiry))")
    out = subprocess.run([sys.executable, "-c", code], input=pickle.dumps(objects), capture_output=True,
                         env=env, timeout=60, check=True).stdout.decode().splitlines()
    n = len(objects)
    assert out[:n] == [repr(o) for o in objects]
    assert out[n] == repr(objects[0].get_vol(0.25, 95.0, [70.0, 95.0, 120.0]))
    cal = objects[-1]
    assert out[n + 1:] == [repr(cal.get_bus_ttx(objects[0].expiry - timedelta(days=3), objects[0].expiry))]


def test_worker_processes_price_like_this_one():
    """Bound methods travel with their pickled object to spawned workers and give identical results."""
    models = [shaped(c) for c in MODEL_CLASSES]
    cal = tessel.Calendar("BTCUSDT")
    start = datetime(2025, 3, 14, 15, 30, tzinfo=UTC)
    ctx = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=ctx) as pool:
        vols = [pool.submit(m.get_vol, TTX, SPOT, STRIKES) for m in models]
        jac = [pool.submit(m.get_jacobian, TTX, SPOT, STRIKES, m.get_fitting_params()) for m in models]
        ttx = pool.submit(cal.get_bus_ttx, start, EXPIRY)
        pids = {pool.submit(os.getpid).result(timeout=60) for _ in range(4)}
        assert [f.result(timeout=60) for f in vols] == [m.get_vol(TTX, SPOT, STRIKES) for m in models]
        assert [f.result(timeout=60) for f in jac] == [
            m.get_jacobian(TTX, SPOT, STRIKES, m.get_fitting_params()) for m in models]
        assert ttx.result(timeout=60) == cal.get_bus_ttx(start, EXPIRY)
    assert os.getpid() not in pids
