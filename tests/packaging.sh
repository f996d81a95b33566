#!/usr/bin/env bash
# The package as users get it: build the abi3 wheel the way `pip install .`
# does, audit it for symbols outside the stable ABI, install it into a
# throw-away virtual environment of every pyenv CPython 3.10-3.13 and use it
# from another folder, and check the shipped stub against the built module.
#
#   tests/packaging.sh            (PYTHON=path/to/python overrides .venv/bin/python;
#                                  it needs pip, abi3audit and mypy: requirements-dev.txt)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PY=${PYTHON:-$ROOT/.venv/bin/python}
BIN=$(dirname "$PY")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tessel-packaging.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1

step() { echo "== packaging: $*"; }
fail() { echo "packaging: FAILED: $*" >&2; exit 1; }

# --- the wheel ------------------------------------------------------------------
# Built by the newest interpreter found, so its headers (the newest) serve the
# oldest runtime below: a limited-API macro that changed meaning across
# releases shows up as a broken 3.10.
BUILD_PY=$(ls -d "$HOME"/.pyenv/versions/3.1[0-9].*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
BUILD_PY=${BUILD_PY:-$PY}
step "pip wheel with $("$BUILD_PY" --version) (build directory $WORK/build)"
"$BUILD_PY" -m pip wheel "$ROOT" --no-deps -q -w "$WORK/dist" \
    --config-settings=build-dir="$WORK/build" >"$WORK/wheel.log" 2>&1 \
    || { tail -n 40 "$WORK/wheel.log"; fail "pip wheel"; }
shopt -s nullglob
wheels=("$WORK"/dist/tessel-*.whl)
[ ${#wheels[@]} -eq 1 ] || fail "expected one wheel, found: ${wheels[*]:-none}"
WHEEL=${wheels[0]}
echo "   $(basename "$WHEEL")"
case "$(basename "$WHEEL")" in
    tessel-*-cp310-abi3-*.whl) ;;
    *) fail "the wheel is not tagged cp310-abi3" ;;
esac

mkdir "$WORK/unpacked"
"$PY" - "$WHEEL" "$WORK/unpacked" "$ROOT/stubs/tessel.pyi" <<'EOF'
import sys, zipfile
wheel, dest, stub = sys.argv[1:]
with zipfile.ZipFile(wheel) as z:
    names = set(z.namelist())
    z.extractall(dest)
    shipped = {n: z.read(n) for n in ("tessel.pyi", "tessel-stubs/__init__.pyi") if n in names}
    meta = z.read(next(n for n in names if n.endswith(".dist-info/METADATA"))).decode()
for need in ("tessel.abi3.so", "tessel.pyi", "tessel-stubs/__init__.pyi"):
    assert need in names, f"{need} is not in the wheel: {sorted(names)}"
source = open(stub, "rb").read()
for name, data in shipped.items():
    assert data == source, f"{name} in the wheel differs from stubs/tessel.pyi"
assert "Requires-Python: >=3.10" in meta, meta
assert "Provides-Extra: examples" in meta, meta
for dep in ("matplotlib", "dask[distributed]"):
    assert any(line.startswith(f"Requires-Dist: {dep}") and 'extra == "examples"' in line
               for line in meta.splitlines()), (dep, meta)
extra = [n for n in names if not n.startswith(("tessel.abi3.so", "tessel.pyi", "tessel-stubs/", "tessel-"))]
assert not extra, f"unexpected files in the wheel: {extra}"
print(f"   {len(names)} files: module, tessel.pyi, tessel-stubs/__init__.pyi, metadata")
EOF

# --- the stable ABI ----------------------------------------------------------------
step "abi3audit"
"$BIN/abi3audit" --strict --summary "$WHEEL" || fail "abi3audit"
"$BIN/abi3audit" --strict --report -o "$WORK/abi3.json" "$WHEEL" >/dev/null || fail "abi3audit report"
"$PY" - "$WORK/abi3.json" <<'EOF'
import json, sys
report = json.load(open(sys.argv[1]))
objects = [o for spec in report["specs"].values() for o in spec["wheel"]]
assert objects, "abi3audit found no extension in the wheel"
for o in objects:
    r = o["result"]
    assert r["is_abi3"] and r["is_abi3_baseline_compatible"], o
    assert not r["non_abi3_symbols"] and not r["future_abi3_objects"], o
    assert tuple(map(int, r["computed"].split("."))) <= (3, 10), o
print(f"   {o['name']}: abi3, needs at most CPython {r['computed']}")
EOF

# --- every interpreter ----------------------------------------------------------------
cat >"$WORK/installed.py" <<'EOF'
"""Run from a folder without the module: the installed wheel must be the one imported."""
import copy, os, pickle, sys, sysconfig
from datetime import datetime, timezone

import tessel

where = os.path.dirname(os.path.abspath(tessel.__file__))
assert where == os.path.abspath(sysconfig.get_paths()["platlib"]), (tessel.__file__, sys.prefix)
assert os.path.basename(tessel.__file__) == "tessel.abi3.so", tessel.__file__
assert os.path.isfile(os.path.join(where, "tessel.pyi"))
m = tessel.CubicSpline(datetime(2025, 3, 28, 8, tzinfo=timezone.utc), ref_vol=40.0, p25=3.0)
for c in (pickle.loads(pickle.dumps(m)), copy.deepcopy(m)):
    assert repr(c) == repr(m) and c.get_vol(0.3, 100.0, [50.0, 100.0]) == m.get_vol(0.3, 100.0, [50.0, 100.0])
assert repr(pickle.loads(pickle.dumps(tessel.Calendar("BTCUSDT")))) == "Calendar(underlying='BTCUSDT')"
EOF
mkdir "$WORK/elsewhere"
found=0
FIRST_VENV=
for v in 3.10 3.11 3.12 3.13; do
    exe=$(ls -d "$HOME"/.pyenv/versions/"$v".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
    [ -n "$exe" ] || { echo "   no pyenv CPython $v"; continue; }
    found=$((found + 1))
    venv="$WORK/venv-$v"
    step "install into a fresh venv of $("$exe" --version)"
    "$exe" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --no-index --no-deps "$WHEEL" || fail "pip install under $v"
    (cd "$WORK/elsewhere" && "$venv/bin/python" -c "import tessel") || fail "import under $v"
    (cd "$WORK/elsewhere" && "$venv/bin/python" "$ROOT/tests/smoke.py") || fail "smoke test under $v"
    (cd "$WORK/elsewhere" && "$venv/bin/python" "$WORK/installed.py") || fail "installed-module checks under $v"
    [ -n "$FIRST_VENV" ] || FIRST_VENV=$venv
done
[ "$found" -gt 0 ] || fail "no pyenv interpreter 3.10-3.13 found"

# An interpreter older than the tag must refuse the wheel.
old=$(ls -d "$HOME"/.pyenv/versions/3.9.*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
if [ -n "$old" ] && "$old" -m pip --version >/dev/null 2>&1; then
    step "refused by $("$old" --version)"
    if "$old" -m pip install --no-index --no-deps --dry-run --target "$WORK/old" "$WHEEL" >"$WORK/old.log" 2>&1; then
        fail "pip under 3.9 accepted the wheel"
    fi
    grep -q "is not a supported wheel on this platform" "$WORK/old.log" || { cat "$WORK/old.log"; fail "3.9: $WORK/old.log"; }
fi

printf '[mypy]\n' >"$WORK/mypy.ini"  # no project settings: the checks below stand alone

# --- the stub --------------------------------------------------------------------------------
step "stub: a docstring on every class, method and function"
"$PY" - "$ROOT/stubs/tessel.pyi" <<'EOF'
import ast, sys
text = open(sys.argv[1], encoding="utf-8").read()
tree = ast.parse(text)
bare = [f"{n.name} (line {n.lineno})" for n in ast.walk(tree)
        if isinstance(n, (ast.FunctionDef, ast.ClassDef)) and not ast.get_docstring(n)]
assert ast.get_docstring(tree) and not bare, f"no docstring: {bare}"
assert "$" not in text, "a dollar sign breaks the copy to tessel-stubs"
EOF

step "stubtest: the shipped stub against the shipped module"
(cd "$WORK" && PYTHONPATH="$WORK/unpacked" MYPYPATH="$WORK/unpacked" \
    "$PY" -m mypy.stubtest tessel --mypy-config-file "$WORK/mypy.ini") || fail "stubtest"

step "mypy finds the installed stub"
cat >"$WORK/elsewhere/typed_use.py" <<'EOF'
from datetime import datetime, timezone

import tessel

smile = tessel.VolGeo(datetime(2025, 3, 28, 8, tzinfo=timezone.utc), ref_vol=55.0, corr=-0.3)
vols: list[float] = smile.get_vol(0.04, 84_000.0, [80_000.0, 90_000.0])
jac: dict[str, list[float]] = smile.get_jacobian(0.04, 84_000.0, [80_000.0], smile.get_fitting_params())
ttx: float = tessel.Calendar("BTCUSDT").get_bus_ttx(datetime.now(timezone.utc), smile.expiry)
price: float = tessel.binary_fairvalue(84_000.0, 90_000.0, ttx, vols[1], "call")
level: float | None = smile.get_parameter("ref_vol")
EOF
printf 'import tessel\nwrong: str = tessel.b76_vega(100.0, 100.0, 1.0, 0.2)\n' >"$WORK/elsewhere/typed_misuse.py"
(cd "$WORK/elsewhere" && "$PY" -m mypy --strict --cache-dir "$WORK/mypy-cache" --config-file "$WORK/mypy.ini" \
    --python-executable "$FIRST_VENV/bin/python" typed_use.py) || fail "mypy on typed_use.py"
if (cd "$WORK/elsewhere" && "$PY" -m mypy --strict --cache-dir "$WORK/mypy-cache" --config-file "$WORK/mypy.ini" \
        --python-executable "$FIRST_VENV/bin/python" typed_misuse.py >"$WORK/misuse.log" 2>&1); then
    fail "mypy accepted a float assigned to a str"
fi
grep -q 'Incompatible types in assignment (expression has type "float", variable has type "str")' "$WORK/misuse.log" \
    || { cat "$WORK/misuse.log"; fail "mypy did not type b76_vega from the stub"; }

step "mypy --strict on examples/ against the stub"
(cd "$ROOT" && "$PY" -m mypy --cache-dir "$WORK/mypy-cache-examples") || fail "mypy on examples"

step "ok"
