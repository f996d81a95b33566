import os
import sys
from datetime import datetime, timezone

import pytest

# The plain build, unless PYTHONPATH names the build to test (the sanitizer run does).
BUILD = os.path.join(os.path.dirname(__file__), "..", "..", "build")
if "PYTHONPATH" not in os.environ and os.path.isdir(BUILD):
    sys.path.insert(0, os.path.abspath(BUILD))

import tessel  # noqa: E402
from names import FUNCTIONS, MODELS, PUBLIC  # noqa: E402,F401

# The plain-Python reference of the formulas (reference.py here), which the benchmarks time too.
import reference  # noqa: E402,F401

UTC = timezone.utc
EXPIRY = datetime(2025, 3, 28, 8, tzinfo=UTC)
MODEL_CLASSES = [getattr(tessel, name) for name in MODELS]

# Each model's parameter table: names with defaults, in storage order (the
# order repr shows). Its formulas and fitting parameters are the reference's.
MODEL_TABLES = {
    "GVVSpline": {"vpr": 1.0, "ref_spot": 100.0, "ref_vol": 50.0, "skew": 0.0, "smile": 5.0, "pwing": 0.0,
                  "cwing": 0.0, "offset": 0.0},
    "VolGeo": {"vpr": 1.0, "ref_spot": 100.0, "ref_vol": 50.0, "corr": 0.0, "vvol": 20.0, "offset": 0.0},
    "CubicSpline": {"vpr": 1.0, "ref_spot": 100.0, "ref_vol": 50.0, "p05": 0.0, "p10": 0.0, "p15": 0.0, "p20": 0.0,
                    "p25": 0.0, "c05": 0.0, "c10": 0.0, "c15": 0.0, "c20": 0.0, "c25": 0.0},
}
MODEL_FITTING = reference.FITTING

# A shape of each model that passes arb_free, for comparisons and bumps.
MODEL_SHAPES = {
    "GVVSpline": dict(ref_vol=20.0, skew=-10.0, smile=5.0, pwing=10.0, cwing=5.0),
    "VolGeo": dict(ref_vol=60.0, corr=-0.4, vvol=80.0, vpr=0.7, ref_spot=95.0),
    "CubicSpline": dict(ref_vol=20.0, p05=1.0, p10=1.0, p15=1.0, p20=1.0, p25=1.0, c05=-0.5, c10=-0.5,
                        c15=0.0, c20=0.5, c25=1.0, ref_spot=98.0),
}

# A non-default value for every parameter, so a lost or swapped one shows.
MODEL_EVERY_PARAMETER_SET = {
    "GVVSpline": dict(vpr=1.5, ref_spot=101.0, ref_vol=22.0, skew=-7.5, smile=6.25, pwing=3.0, cwing=1.5,
                      offset=0.125),
    "VolGeo": dict(vpr=0.75, ref_spot=99.0, ref_vol=31.0, corr=-0.4, vvol=85.0, offset=-2.0),
    "CubicSpline": dict(vpr=1.25, ref_spot=98.0, ref_vol=27.0, p05=1.0, p10=0.5, p15=2.0, p20=3.0, p25=4.0,
                        c05=-0.5, c10=0.25, c15=1.0, c20=1.5, c25=2.5),
}


@pytest.fixture(params=MODEL_CLASSES, ids=lambda c: c.__name__)
def model_cls(request):
    return request.param


class Flt:
    """A number only through __float__."""

    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


class Stamp:
    """An instant only through timestamp()."""

    def __init__(self, v):
        self.v = v

    def timestamp(self):
        return self.v


def panic_type():
    """The module's PanicException, which it does not export: provoke one."""

    class Shrinking:
        def __float__(self):
            d.clear()
            return 1.0

    d = {"ref_vol": Shrinking(), "vvol": 2.0}
    try:
        tessel.VolGeo.with_params(EXPIRY, d)
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("no panic")
