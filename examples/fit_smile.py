"""Fit the three smile models to a handful of market volatilities.

Each model is fitted with Gauss-Newton: the residuals are model minus market
volatilities, the Jacobian comes from ``get_jacobian`` over the model's
``get_fitting_params()``, and every step is applied with ``bump_param``, so the
model's ``arb_free`` test refuses any update that would break it. The fitted
parameters are printed, then the three smiles side by side; with matplotlib
installed (``pip install .[examples]``) a PNG of the market points and the
three fitted curves is written as well.

Run: python examples/fit_smile.py [--png fit_smile.png]
(from a source tree without installing: PYTHONPATH=build python examples/fit_smile.py)
"""
from __future__ import annotations

import argparse
import copy
import math
import sys
from collections.abc import Sequence
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Union

import tessel

Model = Union[tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]

NOW = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
EXPIRY = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
SPOT = 84_000.0

# Market implied volatilities (decimals) of one expiry: a put skew and a
# shallower call wing, as a crypto option screen might show them.
MARKET_STRIKES = [62_000.0, 68_000.0, 72_000.0, 76_000.0, 80_000.0, 84_000.0,
                  88_000.0, 92_000.0, 96_000.0, 102_000.0, 110_000.0]
MARKET_VOLS = [0.842, 0.716, 0.652, 0.602, 0.566, 0.550,
               0.551, 0.566, 0.590, 0.633, 0.695]


@dataclass
class Fit:
    """The outcome of one fit: the model, its errors and what happened on the way."""

    model: Model
    rms_start: float
    rms: float
    iterations: int
    refused: list[str] = field(default_factory=list)


def residuals(model: Model, ttx: float, spot: float,
              strikes: Sequence[float], market: Sequence[float]) -> list[float]:
    return [v - m for v, m in zip(model.get_vol(ttx, spot, strikes), market)]


def rms(r: Sequence[float]) -> float:
    return math.sqrt(sum(x * x for x in r) / len(r))


def solve(a: list[list[float]], b: list[float]) -> list[float]:
    """Solve a x = b for a small dense system: Gaussian elimination with partial pivoting."""
    n = len(b)
    m = [row[:] + [rhs] for row, rhs in zip(a, b)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(m[r][col]))
        m[col], m[pivot] = m[pivot], m[col]
        if m[col][col] == 0.0:
            continue
        for r in range(col + 1, n):
            f = m[r][col] / m[col][col]
            for c in range(col, n + 1):
                m[r][c] -= f * m[col][c]
    x = [0.0] * n
    for r in reversed(range(n)):
        s = m[r][n] - sum(m[r][c] * x[c] for c in range(r + 1, n))
        x[r] = s / m[r][r] if m[r][r] != 0.0 else 0.0
    return x


def gauss_newton_step(model: Model, names: Sequence[str], ttx: float, spot: float,
                      strikes: Sequence[float], market: Sequence[float],
                      damping: float = 1e-3) -> dict[str, float]:
    """The Gauss-Newton increment of the parameters ``names``, the others held.

    Solves (J'J + damping * diag(J'J)) d = -J'r; the small damping keeps the
    normal equations solvable when a parameter barely moves the quoted strikes
    (the outer pillars of CubicSpline).
    """
    r = residuals(model, ttx, spot, strikes, market)
    jac = model.get_jacobian(ttx, spot, strikes, names)
    cols = [jac[n] for n in names]
    jtj = [[sum(ci[k] * cj[k] for k in range(len(r))) for cj in cols] for ci in cols]
    jtr = [sum(ci[k] * r[k] for k in range(len(r))) for ci in cols]
    for i in range(len(names)):
        jtj[i][i] += damping * jtj[i][i] + 1e-12
    step = solve(jtj, [-g for g in jtr])
    return dict(zip(names, step))


def apply_step(model: Model, step: dict[str, float], refused: set[str]) -> tuple[Model, set[str]]:
    """A copy of ``model`` with the step applied through ``bump_param``.

    ``bump_param`` leaves the model unchanged when the bumped model would fail
    ``arb_free()``. A refused increment is halved until it is accepted, which
    walks the parameter up to the edge of the arbitrage-free region; one that
    is refused however small comes back in the second set. Every parameter
    that was refused at least once is added to ``refused``.
    """
    trial = copy.copy(model)
    stuck = set()
    for name, d in step.items():
        for _ in range(40):
            before = trial.get_parameter(name)
            assert before is not None, name
            trial.bump_param(name, d)
            if before + d == before or trial.get_parameter(name) != before:
                break  # applied (or too small to change anything)
            refused.add(name)
            d *= 0.5
        else:
            stuck.add(name)
    return trial, stuck


