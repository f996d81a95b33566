"""tessel_array: every element bit for bit what tessel's scalar function returns, arrays read safely."""
import gc
import itertools
import math
import os
import subprocess
import sys
import textwrap
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import tessel
import tessel_array as ta
from names import FUNCTIONS

NAN, INF = math.nan, math.inf
WITH_TYPE = [f for f in FUNCTIONS if "call_put" in getattr(tessel, f).__text_signature__]


def test_the_names_and_signatures_are_tessels():
    assert ta.__all__ == FUNCTIONS
    for name in FUNCTIONS:
        assert getattr(ta, name).__text_signature__ == getattr(tessel, name).__text_signature__, name


def bits(values):
    """The bits of each element, every NaN as one: the compiler may fold the sign of a NaN either way
    (0 - -x into 0 + x), in the scalar function as in the kernels; any other bit counts."""
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), np.float64(np.nan), values).view(np.uint64)


def scalar_results(name, columns):
    f = getattr(tessel, name)
    return np.array([f(*row) for row in zip(*columns)], dtype=np.float64)


def edge_columns(name):
    """Every combination of the awkward values: NaN, infinities, zero and negative time and vol, the guards."""
    fwd = [100.0, 110.0, 0.0, -1.0, NAN, INF, 1e-300, 1e300]
    strike = [100.0, 90.0, 0.0, NAN, INF, -INF]
    ttx = [1.0, 0.25, 0.0, -0.0, -1.0, NAN, INF, 1e-12]
    vol = [0.2, 0.0, -0.1, NAN, INF, 5.0, 1e-9]
    cp = ["call", "put"]
    df = [1.0, 0.9, NAN]
    if name == "calibrate_black76_iv":
        price = [7.965567455405804, 0.0, -1.0, 10.0, 150.0, NAN, INF]
        rows = itertools.product(ttx, fwd, strike, price, cp, df)
    elif name in WITH_TYPE:
        rows = itertools.product(fwd, strike, ttx, vol, cp, df)
    else:
        rows = itertools.product(fwd, strike, ttx, vol, df)
    return [list(c) for c in zip(*rows)]


def random_columns(name, n=6000, seed=7):
    """A book's range and beyond: deep in and out of the money, short and long dated, every region of erfc."""
    rng = np.random.default_rng(seed)
    fwd = rng.lognormal(np.log(100.0), 0.3, n)
    strike = fwd * np.exp(rng.normal(0.0, 0.6, n))
    ttx = rng.uniform(1e-4, 3.0, n)
    vol = rng.uniform(0.01, 2.5, n)
    cp = list(rng.choice(["call", "put", "c", "P"], n))
    df = rng.uniform(0.5, 1.0, n)
    if name == "calibrate_black76_iv":
        price = np.array([tessel.b76_fairvalue(*r) for r in zip(fwd, strike, ttx, vol, cp, df)])
        price *= rng.choice([1.0, 1.0, 0.9999, 1.5], n)
        return [ttx, fwd, strike, price, cp, df]
    if name in WITH_TYPE:
        return [fwd, strike, ttx, vol, cp, df]
    return [fwd, strike, ttx, vol, df]


@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("inputs", [edge_columns, random_columns], ids=["edges", "random"])
def test_every_element_is_the_scalar_result(name, inputs):
    columns = inputs(name)
    if inputs is random_columns and name == "calibrate_black76_iv":
        columns = [c[:1500] for c in columns]
    ours = getattr(ta, name)(*[np.asarray(c) if not isinstance(c[0], str) else c for c in columns])
    assert ours.dtype == np.float64 and ours.shape == (len(columns[0]),)
    want = scalar_results(name, columns)
    differ = np.flatnonzero(bits(ours) != bits(want))
    assert differ.size == 0, [(tuple(c[i] for c in columns), ours[i], want[i]) for i in differ[:5]]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_scalars_broadcast_against_arrays(name):
    columns = random_columns(name, n=50, seed=3)
    for keep in range(len(columns)):  # each argument alone as an array, the others scalars
        args = [c if i == keep else c[0] for i, c in enumerate(columns)]
        ours = getattr(ta, name)(*args)
        want = scalar_results(name, [c if i == keep else [c[0]] * 50 for i, c in enumerate(columns)])
        assert (bits(ours) == bits(want)).all()
    # all scalars: an array of shape (), like numpy's
    one = getattr(ta, name)(*[c[0] for c in columns])
    assert one.shape == () and bits(one) == bits(scalar_results(name, [[c[0]] for c in columns]))
    # empty arrays give an empty result
    assert getattr(ta, name)(*[c[:0] if i == 1 else c[0] for i, c in enumerate(columns)]).shape == (0,)


