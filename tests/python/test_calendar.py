"""The trading calendar through the Python surface, against the plain-Python
reference that the benchmarks time too (reference.py)."""
import math
import os
import random
from datetime import datetime, timedelta
from zoneinfo import ZoneInfo

import pytest
from hypothesis import given, settings, strategies as st

import reference
import tessel
from conftest import UTC

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")


with open(os.path.join(ROOT, "src", "calendar", "btcusdt.json"), encoding="utf-8") as f:
    REF = reference.PyCalendar(f.read())
Calendar = tessel.Calendar
EASTERN = ZoneInfo("US/Eastern")


def eastern(*args):
    return datetime(*args, tzinfo=EASTERN)


CAL = Calendar("BTCUSDT")


def test_construction_errors():
    for name in ("btcusdt", " BTCUSDT", "", "ETHUSDT", "BTCUSDT\0"):
        with pytest.raises(ValueError) as e:
            Calendar(name)
        assert str(e.value) == "No embedded calendar for underlying: " + name
    with pytest.raises(TypeError, match="^argument 'underlying': 'bytes' object is not an instance of 'str'$"):
        Calendar(b"BTCUSDT")


@pytest.mark.parametrize("a,b,expected", [
    (eastern(2025, 1, 6), eastern(2025, 1, 13), 5.7 / 297.4),
    (eastern(2025, 1, 6), eastern(2025, 1, 7), 1 / 297.4),
    (eastern(2025, 1, 11), eastern(2025, 1, 12), 0.27 / 297.4),
    (eastern(2024, 12, 31), eastern(2025, 1, 1), 1 / 298.4),
    (datetime(2025, 11, 2, 5, 30, tzinfo=UTC), datetime(2025, 11, 2, 6, 30, tzinfo=UTC), 0.0),
    (eastern(2025, 1, 1), eastern(2026, 1, 1), 1.0),
    (eastern(2023, 1, 1), eastern(2023, 1, 8), 5.7 / 296.93),
])
def test_worked_values(a, b, expected):
    got = CAL.get_bus_ttx(a, b)
    assert got == pytest.approx(expected, rel=0, abs=3e-13)
    assert CAL.get_bus_ttx(b, a) == -got


def test_year_boundaries_are_exact():
    assert CAL.get_bus_ttx(eastern(2025, 1, 1), eastern(2026, 1, 1)) == 1.0
    assert CAL.get_bus_ttx(eastern(2024, 1, 1), eastern(2025, 1, 1)) == 1.0


def test_spring_forward_skips_the_missing_hour():
    a = datetime(2025, 3, 9, 6, 59, tzinfo=UTC)  # 01:59 EST
    b = datetime(2025, 3, 9, 7, 0, tzinfo=UTC)  # 03:00 EDT
    sunday = REF.curves[6]
    weight = (sunday[8] - sunday[7]) / 15 + (sunday[12] - sunday[8])
    assert CAL.get_bus_ttx(a, b) == pytest.approx(weight / 297.4, rel=1e-9)


def test_cal_ttx():
    day = datetime(2025, 1, 1, tzinfo=UTC)
    assert Calendar.get_cal_ttx(day, day + timedelta(days=1)) == 86400 / 31536000
    assert Calendar.get_cal_ttx(day, day + timedelta(seconds=1.5)) == 1 / 31536000
    assert Calendar.get_cal_ttx(day + timedelta(seconds=1.5), day) == -1 / 31536000
    assert Calendar.get_cal_ttx(day, day) == 0.0
    assert CAL.get_cal_ttx(day, day + timedelta(days=365)) == 1.0  # static, also through an instance


def test_sub_second_parts_are_ignored():
    a = datetime(2025, 5, 5, 14, 0, 0, 100, tzinfo=UTC)
    assert CAL.get_bus_ttx(a, a.replace(microsecond=999000)) == 0.0


instants = st.datetimes(min_value=datetime(1975, 1, 1), max_value=datetime(2060, 1, 1), timezones=st.just(UTC))


@settings(max_examples=400, deadline=None)
@given(a=instants, b=instants)
def test_against_reference(a, b):
    assert CAL.get_bus_ttx(a, b) == REF.get_bus_ttx(a, b)
    assert CAL.get_bus_ttx(b, a) == -CAL.get_bus_ttx(a, b)