def fit(model: Model, ttx: float, spot: float, strikes: Sequence[float],
        market: Sequence[float], max_iter: int = 50, tol: float = 1e-12) -> Fit:
    """Fit ``model`` in place to the market volatilities and report how it went."""
    names = model.get_fitting_params()
    r0 = rms(residuals(model, ttx, spot, strikes, market))
    current = r0
    refused: set[str] = set()
    iterations = 0
    for iterations in range(1, max_iter + 1):
        # Parameters that arb_free holds at the edge sit this step out: the
        # others are solved for again without them.
        held: set[str] = set()
        while True:
            active = [n for n in names if n not in held]
            step = gauss_newton_step(model, active, ttx, spot, strikes, market) if active else {}
            trial, stuck = apply_step(model, step, refused)
            if not stuck:
                break
            held |= stuck
        # Halve the step until it lowers the error.
        scale, err = 1.0, rms(residuals(trial, ttx, spot, strikes, market))
        while not err < current and scale > 1e-4:
            scale *= 0.5
            trial, _ = apply_step(model, {n: scale * d for n, d in step.items()}, refused)
            err = rms(residuals(trial, ttx, spot, strikes, market))
        if not err < current:
            break  # no step lowers the error any more
        for name, value in trial.get_param_dict().items():
            model.set_param(name, value)
        improvement, current = current - err, err
        if improvement < tol:
            break
    return Fit(model, r0, current, iterations, sorted(refused))


def starting_models(expiry: datetime, spot: float, atm_vol: float) -> list[Model]:
    """Each model anchored at spot with the at-the-money level in percent."""
    level = 100.0 * atm_vol
    return [
        tessel.GVVSpline(expiry, ref_spot=spot, ref_vol=level),
        tessel.VolGeo(expiry, ref_spot=spot, ref_vol=level, vvol=50.0),
        tessel.CubicSpline(expiry, ref_spot=spot, ref_vol=level),
    ]


def fit_all(ttx: float, spot: float = SPOT, strikes: Sequence[float] = MARKET_STRIKES,
            market: Sequence[float] = MARKET_VOLS, expiry: datetime = EXPIRY) -> list[Fit]:
    atm = market[min(range(len(strikes)), key=lambda i: abs(strikes[i] - spot))]
    return [fit(m, ttx, spot, strikes, market) for m in starting_models(expiry, spot, atm)]


def write_png(path: str, fits: Sequence[Fit], ttx: float, spot: float,
              strikes: Sequence[float], market: Sequence[float]) -> bool:
    """Plot the market points and the fitted smiles; False when matplotlib is missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    lo, hi = 0.9 * min(strikes), 1.05 * max(strikes)
    grid = [lo + (hi - lo) * i / 200 for i in range(201)]
    fig, ax = plt.subplots(figsize=(8, 5))
    for f in fits:
        ax.plot(grid, [100 * v for v in f.model.get_vol(ttx, spot, grid)],
                label=f"{type(f.model).__name__} (rms {100 * f.rms:.2f} vol pts)")
    ax.scatter(strikes, [100 * v for v in market], color="black", zorder=3, label="market")
    ax.axvline(spot, color="grey", linewidth=0.8, linestyle=":")
    ax.set_xlabel("strike")
    ax.set_ylabel("implied volatility, %")
    ax.set_title(f"Fitted smiles, ttx = {ttx:.4f} y of trading time")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


def main(argv: Sequence[str] | None = None) -> list[Fit]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--png", default="fit_smile.png",
                        help="where to write the plot when matplotlib is installed (default: %(default)s)")
    args = parser.parse_args(argv)

    ttx = tessel.Calendar("BTCUSDT").get_bus_ttx(NOW, EXPIRY)
    print(f"{len(MARKET_STRIKES)} market volatilities, spot {SPOT:,.0f}, ttx {ttx:.6f} y of trading time")
    fits = fit_all(ttx)

    for f in fits:
        print()
        print(f"{type(f.model).__name__}: rms error {100 * f.rms_start:.3f} -> {100 * f.rms:.4f} vol points "
              f"in {f.iterations} Gauss-Newton steps; arb_free {f.model.arb_free()}")
        if f.refused:
            print(f"  arb_free refused some updates of: {', '.join(f.refused)}")
        params = f.model.get_param_dict()
        for name in f.model.get_fitting_params():
            print(f"  {name:>8} = {params[name]:10.4f}")

    print()
    show = [58_000.0, 68_000.0, 76_000.0, 84_000.0, 92_000.0, 102_000.0, 118_000.0]
    market_at = dict(zip(MARKET_STRIKES, MARKET_VOLS))
    names = [type(f.model).__name__ for f in fits]
    print(f"{'strike':>8} {'market':>8} " + " ".join(f"{n:>11}" for n in names) + "   (vol %)")
    columns = [f.model.get_vol(ttx, SPOT, show) for f in fits]
    for i, k in enumerate(show):
        mkt = f"{100 * market_at[k]:8.2f}" if k in market_at else f"{'':>8}"
        print(f"{k:>8.0f} {mkt} " + " ".join(f"{100 * c[i]:11.2f}" for c in columns))

    if write_png(args.png, fits, ttx, SPOT, MARKET_STRIKES, MARKET_VOLS):
        print(f"\nwrote {args.png}")
    else:
        print("\nmatplotlib is not installed: no plot (pip install .[examples])")
    return fits


if __name__ == "__main__":
    main(sys.argv[1:])
