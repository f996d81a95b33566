"""tessel in sub-interpreters, under whichever CPython runs this script (3.10 and later).

    python tests/interpreters.py [build_dir]

Each check runs code in new interpreters and compares what comes back, bit
for bit, with the same computation in the main interpreter. The first check
needs a process whose main interpreter has not imported datetime, so this is
a script of its own (the suite runs it in a child process).
"""
import os
import pickle
import sys
import textwrap

if len(sys.argv) > 1:
    sys.path.insert(0, os.path.abspath(sys.argv[1]))
assert "datetime" not in sys.modules, "the first check needs datetime not yet imported"

import tessel  # noqa: E402

BUILD = os.path.dirname(os.path.abspath(tessel.__file__))
V = sys.version_info[:2]
OTHER_INTERPRETER = ("this tessel object belongs to another interpreter; "
                     "send objects between interpreters by pickling")

if V >= (3, 13):
    import _interpreters as _si

    def _create(isolated):
        return _si.create("isolated" if isolated else "legacy")

    _run = _si.run_string
else:
    import _xxsubinterpreters as _si

    def _create(isolated):
        # 3.12 can give an interpreter its own lock; 3.10 and 3.11 cannot.
        return _si.create(isolated=isolated) if V >= (3, 12) else _si.create()

    _run = _si.run_string

# An interpreter with its own lock, where this CPython has them. 3.12's
# datetime module breaks in a second such interpreter (a fault of 3.12.1,
# tessel or not), so the checks that need datetime share the lock there.
OWN_LOCK = V >= (3, 12)
DATETIME_OWN_LOCK = V >= (3, 13)


def run(body, isolated, **values):
    """Runs `body` in a new interpreter and returns the value it leaves in `result`.

    `values` are handed over as literals; `result` comes back through a pipe
    as a repr, or the interpreter's traceback is raised here.
    """
    read, write = os.pipe()
    prelude = "".join(f"{k} = {v!r}\n" for k, v in values.items())
    code = (f"import os, sys, traceback\nsys.path.insert(0, {BUILD!r})\n{prelude}"
            f"try:\n{textwrap.indent(textwrap.dedent(body), '    ')}\n    out = 'ok ' + repr(result)\n"
            f"except BaseException:\n    out = 'error ' + traceback.format_exc()\n"
            f"os.write({write}, out.encode())\nos.close({write})\n")
    interp = _create(isolated)
    try:
        _run(interp, code)
    finally:
        _si.destroy(interp)
    with os.fdopen(read, "rb") as pipe:
        out = pipe.read().decode()
    kind, _, text = out.partition(" ")
    if kind != "ok":
        raise AssertionError(f"in the sub-interpreter:\n{text}")
    return eval(text)  # a repr of plain values


def check_no_object_crosses():
    """timezone.utc looked up in one interpreter never comes back in another."""
    body = """
        import tessel, datetime as dt
        result = tessel.VolGeo(dt.datetime(2025, 1, 1, tzinfo=dt.timezone.utc)).expiry.tzinfo is dt.timezone.utc
    """
    assert [run(body, DATETIME_OWN_LOCK) for _ in range(2)] == [True, True]
    import datetime as dt
    assert tessel.VolGeo(dt.datetime(2025, 1, 1, tzinfo=dt.timezone.utc)).expiry.tzinfo is dt.timezone.utc


