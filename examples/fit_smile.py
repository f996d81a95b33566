"""Fit the three smile models to a 15-strike option chain with scipy's least_squares.

The residuals are model minus market volatilities and the Jacobian is the
model's own ``get_jacobian`` over its ``get_fitting_params()``. Every rule of a
model's ``arb_free()`` bounds a single parameter, so the rules go to
least_squares as bounds (BOUNDS) and each fitted model passes ``arb_free()``.

CubicSpline's outermost pillars lie beyond the quoted strikes: the chain does
not determine them, and without help the fit sends them to absurd values while
it chases the quotes' noise. A penalty residual (WING_PRIOR) holds each to the
slope of the pillar inside it; the fit without it is printed for comparison.

Prints the chain, how much the chain moves with each CubicSpline parameter,
each fit (error, evaluations, parameters) and the smiles side by side; with
matplotlib installed (``pip install .[examples]``) a PNG of them as well.

Run: python examples/fit_smile.py [--png fit_smile.png]
(from a source tree without installing: PYTHONPATH=build python examples/fit_smile.py)
"""
from __future__ import annotations

import argparse
import copy
import math
import sys
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from datetime import datetime, timezone
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt
from scipy.optimize import least_squares

import tessel

if TYPE_CHECKING:
    from tessel import VolModel  # the models' common type exists for the type checker only

Array = npt.NDArray[np.float64]

NOW = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
EXPIRY = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
SPOT = 84_000.0

# Mid implied volatilities (decimals) of a BTC chain two weeks out, to a tenth
# of a volatility point: a steep put skew, a shallower call wing, and the
# noise of real quotes.
STRIKES: Array = np.array([66_000.0, 69_000.0, 72_000.0, 74_000.0, 76_000.0, 78_000.0, 80_000.0, 82_000.0,
                           84_000.0, 86_000.0, 89_000.0, 92_000.0, 96_000.0, 101_000.0, 108_000.0])
MARKET_VOLS: Array = np.array([0.799, 0.753, 0.714, 0.685, 0.661, 0.631, 0.606, 0.584,
                               0.563, 0.554, 0.550, 0.563, 0.584, 0.605, 0.645])

# arb_free() as bounds, per model: each rule compares one parameter with a
# constant, so the box is exactly the region where arb_free() is true (a
# strict inequality starts at the next double). Parameters not named are free.
ABOVE_1 = math.nextafter(1.0, math.inf)
BOUNDS: dict[str, dict[str, tuple[float, float]]] = {
    # ref_vol > 10, smile >= 1, and the wings (not in the fitting list) >= 0; skew is free.
    "GVVSpline": {"ref_vol": (math.nextafter(10.0, math.inf), math.inf), "smile": (1.0, math.inf),
                  "pwing": (0.0, math.inf), "cwing": (0.0, math.inf)},
    # ref_vol > 1 and vvol >= 1; corr is free (rho = tanh(corr) is a correlation whatever it is).
    "VolGeo": {"ref_vol": (ABOVE_1, math.inf), "vvol": (1.0, math.inf)},
    # ref_vol > 1 and the outermost increments >= 0; the inner increments are free.
    "CubicSpline": {"ref_vol": (ABOVE_1, math.inf), "p25": (0.0, math.inf), "c25": (0.0, math.inf)},
}

# A prior for what the quotes do not determine, as rows of a linear penalty:
# each row is a residual PRIOR_WEIGHT * sum(coefficient * parameter). For
# CubicSpline the outermost increment continues the slope, in volatility points
# per unit of z, of the one inside it: p25 / 2.5 = p20 / 1.0 (the pillars at
# -5, -2.5 and -1.5), and the same on the call side.
WING_PRIOR: dict[str, list[dict[str, float]]] = {
    "CubicSpline": [{"p25": 1 / 2.5, "p20": -1 / 1.0}, {"c25": 1 / 2.5, "c20": -1 / 1.0}],
}
# A kink of one volatility point per unit of z costs as much as a quote missed
# by one volatility point (0.01): firm where the quotes are silent, negligible
# against them where they speak.
PRIOR_WEIGHT = 0.01


