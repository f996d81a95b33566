"""Import-and-compute check of one build under whichever interpreter runs it."""
import os
import sys

if len(sys.argv) > 1:
    sys.path.insert(0, sys.argv[1])

from datetime import datetime, timezone

import tessel

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "python"))
from names import PUBLIC  # noqa: E402

assert tessel.__all__ == PUBLIC, tessel.__all__
assert tessel.b76_fairvalue(100.0, 100.0, 1.0, 0.2, "call") == 7.965567455405804
assert tessel.b76_vega(100, 100, 1, 0.2) == 39.69525474770118
expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
model = tessel.GVVSpline(expiry, ref_vol=20.0)
assert model.expiry == expiry
assert model.get_vol_single(0.25, 100.0, 100.0) == 0.2
cal = tessel.Calendar("BTCUSDT")
t0 = datetime(2025, 1, 6, 5, tzinfo=timezone.utc)
assert abs(cal.get_bus_ttx(t0, datetime(2025, 1, 13, 5, tzinfo=timezone.utc)) - 5.7 / 297.4) < 1e-12
assert tessel.Calendar.tenor_to_ttx("1y") == 1.0
# The classes are immutable on every release, so no instance skips its constructor.
for cls in (tessel.Calendar, tessel.VolGeo):
    try:
        cls.__new__ = staticmethod(lambda c, *a, **k: object.__new__(c))
    except TypeError:
        continue
    raise AssertionError(f"{cls.__name__} accepted a new __new__")
# Calls that return None must hand out a reference of their own: before 3.12
# None is mortal, and a module that forgets the increment kills the process.
# From 3.12 on None is immortal and its count means nothing.
if sys.version_info < (3, 12):
    nones = sys.getrefcount(None)
    for _ in range(200_000):
        model.set_param("vpr", 1.0)
    assert abs(sys.getrefcount(None) - nones) < 1000, (nones, sys.getrefcount(None))
# On every release the arguments' counts come back where they were (objects
# made at run time are mortal).
name, value = "".join(("v", "pr")), float("1.5")
counts = sys.getrefcount(name), sys.getrefcount(value)
for _ in range(200_000):
    model.set_param(name, value)
assert (sys.getrefcount(name), sys.getrefcount(value)) == counts, counts
print(f"ok: {sys.version.split()[0]} {tessel.__file__}")
