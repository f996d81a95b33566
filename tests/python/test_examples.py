"""The scripts in examples/: smile fitting, and a book priced over worker processes."""
import importlib.util
import copy
import json
import logging
import math
import os
import subprocess
import sys
from datetime import datetime, timezone

import numpy as np
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


def test_fits_match_the_market(fs, ttx):
    fits = fs.fit_all(ttx)
    assert [type(f.model) for f in fits] == [tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]
    # What the guide reports, in decimal volatility: the three-parameter models fit the shape,
    # CubicSpline the quotes to their noise.
    limits = {tessel.GVVSpline: 0.015, tessel.VolGeo: 0.005, tessel.CubicSpline: 0.0015}
    for f in fits:
        r = fs.errors(f.model, ttx, fs.SPOT, fs.STRIKES, fs.MARKET_VOLS)
        assert f.rms == pytest.approx(fs.rms(r), rel=1e-12) and f.max_error == max(abs(r))
        assert f.rms < limits[type(f.model)] and f.rms < f.rms_start / 4
        assert f.model.arb_free()
        params = f.model.get_param_dict()
        assert params["ref_spot"] == fs.SPOT and params["vpr"] == 1.0  # never fitted
        assert all(math.isfinite(v) for v in params.values())
    # The wing prior holds the outer pillars to the slope inside them.
    cubic = fits[2].model
    for side in "pc":
        assert cubic.get_parameter(f"{side}25") / 2.5 == pytest.approx(cubic.get_parameter(f"{side}20"), rel=0.05)


def test_outer_pillars_need_the_prior(fs, ttx, monkeypatch):
    """The quotes do not see p25 and c25: without the prior they run away, with it the fit is as good."""
    start = tessel.CubicSpline(fs.EXPIRY, ref_spot=fs.SPOT, ref_vol=56.3)
    seen = fs.visibility(start, ttx, fs.SPOT, fs.STRIKES)
    assert seen["ref_vol"] == 1.0 and seen["p25"] < 1e-3 and seen["c25"] < 1e-3 and seen["p05"] > 0.5
    loose = fs.fit(copy.copy(start), ttx, fs.SPOT, fs.STRIKES, fs.MARKET_VOLS)
    held = fs.fit(start, ttx, fs.SPOT, fs.STRIKES, fs.MARKET_VOLS, fs.WING_PRIOR["CubicSpline"])
    assert min(loose.model.get_parameter("p25"), loose.model.get_parameter("c25")) > 1_000
    assert max(held.model.get_parameter("p25"), held.model.get_parameter("c25")) < 100
    assert held.rms < 1.25 * loose.rms
    # The quotes end short of the pillars at -2.5 and 2.5.
    z = 100 * np.log(fs.STRIKES[[0, -1]] / fs.SPOT) / math.sqrt(ttx) / held.model.get_parameter("ref_vol")
    assert -2.5 < z[0] < -2.2 and 2.3 < z[1] < 2.5
    # The weight of the prior hardly matters: what the quotes see stays put.
    inner = ["ref_vol", "p15", "p10", "p05", "c05", "c10", "c15"]
    for weight in (0.001, 0.1):
        monkeypatch.setattr(fs, "PRIOR_WEIGHT", weight)
        other = fs.fit(tessel.CubicSpline(fs.EXPIRY, ref_spot=fs.SPOT, ref_vol=56.3), ttx, fs.SPOT, fs.STRIKES,
                       fs.MARKET_VOLS, fs.WING_PRIOR["CubicSpline"])
        assert abs(other.rms - held.rms) < 1e-5
        for name in inner:
            assert other.model.get_parameter(name) == pytest.approx(held.model.get_parameter(name), abs=1e-3)


@pytest.mark.parametrize("cls,truth", [
    (tessel.GVVSpline, dict(ref_vol=61.0, skew=-9.0, smile=12.0)),
    (tessel.VolGeo, dict(ref_vol=47.0, corr=-0.45, vvol=120.0)),
    (tessel.CubicSpline, dict(ref_vol=52.0, p25=9.0, p20=6.0, p15=3.0, p10=4.0, p05=2.5, c05=-1.0, c10=1.5,
                              c15=2.0, c20=3.0, c25=6.0)),
], ids=["GVVSpline", "VolGeo", "CubicSpline"])
def test_fit_recovers_the_parameters_that_made_the_quotes(fs, ttx, cls, truth):
    spot = 84_000.0
    strikes = spot * np.exp(np.linspace(-0.75, 0.75, 25))  # far enough out to see every pillar
    market = np.array(cls(fs.EXPIRY, ref_spot=spot, **truth).get_vol(ttx, spot, strikes))
    model = cls(fs.EXPIRY, ref_spot=spot, ref_vol=55.0, vvol=50.0)
    result = fs.fit(model, ttx, spot, strikes, market)
    assert result.model is model and result.rms < 1e-7
    for name, value in truth.items():
        assert model.get_parameter(name) == pytest.approx(value, rel=1e-4, abs=1e-4), name