@dataclass
class Fit:
    """The outcome of one fit, errors in decimal volatility over the quoted strikes."""

    model: VolModel
    rms_start: float
    rms: float
    max_error: float
    evaluations: int
    message: str


def errors(model: VolModel, ttx: float, spot: float, strikes: Array, market: Array) -> Array:
    """Model minus market volatility per strike."""
    return np.subtract(model.get_vol(ttx, spot, strikes), market)


def rms(r: Array) -> float:
    return math.sqrt(float(np.mean(np.square(r))))


def bounds(model: VolModel, names: Sequence[str]) -> tuple[list[float], list[float]]:
    """Lower and upper bounds of the parameters ``names``: the model's arb_free() rules."""
    box = BOUNDS[type(model).__name__]
    free = (-math.inf, math.inf)
    return [box.get(n, free)[0] for n in names], [box.get(n, free)[1] for n in names]


def fit(model: VolModel, ttx: float, spot: float, strikes: Array, market: Array,
        prior: Sequence[Mapping[str, float]] = ()) -> Fit:
    """Fit the model's fitting parameters in place to ``market``, within its bounds, with a prior.

    least_squares minimises the squares of the volatility errors and of the
    prior's rows; the Jacobian of the errors is get_jacobian's, that of the
    rows is their constant coefficients.
    """
    names = model.get_fitting_params()
    rows: Array = PRIOR_WEIGHT * np.array([[row.get(n, 0.0) for n in names] for row in prior]).reshape(-1, len(names))
    trial = copy.copy(model)  # the model least_squares moves about

    def move(x: Array) -> None:
        for name, value in zip(names, x):
            trial.set_param(name, value)

    def residuals(x: Array) -> Array:
        move(x)
        return np.concatenate([errors(trial, ttx, spot, strikes, market), rows @ x])

    def jacobian(x: Array) -> Array:
        move(x)
        columns = trial.get_jacobian(ttx, spot, strikes, names)
        return np.vstack([np.column_stack([columns[n] for n in names]), rows])

    start = model.get_param_dict()
    rms_start = rms(errors(model, ttx, spot, strikes, market))
    result = least_squares(residuals, [start[n] for n in names], jac=jacobian, bounds=bounds(model, names),
                           x_scale="jac")
    for name, value in zip(names, result.x):
        model.set_param(name, value)
    r = errors(model, ttx, spot, strikes, market)
    return Fit(model, rms_start, rms(r), float(np.max(np.abs(r))), int(result.nfev), str(result.message))


def visibility(model: VolModel, ttx: float, spot: float, strikes: Array) -> dict[str, float]:
    """How much the quoted volatilities move with each fitting parameter, relative to ref_vol.

    The norm of each Jacobian column over the norm of ref_vol's: near 0, the
    quotes do not determine the parameter and the fit needs a prior for it.
    """
    jac = model.get_jacobian(ttx, spot, strikes, model.get_fitting_params())
    scale = float(np.linalg.norm(jac["ref_vol"]))
    return {name: float(np.linalg.norm(column)) / scale for name, column in jac.items()}


def starting_models(expiry: datetime, spot: float, atm_vol: float) -> list[VolModel]:
    """Each model anchored at spot with the at-the-money level in percent."""
    level = 100.0 * atm_vol
    return [
        tessel.GVVSpline(expiry, ref_spot=spot, ref_vol=level),
        tessel.VolGeo(expiry, ref_spot=spot, ref_vol=level, vvol=50.0),
        tessel.CubicSpline(expiry, ref_spot=spot, ref_vol=level),
    ]


def fit_all(ttx: float, spot: float = SPOT, strikes: Array = STRIKES, market: Array = MARKET_VOLS,
            expiry: datetime = EXPIRY, prior: Mapping[str, list[dict[str, float]]] = WING_PRIOR) -> list[Fit]:
    """The three models fitted to the chain, each with its prior."""
    atm = float(market[int(np.argmin(np.abs(strikes - spot)))])
    return [fit(m, ttx, spot, strikes, market, prior.get(type(m).__name__, ()))
            for m in starting_models(expiry, spot, atm)]


