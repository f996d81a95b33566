"""Every callable, many thousands of times, on its success and its error paths:
neither the process's memory nor the reference counts of the arguments grow.

Memory is read three ways: the interpreter's own allocated blocks (a leaked
Python object), the C heap's bytes in use (a leaked C++ allocation) and the
resident set size (anything else)."""
import ctypes
import ctypes.util
import gc
import inspect
import math
import pickle
import sys
import warnings
from datetime import datetime

import pytest

import tessel
from conftest import EXPIRY, FUNCTIONS, MODEL_CLASSES, UTC, Flt, Stamp, panic_type

WARMUP, ROUNDS = 300, 3000
LATER = datetime(2026, 1, 1, tzinfo=UTC)
PANIC = panic_type()


# ---- memory probes ----
# Under a sanitizer runtime (or PYTHONMALLOC=malloc) the C heap and the
# interpreter's block count are not visible, and quarantined memory stays
# resident; there only the reference counts are checked, and the sanitizer
# watches the memory itself.

class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def _heap_probe():
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    mallinfo2 = getattr(libc, "mallinfo2", None)
    if mallinfo2 is None:
        return None
    mallinfo2.restype = _MallInfo2

    def probe():
        info = mallinfo2()
        return info.uordblks + info.hblkhd

    before = probe()
    buffer = ctypes.create_string_buffer(1 << 20)  # from malloc
    sensitive = probe() - before >= 1 << 20
    del buffer
    return probe if sensitive else None


def _blocks_probe():
    before = sys.getallocatedblocks()
    kept = [object() for _ in range(1000)]
    sensitive = sys.getallocatedblocks() - before >= 1000
    del kept
    return sys.getallocatedblocks if sensitive else None


HEAP = _heap_probe()
BLOCKS = _blocks_probe()


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def snapshot():
    gc.collect()
    return (BLOCKS() if BLOCKS else 0), (HEAP() if HEAP else 0), rss_bytes()


# ---- arguments whose reference counts are watched ----

class Index:
    def __index__(self):
        return 7


class Raising:
    def __float__(self):
        raise ZeroDivisionError("from __float__")

    def timestamp(self):
        raise ZeroDivisionError("from timestamp()")


class Shrinking:
    def __init__(self, d):
        self.d = d

    def __float__(self):
        self.d.pop("b", None)
        return 1.0


STRIKES = [80.0, 100.0, 125.0, 1e-300, math.nan]
NAMES = ["ref_vol", "vpr", "nope", "vvol"]
CAL = tessel.Calendar("BTCUSDT")
MODELS = {cls.__name__: cls(EXPIRY, ref_spot=100.0, skew=-1.0, corr=-0.2) for cls in MODEL_CLASSES}
NUMBER, INDEX, RAISING, STAMP = Flt(100.0), Index(), Raising(), Stamp(1735689600.25)
LEAP = Stamp(1735689599.9999999995)  # rounds onto a leap second: warns
HUGE = 10**400
SURROGATE = "\ud800"
BIG_DICT = {"ref_vol": 55.0, "vvol": NUMBER, "not_a_parameter": 1.0}


def refilled():
    d = {"a": 1.0, "b": 2.0}
    d["a"] = Shrinking(d)
    return d