def test_keywords_and_default_df():
    f, k = np.array([90.0, 100.0, 110.0]), 100.0
    a = ta.b76_fairvalue(f, k, 1.0, 0.2, "call")
    assert (bits(ta.b76_fairvalue(vol=0.2, ttx=1.0, strike=k, fwd=f, call_put="call", df=1.0)) == bits(a)).all()
    assert (bits(ta.b76_fairvalue(f, k, 1.0, 0.2, "call", np.ones(3))) == bits(a)).all()


# ---------------------------------------------------------------------------
# What is read, and how
# ---------------------------------------------------------------------------

BASE = np.array([80.0, 95.5, 100.0, 104.25, 123.0, 97.0])


def expected_b76(fwd_values):
    return scalar_results("b76_fairvalue", [[float(x) for x in fwd_values], [100.0] * len(fwd_values),
                                            [0.5] * len(fwd_values), [0.3] * len(fwd_values),
                                            ["c"] * len(fwd_values), [1.0] * len(fwd_values)])


class ArrayMethod:
    """Like a pandas column: numpy makes an array of it through __array__."""

    def __init__(self, values):
        self.values = np.asarray(values)

    def __array__(self, dtype=None, copy=None):
        return self.values

    def __len__(self):
        return len(self.values)

    def __getitem__(self, i):
        return self.values[i]


class Lying(np.ndarray):
    """An ndarray subclass whose __array_interface__ claims memory it does not have."""

    @property
    def __array_interface__(self):
        return {"data": (8, False), "shape": (10**9,), "typestr": "<f8", "version": 3}


def structured_field():
    packed = np.zeros(6, dtype=[("tag", "i1"), ("fwd", "<f8")])  # unaligned, 9 bytes apart
    packed["fwd"] = BASE
    return packed["fwd"]


READABLE = {
    "contiguous": BASE,
    "every other": np.repeat(BASE, 2)[::2],
    "reversed": BASE[::-1].copy()[::-1],
    "unaligned field": structured_field(),
    "big-endian": BASE.astype(">f8"),
    "float32": BASE.astype(np.float32),
    "float16": BASE.astype(np.float16),
    "int32": BASE.astype(np.int32),
    "uint64": np.array([2**64 - 1, 2**53 + 1, 100], dtype=np.uint64),
    "bool": np.array([True, False, True]),
    "longdouble": BASE.astype(np.longdouble),
    "object": np.array([100, 97.5, 2**70], dtype=object),
    "list": [100, 97.5, True, 2**70],
    "tuple": (100.0, 97.5),
    "range": range(90, 110, 7),
    "array.array": __import__("array").array("d", BASE),
    "__array__": ArrayMethod(BASE),
    "subclass": BASE.view(np.matrix)[0].A1.view(type("Sub", (np.ndarray,), {})),
    "lying subclass": BASE.view(Lying),
    "read-only": np.frombuffer(BASE.tobytes(), dtype=np.float64),
}


@pytest.mark.parametrize("what", READABLE, ids=list(READABLE))
def test_readable_arrays_give_the_float_rule_values(what):
    value = READABLE[what]
    elements = list(np.asarray(value).view(np.ndarray)) if not isinstance(value, (list, tuple, range)) else list(value)
    ours = ta.b76_fairvalue(value, 100.0, 0.5, 0.3, "c")
    assert (bits(ours) == bits(expected_b76(elements))).all()


@pytest.mark.parametrize("value, message", [
    ("100", "expected a number or a one-dimensional array, not 'str'"),
    (None, "expected a number or a one-dimensional array, not 'NoneType'"),
    ({1.0: 2.0}, "expected a number or a one-dimensional array, not 'dict'"),
    (np.zeros((2, 2)), "expected a number or a one-dimensional array, not an array of 2 dimensions"),
    (np.array([1 + 2j]), "expected an array of numbers, not of dtype 'complex128'"),
    (np.array(["100"]), "expected an array of numbers, not of dtype '<U3'"),
    (np.array(["2025-01-01"], dtype="datetime64[D]"), "expected an array of numbers, not of dtype 'datetime64[D]'"),
    (["100"], "must be real number, not str"),
    ([None], "must be real number, not NoneType"),
])
def test_what_cannot_be_read_is_refused_naming_the_argument(value, message):
    with pytest.raises(TypeError) as e:
        ta.b76_vega(100.0, value, 1.0, 0.2)
    assert str(e.value) == f"argument 'strike': {message}"
    assert type(e.value.__cause__) is TypeError and str(e.value.__cause__) == message


