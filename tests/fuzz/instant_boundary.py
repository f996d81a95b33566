"""Instants through the interpreter boundary, driven by atheris.

Whatever a `timestamp()` returns (a float, an int, a float subclass, NaN, a
huge int), the module either raises the documented error or produces the
instant that exact arithmetic predicts: seconds by floor, the fraction rounded
to the nearest nanosecond (carrying into the seconds before 1970), shown as a
UTC datetime rounded to the microsecond, within one microsecond of what
`datetime.fromtimestamp` makes of the same number. `Calendar.get_cal_ttx` is the truncated whole seconds between two such
instants, and `get_bus_ttx` is antisymmetric.

Run: python tests/fuzz/instant_boundary.py [libFuzzer flags] [corpus dirs]
(the module is imported from PYTHONPATH).
"""
import math
import sys
import warnings
from datetime import datetime, timedelta, timezone
from fractions import Fraction

import atheris

import tessel

UTC = timezone.utc
EPOCH = datetime(1970, 1, 1, tzinfo=UTC)
CAL = tessel.Calendar("BTCUSDT")
FIRST_DAY = -96465658  # days from 1970-01-01 to -262144-01-01
LAST_DAY = 95026601    # days from 1970-01-01 to 262143-12-31


class Stamp:
    def __init__(self, value):
        self.value = value

    def timestamp(self):
        return self.value


class FloatLike(float):
    pass


@atheris.instrument_func
def expected_instant(a):
    """(seconds, nanoseconds) or None for "Invalid timestamp"; a is a float."""
    if math.isnan(a):
        return 0, 0
    if math.isinf(a) or abs(a) >= 2.0**63:
        return None
    s = math.floor(a)
    scaled = Fraction((a - s) * 1e9)  # the same double product the module rounds
    n = math.floor(scaled + Fraction(1, 2))  # halves away from zero (scaled >= 0)
    if a < 0 and n == 10**9:  # before 1970 a whole-second fraction carries
        s, n = s + 1, 0
    if not FIRST_DAY <= s // 86400 <= LAST_DAY or n >= 2 * 10**9:
        return None
    if n >= 10**9 and s % 60 != 59:
        return None
    return s, n


def expected_datetime(s, n):
    micros = (n % 10**9 + 500) // 1000
    return EPOCH + timedelta(seconds=s, microseconds=micros)


def instant_of(value):
    """The module's datetime for an object whose timestamp() is `value`, or the exception."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            dt = tessel.VolGeo(Stamp(value)).expiry
        except (ValueError, OverflowError) as e:
            return e, caught
    return dt, caught


@atheris.instrument_func
def check_one(value):
    try:
        a = float(value)
    except OverflowError:
        result, _ = instant_of(value)
        assert isinstance(result, OverflowError), (value, result)
        return None
    want = expected_instant(a)
    result, caught = instant_of(value)
    if want is None:
        assert isinstance(result, ValueError) and str(result) == "Invalid timestamp", (value, result)
        return None
    s, n = want
    try:
        dt = expected_datetime(s, n)
    except OverflowError:  # outside datetime's years 1 to 9999
        assert isinstance(result, (ValueError, OverflowError)), (value, result)
        return want
    assert isinstance(result, datetime), (value, result)
    assert result == dt and result.tzinfo is UTC and result.fold == 0, (value, result, dt)
    leap = n >= 10**9
    assert leap == any("leap-second" in str(w.message) for w in caught), (value, caught)
    # Python's own reading of the number, one microsecond apart at most
    # (the module rounds twice, to nanoseconds and then to microseconds).
    try:
        py = datetime.fromtimestamp(a, UTC)
    except (OverflowError, ValueError, OSError):
        return want
    shown = result + timedelta(seconds=1) if leap else result
    assert abs(shown - py) <= timedelta(microseconds=1), (value, result, py)
    return want


@atheris.instrument_func
def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    values = []
    for _ in range(2):
        kind = fdp.ConsumeIntInRange(0, 3)
        if kind == 0:
            values.append(fdp.ConsumeFloat())
        elif kind == 1:
            values.append(FloatLike(fdp.ConsumeRegularFloat()))
        elif kind == 2:
            values.append(fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 140)))
        else:
            values.append(1735689600.0 + fdp.ConsumeFloatInRange(-4e8, 4e8))
    instants = [check_one(v) for v in values]
    if None in instants:
        return
    (sa, na), (sb, nb) = instants
    a, b = Stamp(values[0]), Stamp(values[1])
    span = tessel.Calendar.get_cal_ttx(a, b)
    whole = abs((sb - sa) * 10**9 + nb - na) // 10**9 * (1 if (sb, nb) >= (sa, na) else -1)
    assert span == float(whole) / 31536000, (values, span, whole)
    assert tessel.Calendar.get_cal_ttx(b, a) == -span
    try:
        ab = CAL.get_bus_ttx(a, b)
    except (ValueError, OverflowError):
        return
    ba = CAL.get_bus_ttx(b, a)
    assert ab == -ba or (math.isnan(ab) and math.isnan(ba)), (values, ab, ba)


def main():
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
