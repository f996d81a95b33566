#!/usr/bin/env python3
"""Speed of tessel beside the alternatives a user has, measured in one run.

Every figure is the median over many rounds of warm, timeit-style loops (the
statement as text, the callable bound to a local name, constant arguments), in
nanoseconds of the thread's CPU time per call, so that other processes on a
shared machine do not count. The cases of one row are timed round by
round in turn, so a change of machine load shifts them together and their
ratio stays fair. The plain-Python and numpy references must compute the
module's numbers: they are checked before anything is timed.

Run it through bench/run.sh, which builds the module and the C++ core
benchmark and installs the peer libraries. Alone:
    PYTHONPATH=build-bench python bench/bench.py [--core out/core.json] [--quick]
"""

import argparse
import importlib.metadata
import json
import math
import os
import platform
import statistics
import struct
import subprocess
import sys
import time
import timeit
from datetime import datetime, timedelta, timezone

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The tests' plain-Python reference of every formula: timed here as plain Python.
sys.path.insert(0, os.path.join(ROOT, "tests", "python"))

import reference as ref  # noqa: E402
import tessel  # noqa: E402
import tessel_array  # noqa: E402

# The Black-76 case of every analytics row: F = K = 100, T = 1, vol = 0.2,
# a call, df = 1. T = 1 makes the total volatility that QuantLib takes equal
# to vol. Deep out of the money: a call struck at twice the forward.
F, K, T, VOL = 100.0, 100.0, 1.0, 0.2
OTM = dict(fwd=100.0, strike=200.0, ttx=0.25, vol=0.5)
P_ATM = tessel.b76_fairvalue(F, K, T, VOL, "call")
P_OTM = tessel.b76_fairvalue(OTM["fwd"], OTM["strike"], OTM["ttx"], OTM["vol"], "call")

# Smile inputs; keep them in step with core_bench.cpp.
SIZES = (1, 10, 100, 1000, 10000)
TTX, SPOT = 0.25, 100.0
EXPIRY = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
MODEL_PARAMS = {
    "GVVSpline": dict(ref_vol=20.0, skew=-10.0, smile=5.0, pwing=10.0, cwing=5.0),
    "VolGeo": dict(ref_spot=98.0, ref_vol=55.0, corr=-0.3, vvol=90.0),
    "CubicSpline": dict(ref_spot=95.0, ref_vol=20.0, p05=1.0, p10=1.0, p15=1.0, p20=1.0, p25=1.0,
                        c05=-0.5, c10=-0.5, c15=0.0, c20=0.5, c25=1.0),
}
FROM = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
TO = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
# The pairs of a pricing loop whose instants lie in different offset periods
# or years of "US/Eastern"; keep them in step with core_bench.cpp.
PAIRS = [
    ("same_period", "within one offset period", datetime(2025, 1, 10, tzinfo=timezone.utc),
     datetime(2025, 2, 10, tzinfo=timezone.utc)),
    ("across_dst", "across a change of offset", datetime(2025, 1, 10, tzinfo=timezone.utc),
     datetime(2025, 6, 10, tzinfo=timezone.utc)),
    ("across_year_end", "across a year end", datetime(2025, 12, 10, tzinfo=timezone.utc),
     datetime(2026, 1, 10, tzinfo=timezone.utc)),
    ("across_both", "across both", datetime(2025, 12, 10, tzinfo=timezone.utc),
     datetime(2026, 6, 26, tzinfo=timezone.utc)),
]


def strikes(n):
    return [95.0] if n == 1 else [60.0 + 100.0 * i / (n - 1) for i in range(n)]


# ---- timing ----------------------------------------------------------------


class Case:
    def __init__(self, stmt, ns):
        self.stmt = stmt
        self.timer = timeit.Timer(stmt, timer=time.thread_time, globals=dict(ns))
        self.number = 1
        self.samples = []

    def calibrate(self, target):
        n = 1
        while True:  # also the warm-up
            t = self.timer.timeit(n)
            if t >= target / 4 or n >= 1 << 24:
                break
            n *= 4
        self.number = max(1, round(n * target / max(t, 1e-9)))

    def median(self):
        return statistics.median(self.samples)


class Timing:
    def __init__(self, rounds, target):
        self.rounds = rounds
        self.target = target

    def run(self, cases):
        """Times the cases in turn, round after round; returns them with their samples."""
        live = [c for c in cases if c is not None]
        for c in live:
            c.calibrate(self.target)
        for _ in range(self.rounds):
            for c in live:
                c.samples.append(c.timer.timeit(c.number) / c.number * 1e9)
        return cases


def med(case):
    """Median ns per call."""
    return None if case is None else case.median()


def rel(a, b):
    """How many times b's time a's is: the median of the ratios of one round,
    whose cases ran back to back, so that a change of load cancels."""
    if a is None or b is None:
        return None
    return statistics.median(x / y for x, y in zip(a.samples, b.samples))


# ---- agreement -------------------------------------------------------------


def same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))


