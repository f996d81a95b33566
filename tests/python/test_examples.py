"""The scripts in examples/: smile fitting, and a book priced over worker processes."""
import importlib.util
import json
import logging
import math
import os
import subprocess
import sys
from datetime import datetime, timezone

import pytest

import tessel

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(ROOT, "examples")


def load(name):
    """Import examples/<name>.py as a module of that name."""
    if name in sys.modules:
        return sys.modules[name]
    spec = importlib.util.spec_from_file_location(name, os.path.join(EXAMPLES, f"{name}.py"))
    module = importlib.util.module_from_spec(spec)
    sys.modules[name] = module  # dataclasses look their module up while the class is made
    spec.loader.exec_module(module)
    return module


def script_env(extra_path=()):
    """The environment for a script and its worker processes: they find this same build of the module."""
    env = dict(os.environ)
    paths = list(extra_path) + [os.path.dirname(tessel.__file__)]
    if env.get("PYTHONPATH"):
        paths.append(env["PYTHONPATH"])
    env["PYTHONPATH"] = os.pathsep.join(paths)
    return env


def run_script(name, *args, cwd, extra_path=(), timeout=180):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, f"{name}.py"), *args], cwd=cwd,
                          env=script_env(extra_path), capture_output=True, text=True, timeout=timeout)


def has(module):
    try:
        __import__(module)
    except ImportError:
        return False
    return True


# ---------------------------------------------------------------------------
# fit_smile.py
# ---------------------------------------------------------------------------

@pytest.fixture(scope="module")
def fs():
    return load("fit_smile")


@pytest.fixture(scope="module")
def ttx():
    return tessel.Calendar("BTCUSDT").get_bus_ttx(datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc),
                                                  datetime(2025, 3, 28, 8, tzinfo=timezone.utc))


def test_solver(fs):
    a = [[4.0, -2.0, 1.0], [-2.0, 4.0, -2.0], [1.0, -2.0, 4.0]]
    x = [1.5, -0.25, 2.0]
    b = [sum(r[j] * x[j] for j in range(3)) for r in a]
    assert fs.solve(a, b) == pytest.approx(x, abs=1e-12)
    # A pivot of zero in the first column needs the row swap.
    assert fs.solve([[0.0, 1.0], [2.0, 0.0]], [3.0, 4.0]) == pytest.approx([2.0, 3.0])


def test_fits_match_the_market(fs, ttx):
    fits = fs.fit_all(ttx)
    assert [type(f.model) for f in fits] == [tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]
    limits = {tessel.GVVSpline: 0.01, tessel.VolGeo: 0.015, tessel.CubicSpline: 1e-5}
    for f in fits:
        r = fs.residuals(f.model, ttx, fs.SPOT, fs.MARKET_STRIKES, fs.MARKET_VOLS)
        assert f.rms == pytest.approx(fs.rms(r), rel=1e-12)
        assert f.rms < limits[type(f.model)] and f.rms < f.rms_start / 4
        assert f.model.arb_free()
        params = f.model.get_param_dict()
        assert params["ref_spot"] == fs.SPOT and params["vpr"] == 1.0  # never fitted
        assert all(math.isfinite(v) for v in params.values())


@pytest.mark.parametrize("cls,truth", [
    (tessel.GVVSpline, dict(ref_vol=61.0, skew=-9.0, smile=12.0)),
    (tessel.VolGeo, dict(ref_vol=47.0, corr=-0.45, vvol=120.0)),
], ids=["GVVSpline", "VolGeo"])
def test_fit_recovers_the_parameters_that_made_the_quotes(fs, ttx, cls, truth):
    spot = 84_000.0
    strikes = [spot * (0.7 + 0.05 * i) for i in range(13)]
    market = cls(fs.EXPIRY, ref_spot=spot, **truth).get_vol(ttx, spot, strikes)
    model = cls(fs.EXPIRY, ref_spot=spot, ref_vol=55.0, vvol=50.0)
    result = fs.fit(model, ttx, spot, strikes, market)
    assert result.model is model and result.rms < 1e-7
    for name, value in truth.items():
        assert model.get_parameter(name) == pytest.approx(value, rel=1e-4), name


def test_arb_free_gates_the_steps(fs, ttx):
    """Quotes whose exact fit needs a negative outer call increment: the fit stays arbitrage-free."""
    spot = 84_000.0
    strikes = [spot * (0.8 + 0.08 * i) for i in range(12)]  # far into the call wing
    source = tessel.CubicSpline(fs.EXPIRY, ref_spot=spot, ref_vol=55.0, c20=4.0, c25=-6.0)
    assert not source.arb_free()
    market = source.get_vol(ttx, spot, strikes)
    assert all(math.isfinite(v) for v in market)
    model = tessel.CubicSpline(fs.EXPIRY, ref_spot=spot, ref_vol=50.0)
    result = fs.fit(model, ttx, spot, strikes, market)
    assert "c25" in result.refused
    assert model.arb_free() and 0.0 <= model.get_parameter("c25") < 0.01  # held at the edge
    # Better than the quotes' own parameters with the offending one cut back to the edge.
    source.set_param("c25", 0.0)
    assert result.rms < fs.rms(fs.residuals(source, ttx, spot, strikes, market))


