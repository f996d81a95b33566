#!/usr/bin/env bash
# tessel on 64-bit ARM Linux, on an emulated CPU: qemu's user-mode emulator,
# called directly (binfmt_misc is not assumed), runs the arm64 programs with the
# loader and libraries of an arm64 Debian root of this machine's release.
#
#   1. the C++ core tests, cross-compiled with cmake/aarch64-linux-gnu.cmake and
#      run by ctest through CMAKE_CROSSCOMPILING_EMULATOR;
#   2. the aarch64 wheel of tools/dist_aarch64.sh: its manylinux tag as
#      auditwheel shows it, the stable ABI (abi3audit --strict);
#   3. that wheel installed by the root's own CPython and pip into a virtual
#      environment, then the Python suite and tests/smoke.py there, with the
#      arm64 cctz and simdjson loaded from the wheel. The environment's python
#      is a launcher that starts the emulator, so tests that start
#      sys.executable get an emulated child too;
#   4. the same grids on both architectures (tests/arch_grid.py), their largest
#      differences in ulp held to the figures of docs/conventions.md.
#
#   tests/aarch64.sh        (./dev.sh aarch64 installs what it needs first: g++-aarch64-linux-gnu,
#                            qemu-user-static, debootstrap; root, for debootstrap)
#
# The root, the cross build, the environment and the wheel stay in
# build-aarch64/ (gitignored); the root is kept between runs.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PY=${PYTHON:-$ROOT/.venv/bin/python}
BIN=$(cd "$(dirname "$PY")" && pwd)
WORK=$ROOT/build-aarch64
export TESSEL_AARCH64_ROOT=$WORK/root
JOBS=${JOBS:-2}
export PIP_DISABLE_PIP_VERSION_CHECK=1
START=$SECONDS

step() { echo "== aarch64: $*"; }
fail() { echo "aarch64: FAILED: $*" >&2; exit 1; }
took() { echo "   $1 in $((SECONDS - $2)) s"; }

QEMU=$(command -v qemu-aarch64-static || command -v qemu-aarch64) || fail "no qemu-aarch64-static"
"$ROOT/tools/aarch64_root.sh" "$TESSEL_AARCH64_ROOT"
python=$(readlink "$TESSEL_AARCH64_ROOT/usr/bin/python3")

# --- 1. the C++ core tests -------------------------------------------------------
step "C++ core tests, cross-compiled, under $(basename "$QEMU")"
t=$SECONDS
cmake -S . -B "$WORK/cmake" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DTESSEL_TESTS=ON -DPython3_EXECUTABLE="/usr/bin/$python" \
    -DPython3_INCLUDE_DIR="$TESSEL_AARCH64_ROOT/usr/include/$python" >/dev/null
cmake --build "$WORK/cmake" -j "$JOBS" >"$WORK/cmake-build.log" 2>&1 || { tail -n 40 "$WORK/cmake-build.log"; fail "cross build"; }
readelf -h "$WORK/cmake/test_core" | grep -q "Machine: *AArch64" || fail "test_core is not an aarch64 program"
took "built" "$t"
t=$SECONDS
ctest --test-dir "$WORK/cmake" --output-on-failure -j "$JOBS" >"$WORK/ctest.log" 2>&1 ||
    { tail -n 60 "$WORK/ctest.log"; fail "ctest (log: $WORK/ctest.log)"; }
tail -n 3 "$WORK/ctest.log" | sed 's/^/   /'
took "ctest" "$t"