def test_bounds_keep_the_fit_arbitrage_free(fs, ttx):
    """Quotes whose exact fit needs a negative outer call increment: the fit stops at c25 = 0."""
    spot = 84_000.0
    strikes = spot * np.linspace(0.8, 1.68, 12)  # far into the call wing
    source = tessel.CubicSpline(fs.EXPIRY, ref_spot=spot, ref_vol=55.0, c20=4.0, c25=-6.0)
    assert not source.arb_free()
    market = np.array(source.get_vol(ttx, spot, strikes))
    assert all(math.isfinite(v) for v in market)
    model = tessel.CubicSpline(fs.EXPIRY, ref_spot=spot, ref_vol=50.0)
    result = fs.fit(model, ttx, spot, strikes, market)
    assert model.arb_free() and 0.0 <= model.get_parameter("c25") < 1e-6  # held at the bound
    # Better than the quotes' own parameters with the offending one cut back to the edge.
    source.set_param("c25", 0.0)
    assert result.rms < fs.rms(fs.errors(source, ttx, spot, strikes, market))


@pytest.mark.parametrize("cls", [tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline], ids=lambda c: c.__name__)
def test_bounds_are_the_arb_free_rules(fs, cls):
    """Inside the box arb_free() holds, one step outside any finite edge it fails."""
    model = cls(fs.EXPIRY)
    names = list(fs.BOUNDS[cls.__name__])
    lower, upper = fs.bounds(model, names)
    assert all(u == math.inf for u in upper)
    for name, edge in zip(names, lower):
        on = cls(fs.EXPIRY, **{name: edge})
        off = cls(fs.EXPIRY, **{name: math.nextafter(edge, -math.inf)})
        assert on.arb_free() and not off.arb_free(), name


def test_fit_smile_script(tmp_path):
    png = tmp_path / "smiles.png"
    out = run_script("fit_smile", "--png", str(png), cwd=tmp_path, timeout=120)
    assert out.returncode == 0, out.stderr
    text = out.stdout
    for name in ("GVVSpline", "VolGeo", "CubicSpline with the wing prior"):
        assert f"{name}: rms error" in text
    assert "Without a prior the outer pillars run away" in text
    for name in ("ref_vol", "skew", "smile", "corr", "vvol", "p25", "c25"):
        assert f" {name} = " in text
    assert text.count("arb_free True") == 3
    table = [line.split() for line in text.splitlines() if line.strip().startswith(("60000", "84000"))]
    assert len(table) == 2 and len(table[0]) == 4 and len(table[1]) == 5  # no market quote at 60000
    assert table[1][1] == "56.30"
    if has("matplotlib"):
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and png.stat().st_size > 10_000
        assert f"wrote {png}" in text
    else:
        assert not png.exists() and "matplotlib is not installed" in text


# ---------------------------------------------------------------------------
# smile_grid.py
# ---------------------------------------------------------------------------

def test_smile_grid():
    sg = load("smile_grid")
    cal = tessel.Calendar("BTCUSDT")
    models = sg.make_models(datetime(2025, 3, 21, 8, tzinfo=timezone.utc), sg.SPOT)
    assert [type(m) for m in models] == [tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline]
    ttx = sg.times(cal, sg.NOW, models)
    strikes = sg.SPOT * np.linspace(0.8, 1.2, 5)
    grid = sg.vol_grid(models, ttx, sg.SPOT, strikes)
    assert grid.shape == (3, 5)
    for m, t, row in zip(models, ttx, grid):
        assert list(row) == m.get_vol(float(t), sg.SPOT, [float(k) for k in strikes])
    # A shifted copy differs from its model in ref_vol alone.
    for m, c in zip(models, sg.shifted(models, 1.0)):
        assert type(c) is type(m) and c.expiry == m.expiry
        assert {k: v for k, v in c.get_param_dict().items() if k != "ref_vol"} == \
               {k: v for k, v in m.get_param_dict().items() if k != "ref_vol"}
        assert c.get_parameter("ref_vol") == m.get_parameter("ref_vol") + 1.0
    moved = sg.vol_grid(sg.shifted(models, 1.0), ttx, sg.SPOT, strikes) - grid
    assert np.allclose(moved, sg.predicted_shift(models, ttx, sg.SPOT, strikes, 1.0), atol=2e-4)
    out = run_script("smile_grid", cwd=ROOT)
    assert out.returncode == 0, out.stderr
    assert "largest difference" in out.stdout and out.stdout.count("Spline") >= 4


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