def check_scalar(label, ours, theirs):
    if same_bits(ours, theirs):
        return "bit-equal"
    if abs(ours - theirs) <= 1e-12 * max(1.0, abs(ours)):
        return f"within {abs(ours - theirs):.1e}"
    sys.exit(f"reference disagrees for {label}: module {ours!r}, reference {theirs!r}")


def check_vectors(label, ours, theirs, tol):
    if len(ours) != len(theirs):
        sys.exit(f"reference disagrees for {label}: lengths {len(ours)} and {len(theirs)}")
    worst = max((abs(a - b) for a, b in zip(ours, theirs)), default=0.0)
    if not worst <= tol:
        sys.exit(f"reference disagrees for {label}: largest difference {worst!r}")
    return worst


# ---- peers -----------------------------------------------------------------


def load_peers():
    peers, skipped = {}, {}
    try:
        from vollib.black import black
        from vollib.black.greeks.analytical import delta, gamma, vega
        from vollib.black.implied_volatility import implied_volatility

        peers["vollib"] = dict(version=importlib.metadata.version("vollib"), black=black, delta=delta,
                               gamma=gamma, vega=vega, iv=implied_volatility)
    except Exception as e:  # not installable or not importable here: skip it, say why
        skipped["vollib"] = f"{type(e).__name__}: {e}"
    try:
        import QuantLib as ql

        peers["QuantLib"] = dict(version=ql.__version__, ql=ql)
    except Exception as e:
        skipped["QuantLib"] = f"{type(e).__name__}: {e}"
    try:
        import opengreeks.black76 as og

        peers["opengreeks"] = dict(version=importlib.metadata.version("opengreeks"), og=og)
    except Exception as e:
        skipped["opengreeks"] = f"{type(e).__name__}: {e}"
    return peers, skipped


PEER_NAMES = ("vollib", "QuantLib", "opengreeks")


def peer_cases(name, peers):
    """Per peer: (statement, namespace, note) of its nearest function, or None."""
    out = {}
    v = peers.get("vollib")
    q = peers.get("QuantLib")
    o = peers.get("opengreeks")
    args = "'c', 100.0, 100.0, 1.0, 0.0, 0.2"  # flag, F, K, t, r, sigma
    if name == "b76_fairvalue":
        if v: out["vollib"] = (f"f({args})", {"f": v["black"]}, "")
        if o: out["opengreeks"] = (f"f({args})", {"f": o["og"].black}, "")
        if q: out["QuantLib"] = ("f(C, 100.0, 100.0, 0.2)", {"f": q["ql"].blackFormula, "C": q["ql"].Option.Call},
                                 "blackFormula")
    elif name in ("b76_delta", "b76_gamma", "b76_vega"):
        greek = name[4:]
        note = {"delta": "N(d1), not D·φ(d1)/(Fσ√T)", "gamma": "φ(d1)/(Fσ√T), one F less",
                "vega": ""}[greek]
        vnote = {"delta": note, "gamma": note, "vega": "per vol point (×0.01)"}[greek]
        if v: out["vollib"] = (f"f({args})", {"f": v[greek]}, vnote)
        if o: out["opengreeks"] = (f"f({args})", {"f": getattr(o["og"], greek)}, vnote)
        if q:
            ql = q["ql"]
            method = {"delta": "deltaForward()", "gamma": "gammaForward()", "vega": "vega(1.0)"}[greek]
            out["QuantLib"] = (f"B(P(C, 100.0), 100.0, 0.2, 1.0).{method}",
                               {"B": ql.BlackCalculator, "P": ql.PlainVanillaPayoff, "C": ql.Option.Call},
                               (note + "; " if note else "") + "BlackCalculator")
    elif name in ("binary_fairvalue", "binary_delta", "binary_gamma", "binary_vega") and q:
        ql = q["ql"]
        if name == "binary_fairvalue":
            out["QuantLib"] = ("f(C, 100.0, 100.0, 0.2)",
                               {"f": ql.blackFormulaCashItmProbability, "C": ql.Option.Call},
                               "N(d2): with the drift term")
        else:
            method = {"binary_delta": "deltaForward()", "binary_gamma": "gammaForward()",
                      "binary_vega": "vega(1.0)"}[name]
            out["QuantLib"] = (f"B(P(C, 100.0, 1.0), 100.0, 0.2, 1.0).{method}",
                               {"B": ql.BlackCalculator, "P": ql.CashOrNothingPayoff, "C": ql.Option.Call},
                               "N(d2) model, BlackCalculator")
    elif name.startswith("calibrate_black76_iv"):
        otm = name.endswith("(otm)")
        fk_t = "100.0, 200.0, 0.0, 0.25" if otm else "100.0, 100.0, 0.0, 1.0"  # F, K, r, t
        price = repr(P_OTM if otm else P_ATM)
        if v: out["vollib"] = (f"f({price}, {fk_t}, 'c')", {"f": v["iv"]}, "Let's Be Rational, to machine precision")
        if o: out["opengreeks"] = (f"f({price}, {fk_t}, 'c')", {"f": o["og"].implied_volatility}, "")
        if q:
            kf = "200.0, 100.0" if otm else "100.0, 100.0"
            out["QuantLib"] = (f"f(C, {kf}, {price})",
                               {"f": q["ql"].blackFormulaImpliedStdDev, "C": q["ql"].Option.Call},
                               "Newton on σ√T, accuracy 1e-6")
    return out


