"""Typed use of tessel with numpy: smiles of mixed models on a strike grid.

mypy --strict checks this file against the stub (tests/packaging.sh runs it
over examples/): numpy arrays go wherever a sequence of numbers is asked for,
the dict that ``get_param_dict()`` returns goes back into ``with_params``, and
a list of the three model classes is a ``list[VolModel]``. ``VolModel``, the
models' common type, exists for the type checker only, so it is imported
under ``TYPE_CHECKING``.

Prints each expiry's volatilities on a grid of strikes, and what a one-point
rise of every ``ref_vol`` does to them: recomputed from shifted copies of the
models, and predicted by ``get_jacobian``.

Run: python examples/smile_grid.py
(from a source tree without installing: PYTHONPATH=build python examples/smile_grid.py)
"""
from __future__ import annotations

from datetime import datetime, timedelta, timezone
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

import tessel

if TYPE_CHECKING:
    from tessel import VolModel

Array = npt.NDArray[np.float64]

NOW = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
SPOT = 84_000.0


def make_models(first: datetime, spot: float) -> list[VolModel]:
    """One smile per expiry, a week apart, one of each kind."""
    return [
        tessel.GVVSpline(first, ref_spot=spot, ref_vol=58.0, skew=-12.0, smile=8.0),
        tessel.VolGeo(first + timedelta(weeks=1), ref_spot=spot, ref_vol=56.0, corr=-0.5, vvol=25.0),
        tessel.CubicSpline(first + timedelta(weeks=2), ref_spot=spot, ref_vol=55.0, p05=4.5, p10=5.0, p15=5.0,
                           p20=10.0, p25=25.0, c05=-1.0, c10=2.0, c15=2.0, c20=6.0, c25=15.0),
    ]


def times(calendar: tessel.Calendar, now: datetime, models: list[VolModel]) -> Array:
    """Business time to each model's expiry."""
    return np.array([calendar.get_bus_ttx(now, m.expiry) for m in models])


def vol_grid(models: list[VolModel], ttx: Array, spot: float, strikes: Array) -> Array:
    """Volatilities (decimals), one row per model, one column per strike."""
    return np.array([m.get_vol(t, spot, strikes) for m, t in zip(models, ttx)])


def shifted(models: list[VolModel], points: float) -> list[VolModel]:
    """Copies of the models with ``ref_vol`` raised by ``points`` volatility points."""
    copies = []
    for m in models:
        params = m.get_param_dict()  # dict[str, float], as with_params takes it
        params["ref_vol"] += points
        copies.append(m.with_params(m.expiry, params))
    return copies


def predicted_shift(models: list[VolModel], ttx: Array, spot: float, strikes: Array, points: float) -> Array:
    """The same shift from the Jacobian: d vol / d ref_vol per strike, times the points."""
    return np.array([np.asarray(m.get_jacobian(t, spot, strikes, ["ref_vol"])["ref_vol"]) * points
                     for m, t in zip(models, ttx)])


def main() -> None:
    calendar = tessel.Calendar("BTCUSDT")
    models = make_models(datetime(2025, 3, 21, 8, tzinfo=timezone.utc), SPOT)
    ttx = times(calendar, NOW, models)
    strikes: Array = SPOT * np.linspace(0.8, 1.2, 5)

    grid = vol_grid(models, ttx, SPOT, strikes)
    moved = vol_grid(shifted(models, 1.0), ttx, SPOT, strikes) - grid
    predicted = predicted_shift(models, ttx, SPOT, strikes, 1.0)

    print(f"{'expiry':>10} {'model':>12} {'ttx':>8}  " + " ".join(f"{k:>8.0f}" for k in strikes) + "   (vol %)")
    for m, t, row in zip(models, ttx, grid):
        print(f"{m.expiry:%Y-%m-%d} {type(m).__name__:>12} {t:8.5f}  " + " ".join(f"{100 * v:8.2f}" for v in row))
    print("\nref_vol + 1 point moves the volatilities by (vol points), recomputed / from get_jacobian:")
    for m, row, guess in zip(models, moved, predicted):
        print(f"{type(m).__name__:>23}  " + " ".join(f"{100 * a:.3f}/{100 * b:.3f}" for a, b in zip(row, guess)))
    worst = float(np.max(np.abs(moved - predicted)))
    print(f"\nlargest difference {100 * worst:.5f} vol points")


if __name__ == "__main__":
    main()