def test_errors_of_numbers_are_tessels():
    for value in (10**400, np.array([10**400], dtype=object)):
        with pytest.raises(OverflowError):
            ta.b76_vega(value, 100.0, 1.0, 0.2)
    with pytest.raises(TypeError) as e:
        ta.b76_vega(100.0, 100.0, 1.0, 0.2, df=None)
    assert str(e.value) == "argument 'df': expected a number or a one-dimensional array, not 'NoneType'"
    # Matching is tessel's, message for message.
    for call in ("b76_vega(1, 2, 3, 4, 5, 6)", "b76_delta(1, 2)", "b76_vega(1, 2, 3, 4, fwd=1)",
                 "b76_vega(1, 2, 3, 4, sigma=1)"):
        with pytest.raises(TypeError) as ours:
            eval(f"ta.{call}")
        with pytest.raises(TypeError) as theirs:
            eval(f"tessel.{call}")
        assert str(ours.value) == str(theirs.value)


def test_unequal_lengths_name_both():
    with pytest.raises(ValueError, match=r"^arrays of unequal lengths: 'fwd' has 3 elements, 'vol' has 2$"):
        ta.b76_vega([1.0, 2.0, 3.0], 100.0, 1.0, [0.2, 0.3])
    with pytest.raises(ValueError, match=r"^arrays of unequal lengths: 'fwd' has 1 elements, 'call_put' has 2$"):
        ta.b76_delta([1.0], 100.0, 1.0, 0.2, ["c", "p"])


class Foreign:
    def __init__(self, **interface):
        self.__array_interface__ = {"version": 3, "typestr": "<f8", **interface}


def test_foreign_interfaces_are_read_only_within_their_data():
    data = BASE.tobytes()
    ok = Foreign(data=data, shape=(3,), strides=(16,), offset=8)
    assert (bits(ta.b76_fairvalue(ok, 100.0, 0.5, 0.3, "c")) == bits(expected_b76(BASE[1::2]))).all()
    backwards = Foreign(data=bytearray(data), shape=(6,), strides=(-8,), offset=40)
    assert (bits(ta.b76_fairvalue(backwards, 100.0, 0.5, 0.3, "c")) == bits(expected_b76(BASE[::-1]))).all()
    refused = {
        "memory whose bounds cannot be checked": Foreign(data=(BASE.__array_interface__["data"][0], False), shape=(6,)),
        "reach outside its 48 bytes": Foreign(data=data, shape=(7,)),
        "reach outside its 48 bytes of data": Foreign(data=data, shape=(2,), strides=(-8,)),
        "its typestr is not '<f8'": Foreign(data=data, shape=(6,), typestr="<i8"),
        "its shape is not (n,)": Foreign(data=data, shape=(2, 3)),
        "it has a mask": Foreign(data=data, shape=(6,), mask=data),
    }
    for message, obj in refused.items():
        with pytest.raises(TypeError, match=r"^argument 'fwd': .*" + message.replace("(", r"\(").replace(")", r"\)")):
            ta.b76_fairvalue(obj, 100.0, 0.5, 0.3, "c")


def test_arrays_are_held_only_for_the_call():
    arrays = [BASE.copy() for _ in range(4)]
    before = [sys.getrefcount(a) for a in arrays]
    for _ in range(100):
        ta.b76_fairvalue(*arrays, "call", arrays[0])
    gc.collect()
    assert [sys.getrefcount(a) for a in arrays] == before


# ---------------------------------------------------------------------------
# call_put
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("cp", [["call", "put", "C", "P"], ("c", "p", "CALL", "Put"),
                                np.array(["call", "put", "c", "p"]), np.array(["call", "put", "c", "p"], dtype=object),
                                ArrayMethod(["call", "put", "c", "p"])], ids=["list", "tuple", "U", "object", "__array__"])
def test_call_put_sequences(cp):
    ours = ta.b76_delta(100.0, [90.0, 95.0, 100.0, 105.0], 1.0, 0.2, cp)
    want = scalar_results("b76_delta", [[100.0] * 4, [90.0, 95.0, 100.0, 105.0], [1.0] * 4, [0.2] * 4,
                                        [str(x) for x in np.asarray(cp)], [1.0] * 4])
    assert (bits(ours) == bits(want)).all()


@pytest.mark.parametrize("cp", [None, 1.0, b"call", ["call", 1], ["call", None], np.array([1, 2]), {"call"}, "x",
                                ["call", "CALLS"], ["call", "\u0130x"], np.array([["c"]]), np.array(["call", "\u0130x"]),
                                np.array(["put", "call "]), np.array(["c", "p"])[::-1].astype("S")])