def cases():
    """(id, call, expected exception or None, the objects whose counts must stay)."""
    out = []

    def add(name, call, error=None, watched=()):
        out.append(pytest.param(call, error, watched, id=name))

    # Every public function, its arguments read from its own signature.
    good = {"fwd": NUMBER, "strike": 100.0, "ttx": 1.0, "vol": 0.2, "price": 7.9, "call_put": "call", "df": INDEX}
    for name in FUNCTIONS:
        f = getattr(tessel, name)
        params = list(inspect.signature(f).parameters)

        def args(**changed):
            return [changed.get(p, good[p]) for p in params]

        add(name, lambda f=f, a=args(): f(*a), None, (NUMBER, INDEX))
        add(f"{name}-not-a-number", lambda f=f, a=args(strike=STRIKES): f(*a), TypeError, (STRIKES,))
        add(f"{name}-raising", lambda f=f, a=args(ttx=RAISING): f(*a), ZeroDivisionError, (RAISING,))
        add(f"{name}-huge", lambda f=f, a=args(fwd=HUGE): f(*a), OverflowError, (HUGE,))
        add(f"{name}-keywords", lambda f=f, a=args()[:3]: f(*a, sigma=0.2), TypeError)
        add(f"{name}-too-many", lambda f=f, a=args(): f(*a, 1.0), TypeError)
        add(f"{name}-twice", lambda f=f, a=args()[:4], first=params[0]: f(*a, **{first: 1.0}), TypeError)
        add(f"{name}-missing", lambda f=f: f(1.0, 100.0), TypeError)
        if "call_put" in params:
            add(f"{name}-bad-type", lambda f=f, a=args(call_put="straddle"): f(*a), ValueError)
            add(f"{name}-surrogate", lambda f=f, a=args(call_put=SURROGATE): f(*a), UnicodeEncodeError, (SURROGATE,))
    add("calibrate_black76_iv-nan", lambda: tessel.calibrate_black76_iv(1.0, 100.0, 100.0, 150.0, "c"))

    for cname, m in MODELS.items():
        cls = type(m)
        add(f"{cname}()", lambda cls=cls: cls(STAMP, ref_vol=NUMBER, nope=1.0), None, (STAMP, NUMBER))
        add(f"{cname}()-bad-param", lambda cls=cls: cls(STAMP, ref_vol="x"), TypeError, (STAMP,))
        add(f"{cname}()-bad-expiry", lambda cls=cls: cls(Stamp(1e300)), ValueError)
        add(f"{cname}()-no-timestamp", lambda cls=cls: cls(1.0), AttributeError)
        add(f"{cname}()-raising-expiry", lambda cls=cls: cls(RAISING), ZeroDivisionError, (RAISING,))
        add(f"{cname}()-leap-second", lambda cls=cls: cls(LEAP).expiry, None, (LEAP,))
        add(f"{cname}.with_params", lambda cls=cls: cls.with_params(STAMP, BIG_DICT), None, (STAMP, BIG_DICT))
        add(f"{cname}.with_params-not-a-dict", lambda cls=cls: cls.with_params(STAMP, NAMES), TypeError, (NAMES,))
        add(f"{cname}.with_params-panic", lambda cls=cls: cls.with_params(STAMP, refilled()), PANIC)
        add(f"{cname}.get_vol", lambda m=m: m.get_vol(0.5, NUMBER, STRIKES), None, (NUMBER, STRIKES))
        add(f"{cname}.get_vol-str", lambda m=m: m.get_vol(0.5, 100.0, "90"), TypeError)
        add(f"{cname}.get_vol-bad-element", lambda m=m: m.get_vol(0.5, 100.0, [1.0, RAISING]), ZeroDivisionError)
        add(f"{cname}.get_vol-set", lambda m=m: m.get_vol(0.5, 100.0, {1.0}), TypeError)
        add(f"{cname}.get_vol_single", lambda m=m: m.get_vol_single(0.5, 100.0, INDEX), None, (INDEX,))
        add(f"{cname}.arb_free", lambda m=m: m.arb_free())
        add(f"{cname}.arb_free-args", lambda m=m: m.arb_free(1), TypeError)
        add(f"{cname}.get_parameter", lambda m=m: (m.get_parameter("ref_vol"), m.get_parameter("nope")))
        add(f"{cname}.get_parameter-bad", lambda m=m: m.get_parameter(None), TypeError)
        add(f"{cname}.set_param", lambda m=m: m.set_param("vpr", NUMBER), None, (NUMBER,))
        add(f"{cname}.set_param-bad", lambda m=m: m.set_param("vpr", "x"), TypeError)
        add(f"{cname}.get_param_dict", lambda m=m: m.get_param_dict())
        add(f"{cname}.get_fitting_params", lambda m=m: m.get_fitting_params())
        add(f"{cname}.reanchor", lambda m=m: m.reanchor(100.0, 0.5))
        add(f"{cname}.bump_param", lambda m=m: (m.bump_param("ref_vol", 0.0), m.bump_param("ref_vol", -1e9)))
        add(f"{cname}.get_jacobian", lambda m=m: m.get_jacobian(0.5, 100.0, STRIKES, NAMES), None,
            (STRIKES, NAMES))
        add(f"{cname}.get_jacobian-bad-name", lambda m=m: m.get_jacobian(0.5, 100.0, STRIKES, ["a", 1]), TypeError)
        add(f"{cname}.expiry", lambda m=m: m.expiry)
        add(f"{cname}.expiry-set", lambda m=m: setattr(m, "expiry", EXPIRY), AttributeError)
        add(f"{cname}-repr-pickle", lambda m=m: pickle.loads(pickle.dumps(m)) and repr(m))
        add(f"{cname}.self-check", lambda cls=cls: cls.get_vol(CAL, 0.5, 100.0, STRIKES), TypeError, (CAL,))

        class Reader:  # one class for all calls: a class per call grows interpreter tables
            def __float__(self, m=m):
                return m.get_param_dict()
        reader = Reader()
        add(f"{cname}-reentrant", lambda m=m, r=reader: m.set_param("vpr", r), RuntimeError, (reader,))

    add("Calendar", lambda: tessel.Calendar("BTCUSDT"))
    add("Calendar-unknown", lambda: tessel.Calendar("ETHUSDT"), ValueError)
    add("Calendar-keyword", lambda: tessel.Calendar("x", y=1), TypeError)
    add("Calendar-repr-pickle", lambda: pickle.loads(pickle.dumps(CAL)) and repr(CAL))
    add("get_bus_ttx", lambda: CAL.get_bus_ttx(STAMP, LATER), None, (STAMP, LATER))
    add("get_bus_ttx-far", lambda: CAL.get_bus_ttx(Stamp(-5e12), Stamp(5e12)))
    add("get_bus_ttx-invalid", lambda: CAL.get_bus_ttx(STAMP, Stamp(math.inf)), ValueError, (STAMP,))
    add("get_bus_ttx-raising", lambda: CAL.get_bus_ttx(STAMP, RAISING), ZeroDivisionError, (STAMP, RAISING))
    add("get_cal_ttx", lambda: tessel.Calendar.get_cal_ttx(STAMP, LATER), None, (STAMP, LATER))
    add("get_cal_ttx-float", lambda: tessel.Calendar.get_cal_ttx(1.0, LATER), AttributeError, (LATER,))
    add("tenor_to_ttx", lambda: [tessel.Calendar.tenor_to_ttx(t) for t in ("3m", "1e400d", "nanw")])
    for bad in ("", "1Y", "y", "1 y", "1\u00e9"):
        add(f"tenor_to_ttx-{bad!r}", lambda bad=bad: tessel.Calendar.tenor_to_ttx(bad), ValueError)
    add("restore-unknown-model", lambda: tessel._model_from_state("Nope", 0, 0, {}), ValueError)
    return out


