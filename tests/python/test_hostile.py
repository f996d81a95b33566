"""What a hostile or careless caller can hand the module: lengths that lie,
argument sizes that must cost only what they hold, classes that must not be
altered, instants at the edges of what a datetime can show."""
import copy
import math
import pickle
import subprocess
import sys
import textwrap
import warnings
from datetime import datetime, timezone

import pytest

import tessel
from conftest import EXPIRY, MODEL_CLASSES, Stamp

CLASSES = [tessel.Calendar, *MODEL_CLASSES]
STRIKES = [80.0, 95.0, 100.0, 120.0]


# ---------------------------------------------------------------------------
# lengths only size a reservation
# ---------------------------------------------------------------------------

class LyingSequence:
    """Indexable like a sequence, claiming any length."""

    def __init__(self, items, length):
        self.items, self.length = list(items), length

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return self.items[i]


class LyingList(list):
    def __len__(self):
        return LYING_LENGTH


LYING_LENGTH = sys.maxsize
LENGTHS = [sys.maxsize, 2**62, 2**40, 10**12, 2**31]


@pytest.mark.parametrize("length", LENGTHS)
def test_a_length_that_lies_only_costs_the_elements_yielded(model_cls, length):
    m = model_cls(EXPIRY)
    expected = m.get_vol(0.5, 100.0, STRIKES)
    assert m.get_vol(0.5, 100.0, LyingSequence(STRIKES, length)) == expected
    names = m.get_fitting_params()
    jac = m.get_jacobian(0.5, 100.0, LyingSequence(STRIKES, length), LyingSequence(names, length))
    assert jac == m.get_jacobian(0.5, 100.0, STRIKES, names)


def test_a_list_subclass_whose_length_lies(model_cls):
    m = model_cls(EXPIRY)
    names = m.get_fitting_params()
    assert m.get_vol(0.5, 100.0, LyingList(STRIKES)) == m.get_vol(0.5, 100.0, STRIKES)
    assert m.get_jacobian(0.5, 100.0, LyingList(STRIKES), LyingList(names)) == \
        m.get_jacobian(0.5, 100.0, STRIKES, names)


def test_a_long_sequence_that_tells_the_truth_still_converts_whole(model_cls):
    strikes = [50.0 + i / 100 for i in range(20_000)]
    m = model_cls(EXPIRY)
    assert m.get_vol(0.5, 100.0, LyingSequence(strikes, len(strikes))) == m.get_vol(0.5, 100.0, strikes)


def test_a_dict_subclass_whose_length_lies(model_cls):
    class LyingDict(dict):
        def __len__(self):
            return sys.maxsize

    params = {"ref_vol": 30.0, "vpr": 2.0}
    m = model_cls.with_params(EXPIRY, LyingDict(params))
    assert m.get_param_dict() == model_cls.with_params(EXPIRY, params).get_param_dict()


# ---------------------------------------------------------------------------
# get_jacobian is linear in the names it is given
# ---------------------------------------------------------------------------

def test_jacobian_of_repeated_and_unknown_names(model_cls):
    m = model_cls(EXPIRY)
    names = ["ref_vol", "nope", "ref_vol", "NOPE", "nope", *m.get_fitting_params()]
    jac = m.get_jacobian(0.5, 100.0, STRIKES, names)
    assert sorted(jac) == sorted(set(names))
    assert jac["nope"] == jac["NOPE"] == [0.0] * len(STRIKES)
    assert jac["ref_vol"] == m.get_jacobian(0.5, 100.0, STRIKES, ["ref_vol"])["ref_vol"]


def test_jacobian_of_a_million_distinct_names_completes():
    # A scan of the earlier columns per name takes many minutes here; a hash
    # set takes a second or two. The subprocess's timeout only catches a hang:
    # it is a hundred times what the call needs.
    code = textwrap.dedent("""
        from datetime import datetime, timezone
        import tessel
        m = tessel.VolGeo(datetime(2025, 3, 28, 8, tzinfo=timezone.utc))
        names = [f"n{i}" for i in range(1_000_000)] + ["ref_vol"] * 1000
        jac = m.get_jacobian(0.5, 100.0, [100.0], names)
        assert len(jac) == 1_000_001 and jac["n999999"] == [0.0], len(jac)
    """)
    subprocess.run([sys.executable, "-c", code], check=True, timeout=240, env=_child_env())


def _child_env():
    import os
    return {**os.environ, "PYTHONPATH": os.path.dirname(tessel.__file__)}


