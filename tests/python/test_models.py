"""The smile models through the Python surface, against plain-Python references."""
import math

import pytest
from hypothesis import given, settings, strategies as st

import numpy as np
import reference as ref
import tessel
from conftest import EXPIRY, MODEL_CLASSES, MODEL_FITTING, MODEL_SHAPES, MODEL_TABLES

TABLES = {getattr(tessel, name): table for name, table in MODEL_TABLES.items()}
FITTING = {getattr(tessel, name): names for name, names in MODEL_FITTING.items()}


SHAPES = {getattr(tessel, name): shape for name, shape in MODEL_SHAPES.items()}


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
@pytest.mark.parametrize("ttx", [0.02, 0.25, 0.5, 2.0])
@pytest.mark.parametrize("spot", [90.0, 100.0, 104.0])
def test_against_reference_over_a_grid(cls, ttx, spot):
    m = cls(EXPIRY, **SHAPES[cls])
    p = m.get_param_dict()
    strikes = [0.5, 5.0, 30.0, 60.0, 80.0, 95.0, 99.9, 100.0, 100.1, 105.0, 120.0, 150.0, 300.0, 5000.0]
    got = m.get_vol(ttx, spot, strikes)
    want = ref.VOLS[cls.__name__](p, ttx, spot, np.array(strikes)).tolist()
    for k, g, w in zip(strikes, got, want):
        assert g == pytest.approx(w, rel=4e-15, nan_ok=True), k


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_parameter_rules(cls):
    m = cls(EXPIRY)
    assert m.get_param_dict() == TABLES[cls]
    assert cls.with_params(EXPIRY, {}).get_param_dict() == TABLES[cls]
    assert m.get_fitting_params() == FITTING[cls]
    assert m.get_fitting_params() is not m.get_fitting_params()
    m2 = cls(EXPIRY, ref_vol=30, not_a_param=7, REF_VOL=1.0)
    assert m2.get_parameter("ref_vol") == 30.0 and type(m2.get_parameter("ref_vol")) is float
    assert m2.get_parameter("REF_VOL") is None and m2.get_parameter("not_a_param") is None
    assert m2.set_param("nope", 1.0) is None
    assert m2.get_param_dict() == {**TABLES[cls], "ref_vol": 30.0}
    m2.set_param("ref_vol", -5.0)
    assert m2.get_parameter("ref_vol") == -5.0 and not m2.arb_free()
    assert type(cls.with_params(EXPIRY, {"ref_vol": 10})) is cls
    assert type(m.with_params(EXPIRY, {})) is cls
    assert m.expiry == EXPIRY


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_bump_param_is_gated(cls):
    m = cls(EXPIRY)
    m.bump_param("ref_vol", -49.5)  # candidate ref_vol 0.5 fails every model's arb_free
    assert m.get_parameter("ref_vol") == 50.0
    m.bump_param("ref_vol", 5.0)
    assert m.get_parameter("ref_vol") == 55.0
    m.bump_param("unknown", 5.0)
    assert m.get_param_dict() == {**TABLES[cls], "ref_vol": 55.0}


@pytest.mark.parametrize("cls,name,bad,good", [
    (tessel.GVVSpline, "smile", -4.5, -4.0), (tessel.VolGeo, "vvol", -19.5, -19.0),
    (tessel.CubicSpline, "p25", -0.01, 0.0),
])
def test_bump_boundaries(cls, name, bad, good):
    m = cls(EXPIRY)
    before = m.get_parameter(name)
    m.bump_param(name, bad)
    assert m.get_parameter(name) == before
    m.bump_param(name, good)
    assert m.get_parameter(name) == before + good


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_reanchor(cls):
    m = cls(EXPIRY, **SHAPES[cls])
    v = m.get_vol_single(0.3, 103.0, 103.0)
    m.reanchor(103.0, 0.3)
    assert m.get_parameter("ref_spot") == 103.0 and m.get_parameter("ref_vol") == 100 * v
    before = m.get_param_dict()
    for ttx in (0.0, -1.0, math.nan):  # a non-finite at-the-money volatility leaves the model as it was
        m.reanchor(110.0, ttx)
        assert m.get_param_dict() == before


