"""Conversions of arguments and results."""
import array
import math
import warnings
from datetime import datetime, timedelta, timezone

import pytest
from hypothesis import given, settings, strategies as st

import tessel
from conftest import EXPIRY, UTC, Flt, Stamp

GEO = tessel.VolGeo(EXPIRY)


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v



@pytest.mark.parametrize("value,expected", [
    (True, 1.0), (False, 0.0), (3, 3.0), (Index(7), 7.0), (Flt(2.5), 2.5), (-1.0, -1.0), (Flt(-1.0), -1.0),
    (float("inf"), math.inf), (2**53 + 1, 9007199254740992.0),
])
def test_float_rule_accepts(value, expected):
    # b76_vega is linear in df, so df reads back the converted number.
    assert tessel.b76_vega(100, 100, 1, 0.2, value) == pytest.approx(expected * tessel.b76_vega(100, 100, 1, 0.2),
                                                                     rel=1e-15)


@pytest.mark.parametrize("value,exc,message", [
    ("1.5", TypeError, "argument 'df': must be real number, not str"),
    (None, TypeError, "argument 'df': must be real number, not NoneType"),
    (b"1", TypeError, "argument 'df': must be real number, not bytes"),
    ([1.0], TypeError, "argument 'df': must be real number, not list"),
    (10**400, OverflowError, None),
    (Index(10**400), OverflowError, None),
])
def test_float_rule_refuses(value, exc, message):
    with pytest.raises(exc) as e:
        tessel.b76_vega(100, 100, 1, 0.2, value)
    if message:
        assert str(e.value) == message


@pytest.mark.parametrize("strikes,expected", [
    ((90, 100.0, 110), [90.0, 100.0, 110.0]), ([], []), (b"AB", [65.0, 66.0]), (range(90, 93), [90.0, 91.0, 92.0]),
    (array.array("d", [1.5, 2.5]), [1.5, 2.5]), ([Flt(4.0), Index(5)], [4.0, 5.0]),
])
def test_sequence_of_doubles(strikes, expected):
    # A skewed smile gives every strike its own volatility, so order and count show.
    m = tessel.VolGeo(EXPIRY, corr=0.3)
    vols = m.get_vol(1.0, 100.0, strikes)
    assert vols == [m.get_vol_single(1.0, 100.0, k) for k in expected]


@pytest.mark.parametrize("strikes,message", [
    ("90", "argument 'strikes': Can't extract `str` to `Vec`"),
    ({90.0}, "argument 'strikes': 'set' object is not an instance of 'Sequence'"),
    ({90.0: 1}, "argument 'strikes': 'dict' object is not an instance of 'Sequence'"),
    (iter([1.0]), "argument 'strikes': 'list_iterator' object is not an instance of 'Sequence'"),
    (None, "argument 'strikes': 'NoneType' object is not an instance of 'Sequence'"),
    ([1.0, "x"], "argument 'strikes': must be real number, not str"),
])
def test_sequence_refusals(strikes, message):
    with pytest.raises(TypeError) as e:
        GEO.get_vol(1.0, 100.0, strikes)
    assert str(e.value) == message


def test_sequence_of_texts():
    assert set(GEO.get_jacobian(1.0, 100.0, [100.0], ("vvol", "corr"))) == {"vvol", "corr"}
    with pytest.raises(TypeError, match="^argument 'params': Can't extract `str` to `Vec`$"):
        GEO.get_jacobian(1.0, 100.0, [100.0], "vvol")
    with pytest.raises(TypeError, match="^argument 'params': 'int' object is not an instance of 'str'$"):
        GEO.get_jacobian(1.0, 100.0, [100.0], ["vvol", 3])


def test_sequence_mutated_while_converting_is_safe():
    ks = [1.0, 2.0, 3.0]

    class Shrink:
        def __float__(self):
            ks.clear()
            return 100.0

    ks.insert(1, Shrink())
    assert len(GEO.get_vol(1.0, 100.0, ks)) == 2  # 1.0 and the Shrink element, then the list is empty


def test_text_rule():
    with pytest.raises(UnicodeEncodeError):
        tessel.b76_fairvalue(100, 100, 1, 0.2, "\ud800")

    class S(str):
        pass

    assert tessel.b76_fairvalue(100, 100, 1, 0.2, S("call")) == tessel.b76_fairvalue(100, 100, 1, 0.2, "call")


