"""Price a book of binary options across worker processes.

The book holds binary calls and puts on BTCUSDT at four expiries, each expiry
with its own fitted smile. The work is cut into slices of one expiry each;
every task ships a pickled ``Calendar`` and the expiry's pickled model to a
worker, which measures the time to expiry in trading time, reads the
volatilities and values the slice with ``tessel_array``, one call per
quantity. The results are then checked against the same pricing done in this
process: they agree to the last bit.

Workers come from Dask's distributed scheduler when it is installed
(``pip install .[examples]``): a local cluster by default, or the scheduler
at ``--scheduler ADDRESS``. Without Dask the script falls back to
``concurrent.futures.ProcessPoolExecutor``.

Run: python examples/price_book.py [--scheduler tcp://host:8786] [--workers 2]
(from a source tree without installing: PYTHONPATH=build python examples/price_book.py;
the workers find the module through the same PYTHONPATH)
"""
from __future__ import annotations

import argparse
import contextlib
import json
import math
import sys
import time
from collections.abc import Iterator, Sequence
from concurrent.futures import Executor, Future, ProcessPoolExecutor
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from typing import Union

import numpy as np

import tessel
import tessel_array

Model = Union[tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]
Greeks = tuple[float, float, float]  # value, delta, vega of one position

NOW = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
SPOT = 84_000.0


@dataclass(frozen=True)
class Position:
    expiry: int  # index into the market's models
    strike: float
    call_put: str
    notional: float


@dataclass(frozen=True)
class Market:
    now: datetime
    spot: float
    calendar: tessel.Calendar
    models: list[Model]


def make_market(now: datetime = NOW, spot: float = SPOT) -> Market:
    """One smile per expiry, Fridays at 08:00 UTC, one model of each kind and a VolGeo again."""
    first = datetime(2025, 3, 21, 8, tzinfo=timezone.utc)
    expiries = [first + timedelta(weeks=w) for w in (0, 1, 3, 7)]
    models: list[Model] = [
        tessel.VolGeo(expiries[0], ref_spot=spot, ref_vol=58.0, corr=-0.35, vvol=95.0),
        tessel.GVVSpline(expiries[1], ref_spot=spot, ref_vol=55.0, skew=-6.0, smile=9.0, pwing=4.0, cwing=1.5),
        tessel.CubicSpline(expiries[2], ref_spot=spot, ref_vol=53.0, p05=1.2, p10=2.0, p15=3.0, p20=6.0,
                           p25=12.0, c05=0.3, c10=1.0, c15=2.0, c20=4.0, c25=8.0),
        tessel.VolGeo(expiries[3], ref_spot=spot, ref_vol=51.0, corr=-0.2, vvol=70.0),
    ]
    return Market(now, spot, tessel.Calendar("BTCUSDT"), models)


def make_book(size: int, n_expiries: int = 4, spot: float = SPOT) -> list[Position]:
    """A deterministic book: strikes from 70 % to 130 % of spot, calls and puts, long and short."""
    book = []
    for i in range(size):
        strike = round(spot * (0.7 + 0.6 * ((i * 37) % 101) / 100), -2)
        call_put = "call" if i % 3 else "put"
        notional = (1 + i % 7) * (1_000.0 if i % 5 else -2_500.0)
        book.append(Position(i % n_expiries, strike, call_put, notional))
    return book


def price_slice(calendar: tessel.Calendar, model: Model, now: datetime, spot: float,
                positions: Sequence[tuple[float, str, float]]) -> list[Greeks]:
    """Value, delta and vega of positions (strike, call_put, notional) that share one expiry.

    Runs on a worker: the calendar and the model arrive pickled.
    """
    ttx = calendar.get_bus_ttx(now, model.expiry)
    strikes = [k for k, _, _ in positions]
    vols = model.get_vol(ttx, spot, strikes)
    call_put = [cp for _, cp, _ in positions]
    notional = np.array([n for _, _, n in positions])
    # One call per quantity over the whole slice, each element the scalar function's number.
    value = notional * tessel_array.binary_fairvalue(spot, strikes, ttx, vols, call_put)
    delta = notional * tessel_array.binary_delta(spot, strikes, ttx, vols, call_put)
    vega = notional * tessel_array.binary_vega(spot, strikes, ttx, vols, call_put)
    return list(zip(value.tolist(), delta.tolist(), vega.tolist()))


def slices(book: Sequence[Position], n_expiries: int, per_task: int) -> Iterator[tuple[int, list[int]]]:
    """(expiry, indices into the book) with at most ``per_task`` positions each."""
    for e in range(n_expiries):
        idx = [i for i, p in enumerate(book) if p.expiry == e]
        for start in range(0, len(idx), per_task):
            yield e, idx[start:start + per_task]