# ---- sections --------------------------------------------------------------

ANALYTICS = [
    # name, module arguments (text), reference
    ("b76_fairvalue", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("b76_delta", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("b76_vega", "100.0, 100.0, 1.0, 0.2"),
    ("b76_gamma", "100.0, 100.0, 1.0, 0.2"),
    ("binary_fairvalue", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("binary_vega", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("binary_delta", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("binary_gamma", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("binary_speed", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("binary_theta", "100.0, 100.0, 1.0, 0.2, 'call'"),
    ("calibrate_black76_iv (atm)", f"1.0, 100.0, 100.0, {P_ATM!r}, 'call'"),
    ("calibrate_black76_iv (otm)", f"0.25, 100.0, 200.0, {P_OTM!r}, 'call'"),
]


def fmt_ns(ns):
    if ns is None:
        return "—"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e4:
        return f"{ns / 1e3:.1f} µs"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.0f} ns"


def fmt_diff(ours, core):
    """The boundary's share: two medians of separate runs, so noise can make it negative."""
    if ours is None or core is None:
        return "—"
    return fmt_ns(ours - core) if ours > core else "≈ 0"


def fmt_x(r):
    return "—" if r is None else f"{r:.2f}×" if r < 10 else f"{r:.0f}×"


def core_name(name):
    return name.replace(" (atm)", "/atm").replace(" (otm)", "/otm")


def analytics_section(timing, core, peers, results):
    lines = [
        "### Module functions",
        "",
        "F = K = 100, T = 1, vol = 0.2, call, df = 1; implied volatility at the money from that price, deep out "
        "of the money from a call struck at twice the forward (T = 0.25, vol = 0.5). *Floor*: `math.hypot` with "
        "four floats. *Python*: the same formula in plain Python with `math` (bit-equal results). Peer cells: "
        "the peer's time and how many times slower than tessel it is.",
        "",
        "| function | tessel | C++ core | boundary | floor | tessel / floor | Python | Python / tessel | "
        + " | ".join(PEER_NAMES) + " | check |",
        "|---" * (9 + len(PEER_NAMES)) + "|",
    ]
    notes = []
    for name, args in ANALYTICS:
        fn = name.split(" ")[0]
        ours_fn = getattr(tessel, fn)
        ref_fn = getattr(ref, fn)
        call_args = eval(f"({args},)")
        agree = check_scalar(name, ours_fn(*call_args), ref_fn(*call_args))
        pc = peer_cases(name, peers)
        cases = [Case("h(100.0, 100.0, 1.0, 0.2)", {"h": math.hypot}),
                 Case(f"f({args})", {"f": ours_fn}),
                 Case(f"g({args})", {"g": ref_fn})]
        cases += [Case(pc[p][0], pc[p][1]) if p in pc else None for p in PEER_NAMES]
        floor_c, ours_c, py_c, *peer_c = timing.run(cases)
        floor, ours, py = med(floor_c), med(ours_c), med(py_c)
        c = core.get(core_name(name))
        row = [f"`{name}`", fmt_ns(ours), fmt_ns(c), fmt_diff(ours, c), fmt_ns(floor),
               fmt_x(rel(ours_c, floor_c)), fmt_ns(py), fmt_x(rel(py_c, ours_c))]
        peer_x = {}
        for p, pc_case in zip(PEER_NAMES, peer_c):
            if pc_case is None:
                row.append("—")
                continue
            peer_x[p] = rel(pc_case, ours_c)
            cell = f"{fmt_ns(med(pc_case))} ({fmt_x(peer_x[p])})"
            if pc[p][2]:
                notes.append(f"`{name}` / {p}: {pc[p][2]}")
                cell += f" [{len(notes)}]"
            row.append(cell)
        row.append(agree)
        lines.append("| " + " | ".join(row) + " |")
        results[name] = dict(ours=ours, floor=floor, python=py, core=c, floor_x=rel(ours_c, floor_c),
                             python_x=rel(py_c, ours_c), peers=peer_x)
    lines.append("")
    lines += [f"[{i}] {n}  " for i, n in enumerate(notes, 1)]
    lines.append("Vega: tessel, QuantLib per 1.0 of volatility; vollib and opengreeks per point (×0.01). Peers "
                 "take a rate r (0 here) where tessel takes a discount factor.")
    return lines


def models_section(timing, core, results):
    lines = [
        "### Smile models: `get_vol` and `get_jacobian`",
        "",
        f"ttx = {TTX}, spot = {SPOT}, strikes evenly from 60 to 160 (95 for one strike); per-strike cost in ns. "
        "*numpy*: the same formula vectorised, list in (`np.array`) and list out (`tolist`). *round trip*: "
        "`[float(x) for x in ks]`. The Jacobian is over the model's fitting parameters.",
        "",
        "| model | strikes | get_vol | C++ core | numpy | numpy / tessel | round trip | tessel / round trip "
        "| get_jacobian | C++ core | numpy | numpy / tessel | largest difference (vol, Jacobian) |",
        "|---" * 13 + "|",
    ]
    for model, params in MODEL_PARAMS.items():
        cls = getattr(tessel, model)
        m = cls(EXPIRY, **params)
        p = m.get_param_dict()
        names = m.get_fitting_params()
        if names != ref.FITTING[model]:
            sys.exit(f"fitting parameters of {model} changed: {names}")
        gv = ref.numpy_get_vol(ref.VOLS[model])
        gj = ref.numpy_get_jacobian(ref.VOLS[model])
        for n in SIZES:
            ks = strikes(n)
            dv = check_vectors(f"{model}.get_vol/{n}", m.get_vol(TTX, SPOT, ks), gv(p, TTX, SPOT, ks), 1e-12)
            ours_j, ref_j = m.get_jacobian(TTX, SPOT, ks, names), gj(p, TTX, SPOT, ks, names)
            if set(ours_j) != set(ref_j):
                sys.exit(f"Jacobian keys differ for {model}")
            dj = max(check_vectors(f"{model}.get_jacobian/{n}", ours_j[k], ref_j[k], 1e-9) for k in names)
            ns = {"m": m, "ks": ks, "p": p, "gv": gv, "gj": gj, "names": names}
            cases = timing.run([
                Case(f"m.get_vol({TTX}, {SPOT}, ks)", ns),
                Case(f"gv(p, {TTX}, {SPOT}, ks)", ns),
                Case("[float(x) for x in ks]", ns),
                Case(f"m.get_jacobian({TTX}, {SPOT}, ks, names)", ns),
                Case(f"gj(p, {TTX}, {SPOT}, ks, names)", ns),
            ])
            vol, vol_np, trip, jac, jac_np = (med(c) for c in cases)
            numpy_x, trip_x, jac_x = rel(cases[1], cases[0]), rel(cases[0], cases[2]), rel(cases[4], cases[3])
            cv, cj = core.get(f"{model}.get_vol/{n}"), core.get(f"{model}.get_jacobian/{n}")
            per = lambda x: None if x is None else x / n  # noqa: E731
            lines.append("| " + " | ".join([
                f"`{model}`", f"{n:,}", fmt_ns(per(vol)), fmt_ns(per(cv)), fmt_ns(per(vol_np)), fmt_x(numpy_x),
                fmt_ns(per(trip)), fmt_x(trip_x), fmt_ns(per(jac)), fmt_ns(per(cj)), fmt_ns(per(jac_np)),
                fmt_x(jac_x), f"{dv:.0e}, {dj:.0e}"]) + " |")
            results[f"{model}/{n}"] = dict(get_vol=vol, numpy=vol_np, round_trip=trip, jacobian=jac,
                                           jacobian_numpy=jac_np, core_vol=cv, core_jacobian=cj,
                                           numpy_x=numpy_x, trip_x=trip_x, jacobian_x=jac_x)
    return lines


def calendar_section(timing, core, results):
    with open(os.path.join(ROOT, "src", "calendar", "btcusdt.json"), encoding="utf-8") as f:
        doc = f.read()
    cal = tessel.Calendar("BTCUSDT")
    pycal = ref.PyCalendar(doc)
    checks = [
        check_scalar("get_bus_ttx", cal.get_bus_ttx(FROM, TO), pycal.get_bus_ttx(FROM, TO)),
        check_scalar("get_cal_ttx", tessel.Calendar.get_cal_ttx(FROM, TO), ref.get_cal_ttx(FROM, TO)),
        check_scalar("tenor_to_ttx", tessel.Calendar.tenor_to_ttx("3m"), ref.tenor_to_ttx("3m")),
    ]
    # The same measure over many instants, across the changes of the zone's
    # offset, in one warm calendar and in fresh ones.
    probes = [datetime(y, m, 1, tzinfo=timezone.utc) + timedelta(days=d, minutes=q)
              for y in range(1950, 2101, 3) for m in (3, 11) for d in range(0, 14, 3) for q in range(0, 1440, 67)]
    warm = tessel.Calendar("BTCUSDT")
    for i in range(1, len(probes)):
        a, b = probes[i - 1], probes[i]
        check_scalar(f"get_bus_ttx({a}, {b})", warm.get_bus_ttx(a, b), pycal.get_bus_ttx(a, b))
        if i % 97 == 0:
            check_scalar(f"get_bus_ttx({b}, {a})", tessel.Calendar("BTCUSDT").get_bus_ttx(b, a),
                         ref.PyCalendar(doc).get_bus_ttx(b, a))
    ns = {"C": tessel.Calendar, "c": cal, "pc": pycal, "PC": ref.PyCalendar, "doc": doc, "a": FROM, "b": TO,
          "g": ref.get_cal_ttx, "t": ref.tenor_to_ttx}
    rows = [
        ("`Calendar(\"BTCUSDT\")`", "Calendar(BTCUSDT)", "C('BTCUSDT')", "PC(doc)",
         "`json` + `zoneinfo` (curves only)", "—"),
        ("`get_bus_ttx(from, to)`", "Calendar.get_bus_ttx", "c.get_bus_ttx(a, b)", "pc.get_bus_ttx(a, b)",
         "`zoneinfo`", checks[0]),
        ("`get_cal_ttx(from, to)`", "Calendar.get_cal_ttx", "C.get_cal_ttx(a, b)", "g(a, b)", "datetime arithmetic",
         checks[1]),
        ("`tenor_to_ttx(\"3m\")`", "Calendar.tenor_to_ttx", "C.tenor_to_ttx('3m')", "t('3m')", "`float()` and a unit",
         checks[2]),
    ]
    lines = [
        "### Calendar",
        "",
        "From 2025-03-14 15:30 to 2025-03-28 08:00 UTC, timezone-aware datetimes; the calendar object is reused "
        "(its per-year cache is warm, as in a pricing loop).",
        "",
        "| call | tessel | C++ core | boundary | plain Python | Python / tessel | Python reference | check |",
        "|---" * 8 + "|",
    ]
    for label, cname, stmt, py_stmt, what, agree in rows:
        ours_c, py_c = timing.run([Case(stmt, ns), Case(py_stmt, ns)])
        ours, py, python_x = med(ours_c), med(py_c), rel(py_c, ours_c)
        c = core.get(cname)
        lines.append("| " + " | ".join([label, fmt_ns(ours), fmt_ns(c), fmt_diff(ours, c), fmt_ns(py),
                                        fmt_x(python_x), what, agree]) + " |")
        results[cname] = dict(ours=ours, python=py, core=c, python_x=python_x)
    lines += [
        "",
        "`get_bus_ttx` against `get_cal_ttx` on the same two datetimes (00:00 UTC), the calendar reused. "
        "`get_cal_ttx` does no zone work, so the ratio is the price of the business-time measure; the C++ core's "
        "time per coordinate (two a call) should not depend on the pair.",
        "",
        "| from → to | | `get_bus_ttx` | `get_cal_ttx` | bus / cal | C++ core per coordinate | check |",
        "|---" * 7 + "|",
    ]
    for key, what, a, b in PAIRS:
        agree = check_scalar(f"get_bus_ttx({a}, {b})", cal.get_bus_ttx(a, b), pycal.get_bus_ttx(a, b))
        pns = {"c": cal, "C": tessel.Calendar, "a": a, "b": b}
        bus_c, cal_c = timing.run([Case("c.get_bus_ttx(a, b)", pns), Case("C.get_cal_ttx(a, b)", pns)])
        core_call = core.get(f"Calendar.get_bus_ttx/{key}")
        per_coordinate = None if core_call is None else core_call / 2
        ratio = rel(bus_c, cal_c)
        lines.append("| " + " | ".join([f"{a:%Y-%m-%d} → {b:%Y-%m-%d}", what, fmt_ns(med(bus_c)), fmt_ns(med(cal_c)),
                                        fmt_x(ratio), "—" if per_coordinate is None else f"{per_coordinate:.1f} ns", agree]) + " |")
        results[f"get_bus_ttx/{key}"] = dict(what=what, bus=med(bus_c), cal=med(cal_c), ratio=ratio,
                                             core_per_coordinate=per_coordinate)
    return lines


def import_section(rounds, peers, results):
    def import_us(module):
        samples = []
        for _ in range(rounds):
            r = subprocess.run([sys.executable, "-X", "importtime", "-c", f"import {module}"],
                               capture_output=True, text=True, env=os.environ)
            for line in r.stderr.splitlines():
                parts = line.split("|")
                if len(parts) == 3 and parts[2].strip() == module:
                    samples.append(int(parts[1]))
        return statistics.median(samples) if samples else None

    lines = ["### Import", "", "`python -X importtime -c 'import <module>'`, cumulative, median of "
             f"{rounds} fresh interpreters.", "", "| module | import |", "|---|---|"]
    mods = [("tessel", "tessel"), ("numpy", "numpy")]
    mods += [(p, {"vollib": "vollib.black", "QuantLib": "QuantLib", "opengreeks": "opengreeks"}[p])
             for p in PEER_NAMES if p in peers]
    for label, module in mods:
        us = import_us(module)
        results[f"import {label}"] = us
        lines.append(f"| `{module}` | {fmt_ns(us * 1e3) if us is not None else '—'} |")
    return lines


# ---- arrays: tessel_array over a column, and the book example -------------

COLUMN = 10_000


def column():
    """The column of core_bench.cpp: F = 100, K, T, vol spread by irrational steps, every third a put."""
    i = np.arange(COLUMN, dtype=np.float64)
    strike = 70.0 + 60.0 * np.fmod(i * 0.6180339887498949, 1.0)
    ttx = 0.02 + 0.98 * np.fmod(i * 0.7548776662466927, 1.0)
    vol = 0.2 + 0.8 * np.fmod(i * 0.5698402909980532, 1.0)
    cp = ["put" if k % 3 == 2 else "call" for k in range(COLUMN)]
    return np.full(COLUMN, 100.0), strike, ttx, vol, cp


def numpy_column_functions():
    """The same formulas with numpy and scipy over arrays, calls and puts."""
    from scipy.special import ndtr

    s2pi = math.sqrt(2.0 * math.pi)

    def d1_of(f, k, t, v):
        st = np.sqrt(t)
        return (np.log(f / k) + 0.5 * v * v * t) / (v * st), st

    def value(f, k, t, v, call):
        d1, st = d1_of(f, k, t, v)
        d2 = d1 - v * st
        return np.where(call, f * ndtr(d1) - k * ndtr(d2), k * ndtr(-d2) - f * ndtr(-d1))

    def delta(f, k, t, v, call):
        d1, st = d1_of(f, k, t, v)
        return np.where(call, 1.0, -1.0) * (np.exp(-0.5 * d1 * d1) / s2pi) / (f * v * st)

    def vega(f, k, t, v, call):
        d1, st = d1_of(f, k, t, v)
        return np.exp(-0.5 * d1 * d1) / s2pi * f * st

    def binary(f, k, t, v, call):
        x = np.log(f / k) / (v * np.sqrt(t))
        return ndtr(np.where(call, x, -x))

    return {"b76_fairvalue": value, "b76_delta": delta, "b76_vega": vega, "binary_fairvalue": binary}


def same_elements(ours, theirs):
    a, b = np.asarray(ours, dtype=np.float64), np.asarray(theirs, dtype=np.float64)
    return bool(((a.view(np.uint64) == b.view(np.uint64)) | (np.isnan(a) & np.isnan(b))).all())


def arrays_section(timing, core, results):
    f, k, t, v, cp = column()
    call = np.array([c == "call" for c in cp])
    price = tessel_array.b76_fairvalue(f, k, t, v, cp)
    try:
        numpy_fns = numpy_column_functions()
    except ImportError:
        numpy_fns = {}
    args = {"b76_fairvalue": (f, k, t, v, cp), "b76_delta": (f, k, t, v, cp), "b76_vega": (f, k, t, v),
            "binary_fairvalue": (f, k, t, v, cp), "calibrate_black76_iv": (t, f, k, price, cp)}
    lines = [
        "### Arrays: `tessel_array` over 10,000 elements",
        "",
        "F = 100, strikes 70 to 130, T 0.02 to 1, vol 0.2 to 1 (spread as in `core_bench.cpp`), every third a put. "
        "Per element, in ns. *scalar call*: the module function's time per call from the table above. *C++ core*: "
        "the scalar core in a loop over the same column. *numpy*: the same formulas with `np.log`, `np.exp` and "
        "`scipy.special.ndtr` over arrays. Every element of `tessel_array` is checked bit for bit against the scalar "
        "function.",
        "",
        "| function | tessel_array | scalar call | tessel_array / scalar call | C++ core | tessel_array / core "
        "| numpy | numpy / tessel_array | check |",
        "|---" * 9 + "|",
    ]
    for name, a in args.items():
        ours_fn = getattr(tessel_array, name)
        scalar = getattr(tessel, name)
        ours = ours_fn(*a)
        want = [scalar(*row) for row in zip(*a)]
        if not same_elements(ours, want):
            sys.exit(f"tessel_array.{name} differs from tessel.{name}")
        ns = {"g": ours_fn, "a": a, "h": numpy_fns.get(name), "f": f, "k": k, "t": t, "v": v, "call": call}
        cases = [Case("g(*a)", ns)]
        if name in numpy_fns:
            got = numpy_fns[name](f, k, t, v, call)
            check_vectors(f"numpy {name}", ours, got, 1e-9 * float(np.max(np.abs(ours))))
            cases.append(Case("h(f, k, t, v, call)", ns))
        timed = timing.run(cases)
        per = med(timed[0]) / COLUMN
        np_per = med(timed[1]) / COLUMN if len(timed) > 1 else None
        np_x = rel(timed[1], timed[0]) if len(timed) > 1 else None
        scalar_call = results.get(name if name != "calibrate_black76_iv" else "calibrate_black76_iv (atm)", {}).get("ours")
        c = core.get(f"column/{name}")
        c_per = None if c is None else c / COLUMN
        lines.append("| " + " | ".join([
            f"`{name}`", fmt_ns(per), fmt_ns(scalar_call), "—" if scalar_call is None else f"{per / scalar_call:.2f}",
            fmt_ns(c_per), "—" if c_per is None else f"{per / c_per:.2f}", fmt_ns(np_per),
            "—" if np_x is None else f"{np_x:.2f}", "bit-equal"]) + " |")
        results[f"array/{name}"] = dict(per=per, scalar_call=scalar_call, core=c_per, numpy=np_per, numpy_x=np_x)
    return lines


def load_book_example():
    import importlib.util

    spec = importlib.util.spec_from_file_location("book_arrays", os.path.join(ROOT, "examples", "book_arrays.py"))
    module = importlib.util.module_from_spec(spec)
    sys.modules["book_arrays"] = module
    spec.loader.exec_module(module)
    return module


def book_section(rounds, results):
    """Wall time: the threaded case runs on two threads, which thread CPU time would not show."""
    from concurrent.futures import ThreadPoolExecutor

    ba = load_book_example()
    market = ba.make_market()
    book = ba.make_book(5_000, len(market.models))
    loop = ba.price_loop(market, book)
    with ThreadPoolExecutor(2) as pool:
        ways = {"Python loop of scalar calls": lambda: ba.price_loop(market, book),
                "tessel_array": lambda: ba.price_arrays(market, book),
                "tessel_array, ThreadPoolExecutor(2) over two halves": lambda: ba.price_threads(market, book, pool)}
        try:
            import scipy  # noqa: F401
            ways["numpy and scipy"] = lambda: ba.price_numpy(market, book)
        except ImportError:
            pass
        for name, way in ways.items():
            got = way()
            if name.startswith("tessel_array") and not ba.same_bits(got, loop):
                sys.exit(f"the book priced by {name} differs from the loop")
        samples = {name: [] for name in ways}
        for _ in range(rounds):
            for name, way in ways.items():
                start = time.perf_counter()
                way()
                samples[name].append(time.perf_counter() - start)
    medians = {name: statistics.median(x) for name, x in samples.items()}
    ratio = {name: statistics.median(a / b for a, b in zip(samples["Python loop of scalar calls"], x))
             for name, x in samples.items()}
    arrays = samples["tessel_array"]
    lines = ["### The book: 5,000 positions on three expiries (`examples/book_arrays.py`)", "",
             "Value, delta, vega and binary value of every position, the volatilities from one `get_vol` per expiry "
             f"included. Wall time (two threads in one case), median of {rounds} rounds taken in turn.", "",
             "| way | time | loop / way | way / tessel_array |", "|---|---|---|---|"]
    for name in ways:
        vs_arrays = statistics.median(x / y for x, y in zip(samples[name], arrays))
        lines.append(f"| {name} | {medians[name] * 1e3:.2f} ms | {ratio[name]:.2f}× | {vs_arrays:.2f} |")
        results[f"book/{name}"] = dict(ms=medians[name] * 1e3, loop_x=ratio[name], vs_arrays=vs_arrays)
    return lines


# Comparisons shown as a ratio without a target, and why.
REPORTED_ONLY = {
    ("calibrate_black76_iv (atm)", "opengreeks"): "as close as the prescribed Brent search allows (see Performance)",
}


def targets_section(results):
    def row(what, value, ok):
        return f"| {what} | {value} | {'met' if ok else '**missed**'} |"

    fv = results["b76_fairvalue"]
    lines = ["### Targets", "", "| target | measured | |", "|---|---|---|",
             row("`b76_fairvalue` ≤ 1.5× the floor", fmt_x(fv["floor_x"]), fv["floor_x"] <= 1.5),
             row("`b76_fairvalue` ≥ 4× faster than plain Python", fmt_x(fv["python_x"]), fv["python_x"] >= 4)]
    for name, r in results.items():
        if isinstance(r, dict) and "peers" in r:
            for p, x in r["peers"].items():
                if (name, p) in REPORTED_ONLY:
                    lines.append(f"| `{name}` against {p}: {REPORTED_ONLY[name, p]} | {fmt_x(x)} | reported |")
                else:
                    lines.append(row(f"`{name}` faster than {p}", fmt_x(x), x > 1))
    iv = results["calibrate_black76_iv (atm)"]
    lines.append(row("`calibrate_black76_iv` at the money ≥ 10× faster than Brent in plain Python",
                     fmt_x(iv["python_x"]), iv["python_x"] >= 10))
    for model in MODEL_PARAMS:
        r = results[f"{model}/1000"]
        lines.append(row(f"`{model}.get_vol`, 1,000 strikes, ≥ 1.5× faster than numpy", fmt_x(r["numpy_x"]),
                         r["numpy_x"] >= 1.5))
        lines.append(row(f"`{model}.get_vol`, 1,000 strikes, ≤ 2× the list round trip", fmt_x(r["trip_x"]),
                         r["trip_x"] <= 2))
    b = results["Calendar.get_bus_ttx"]
    lines.append(row("`get_bus_ttx` ≥ 8× faster than plain Python with `zoneinfo`", fmt_x(b["python_x"]),
                     b["python_x"] >= 8))
    for key, what, a, b in PAIRS:
        r = results[f"get_bus_ttx/{key}"]
        lines.append(row(f"`get_bus_ttx` ≤ 1.15× `get_cal_ttx`, {what}", fmt_x(r["ratio"]), r["ratio"] <= 1.15))
    c = results["Calendar(BTCUSDT)"]
    lines.append(row("`Calendar(\"BTCUSDT\")` under 50 µs", fmt_ns(c["ours"]), c["ours"] < 50e3))
    for name in ("b76_fairvalue", "b76_delta", "b76_vega", "binary_fairvalue", "calibrate_black76_iv"):
        r = results.get(f"array/{name}")
        if r is None:
            continue
        if r["scalar_call"] is not None and name != "calibrate_black76_iv":
            x = r["per"] / r["scalar_call"]
            lines.append(row(f"`tessel_array.{name}` per element ≤ 1/3 of the scalar call", f"{x:.2f}", x <= 1 / 3))
        if r["numpy_x"] is not None:
            lines.append(row(f"`tessel_array.{name}` at least as fast as numpy", fmt_x(r["numpy_x"]),
                             r["numpy_x"] >= 1.0))
        if name == "calibrate_black76_iv" and r["core"] is not None:
            x = r["per"] / r["core"]
            lines.append(row("`tessel_array.calibrate_black76_iv` per element within 1.2× of its C++ core",
                             f"{x:.2f}×", x <= 1.2))
    b = results.get("book/tessel_array")
    if b is not None:
        lines.append(row("the book with `tessel_array` ≥ 3× faster than the scalar loop", fmt_x(b["loop_x"]),
                         b["loop_x"] >= 3))
        n = results.get("book/numpy and scipy")
        if n is not None:
            lines.append(f"| the book: numpy and scipy against `tessel_array` | {n['vs_arrays']:.2f} of its time | reported |")
    return lines


def machine_lines(peers, skipped, core_context):
    def lscpu(field):
        try:
            out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        except OSError:
            return "?"
        for line in out.splitlines():
            if line.startswith(field + ":"):
                return line.split(":", 1)[1].strip()
        return "?"

    try:
        compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    except (OSError, IndexError):
        compiler = "?"
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    lines = [
        f"- Date: {datetime.now(timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
        f"- CPU: {lscpu('Model name')}, {os.cpu_count()} cores ({lscpu('Hypervisor vendor')} guest), "
        f"load average at start {load}",
        f"- OS: {platform.platform()}",
        f"- Python {platform.python_version()} ({os.path.relpath(sys.executable, ROOT)}), numpy {np.__version__}",
        f"- C++: {compiler}, Release build (-O3, no fast-math), timed with Google Benchmark"
        + (f" {core_context}" if core_context else ""),
        "- Peers: " + ", ".join(f"{p} {peers[p]['version']}" for p in PEER_NAMES if p in peers),
    ]
    for p, why in skipped.items():
        lines.append(f"- Skipped {p}: {why}")
    return lines


def load_core(path):
    if not path or not os.path.exists(path):
        return {}, None
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    out = {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("aggregate_name", "median") != "median":
            continue
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        out[name] = b["cpu_time"] * scale
    ctx = data.get("context", {})
    return out, ctx.get("library_version")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--core", help="Google Benchmark JSON of the C++ core")
    ap.add_argument("--out", help="write the report (markdown) here too")
    ap.add_argument("--quick", action="store_true", help="few short rounds: a smoke run, not a measurement")
    ap.add_argument("--only", choices=["analytics", "models", "calendar", "arrays", "import"], action="append")
    args = ap.parse_args()

    timing = Timing(rounds=5, target=0.001) if args.quick else Timing(rounds=21, target=0.003)
    peers, skipped = load_peers()
    core, core_context = load_core(args.core)
    results = {}
    started = time.time()
    head = machine_lines(peers, skipped, core_context)
    sections = []
    only = set(args.only or ["analytics", "models", "calendar", "arrays", "import"])
    if "analytics" in only:
        sections.append(analytics_section(timing, core, peers, results))
    if "arrays" in only:
        sections.append(arrays_section(timing, core, results))
        sections.append(book_section(7 if args.quick else 31, results))
    if "models" in only:
        sections.append(models_section(timing, core, results))
    if "calendar" in only:
        sections.append(calendar_section(timing, core, results))
    if "import" in only:
        sections.append(import_section(5 if args.quick else 15, peers, results))
    if only >= {"analytics", "models", "calendar"}:
        sections.insert(0, targets_section(results))

    report = ["## Benchmark results", ""] + head + [
        f"- Timing: thread CPU time (other work on the machine does not count), median of {timing.rounds} "
        f"rounds of about {timing.target * 1e3:.0f} ms per case, the cases of a row in turn; a ratio is the "
        f"median of its per-round ratios. Whole Python run {time.time() - started:.0f} s.", ""]
    for s in sections:
        report += s + [""]
    text = "\n".join(report)
    print(text)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
