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
