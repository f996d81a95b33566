#!/usr/bin/env bash
# The benchmark in one command:
#   bench/run.sh            full run (a few minutes), report in bench/RESULTS.md
#   bench/run.sh --quick    short smoke run, report in bench/out/RESULTS-quick.md
# Creates bench/.venv with numpy and the peer libraries from PyPI, builds the
# module and the C++ core benchmark in build-bench/, runs both, and prints the
# tables. A peer that cannot be installed or imported is skipped and named in
# the report. The pool of interpreters runs on Debian's newest CPython, in the
# debootstrap root of tools/debian_root.sh (as root; skipped otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build-bench
VENV=bench/.venv
OUT=bench/out
QUICK=0
[ "${1:-}" = "--quick" ] && QUICK=1
mkdir -p "$OUT"

# opengreeks 0.2 is tagged abi3 from 3.9 but needs 3.12, so 3.12 or later
# where there is one.
pick_python() {
    local c
    for c in "$HOME"/.pyenv/versions/3.12.*/bin/python3 "$HOME"/.pyenv/versions/3.13.*/bin/python3 \
             "$(command -v python3.12 || true)" "$(command -v python3.13 || true)" "$(command -v python3)"; do
        if [ -n "$c" ] && [ -x "$c" ]; then
            echo "$c"
            return
        fi
    done
}

if [ ! -x "$VENV/bin/python" ]; then
    echo "== creating $VENV"
    "$(pick_python)" -m venv "$VENV"
fi
PY=$VENV/bin/python
PIP=("$PY" -m pip install -q --disable-pip-version-check)
"${PIP[@]}" numpy scipy  # scipy: the numpy version of the book and of the array functions
for peer in vollib QuantLib opengreeks; do
    "${PIP[@]}" "$peer" || echo "== could not install $peer: it is skipped"
done
if ! "$PY" -c "import opengreeks" 2>/dev/null; then
    "${PIP[@]}" "opengreeks<0.2" 2>/dev/null || true  # the last release that loads before 3.12
fi

echo "== building the module and the C++ core benchmark in $BUILD"
# A cache made with another interpreter would keep its libraries: start over.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -q "^Python3_EXECUTABLE:[A-Z]*=$PWD/$PY\$" "$BUILD/CMakeCache.txt"; then
    rm -rf "$BUILD"
fi
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTESSEL_BENCH=ON -DTESSEL_TESTS=OFF \
      -DPython3_EXECUTABLE="$PWD/$PY" >/dev/null
cmake --build "$BUILD" -j "$(nproc)" >/dev/null

if [ "$QUICK" = 1 ]; then
    CORE_ARGS=(--benchmark_min_time=0.01 --benchmark_repetitions=1)
    PY_ARGS=(--quick --out "$OUT/RESULTS-quick.md")
else
    CORE_ARGS=(--benchmark_min_time=0.1 --benchmark_repetitions=9)
    PY_ARGS=(--out bench/RESULTS.md)
fi

echo "== C++ core (Google Benchmark; full output in $OUT/core.txt)"
"$BUILD/tessel_core_bench" "${CORE_ARGS[@]}" --benchmark_report_aggregates_only=true \
    --benchmark_out="$OUT/core.json" --benchmark_out_format=json >"$OUT/core.txt" 2>&1

echo "== Python"
# numpy is compared as installed; the OpenBLAS settings of this machine only
# slow it down and touch no result here.
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE PYTHONPATH="$PWD/$BUILD" \
    "$PY" bench/bench.py --core "$OUT/core.json" "${PY_ARGS[@]}"

echo "== Parallel in one process"
if [ "$(id -u)" = 0 ] && command -v debootstrap >/dev/null; then
    . tools/debian_root.sh
    debian_root_ensure "$BUILD/tessel.abi3.so"
    v=$(debian_versions | head -n 1)
    debian_venv "$v"
    args=(--out "/work/tessel/${PY_ARGS[-1]}")
    [ "$QUICK" = 1 ] && args+=(--quick)
    in_root env LD_LIBRARY_PATH=/opt/hostlibs PYTHONPATH="/work/tessel/$BUILD" "/opt/venv-3.$v/bin/python" \
        /work/tessel/bench/interpreters.py "${args[@]}"
else
    echo "   skipped: the debootstrap root needs root and debootstrap"
fi