def test_cubic_reanchor_at_ttx_one_keeps_the_model():
    m = tessel.CubicSpline(EXPIRY, ref_vol=20.0)
    m.reanchor(105.0, 1.0)
    assert m.get_parameter("ref_vol") == 20.0 and m.get_parameter("ref_spot") == 100.0


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_jacobian(cls):
    m = cls(EXPIRY, **SHAPES[cls])
    before = m.get_param_dict()
    ks = [80.0, 100.0, 125.0]
    names = m.get_fitting_params() + ["vpr", "nope", "ref_vol"]
    jac = m.get_jacobian(0.4, 101.0, ks, names)
    assert set(jac) == set(names)
    base = m.get_vol(0.4, 101.0, ks)
    for name in set(names) & set(before):
        bumped = cls.with_params(EXPIRY, {**before, name: before[name] + 0.01})
        want = [(b - a) / 0.01 for a, b in zip(base, bumped.get_vol(0.4, 101.0, ks))]
        assert jac[name] == want, name
    assert jac["nope"] == [0.0, 0.0, 0.0]
    assert m.get_param_dict() == before
    assert m.get_jacobian(0.4, 101.0, ks, []) == {}
    assert m.get_jacobian(0.4, 101.0, [], ["vpr", "vpr"]) == {"vpr": []}


def test_jacobian_gvv_values():
    m = tessel.GVVSpline(EXPIRY)
    jac = m.get_jacobian(0.5, 123.0, [100.0], ["ref_vol", "vpr", "offset"])
    assert jac["ref_vol"] == [(50.01 / 100 - 0.5) / 0.01]
    assert jac["vpr"] == [0.0] and jac["offset"] == [0.0]
    assert m.get_jacobian(0.5, 1.0, [90.0, 110.0], ["skew"]) == m.get_jacobian(0.5, 999.0, [90.0, 110.0], ["skew"])


@settings(max_examples=200, deadline=None)
@given(cls=st.sampled_from(MODEL_CLASSES), ttx=st.floats(min_value=1e-3, max_value=5),
       spot=st.floats(min_value=50, max_value=150), k=st.floats(min_value=1e-2, max_value=1e4))
def test_single_is_the_element_of_get_vol(cls, ttx, spot, k):
    m = cls(EXPIRY, **SHAPES[cls])
    one = m.get_vol_single(ttx, spot, k)
    (elem,) = m.get_vol(ttx, spot, [k])
    assert one == elem or (math.isnan(one) and math.isnan(elem))


@pytest.mark.parametrize("cls,ttx,spot,strikes,expected", [
    (tessel.VolGeo, 1.0, 100.0, [100.0, 100 * math.e, 100 / math.e], [0.5, 0.6589635209336892, 0.6589635209336892]),
    (tessel.CubicSpline, 0.25, 100.0, [95.0, 60.0, 110.0, 150.0],
     [0.21025852342644197, 0.2504240048913311, 0.19008441843107368, 0.20137134771866558]),
])
def test_worked_values(cls, ttx, spot, strikes, expected):
    m = cls(EXPIRY) if cls is tessel.VolGeo else cls(EXPIRY, **{**SHAPES[cls], "ref_spot": 100.0})
    assert m.get_vol(ttx, spot, strikes) == pytest.approx(expected, rel=2e-16, abs=0)


def test_gvv_worked_values():
    m = tessel.GVVSpline(EXPIRY, **SHAPES[tessel.GVVSpline])
    assert [round(v, 6) for v in m.get_vol(0.25, 100.0, [80.0, 100.0, 125.0])] == [0.384674, 0.2, 0.341095]
    assert [round(v, 6) for v in tessel.GVVSpline(EXPIRY).get_vol(1.0, 100.0, [80.0, 125.0])] == [0.502701] * 2


def test_volgeo_spot_shift():
    m = tessel.VolGeo(EXPIRY, corr=0.5)
    assert m.get_vol(1.0, 100.0, [100 * math.e, 100 / math.e]) == pytest.approx(
        [0.6891331069644575, 0.5845524796821399], rel=2e-16, abs=0)
    assert m.get_vol_single(1.0, 110.0, 100.0) == pytest.approx(0.4936684306785863, rel=2e-16, abs=0)
    assert all(math.isnan(v) for v in tessel.VolGeo(EXPIRY).get_vol(0.0, 100.0, [90.0, 100.0]))
    assert all(math.isnan(v) for v in tessel.VolGeo(EXPIRY, corr=400.0).get_vol(1.0, 100.0, [90.0, 100.0]))
