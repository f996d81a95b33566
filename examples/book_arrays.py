"""Price a book of 5,000 options on three expiries: in a Python loop, with tessel_array, and with numpy.

Every position needs its Black-76 value, delta (tessel's: D·φ(d1)/(Fσ√T)),
vega and the value of the binary option at its strike. The market is one
smile per expiry; the time to expiry is business time from the calendar.

- ``price_loop``: one ``get_vol`` per expiry, then a Python loop of scalar
  calls, four per position.
- ``price_arrays``: the same volatilities, then four calls of tessel_array over
  the whole book: bit for bit the loop's numbers.
- ``price_numpy``: the formulas written with numpy and scipy over arrays (needs
  scipy), which agree to rounding.
- ``price_threads``: the same volatilities, then tessel_array over two halves
  of the book in a ``ThreadPoolExecutor(2)``; the interpreter lock is
  released while each half computes.

The book's columns are numpy arrays; the columns of a pandas DataFrame
(``df["strike"]``) are read the same way.

Run: python examples/book_arrays.py [--positions 5000]
(from a source tree: PYTHONPATH=build python examples/book_arrays.py)
"""
from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from typing import Union

import numpy as np
import numpy.typing as npt

import tessel
import tessel_array

Model = Union[tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]
Floats = npt.NDArray[np.float64]

NOW = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
SPOT = 84_000.0
COLUMNS = ("value", "delta", "vega", "binary")


@dataclass(frozen=True)
class Market:
    now: datetime
    spot: float
    calendar: tessel.Calendar
    models: list[Model]  # one smile per expiry


@dataclass(frozen=True)
class Book:
    """One row per position: which expiry, strike, call or put, and how many."""

    expiry: npt.NDArray[np.intp]
    strike: Floats
    call_put: npt.NDArray[np.object_]  # "call" and "put"
    notional: Floats

    def __len__(self) -> int:
        return len(self.strike)


def make_market(now: datetime = NOW, spot: float = SPOT) -> Market:
    """Three expiries, Fridays at 08:00 UTC, each with its own smile."""
    first = datetime(2025, 3, 21, 8, tzinfo=timezone.utc)
    expiries = [first + timedelta(weeks=w) for w in (0, 2, 6)]
    models: list[Model] = [
        tessel.VolGeo(expiries[0], ref_spot=spot, ref_vol=58.0, corr=-0.35, vvol=95.0),
        tessel.GVVSpline(expiries[1], ref_spot=spot, ref_vol=55.0, skew=-6.0, smile=9.0, pwing=4.0, cwing=1.5),
        tessel.VolGeo(expiries[2], ref_spot=spot, ref_vol=51.0, corr=-0.2, vvol=70.0),
    ]
    return Market(now, spot, tessel.Calendar("BTCUSDT"), models)


def make_book(size: int = 5_000, n_expiries: int = 3, spot: float = SPOT, seed: int = 25) -> Book:
    """Made-up positions: strikes from 60 % to 140 % of spot in steps of 500, long and short."""
    rng = np.random.default_rng(seed)
    strike = np.round(spot * rng.uniform(0.6, 1.4, size) / 500.0) * 500.0
    call_put = np.where(rng.random(size) < 0.6, "call", "put").astype(object)
    notional = (rng.integers(-20, 21, size) * 0.5).astype(np.float64)
    return Book(rng.integers(0, n_expiries, size), strike, call_put, notional)


def vols_and_ttx(market: Market, book: Book) -> tuple[Floats, Floats]:
    """Each position's volatility and time to expiry: one get_vol per expiry."""
    ttx, vol = np.empty(len(book)), np.empty(len(book))
    for e, model in enumerate(market.models):
        rows = np.flatnonzero(book.expiry == e)
        ttx[rows] = market.calendar.get_bus_ttx(market.now, model.expiry)
        vol[rows] = model.get_vol(float(ttx[rows[0]]) if rows.size else 0.0, market.spot, book.strike[rows].tolist())
    return ttx, vol


def price_loop(market: Market, book: Book) -> dict[str, Floats]:
    """Scalar calls in a Python loop, four per position."""
    ttx, vol = vols_and_ttx(market, book)
    fwd = market.spot
    rows = []
    for k, t, v, cp, n in zip(book.strike.tolist(), ttx.tolist(), vol.tolist(), book.call_put.tolist(),
                              book.notional.tolist()):
        rows.append((n * tessel.b76_fairvalue(fwd, k, t, v, cp), n * tessel.b76_delta(fwd, k, t, v, cp),
                     n * tessel.b76_vega(fwd, k, t, v), n * tessel.binary_fairvalue(fwd, k, t, v, cp)))
    table = np.array(rows).reshape(len(book), len(COLUMNS))
    return {name: table[:, i] for i, name in enumerate(COLUMNS)}