# ---------------------------------------------------------------------------
# the classes cannot be changed, so every instance was constructed
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
@pytest.mark.parametrize("attr", ["__new__", "__repr__", "__reduce__", "get_cal_ttx", "get_vol", "some_name"])
def test_class_attributes_cannot_be_set_or_deleted(cls, attr):
    before = cls.__dict__.get(attr)
    with pytest.raises(TypeError, match="immutable type"):
        setattr(cls, attr, staticmethod(lambda c, *a, **k: object.__new__(c)))
    if before is not None:
        with pytest.raises(TypeError, match="immutable type"):
            delattr(cls, attr)
    assert cls.__dict__.get(attr) is before


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_no_instance_without_its_constructor(cls):
    with pytest.raises(TypeError, match="is not safe"):
        object.__new__(cls)
    with pytest.raises(TypeError, match="missing 1 required positional argument"):
        cls.__new__(cls)


# ---------------------------------------------------------------------------
# tiny negative timestamps
# ---------------------------------------------------------------------------

EPOCH = datetime(1970, 1, 1, tzinfo=timezone.utc)


@pytest.mark.parametrize("stamp", [-1e-10, -5e-324, -1e-300, -4.9e-10, -0.0])
def test_a_fraction_that_rounds_to_the_epoch_is_the_epoch(model_cls, stamp):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        m = model_cls(Stamp(stamp))
        assert m.expiry == EPOCH
    assert m.__reduce__()[1][1:3] == (0, 0)
    assert tessel.Calendar.get_cal_ttx(Stamp(stamp), EPOCH) == 0.0
    assert tessel.Calendar("BTCUSDT").get_bus_ttx(Stamp(stamp), EPOCH) == 0.0


@pytest.mark.parametrize("stamp, seconds, nanos", [
    (-1.0000000001, -1, 0),           # the fraction rounds up to the whole second
    (-86400.0000000004, -86400, 0),
    (-0.9999999999, -1, 0),           # rounds down to the floored second
    (-1.5, -2, 500_000_000),
    (-59.25, -60, 750_000_000),
])
def test_negative_timestamps_floor_and_keep_the_fraction(stamp, seconds, nanos):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        m = tessel.VolGeo(Stamp(stamp))
        m.expiry
    assert m.__reduce__()[1][1:3] == (seconds, nanos)


def test_a_positive_fraction_rounding_up_keeps_its_rules():
    # Second 59 of a minute takes it as a leap second; any other refuses it.
    m = tessel.VolGeo(Stamp(59.9999999999))
    assert m.__reduce__()[1][1:3] == (59, 1_000_000_000)
    with pytest.raises(ValueError, match="Invalid timestamp"):
        tessel.VolGeo(Stamp(58.9999999999))


# ---------------------------------------------------------------------------
# every model that can be built can be pickled and copied exactly
# ---------------------------------------------------------------------------

# Seconds since the epoch: years 0 and -1, 10000, far past and future, a
# leap second's instant, and a sub-microsecond fraction.
EXTREME_STAMPS = [-62167219200.0, -62198755200.5, 253402300800.0, 8e12, -8e12,
                  59.9999999999, 1735689600.123456789, -1e-9]


def _state(m):
    return m.__reduce__()[1]


@pytest.mark.filterwarnings("ignore:ignored leap-second")
@pytest.mark.parametrize("stamp", EXTREME_STAMPS)
@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy,
                                    *(lambda m, p=p: pickle.loads(pickle.dumps(m, p))
                                      for p in (0, 2, pickle.HIGHEST_PROTOCOL))])
def test_every_expiry_round_trips_bit_for_bit(model_cls, stamp, copier):
    m = model_cls(Stamp(stamp), ref_vol=math.pi, vpr=-0.0)
    back = copier(m)
    assert type(back) is model_cls and back is not m
    assert _state(back) == _state(m)
    assert repr(back) == repr(m)
    assert math.copysign(1.0, back.get_parameter("vpr")) == -1.0


def test_a_model_beyond_year_9999_still_refuses_its_datetime_but_travels():
    m = tessel.GVVSpline(Stamp(8e12))  # in the year 255479
    with pytest.raises(ValueError) as own:
        datetime(255479, 1, 1)
    with pytest.raises(ValueError) as refused:
        m.expiry
    assert str(refused.value) == str(own.value)
    assert "expiry=8000000000000.000000000" in repr(m)
    back = pickle.loads(pickle.dumps([m, tessel.Calendar("BTCUSDT")]))
    assert _state(back[0]) == _state(m)
    assert repr(back[1]) == "Calendar(underlying='BTCUSDT')"


@pytest.mark.parametrize("seconds, nanos", [
    (0, -1), (0, 1_000_000_000), (59, 2_000_000_000), (2**62, 0), (-2**62, 0), (2**63 - 1, 0),
])
def test_a_state_that_no_timestamp_gives_is_refused(seconds, nanos):
    with pytest.raises(ValueError, match="^Invalid timestamp$"):
        tessel._model_from_state("VolGeo", seconds, nanos, {})


def test_a_state_of_the_wrong_kind_is_refused():
    with pytest.raises(TypeError, match="argument 'seconds'"):
        tessel._model_from_state("VolGeo", 1.5, 0, {})
    with pytest.raises(OverflowError):
        tessel._model_from_state("VolGeo", 2**64, 0, {})
