"""examples/book_arrays.py: a book priced by tessel_array as a loop of scalar calls prices it, and with numpy."""
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import tessel

from test_examples import load, script_env

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.fixture(scope="module")
def ba():
    return load("book_arrays")


@pytest.fixture(scope="module")
def market_and_book(ba):
    market = ba.make_market()
    return market, ba.make_book(1_200, len(market.models))


def test_arrays_and_threads_give_the_loops_bits(ba, market_and_book):
    market, book = market_and_book
    loop = ba.price_loop(market, book)
    assert ba.same_bits(ba.price_arrays(market, book), loop)
    with ThreadPoolExecutor(2) as pool:
        assert ba.same_bits(ba.price_threads(market, book, pool), loop)
    # The loop itself is the scalar functions, position by position.
    ttx, vol = ba.vols_and_ttx(market, book)
    i = 17
    args = (market.spot, float(book.strike[i]), float(ttx[i]), float(vol[i]))
    assert loop["value"][i] == book.notional[i] * tessel.b76_fairvalue(*args, book.call_put[i])
    assert loop["binary"][i] == book.notional[i] * tessel.binary_fairvalue(*args, book.call_put[i])
    # Each expiry's ttx and vols come from its own smile.
    for e, model in enumerate(market.models):
        rows = np.flatnonzero(book.expiry == e)
        assert rows.size and (ttx[rows] == market.calendar.get_bus_ttx(market.now, model.expiry)).all()
        assert vol[rows[0]] == model.get_vol_single(float(ttx[rows[0]]), market.spot, float(book.strike[rows[0]]))


def test_numpy_agrees_to_rounding(ba, market_and_book):
    pytest.importorskip("scipy")
    market, book = market_and_book
    loop, ours = ba.price_loop(market, book), ba.price_numpy(market, book)
    for c in ba.COLUMNS:
        assert np.allclose(ours[c], loop[c], rtol=1e-11, atol=1e-9 * np.abs(loop[c]).max()), c


def test_script_prints_the_comparison():
    out = subprocess.run([sys.executable, os.path.join(ROOT, "examples", "book_arrays.py"), "--positions", "600"],
                         env=script_env(), capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert "600 positions on 3 expiries" in out.stdout
    assert "tessel_array equals the loop, bit for bit: yes" in out.stdout
    for way in ("Python loop of scalar calls", "tessel_array", "tessel_array, two threads"):
        assert f"{way}: " in out.stdout