def watched_counts(objs):
    return [sys.getrefcount(o) for o in objs]


@pytest.mark.parametrize("call,error,watched", cases())
def test_no_growth(call, error, watched):
    def once():
        try:
            call()
        except BaseException as e:  # noqa: BLE001 - checked right here
            if error is None or not isinstance(e, error):
                raise
        else:
            assert error is None, f"expected {error.__name__}"

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for _ in range(WARMUP):
            once()
        counts = watched_counts(watched)
        blocks, heap, rss = snapshot()
        for _ in range(ROUNDS):
            once()
        blocks2, heap2, rss2 = snapshot()
    assert watched_counts(watched) == counts
    # One leaked object or allocation per call would show as ROUNDS here.
    assert blocks2 - blocks < ROUNDS // 10
    assert heap2 - heap < ROUNDS * 8
    if HEAP:
        assert rss2 - rss < 4 << 20


def test_a_calendar_holds_a_bounded_number_of_years():
    """A calendar asked about ever more distinct years keeps its memory bounded."""
    if not HEAP:
        pytest.skip("allocator not observable here")
    cal, now = tessel.Calendar("BTCUSDT"), Stamp(1.75e9)
    cal.get_bus_ttx(now, now)
    before = snapshot()[1]
    for y in range(-100_000, 100_000):  # each a year of its own, about 190 bytes when all were kept
        cal.get_bus_ttx(now, Stamp((y - 1970) * 31556952.0 + 8.7e6))
    assert snapshot()[1] - before < 256 << 10
    del cal
    assert snapshot()[1] - before < 16 << 10


def test_the_probes_see_a_leak():
    """The probes are sensitive enough for the bounds above, where they are used at all."""
    if not (BLOCKS or HEAP):
        pytest.skip("allocator not observable here")
    blocks, heap, _ = snapshot()
    kept = [object() for _ in range(ROUNDS)]  # one Python object each
    buffers = [ctypes.create_string_buffer(1024) for _ in range(ROUNDS)]  # 1 KiB of C heap each
    blocks2, heap2, _ = snapshot()
    if BLOCKS:
        assert blocks2 - blocks >= ROUNDS
    if HEAP:
        assert heap2 - heap >= ROUNDS * 1024
    del kept, buffers
