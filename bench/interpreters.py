"""A book priced by one interpreter against a pool of two (CPython 3.14 and later).

    python3.14 bench/interpreters.py [--quick] [--out FILE]

Each position reads its volatility from its expiry's smile, then takes the
Black-76 value, delta and vega, the binary value, and the implied volatility
back from the value: the per-position work of a risk run. The book travels to
the pool's interpreters as bytes and its results come back as bytes, as a
caller that cares for speed would send them. Wall time, median of the rounds.
"""
import argparse
import array
import os
import platform
import statistics
import time
from concurrent.futures import InterpreterPoolExecutor

EXPIRIES = 3


def make_book(n):
    """n positions: expiry index, forward, strike, call (1.0) or put (0.0), as one array of doubles."""
    rows = array.array("d")
    for i in range(n):
        rows.extend((i % EXPIRIES, 100.0, 70.0 + (i * 7919 % 600) / 10.0, float(i % 2)))
    return rows.tobytes()


def price(book):
    import array

    import tessel

    class Stamp:
        def __init__(self, t):
            self.t = t

        def timestamp(self):
            return self.t

    rows = array.array("d", book)
    out = array.array("d")
    models = [tessel.VolGeo(Stamp(1.75e9 + 86400.0 * 30 * (e + 1)), ref_vol=40.0 + 5.0 * e, vvol=1.5, corr=-0.2)
              for e in range(EXPIRIES)]
    for i in range(0, len(rows), 4):
        e, fwd, strike, is_call = rows[i:i + 4]
        ttx = 30.0 * (e + 1) / 365.0
        cp = "call" if is_call else "put"
        vol = models[int(e)].get_vol_single(ttx, fwd, strike)
        value = tessel.b76_fairvalue(fwd, strike, ttx, vol, cp)
        out.extend((value, tessel.b76_delta(fwd, strike, ttx, vol, cp), tessel.b76_vega(fwd, strike, ttx, vol),
                    tessel.binary_fairvalue(fwd, strike, ttx, vol, cp),
                    tessel.calibrate_black76_iv(ttx, fwd, strike, value, cp)))
    return out.tobytes()


def spin(n):
    """Plain Python work of no library: what the pool gains on this machine when nothing else is involved."""
    s = 0
    for i in range(n):
        s += i * i % 7
    return s


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--out")
    args = ap.parse_args()
    n, rounds = (4_000, 3) if args.quick else (100_000, 15)
    spins = 40 * n
    book = make_book(n)
    half = len(book) // 2 // 32 * 32  # on a position's edge
    alone, pooled, spin_alone, spin_pooled = [], [], [], []
    with InterpreterPoolExecutor(2) as pool:
        list(pool.map(price, [book[:4 * 32], book[4 * 32:8 * 32]]))  # each interpreter imports tessel
        for _ in range(rounds):
            start = time.perf_counter()
            one = price(book)
            alone.append(time.perf_counter() - start)
            start = time.perf_counter()
            two = b"".join(pool.map(price, [book[:half], book[half:]]))
            pooled.append(time.perf_counter() - start)
            assert one == two, "the pool's results differ from one interpreter's"
            start = time.perf_counter()
            spin(spins)
            spin_alone.append(time.perf_counter() - start)
            start = time.perf_counter()
            list(pool.map(spin, [spins // 2, spins // 2]))
            spin_pooled.append(time.perf_counter() - start)
    a, p = statistics.median(alone), statistics.median(pooled)
    speedup = statistics.median(x / y for x, y in zip(alone, pooled))
    sa, sp = statistics.median(spin_alone), statistics.median(spin_pooled)
    spin_speedup = statistics.median(x / y for x, y in zip(spin_alone, spin_pooled))
    lines = [
        "### Parallel in one process",
        "",
        f"A book of {n:,} positions (volatility from a `VolGeo` smile, `b76_fairvalue`, `b76_delta`, `b76_vega`, "
        f"`binary_fairvalue`, and the implied volatility back from the value) priced by one interpreter and by "
        f"`InterpreterPoolExecutor(2)` over two halves. CPython {platform.python_version()}, {os.cpu_count()} "
        f"cores; wall time, median of {rounds} rounds; results compared byte for byte. *Plain Python*: a loop "
        f"of integer arithmetic through the same pool in the same rounds, with no library at all: the speed-up "
        f"that this machine's two cores give the pool (less than 2× where they are shared).",
        "",
        "| | one interpreter | two interpreters | speed-up | target | results |",
        "|---|---|---|---|---|---|",
        f"| book | {a * 1e3:.1f} ms | {p * 1e3:.1f} ms | {speedup:.2f}× | ≥ 1.7×: "
        f"{'met' if speedup >= 1.7 else '**missed**'} | identical |",
        f"| plain Python | {sa * 1e3:.1f} ms | {sp * 1e3:.1f} ms | {spin_speedup:.2f}× | — | — |",
        "",
    ]
    text = "\n".join(lines)
    print(text)
    if args.out:
        with open(args.out, "a") as f:
            f.write("\n" + text)


if __name__ == "__main__":
    main()
