"""The same grids on two machines, and how far apart their results are, in ulp.

    python tests/arch_grid.py dump OUT.json       every grid's results from the tessel that is imported
    python tests/arch_grid.py compare A.json B.json [--bounds FILE]

The module's own arithmetic is the same on every architecture (IEEE double,
correctly rounded, no contraction into fused multiply-adds); what may differ is
the C library's log, exp, erfc, tanh and pow, which each architecture's libm
computes in its own way, to within an ulp or so. The grids' inputs are made
with + - * / only, so both machines start from the same bits.

compare prints, for every callable, how many results differ and the largest
difference in ulp. It fails when a result is NaN (or infinite) on one side only,
and, with --bounds, when a callable differs by more than the bound stated for
its family in FILE: the table of the conventions page, whose rows read
"| `b76_*` | ... | N |" with the bound in the last column.
"""

import json
import math
import re
import struct
import sys
from datetime import datetime, timedelta, timezone

FWDS = [20.0, 80.0, 97.5, 100.0, 102.5, 130.0, 400.0, 84000.0]
MONEYNESS = [0.3, 0.5, 0.7, 0.8, 0.85, 0.9, 0.95, 0.97, 0.99, 1.0, 1.01, 1.03, 1.05, 1.1, 1.2, 1.25, 1.5, 2.0, 3.0]
TTXS = [1.0 / 365.0, 7.0 / 365.0, 0.02, 0.05, 0.1, 0.25, 0.4, 0.5, 0.75, 1.0, 2.0, 5.0]
VOLS = [0.01, 0.05, 0.1, 0.15, 0.2, 0.3, 0.35, 0.5, 0.65, 0.8, 1.2, 1.5]
DF = 0.97
# Where a price lies between its bounds (discounted intrinsic value and the
# discounted forward or strike), for the implied volatility.
PRICE_FRACTIONS = [1e-6, 0.001, 0.01, 0.1, 0.3, 0.6, 0.9, 0.999]

UTC = timezone.utc
EXPIRY = datetime(2025, 3, 28, 8, tzinfo=UTC)
# Parameter sets: the defaults and a shaped smile for each model.
MODELS = {
    "GVVSpline": [{}, dict(vpr=1.5, ref_spot=101.0, ref_vol=22.0, skew=-7.5, smile=6.25, pwing=3.0, cwing=1.5,
                           offset=0.125)],
    "VolGeo": [{}, dict(vpr=0.75, ref_spot=99.0, ref_vol=31.0, corr=-0.4, vvol=85.0, offset=-2.0)],
    "CubicSpline": [{}, dict(vpr=1.25, ref_spot=98.0, ref_vol=27.0, p05=1.0, p10=0.5, p15=2.0, p20=3.0, p25=4.0,
                             c05=-0.5, c10=0.25, c15=1.0, c20=1.5, c25=2.5)],
}
MODEL_TTXS = [0.003, 0.01, 0.04, 0.1, 0.25, 0.5, 1.0, 1.5, 3.0]
SPOTS = [80.0, 90.0, 97.0, 100.0, 104.0, 113.0, 130.0]
STRIKE_RATIOS = [0.3 + 0.05 * i for i in range(55)]  # 0.3 to 3.0
JACOBIAN_STRIKE_RATIOS = STRIKE_RATIOS[::3]
# Business time between instants spread over two years at odd hours, over
# spans from an hour to a year.
BUS_STARTS = [datetime(2025, 1, 1, tzinfo=UTC) + timedelta(hours=7 * i + 0.25 * (i % 4)) for i in range(0, 2500)]
BUS_SPANS = [timedelta(hours=1), timedelta(days=1), timedelta(days=7), timedelta(days=30), timedelta(days=365)]

# The families the conventions page states a bound for, and which callables
# belong to each.
FAMILIES = [
    ("b76_*", re.compile(r"b76_")),
    ("binary_*", re.compile(r"binary_")),
    ("calibrate_black76_iv", re.compile(r"calibrate_black76_iv$")),
    ("get_vol", re.compile(r"\.get_vol$")),
    ("get_jacobian", re.compile(r"\.get_jacobian$")),
    ("get_bus_ttx", re.compile(r"\.get_bus_ttx$")),
]