# --- 2. the wheel --------------------------------------------------------------------
step "the aarch64 wheel"
t=$SECONDS
rm -rf "$WORK/dist"
PYTHON=$PY "$ROOT/tools/dist_aarch64.sh" "$WORK/dist" | sed 's/^/   /'
shopt -s nullglob
wheels=("$WORK"/dist/tessel-*_aarch64.whl)
[ ${#wheels[@]} -eq 1 ] || fail "expected one aarch64 wheel, found: ${wheels[*]:-none}"
WHEEL=${wheels[0]}
tag=$("$BIN/auditwheel" show "$WHEEL" 2>&1 | tr -s ' \n' '  ' | sed -n 's/.*following platform tag: "\([^"]*\)".*/\1/p')
echo "   auditwheel show: $tag"
[[ $tag =~ ^manylinux_2_[0-9]+_aarch64$ ]] || fail "auditwheel show names no manylinux aarch64 tag"
[[ $(basename "$WHEEL") == *-"$tag".whl ]] || fail "the wheel is not tagged $tag"
"$BIN/abi3audit" --strict --summary "$WHEEL" || fail "abi3audit"
took "wheel" "$t"

# --- 3. the wheel on the emulated CPU ------------------------------------------------------
step "install into a virtual environment of the root's $python, under the emulator"
t=$SECONDS
VENV=$WORK/venv
rm -rf "$VENV"
"$QEMU" -L "$TESSEL_AARCH64_ROOT" "$TESSEL_AARCH64_ROOT/usr/bin/$python" -m venv --without-pip "$VENV"
# The environment's interpreter links are arm64 programs, which this machine
# cannot start by itself: each becomes a launcher. -0 hands the launcher's own
# path to the interpreter as argv[0], so it finds its environment and reports
# itself as sys.executable, and a child it starts is emulated in turn.
for exe in "$VENV"/bin/python*; do
    rm "$exe"
    printf '#!/bin/sh\n# CPython for aarch64, under user-mode emulation\nexec %s -L %s -0 "$0" %s "$@"\n' \
        "$QEMU" "$TESSEL_AARCH64_ROOT" "$TESSEL_AARCH64_ROOT/usr/bin/$python" >"$exe"
    chmod +x "$exe"
done
EPY=$VENV/bin/python
"$EPY" -c 'import platform, sys; assert platform.machine() == "aarch64", platform.machine(); print("   " + sys.version)'
"$EPY" -m ensurepip >/dev/null
# pip on the emulated CPU picks the wheels of its own platform, the module's
# too. What the suite imports is the wheel's own extras: with the examples'
# (scipy, matplotlib, dask[distributed]) their tests run in full (a Dask
# cluster of emulated workers).
"$EPY" -m pip install -q "$WHEEL[test,examples]"
took "installed" "$t"

mkdir -p "$WORK/elsewhere"
step "tests/smoke.py on aarch64"
(cd "$WORK/elsewhere" && "$EPY" "$ROOT/tests/smoke.py")

step "Python tests on aarch64"
t=$SECONDS
SITE=$("$EPY" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
# The installed module, with the wheel's own cctz and simdjson; PYTHONPATH names
# it, so the suite's conftest does not put the x86-64 build/ first. Hypothesis
# drops its per-example deadline: emulation is some ten times slower.
PYTHONPATH=$SITE "$EPY" -c '
import os, re, sys
import tessel
where = os.path.dirname(os.path.abspath(tessel.__file__))
assert where == os.path.abspath(sys.argv[1]), tessel.__file__
with open("/proc/self/maps") as f:
    mapped = {line.split(None, 5)[5].strip() for line in f if re.search(r"/lib(cctz|simdjson)[-.]", line)}
assert len(mapped) == 2 and all(os.path.dirname(p) == os.path.join(where, "tessel.libs") for p in mapped), mapped
from hypothesis import settings
settings.register_profile("emulated", deadline=None)
settings.load_profile("emulated")
import pytest
# Hypothesis is imported before pytest could mark it for assertion rewriting.
sys.exit(pytest.main(["-p", "no:cacheprovider", "-rs", "-W", "ignore::pytest.PytestAssertRewriteWarning",
                      "tests/python"]))' "$SITE"
took "Python tests" "$t"

# --- 4. differences between the architectures ----------------------------------------------
step "the same grids on x86-64 and aarch64"
if [ ! -e build/CMakeCache.txt ]; then
    cmake -S . -B build -DPython3_EXECUTABLE="$PY" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build build --target tessel -j "$JOBS" >"$WORK/native-build.log" 2>&1 || { tail -n 40 "$WORK/native-build.log"; fail "native build"; }
PYTHONPATH=build "$PY" tests/arch_grid.py dump "$WORK/grid-x86_64.json"
(cd "$WORK/elsewhere" && "$EPY" "$ROOT/tests/arch_grid.py" dump "$WORK/grid-aarch64.json")
"$PY" tests/arch_grid.py compare "$WORK/grid-x86_64.json" "$WORK/grid-aarch64.json" --bounds docs/conventions.md |
    sed 's/^/   /' || fail "the architectures differ by more than docs/conventions.md states"

step "passed in $((SECONDS - START)) s"