def test_parameter_map_accepts_subclass_and_ints():
    class D(dict):
        pass

    m = tessel.VolGeo.with_params(EXPIRY, D(ref_vol=30, vvol=True))
    assert m.get_parameter("ref_vol") == 30.0 and m.get_parameter("vvol") == 1.0
    assert type(m.get_parameter("ref_vol")) is float


# ---- instants ----

@pytest.mark.parametrize("dt", [
    datetime(2025, 1, 1, tzinfo=UTC), datetime(1970, 1, 1, tzinfo=UTC), datetime(1, 1, 1, tzinfo=UTC),
    datetime(9999, 12, 31, 23, 59, 59, tzinfo=UTC), datetime(1969, 12, 31, 23, 59, 59, 500000, tzinfo=UTC),
    datetime(1900, 6, 1, 12, 0, 0, 123457, tzinfo=UTC),
    datetime(2025, 1, 1, 0, 0, 0, 123456, tzinfo=UTC),
])
def test_instant_round_trip(dt):
    got = tessel.GVVSpline(dt).expiry
    assert got == dt and got.tzinfo is timezone.utc and got.fold == 0


@settings(max_examples=300, deadline=None)
@given(st.datetimes(min_value=datetime(1970, 1, 1), max_value=datetime(2100, 1, 1),
                    timezones=st.sampled_from([timezone.utc, timezone(timedelta(hours=-5)),
                                               timezone(timedelta(hours=5, minutes=30))])))
def test_aware_datetimes_read_back_equal(dt):
    assert tessel.VolGeo(dt).expiry == dt


@pytest.mark.parametrize("stamp,expected", [
    (float("nan"), datetime(1970, 1, 1, tzinfo=UTC)),
    (-1.5, datetime(1969, 12, 31, 23, 59, 58, 500000, tzinfo=UTC)),
    (-0.25, datetime(1969, 12, 31, 23, 59, 59, 750000, tzinfo=UTC)),
    (1735689600, datetime(2025, 1, 1, tzinfo=UTC)),
    (Flt(86400.0), datetime(1970, 1, 2, tzinfo=UTC)),
    (0.0000004, datetime(1970, 1, 1, tzinfo=UTC)),
    (0.9999996, datetime(1970, 1, 1, 0, 0, 1, tzinfo=UTC)),  # rounds up into the next second
])
def test_instant_from_timestamp(stamp, expected):
    assert tessel.GVVSpline(Stamp(stamp)).expiry == expected


@pytest.mark.parametrize("stamp", [1e300, -1e300, float("inf"), float("-inf"), 0.9999999999, 2.0**63, -(2.0**63)])
def test_invalid_timestamps(stamp):
    with pytest.raises(ValueError) as e:
        tessel.GVVSpline(Stamp(stamp))
    assert str(e.value) == "Invalid timestamp"


def test_far_instants_convert_but_do_not_read_back():
    m = tessel.GVVSpline(Stamp(-5e12))  # about 156,000 BC: inside the range of instants, outside datetime's
    with pytest.raises(ValueError):
        m.expiry
    assert tessel.Calendar.get_cal_ttx(Stamp(-5e12), Stamp(0.0)) == 5e12 / 31536000


def test_leap_second_warns():
    # 59.9999999999 rounds to a full second on the 59th second of a minute: a leap second.
    m = tessel.GVVSpline(Stamp(59.9999999999))
    with warnings.catch_warnings(record=True) as w:
        warnings.simplefilter("always")
        dt = m.expiry
    assert dt == datetime(1970, 1, 1, 0, 0, 59, tzinfo=UTC)  # the leap second still shows second 59
    assert [str(x.message) for x in w] == ["ignored leap-second, `datetime` does not support leap-seconds"]
    assert w[0].category is UserWarning


def test_naive_datetime_uses_local_time():
    naive = datetime(2025, 6, 1, 12, 0)
    assert tessel.GVVSpline(naive).expiry == naive.astimezone(timezone.utc)


def test_timestamp_errors_propagate():
    class Boom:
        def timestamp(self):
            raise KeyError("k")

    with pytest.raises(KeyError):
        tessel.VolGeo(Boom())
    with pytest.raises(TypeError, match="'int' object is not callable"):
        tessel.VolGeo(type("T", (), {"timestamp": 3})())