def grids(tessel):
    """Name of each callable -> its results over its grid, in a fixed order."""
    out = {}
    options = [(f, f * m, t, v) for f in FWDS for m in MONEYNESS for t in TTXS for v in VOLS]
    for name in ("b76_fairvalue", "b76_delta", "binary_fairvalue", "binary_delta", "binary_vega",
                 "binary_gamma", "binary_speed", "binary_theta"):
        fn = getattr(tessel, name)
        out[name] = [fn(f, k, t, v, cp, DF) for f, k, t, v in options for cp in ("call", "put")]
    for name in ("b76_vega", "b76_gamma"):
        fn = getattr(tessel, name)
        out[name] = [fn(f, k, t, v, DF) for f, k, t, v in options]

    ivs = []
    for f in FWDS:
        for m in MONEYNESS:
            k = f * m
            for t in TTXS:
                for cp, intrinsic, upper in (("call", max(f - k, 0.0), f), ("put", max(k - f, 0.0), k)):
                    for u in PRICE_FRACTIONS:
                        price = DF * (intrinsic + u * (upper - intrinsic))
                        ivs.append(tessel.calibrate_black76_iv(t, f, k, price, cp, DF))
    out["calibrate_black76_iv"] = ivs

    for cls_name, param_sets in MODELS.items():
        cls = getattr(tessel, cls_name)
        vols, jacobians = [], []
        for params in param_sets:
            model = cls(EXPIRY, **params)
            names = sorted(model.get_fitting_params())
            for t in MODEL_TTXS:
                for s in SPOTS:
                    vols += model.get_vol(t, s, [s * r for r in STRIKE_RATIOS])
                    jac = model.get_jacobian(t, s, [s * r for r in JACOBIAN_STRIKE_RATIOS], names)
                    for n in names:
                        jacobians += jac[n]
        out[f"{cls_name}.get_vol"] = vols
        out[f"{cls_name}.get_jacobian"] = jacobians

    cal = tessel.Calendar("BTCUSDT")
    out["Calendar.get_bus_ttx"] = [cal.get_bus_ttx(a, a + d) for a in BUS_STARTS for d in BUS_SPANS]
    return out


def ordered(x):
    """The double's position on the number line, counted in ulp from +0."""
    bits = struct.unpack("<q", struct.pack("<d", x))[0]
    return bits if bits >= 0 else -(bits & 0x7FFF_FFFF_FFFF_FFFF)


def ulps(a, b):
    """ulp between a and b; None when one is NaN or infinite and the other is not the same."""
    if math.isnan(a) or math.isnan(b):
        return 0 if math.isnan(a) and math.isnan(b) else None
    if math.isinf(a) or math.isinf(b):
        return 0 if a == b else None
    return abs(ordered(a) - ordered(b))


def read_bounds(path):
    """Family -> bound in ulp, from the rows of the conventions page's table."""
    bounds = {}
    for line in open(path, encoding="utf-8"):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) >= 2 and cells[0].strip("`") in dict(FAMILIES) and cells[-1].isdigit():
            bounds[cells[0].strip("`")] = int(cells[-1])
    missing = [f for f, _ in FAMILIES if f not in bounds]
    if missing:
        sys.exit(f"arch_grid: no bound in {path} for {missing}")
    return bounds


def compare(a_path, b_path, bounds_path=None):
    a, b = (json.load(open(p)) for p in (a_path, b_path))
    if a.keys() != b.keys() or any(len(a[k]) != len(b[k]) for k in a if not k.startswith("_")):
        sys.exit("arch_grid: the two dumps are not of the same grids")
    bounds = read_bounds(bounds_path) if bounds_path else {}
    problems = []
    print(f"{'callable':<26} {'results':>8} {'differ':>7} {'max ulp':>8}  {a['_machine']} / {b['_machine']}")
    for name in sorted(k for k in a if not k.startswith("_")):
        xs, ys = [float.fromhex(v) for v in a[name]], [float.fromhex(v) for v in b[name]]
        diffs = [ulps(x, y) for x, y in zip(xs, ys)]
        split = [i for i, d in enumerate(diffs) if d is None]
        top = max((d for d in diffs if d is not None), default=0)
        print(f"{name:<26} {len(xs):>8} {sum(1 for d in diffs if d):>7} {top:>8}")
        if split:
            i = split[0]
            problems.append(f"{name}: {len(split)} results NaN or infinite on one machine only, "
                            f"e.g. #{i}: {xs[i]!r} / {ys[i]!r}")
        family = next(f for f, pattern in FAMILIES if pattern.search(name))
        if family in bounds and top > bounds[family]:
            worst = max(range(len(diffs)), key=lambda i: diffs[i] or 0)
            problems.append(f"{name}: {top} ulp, more than the {bounds[family]} stated for {family} "
                            f"(#{worst}: {xs[worst]!r} / {ys[worst]!r})")
    for p in problems:
        print(f"arch_grid: {p}", file=sys.stderr)
    return 1 if problems else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "dump":
        import platform

        import tessel
        results = {name: [v.hex() for v in values] for name, values in grids(tessel).items()}
        results["_machine"] = platform.machine()
        with open(argv[2], "w") as f:
            json.dump(results, f)
        return 0
    if len(argv) in (4, 6) and argv[1] == "compare" and (len(argv) == 4 or argv[4] == "--bounds"):
        return compare(argv[2], argv[3], argv[5] if len(argv) == 6 else None)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
