"""What a hostile or careless caller can hand the module: lengths that lie,
argument sizes that must cost only what they hold, classes that must not be
altered, instants at the edges of what a datetime can show."""
import copy
import math
import pickle
import signal
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
# a failing length is ignored, unless it is an interrupt or an exit
# ---------------------------------------------------------------------------

class Interrupt(BaseException):
    """Neither an Exception nor one of the interpreter's own."""


def _sigint():
    # A job started in the background inherits SIGINT ignored: the
    # interpreter's own handler is put in place for this one signal.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        signal.raise_signal(signal.SIGINT)
    finally:
        signal.signal(signal.SIGINT, previous)


class FailingLength(LyingSequence):
    def __init__(self, items, fail):
        super().__init__(items, 0)
        self.fail = fail

    def __len__(self):
        self.fail()


def _raiser(error):
    def fail():
        raise error
    return fail


def _length_readers(m, seq):
    """Every argument whose length is read as a hint, given as `seq(items)`."""
    return {
        "get_vol strikes": lambda: m.get_vol(0.5, 100.0, seq(STRIKES)),
        "get_jacobian strikes": lambda: m.get_jacobian(0.5, 100.0, seq(STRIKES), m.get_fitting_params()),
        "get_jacobian names": lambda: m.get_jacobian(0.5, 100.0, STRIKES, seq(m.get_fitting_params())),
    }


READERS = list(_length_readers(None, None))


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("error", [ValueError, TypeError, OverflowError, ArithmeticError, RecursionError,
                                   MemoryError], ids=lambda e: e.__name__)
def test_an_ordinary_failure_of_a_length_is_ignored(model_cls, reader, error):
    m = model_cls(EXPIRY)
    expected = _length_readers(m, list)[reader]()
    assert _length_readers(m, lambda items: FailingLength(items, _raiser(error("no length"))))[reader]() == expected


INTERRUPTS = {"KeyboardInterrupt": KeyboardInterrupt, "SystemExit": lambda: SystemExit(3),
              "GeneratorExit": GeneratorExit, "Interrupt": Interrupt}


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("make", [*INTERRUPTS.values(), None], ids=[*INTERRUPTS, "SIGINT"])
def test_an_interrupt_or_exit_while_a_length_is_read_propagates(model_cls, reader, make):
    m = model_cls(EXPIRY, ref_vol=42.0)
    before = m.get_param_dict()
    error = make() if make else None
    with pytest.raises(type(error) if error else KeyboardInterrupt) as info:
        _length_readers(m, lambda items: FailingLength(items, _raiser(error) if error else _sigint))[reader]()
    if error:
        assert info.value is error and error.__context__ is None and error.__cause__ is None
    assert m.get_param_dict() == before
    m.set_param("ref_vol", 43.0)  # the object is free again
    assert m.get_parameter("ref_vol") == 43.0


def test_a_dicts_own_length_is_never_asked(model_cls):
    # The parameter map sizes its room from the dict's own count.
    class InterruptingDict(dict):
        def __len__(self):
            raise KeyboardInterrupt

    params = {"ref_vol": 30.0, "vpr": 2.0}
    expected = model_cls.with_params(EXPIRY, params).get_param_dict()
    assert model_cls.with_params(EXPIRY, InterruptingDict(params)).get_param_dict() == expected
    assert model_cls(EXPIRY, **InterruptingDict(params)).get_param_dict() == expected


@pytest.mark.parametrize("error", [UserWarning, KeyboardInterrupt, SystemExit, Interrupt])
def test_a_repr_whose_datetime_fails_falls_back_unless_interrupted(model_cls, error):
    m = model_cls(Stamp(59.9999999999))  # a leap second: its datetime warns

    def show(*args, **kwargs):
        raise error("from showwarning")

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = show
        if issubclass(error, Exception):  # the instant's own text instead
            text = repr(m)
            assert text.startswith(f"{model_cls.__name__}(expiry=5") and "1970" not in text, text
        else:
            with pytest.raises(error, match="from showwarning"):
                repr(m)


@pytest.mark.parametrize("error", ["KeyboardInterrupt", "SystemExit", "ValueError", "AttributeError"])
def test_a_datetime_module_that_fails_is_passed_over_unless_interrupted(error):
    # A fresh interpreter, so that the module has not yet looked `datetime` up.
    code = textwrap.dedent(f"""
        import sys, types
        import tessel
        asked = []
        class Broken(types.ModuleType):
            def __getattr__(self, name):
                asked.append(name)
                raise {error}
        sys.modules["datetime"] = Broken("datetime")
        class Stamp:
            def __init__(self, v): self.v = v
            def timestamp(self): return self.v
        try:
            got = tessel.Calendar.get_cal_ttx(Stamp(0.0), Stamp(86400.0))
        except BaseException as e:
            got = type(e).__name__
        print(repr(got), bool(asked))
    """)
    out = subprocess.run([sys.executable, "-c", code], check=True, timeout=60, env=_child_env(),
                         capture_output=True, text=True).stdout.split()
    if error in ("KeyboardInterrupt", "SystemExit") and out[1] == "True":
        assert out[0] == repr(error)
    else:
        assert out[0] == repr(86400 / 31536000)


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