def price_book(market: Market, book: Sequence[Position], executor: Executor | None = None,
               per_task: int = 250) -> list[Greeks]:
    """Greeks of every position, in book order; in this process when ``executor`` is None."""
    jobs: list[tuple[list[int], Future[list[Greeks]] | list[Greeks]]] = []
    for e, idx in slices(book, len(market.models), per_task):
        args = (market.calendar, market.models[e], market.now, market.spot,
                [(book[i].strike, book[i].call_put, book[i].notional) for i in idx])
        if executor is None:
            jobs.append((idx, price_slice(*args)))
        else:
            jobs.append((idx, executor.submit(price_slice, *args)))
    results: list[Greeks | None] = [None] * len(book)
    for idx, job in jobs:
        values = job if isinstance(job, list) else job.result(timeout=300)
        for i, greeks in zip(idx, values):
            results[i] = greeks
    assert all(r is not None for r in results)
    return [r for r in results if r is not None]


@contextlib.contextmanager
def workers(kind: str, n_workers: int, scheduler: str | None) -> Iterator[tuple[str, Executor]]:
    """An executor over worker processes: Dask when it is there (or asked for), else a process pool."""
    if kind in ("auto", "dask") or scheduler:
        try:
            from distributed import Client, LocalCluster
        except ImportError:
            if kind == "dask" or scheduler:
                raise SystemExit("Dask is not installed: pip install 'dask[distributed]' (or .[examples])")
        else:
            if scheduler:
                with Client(scheduler, timeout=60) as client:
                    yield f"Dask scheduler at {scheduler}", client.get_executor()
                return
            import logging

            with LocalCluster(n_workers=n_workers, threads_per_worker=1, processes=True,
                              dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                    Client(cluster, timeout=60) as client:
                yield f"Dask local cluster of {n_workers} worker processes", client.get_executor()
            return
    with ProcessPoolExecutor(max_workers=n_workers) as pool:
        yield f"process pool of {n_workers} workers", pool


def same(a: Sequence[Greeks], b: Sequence[Greeks]) -> bool:
    """Bit-for-bit equality, NaN equal to NaN."""
    return len(a) == len(b) and all(
        x == y or (math.isnan(x) and math.isnan(y)) for ga, gb in zip(a, b) for x, y in zip(ga, gb))


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://10.0.0.5:8786")
    parser.add_argument("--workers", type=int, default=2, help="worker processes to start (default: %(default)s)")
    parser.add_argument("--executor", choices=["auto", "dask", "process"], default="auto",
                        help="auto: Dask when installed, else a process pool (default: %(default)s)")
    parser.add_argument("--positions", type=int, default=2_000, help="size of the book (default: %(default)s)")
    parser.add_argument("--per-task", type=int, default=250, help="positions per task (default: %(default)s)")
    parser.add_argument("--json", help="write the greeks of every position to this file")
    args = parser.parse_args(argv)

    market = make_market()
    book = make_book(args.positions, len(market.models))

    with workers(args.executor, args.workers, args.scheduler) as (where, executor):
        start = time.perf_counter()
        distributed = price_book(market, book, executor, args.per_task)
        elapsed = time.perf_counter() - start
    local = price_book(market, book, None, args.per_task)

    print(f"{len(book)} binary options on {len(market.models)} expiries, priced on a {where} "
          f"in {elapsed:.2f} s")
    print(f"{'expiry':>26} {'model':>12} {'ttx':>9} {'positions':>9} {'value':>14} {'delta':>12} {'vega':>14}")
    for e, model in enumerate(market.models):
        rows = [g for p, g in zip(book, distributed) if p.expiry == e]
        ttx = market.calendar.get_bus_ttx(market.now, model.expiry)
        print(f"{model.expiry.isoformat():>26} {type(model).__name__:>12} {ttx:9.5f} {len(rows):9d} "
              f"{sum(g[0] for g in rows):14.2f} {sum(g[1] for g in rows):12.5f} {sum(g[2] for g in rows):14.2f}")
    print(f"{'book':>26} {'':>12} {'':>9} {len(book):9d} {sum(g[0] for g in distributed):14.2f} "
          f"{sum(g[1] for g in distributed):12.5f} {sum(g[2] for g in distributed):14.2f}")

    ok = same(distributed, local)
    print(f"same as pricing in this process, bit for bit: {'yes' if ok else 'NO'}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"where": where, "greeks": distributed}, f)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