def price_arrays(market: Market, book: Book) -> dict[str, Floats]:
    """Four calls over the whole book, each element the scalar call's number."""
    ttx, vol = vols_and_ttx(market, book)
    return price_columns(market.spot, book.strike, ttx, vol, book.call_put, book.notional)


def price_columns(fwd: float, strike: Floats, ttx: Floats, vol: Floats, call_put: npt.NDArray[np.object_],
                  notional: Floats) -> dict[str, Floats]:
    return {
        "value": notional * tessel_array.b76_fairvalue(fwd, strike, ttx, vol, call_put),
        "delta": notional * tessel_array.b76_delta(fwd, strike, ttx, vol, call_put),
        "vega": notional * tessel_array.b76_vega(fwd, strike, ttx, vol),
        "binary": notional * tessel_array.binary_fairvalue(fwd, strike, ttx, vol, call_put),
    }


def price_numpy(market: Market, book: Book) -> dict[str, Floats]:
    """The same formulas in numpy and scipy: equal to rounding, not to the bit."""
    from scipy.special import ndtr

    ttx, vol = vols_and_ttx(market, book)
    fwd, k, n = market.spot, book.strike, book.notional
    call = book.call_put == "call"
    sqrt_t = np.sqrt(ttx)
    s = vol * sqrt_t
    log_fk = np.log(fwd / k)
    d1 = (log_fk + 0.5 * vol * vol * ttx) / s
    d2 = d1 - s
    pdf = np.exp(-0.5 * d1 * d1) / math.sqrt(2.0 * math.pi)
    value = np.where(call, fwd * ndtr(d1) - k * ndtr(d2), k * ndtr(-d2) - fwd * ndtr(-d1))
    delta = np.where(call, 1.0, -1.0) * pdf / (fwd * s)
    x = log_fk / s
    return {"value": n * value, "delta": n * delta, "vega": n * pdf * fwd * sqrt_t,
            "binary": n * ndtr(np.where(call, x, -x))}


def price_threads(market: Market, book: Book, pool: ThreadPoolExecutor) -> dict[str, Floats]:
    """The volatilities as before, then tessel_array over the two halves of the book at once."""
    ttx, vol = vols_and_ttx(market, book)
    h = len(book) // 2
    parts = [slice(None, h), slice(h, None)]
    first, second = pool.map(lambda s: price_columns(market.spot, book.strike[s], ttx[s], vol[s], book.call_put[s],
                                                     book.notional[s]), parts)
    return {name: np.concatenate([first[name], second[name]]) for name in COLUMNS}


def same_bits(a: dict[str, Floats], b: dict[str, Floats]) -> bool:
    return all(np.array_equal(a[c].view(np.uint64), b[c].view(np.uint64)) for c in COLUMNS)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--positions", type=int, default=5_000, help="size of the book (default: %(default)s)")
    args = parser.parse_args(argv)
    market = make_market()
    book = make_book(args.positions, len(market.models))

    timed: dict[str, float] = {}
    results = {}
    with ThreadPoolExecutor(2) as pool:
        ways: dict[str, Callable[[], dict[str, Floats]]] = {
            "Python loop of scalar calls": lambda: price_loop(market, book),
            "tessel_array": lambda: price_arrays(market, book),
            "tessel_array, two threads": lambda: price_threads(market, book, pool),
        }
        try:
            import scipy  # noqa: F401
        except ImportError:
            print("scipy is not installed: the numpy version is skipped")
        else:
            ways["numpy and scipy"] = lambda: price_numpy(market, book)
        for name, way in ways.items():
            results[name] = way()
            start = time.perf_counter()
            for _ in range(5):
                way()
            timed[name] = (time.perf_counter() - start) / 5

    loop = results["Python loop of scalar calls"]
    print(f"{len(book):,} positions on {len(market.models)} expiries")
    print(f"{'':>28}" + "".join(f"{c:>16}" for c in COLUMNS))
    print(f"{'book total':>28}" + "".join(f"{loop[c].sum():16.4f}" for c in COLUMNS))
    for name, took in timed.items():
        print(f"{name:>28}: {took * 1e3:7.2f} ms")
    ok = same_bits(results["tessel_array"], loop) and same_bits(results["tessel_array, two threads"], loop)
    print(f"tessel_array equals the loop, bit for bit: {'yes' if ok else 'NO'}")
    if "numpy and scipy" in results:
        worst = max(float(np.max(np.abs(results["numpy and scipy"][c] - loop[c]) / (1.0 + np.abs(loop[c]))))
                    for c in COLUMNS)
        print(f"numpy and scipy differ from it by at most {worst:.1e} (relative)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