@settings(max_examples=200, deadline=None)
@given(a=instants, minutes=st.integers(min_value=0, max_value=60 * 24 * 40))
def test_business_time_never_decreases_outside_the_fall_back_hour(a, minutes):
    b = a + timedelta(minutes=minutes)
    # On the night the clocks go back the coordinate steps back by design.
    if any(a.astimezone(EASTERN).dst() != (a + timedelta(days=d)).astimezone(EASTERN).dst()
           for d in range(0, minutes // 1440 + 2)):
        return
    assert CAL.get_bus_ttx(a, b) >= 0.0


def instants_around_every_change(first_year, end_year, seed):
    """Both sides of every offset change of the zone, local new years, and
    random instants, in a shuffled order."""
    out = []
    for change in reference.offset_changes(EASTERN, first_year, end_year):
        out += [change + timedelta(seconds=d) for d in (-3601, -3600, -1, 0, 1, 3599, 3600)]
    for y in range(first_year, end_year):
        new_year = datetime(y, 1, 1, tzinfo=EASTERN).astimezone(UTC)
        out += [new_year - timedelta(seconds=1), new_year]
    rng = random.Random(seed)
    first = int(datetime(first_year, 1, 1, tzinfo=UTC).timestamp())
    end = int(datetime(end_year, 1, 1, tzinfo=UTC).timestamp())
    out += [datetime.fromtimestamp(rng.randrange(first, end), UTC) for _ in range(3000)]
    out = [t + timedelta(microseconds=rng.choice((0, 1, 500000, 999999))) for t in out]
    rng.shuffle(out)
    return out


def test_every_offset_change_and_year_end_against_reference():
    # One warm calendar meets the instants in a random order, each against its
    # neighbour and against a fixed expiry, in both directions: every pairing
    # of offset periods and of years a pricing loop can make, across 1900-2200.
    instants = instants_around_every_change(1900, 2200, seed=13)
    assert len(instants) > 6000
    warm = Calendar("BTCUSDT")
    expiry = datetime(2026, 6, 26, 8, tzinfo=UTC)
    for i, a in enumerate(instants):
        b = instants[i - 1]
        expected = REF.get_bus_ttx(a, b)
        assert warm.get_bus_ttx(a, b) == expected, (a, b)
        assert warm.get_bus_ttx(b, a) == -expected, (b, a)
        assert warm.get_bus_ttx(a, expiry) == REF.get_bus_ttx(a, expiry), a
        if i % 500 == 0:
            assert Calendar("BTCUSDT").get_bus_ttx(a, b) == expected, (a, b)


def test_cache_does_not_change_results():
    fresh = Calendar("BTCUSDT")
    pairs = [(eastern(1999, 3, 3, 9, 41), eastern(2031, 7, 1, 16, 2)), (eastern(2025, 2, 2), eastern(2025, 2, 9))]
    first = [fresh.get_bus_ttx(a, b) for a, b in pairs]
    assert [fresh.get_bus_ttx(a, b) for a, b in pairs] == first == [Calendar("BTCUSDT").get_bus_ttx(a, b)
                                                                   for a, b in pairs]


@pytest.mark.parametrize("tenor,expected", [
    ("1y", 1.0), ("0.5y", 0.5), (".5y", 0.5), ("5.y", 5.0), ("6m", 180 / 365), ("12m", 360 / 365),
    ("2w", 14 / 365), ("52w", 364 / 365), ("1d", 1 / 365), ("365d", 1.0), ("1e1d", 10 / 365), ("-1d", -1 / 365),
    ("+3m", 90 / 365), ("1E+2d", 100 / 365), ("infy", math.inf), ("-INFd", -math.inf), ("Infinityw", math.inf),
    ("1e400d", math.inf), ("infinityy", math.inf), ("1e-400y", 0.0), ("0.1y", 0.1), ("3.0000000000000001m", 90 / 365),
])
def test_tenors(tenor, expected):
    assert Calendar.tenor_to_ttx(tenor) == expected


def test_nan_tenor():
    assert math.isnan(Calendar.tenor_to_ttx("NaNm"))
    assert math.isnan(Calendar.tenor_to_ttx("-nand"))


@pytest.mark.parametrize("tenor,message", [
    ("", "Invalid tenor format: "), ("1Y", "Invalid tenor format: 1Y"), ("3M", "Invalid tenor format: 3M"),
    ("1.5", "Invalid tenor format: 1.5"), ("1y ", "Invalid tenor format: 1y "), ("1é", "Invalid tenor format: 1é"),
    ("y", "cannot parse float from empty string"), ("1 y", "invalid float literal"), (" 1y", "invalid float literal"),
    ("+y", "invalid float literal"), ("-d", "invalid float literal"), ("ey", "invalid float literal"),
    ("1ed", "invalid float literal"), ("0x10d", "invalid float literal"), ("1_000d", "invalid float literal"),
    ("..5y", "invalid float literal"), ("infinitey", "invalid float literal"),
    ("١y", "invalid float literal"),
])
def test_tenor_errors(tenor, message):
    with pytest.raises(ValueError) as e:
        Calendar.tenor_to_ttx(tenor)
    assert str(e.value) == message


@settings(max_examples=500, deadline=None)
@given(st.from_regex(r"\A[+-]?([0-9]{1,20}(\.[0-9]{0,20})?|\.[0-9]{1,20})([eE][+-]?[0-9]{1,3})?\Z"))
def test_tenor_numbers_read_like_python_float(number):
    assert Calendar.tenor_to_ttx(number + "y") == float(number)


def test_environment_is_not_consulted():
    # Zones come from the compiled-in database and the JSON kernel is chosen
    # by the module: variables that steer the libraries change nothing.
    import subprocess
    import sys

    code = ("import tessel, datetime as d; u = d.timezone.utc; "
            "print(repr(tessel.Calendar('BTCUSDT').get_bus_ttx(d.datetime(2025, 1, 6, tzinfo=u), "
            "d.datetime(2025, 3, 9, 7, tzinfo=u))))")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path), "SIMDJSON_FORCE_IMPLEMENTATION": "none",
           "TZDIR": "/nonexistent", "TZ": "Asia/Tokyo"}
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    expected = CAL.get_bus_ttx(datetime(2025, 1, 6, tzinfo=UTC), datetime(2025, 3, 9, 7, tzinfo=UTC))
    assert float(out.stdout) == expected