def test_fit_smile_script(tmp_path):
    png = tmp_path / "smiles.png"
    out = run_script("fit_smile", "--png", str(png), cwd=tmp_path, timeout=120)
    assert out.returncode == 0, out.stderr
    text = out.stdout
    for name in ("GVVSpline", "VolGeo", "CubicSpline"):
        assert f"{name}: rms error" in text
    for name in ("ref_vol", "skew", "smile", "corr", "vvol", "p25", "c25"):
        assert f" {name} = " in text
    table = [line.split() for line in text.splitlines() if line.strip().startswith(("58000", "84000"))]
    assert len(table) == 2 and len(table[0]) == 4 and len(table[1]) == 5  # no market quote at 58000
    assert table[1][1] == "55.00"
    if has("matplotlib"):
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and png.stat().st_size > 10_000
        assert f"wrote {png}" in text
    else:
        assert not png.exists() and "matplotlib is not installed" in text


# ---------------------------------------------------------------------------
# price_book.py
# ---------------------------------------------------------------------------

@pytest.fixture(scope="module")
def pb():
    return load("price_book")


def reference(pb, positions):
    market = pb.make_market()
    book = pb.make_book(positions, len(market.models))
    return pb.price_book(market, book, None)


def greeks_from(path):
    with open(path) as f:
        data = json.load(f)
    return data["where"], [tuple(g) for g in data["greeks"]]


def test_book_prices_in_this_process(pb):
    market = pb.make_market()
    book = pb.make_book(40, len(market.models))
    greeks = pb.price_book(market, book, None, per_task=7)
    assert len(greeks) == 40
    for p, (value, delta, vega) in zip(book, greeks):
        model = market.models[p.expiry]
        ttx = market.calendar.get_bus_ttx(market.now, model.expiry)
        vol = model.get_vol_single(ttx, market.spot, p.strike)
        assert value == p.notional * tessel.binary_fairvalue(market.spot, p.strike, ttx, vol, p.call_put)
        assert delta == p.notional * tessel.binary_delta(market.spot, p.strike, ttx, vol, p.call_put)
        assert vega == p.notional * tessel.binary_vega(market.spot, p.strike, ttx, vol, p.call_put)
        assert 0 < abs(value) <= abs(p.notional)
    # The slicing does not change a result.
    assert pb.price_book(market, book, None, per_task=1000) == greeks


@pytest.mark.skipif(not has("distributed"), reason="dask[distributed] is not installed")
def test_book_on_a_local_dask_cluster(pb, tmp_path):
    out = run_script("price_book", "--executor", "dask", "--workers", "2", "--positions", "240",
                     "--per-task", "20", "--json", str(tmp_path / "g.json"), cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    where, greeks = greeks_from(tmp_path / "g.json")
    assert where == "Dask local cluster of 2 worker processes"
    assert greeks == reference(pb, 240)
    assert "bit for bit: yes" in out.stdout


@pytest.mark.skipif(not has("distributed"), reason="dask[distributed] is not installed")
def test_book_on_a_dask_scheduler_given_by_address(pb, tmp_path):
    from distributed import LocalCluster

    with LocalCluster(n_workers=1, threads_per_worker=2, processes=False, protocol="tcp://", host="127.0.0.1",
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster:
        out = run_script("price_book", "--scheduler", cluster.scheduler_address, "--positions", "60",
                         "--per-task", "10", "--json", str(tmp_path / "g.json"), cwd=tmp_path, timeout=120)
        assert out.returncode == 0, out.stderr
        # Every slice (4 expiries x 15 positions, 10 a task) went through this scheduler into memory.
        counts = cluster.scheduler.task_prefixes["price_slice"].state_counts
        assert counts["memory"] == 8 and counts["erred"] == 0
    where, greeks = greeks_from(tmp_path / "g.json")
    assert where == f"Dask scheduler at {cluster.scheduler_address}"
    assert greeks == reference(pb, 60)


def test_book_on_a_process_pool(pb, tmp_path):
    out = run_script("price_book", "--executor", "process", "--positions", "90", "--per-task", "15",
                     "--json", str(tmp_path / "g.json"), cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    where, greeks = greeks_from(tmp_path / "g.json")
    assert where == "process pool of 2 workers"
    assert greeks == reference(pb, 90)


def test_book_falls_back_to_a_process_pool_without_dask(pb, tmp_path):
    blocker = tmp_path / "blocker"
    blocker.mkdir()
    (blocker / "distributed.py").write_text("raise ImportError('no Dask here')\n")
    out = run_script("price_book", "--positions", "50", "--json", str(tmp_path / "g.json"), cwd=tmp_path,
                     extra_path=[str(blocker)])
    assert out.returncode == 0, out.stderr
    where, greeks = greeks_from(tmp_path / "g.json")
    assert where == "process pool of 2 workers"
    assert greeks == reference(pb, 50)
    # Asking for Dask by name without it is an error, not a silent fallback.
    out = run_script("price_book", "--executor", "dask", "--positions", "5", cwd=tmp_path, extra_path=[str(blocker)])
    assert out.returncode != 0 and "Dask is not installed" in out.stderr