def test_call_put_refusals_are_tessels(cp):
    with pytest.raises((TypeError, ValueError)) as ours:
        ta.binary_fairvalue(100.0, [100.0, 90.0], 1.0, 0.2, cp)
    items = cp if isinstance(cp, (list, np.ndarray)) and np.ndim(cp) == 1 else [cp]
    first = None
    for item in (items.tolist() if isinstance(items, np.ndarray) else items):
        try:
            tessel.binary_fairvalue(100.0, 100.0, 1.0, 0.2, item)
        except (TypeError, ValueError) as e:
            first = first or e
    if isinstance(cp, set):
        assert str(ours.value) == "argument 'call_put': 'set' object is not an instance of 'str'"
    elif isinstance(cp, np.ndarray) and cp.ndim == 2:
        assert str(ours.value).endswith("not an array of 2 dimensions")
    else:
        assert type(ours.value) is type(first) and str(ours.value) == str(first)


REPEATS = ["call", "put", "call", "call", "put", "P", "put", "C", "c", "P", "call", "put"] * 50


@pytest.mark.parametrize("make", [list, tuple, np.array, lambda w: np.array(w, dtype=object),
                                  lambda w: np.array(w, dtype="<U7")], ids=["list", "tuple", "U", "object", "U7"])
def test_call_put_words_met_again_read_as_before(make):
    """Words repeat in runs and in turns; an unknown word met after them is still the one reported."""
    n = len(REPEATS)
    strikes = np.linspace(80.0, 120.0, n)
    ours = ta.b76_delta(100.0, strikes, 1.0, 0.2, make(REPEATS))
    want = scalar_results("b76_delta", [[100.0] * n, strikes.tolist(), [1.0] * n, [0.2] * n, REPEATS, [1.0] * n])
    assert (bits(ours) == bits(want)).all()
    words = REPEATS[:7] + ["calls", "put", "calls", "cal"]
    with pytest.raises(ValueError, match="'calls'"):
        ta.b76_delta(100.0, np.linspace(80.0, 120.0, len(words)), 1.0, 0.2, make(words))


def test_unknown_option_type_waits_for_the_other_arguments():
    with pytest.raises(TypeError, match="argument 'df'"):
        ta.b76_fairvalue(100.0, 100.0, 1.0, 0.2, ["call", "nope"], "x")
    with pytest.raises(ValueError, match="'nope'"):
        ta.b76_fairvalue(100.0, [100.0, 1.0, 2.0], 1.0, 0.2, ["call", "nope", "worse"], 1.0)


# ---------------------------------------------------------------------------
# Threads and the import
# ---------------------------------------------------------------------------

def test_threads_price_slices_to_the_same_bits():
    columns = random_columns("b76_fairvalue", n=40_000, seed=11)
    whole = ta.b76_fairvalue(*columns)
    halves = [[c[:20_000] for c in columns], [c[20_000:] for c in columns]]
    with ThreadPoolExecutor(2) as pool:
        parts = list(pool.map(lambda cols: ta.b76_fairvalue(*cols), halves * 4))
    for i, part in enumerate(parts):
        assert (bits(part) == bits(whole[:20_000] if i % 2 == 0 else whole[20_000:])).all()


def test_the_lock_is_released_while_the_elements_are_computed():
    """Another thread runs during one long call: with the lock held it could not run until the call returned."""
    import threading
    import time

    columns = random_columns("calibrate_black76_iv", n=400, seed=2)
    columns = [np.tile(c, 500) if not isinstance(c[0], str) else c * 500 for c in columns]  # 200,000 searches
    ticks, inside, stop = [], [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.0005)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        time.sleep(0.01)
        start = time.perf_counter()
        ta.calibrate_black76_iv(*columns)
        inside = [t for t in ticks if t > start and t < time.perf_counter()]
    finally:
        stop.set()
        ticker.join()
    assert len(inside) >= 2, len(inside)


def test_import_without_numpy_says_so():
    code = textwrap.dedent("""
        import sys
        sys.modules["numpy"] = None  # what an interpreter without numpy finds
        try:
            import tessel_array
        except ImportError as e:
            print(e)
            print(type(e.__cause__).__name__)
        import tessel
        print(tessel.b76_vega(100.0, 100.0, 1.0, 0.2))
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))  # this build, and a preloaded runtime
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=env).stdout.splitlines()
    assert out[0].startswith("tessel_array needs numpy (pip install numpy), which could not be imported: "), out
    assert out[1] in ("ImportError", "ModuleNotFoundError") and out[2] == "39.69525474770118"