def heap_kib():
    """Bytes the C heap holds now (glibc), which is every object under PYTHONMALLOC=malloc."""
    import ctypes

    class Info(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in
                    ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")]

    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = Info
    info = mallinfo2()
    return (info.uordblks + info.hblkhd) // 1024


STAMP = "class Stamp:\n    def __init__(s, t): s.t = t\n    def timestamp(s): return s.t\n"


class Stamp:
    def __init__(self, t):
        self.t = t

    def timestamp(self):
        return self.t


def check_cycles_do_not_grow():
    """Import, use and destroy, 100 times: no more growth than interpreters that never import tessel.

    Counted in the C heap, which holds every object under PYTHONMALLOC=malloc.
    Interpreters with their own lock keep megabytes each after they are gone
    on 3.12 and 3.13, tessel or not, so this check shares the lock.
    """
    use = STAMP + textwrap.dedent("""
        import pickle, tessel
        m = pickle.loads(pickle.dumps(tessel.CubicSpline(Stamp(1.75e9), ref_vol=40.0)))
        cal = tessel.Calendar("BTCUSDT")
        result = (m.get_vol(0.5, 100.0, [90.0, 110.0]), cal.get_bus_ttx(Stamp(1.7e9), Stamp(1.8e9)),
                  tessel.calibrate_black76_iv(1.0, 100.0, 100.0, 8.0, "c"), repr(m))
    """)
    plain = STAMP + "import pickle\nresult = None\n"

    def growth(body, cycles):
        before = heap_kib()
        for _ in range(cycles):
            run(body, False)
        return heap_kib() - before

    for body in (use, plain):
        growth(body, 20)  # warm up the allocator and the time zone cache
    with_tessel, without = growth(use, 100), growth(plain, 100)
    # A module that is never freed keeps about 8 KiB a cycle.
    assert with_tessel - without < 500, (with_tessel, without)


# What the round trips compute: every kind of result, as exact bits, and the
# objects pickled again.
NUMBERS = textwrap.dedent("""
    import pickle, tessel
    model, cal = pickle.loads(sent)
    bits = [float.hex(x) for x in (
        *model.get_vol(0.5, 100.0, [80.0, 100.0, 125.0]), model.get_vol_single(0.25, 100.0, 90.0),
        *model.get_jacobian(0.5, 100.0, [95.0, 105.0], ["ref_vol"])["ref_vol"],
        cal.get_bus_ttx(Stamp(1.75e9), Stamp(1.76e9)),
        tessel.b76_fairvalue(100.0, 110.0, 0.5, 0.3, "put", 0.99),
        tessel.calibrate_black76_iv(0.5, 100.0, 110.0, 12.0, "p"))]
    result = (bits, repr(model), repr(cal), pickle.dumps((model, cal)))
""")


def check_pickled_objects_travel():
    """A model and a calendar pickled in one interpreter work in another, and back."""
    model = tessel.GVVSpline(Stamp(1.75e9 + 0.5), ref_vol=35.0, skew=-2.0, vpr=0.9)
    cal = tessel.Calendar("BTCUSDT")
    here = {}
    exec(NUMBERS, {"sent": pickle.dumps((model, cal)), "Stamp": Stamp}, here)
    there = run(STAMP + NUMBERS, OWN_LOCK, sent=pickle.dumps((model, cal)))
    assert there[:3] == here["result"][:3]
    back_model, back_cal = pickle.loads(there[3])
    assert type(back_model) is tessel.GVVSpline and type(back_cal) is tessel.Calendar
    assert repr(back_model) == repr(model) and repr(back_cal) == repr(cal)


def check_foreign_objects_are_refused():
    """A module or object of one interpreter, smuggled into another, is refused and nothing crashes.

    Smuggling needs ctypes, and is only safe while both share one lock.
    """
    import datetime as dt
    m = tessel.VolGeo(dt.datetime(2025, 3, 28, tzinfo=dt.timezone.utc))
    cal = tessel.Calendar("BTCUSDT")
    body = """
        import ctypes
        def foreign(address):
            return ctypes.cast(address, ctypes.py_object).value
        m, cal, mod = foreign(m_at), foreign(cal_at), foreign(mod_at)
        outcomes = []
        for call in (lambda: m.get_vol_single(0.5, 100.0, 110.0), lambda: m.arb_free(), lambda: m.expiry,
                     lambda: repr(m), lambda: m.__reduce__(), lambda: m.set_param("vvol", 1.0),
                     lambda: cal.get_bus_ttx(1, 2), lambda: mod.b76_fairvalue(100.0, 100.0, 1.0, 0.2, "c"),
                     lambda: type(m)(1.0), lambda: mod.VolGeo.with_params(1.0, {})):
            try:
                call()
                outcomes.append("done")
            except BaseException as e:
                outcomes.append(f"{type(e).__name__}: {e}")
        result = outcomes
    """
    outcomes = run(body, False, m_at=id(m), cal_at=id(cal), mod_at=id(tessel))
    refused = f"RuntimeError: {OTHER_INTERPRETER}"
    # with_params is a static method: it finds the module of the running
    # interpreter, which has not imported tessel.
    assert outcomes == [refused] * 10, outcomes
    # Untouched in its own interpreter.
    assert m.get_vol_single(0.5, 100.0, 110.0) == tessel.VolGeo(m.expiry).get_vol_single(0.5, 100.0, 110.0)


def check_interpreter_pool():
    """3.14's pool of interpreters prices a book bit for bit as one interpreter does."""
    from concurrent import interpreters
    from concurrent.futures import InterpreterPoolExecutor

    interpreters.create().exec(f"import sys; sys.path.insert(0, {BUILD!r}); import tessel")
    book = [(100.0, 60.0 + i, 0.1 + i / 100.0, 0.2 + i / 1000.0, "cp"[i % 2]) for i in range(200)]
    with InterpreterPoolExecutor(2, initializer=sys.path.insert, initargs=(0, BUILD)) as pool:
        there = [x for part in pool.map(price_book, [book[:100], book[100:]]) for x in part]
    assert [float.hex(x) for x in there] == [float.hex(x) for x in price_book(book)]


def price_book(book):
    import tessel
    return [f(*row) for row in book for f in (tessel.b76_fairvalue, tessel.b76_delta, tessel.binary_fairvalue)]


def check_arrays_module():
    """tessel_array in sub-interpreters: a module of its own in each, computing tessel's bits where numpy loads.

    numpy loads once per process and never in an interpreter with its own
    lock; where it does not load, importing tessel_array says that it needs
    numpy.
    """
    body = """
        import warnings
        warnings.filterwarnings("ignore", "NumPy was imported from a Python sub-interpreter")
        try:
            import tessel_array
        except ImportError as e:
            result = ("no numpy", str(e))
        else:
            import tessel
            xs = [90.0, 100.0, 110.0]
            got = tessel_array.b76_fairvalue(xs, 100.0, 0.5, 0.3, "c").tolist()
            want = [tessel.b76_fairvalue(x, 100.0, 0.5, 0.3, "c") for x in xs]
            result = ("computed", [float.hex(x) for x in got] == [float.hex(x) for x in want])
    """
    seen = []
    for isolated in (False, False, OWN_LOCK):
        kind, detail = run(body, isolated)
        seen.append(kind)
        if kind == "no numpy":
            assert detail.startswith("tessel_array needs numpy (pip install numpy), which could not be imported: "), detail
        else:
            assert detail is True
    if OWN_LOCK:
        assert seen[2] == "no numpy", seen


CHECKS = [check_no_object_crosses, check_cycles_do_not_grow, check_pickled_objects_travel,
          check_foreign_objects_are_refused, check_arrays_module] + ([check_interpreter_pool] if V >= (3, 14) else [])

if __name__ == "__main__":
    if os.environ.get("PYTHONMALLOC") != "malloc":
        os.execve(sys.executable, [sys.executable, *sys.argv], {**os.environ, "PYTHONMALLOC": "malloc"})
    for check in CHECKS:
        check()
    print(f"ok: {sys.version.split()[0]} sub-interpreters, {len(CHECKS)} checks")