def write_png(path: str, fits: Sequence[Fit], ttx: float, spot: float, strikes: Array, market: Array) -> bool:
    """Plot the market points and the fitted smiles; False when matplotlib is missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    grid = np.linspace(0.85 * strikes.min(), 1.1 * strikes.max(), 201)
    fig, ax = plt.subplots(figsize=(8, 5))
    for f in fits:
        ax.plot(grid, 100 * np.asarray(f.model.get_vol(ttx, spot, grid)),
                label=f"{type(f.model).__name__} (rms {100 * f.rms:.2f} vol pts)")
    ax.scatter(strikes, 100 * market, color="black", zorder=3, label="market")
    ax.axvline(spot, color="grey", linewidth=0.8, linestyle=":")
    ax.set_xlabel("strike")
    ax.set_ylabel("implied volatility, %")
    ax.set_title(f"Fitted smiles, ttx = {ttx:.4f} y of trading time")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


def report(name: str, f: Fit) -> None:
    print(f"{name}: rms error {100 * f.rms_start:.3f} -> {100 * f.rms:.3f} vol points, largest "
          f"{100 * f.max_error:.3f}, in {f.evaluations} evaluations; arb_free {f.model.arb_free()}")
    params = f.model.get_param_dict()
    for n in f.model.get_fitting_params():
        print(f"  {n:>8} = {params[n]:10.4f}")


def main(argv: Sequence[str] | None = None) -> list[Fit]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--png", default="fit_smile.png",
                        help="where to write the plot when matplotlib is installed (default: %(default)s)")
    args = parser.parse_args(argv)

    ttx = tessel.Calendar("BTCUSDT").get_bus_ttx(NOW, EXPIRY)
    print(f"{len(STRIKES)} market volatilities, spot {SPOT:,.0f}, ttx {ttx:.6f} y of trading time")
    print("strikes  " + " ".join(f"{k / 1000:5.0f}k" for k in STRIKES))
    print("vol %    " + " ".join(f"{100 * v:6.1f}" for v in MARKET_VOLS))

    start = tessel.CubicSpline(EXPIRY, ref_spot=SPOT, ref_vol=100 * float(MARKET_VOLS[8]))
    print("\nHow much the quotes move with each CubicSpline parameter (Jacobian column norm / ref_vol's):")
    print("  " + "  ".join(f"{n} {v:.2f}" for n, v in visibility(start, ttx, SPOT, STRIKES).items()))
    loose = fit(start, ttx, SPOT, STRIKES, MARKET_VOLS)
    print(f"Without a prior the outer pillars run away: p25 = {loose.model.get_parameter('p25'):,.0f}, "
          f"c25 = {loose.model.get_parameter('c25'):,.0f} (rms {100 * loose.rms:.3f} vol points)")

    fits = fit_all(ttx)
    for f in fits:
        print()
        report(type(f.model).__name__ + (" with the wing prior" if type(f.model).__name__ in WING_PRIOR else ""), f)

    print()
    show = [60_000.0, 66_000.0, 74_000.0, 84_000.0, 92_000.0, 101_000.0, 115_000.0, 130_000.0]
    market_at = dict(zip(STRIKES.tolist(), MARKET_VOLS.tolist()))
    names = [type(f.model).__name__ for f in fits]
    print(f"{'strike':>8} {'market':>8} " + " ".join(f"{n:>11}" for n in names) + "   (vol %)")
    columns = [f.model.get_vol(ttx, SPOT, show) for f in fits]
    for i, k in enumerate(show):
        mkt = f"{100 * market_at[k]:8.2f}" if k in market_at else f"{'':>8}"
        print(f"{k:>8.0f} {mkt} " + " ".join(f"{100 * c[i]:11.2f}" for c in columns))

    if write_png(args.png, fits, ttx, SPOT, STRIKES, MARKET_VOLS):
        print(f"\nwrote {args.png}")
    else:
        print("\nmatplotlib is not installed: no plot (pip install .[examples])")
    return fits


if __name__ == "__main__":
    main(sys.argv[1:])
