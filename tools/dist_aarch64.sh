#!/usr/bin/env bash
# The abi3 wheel for 64-bit ARM Linux, beside the x86-64 one of tools/dist.sh:
# cross-compiled from the sdist with Debian's g++-aarch64-linux-gnu and
# cmake/aarch64-linux-gnu.cmake against an arm64 Debian root, then made
# self-contained by auditwheel (the root's arm64 libcctz and libsimdjson are
# copied into tessel.libs/).
#
#   tools/dist_aarch64.sh OUT [RAW]   OUT gets tessel-V-cp310-abi3-manylinux_2_NN_aarch64.whl, compiled from the
#                                     sdist in OUT (made there first when there is none; an earlier aarch64
#                                     wheel there is removed); RAW, when given, gets the wheel as compiled
#
# PYTHON (default .venv/bin/python) runs pip, build and auditwheel (requirements-dev.txt).
# TESSEL_AARCH64_ROOT (default build-aarch64/root) is the arm64 root, made by
# tools/aarch64_root.sh when missing (root and debootstrap needed then).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PY=${PYTHON:-$ROOT/.venv/bin/python}
BIN=$(cd "$(dirname "$PY")" && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '8,11p' "$0" >&2; exit 2; }
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
RAW=${2:-}
export TESSEL_AARCH64_ROOT=${TESSEL_AARCH64_ROOT:-$ROOT/build-aarch64/root}
TMP=$(mktemp -d "${TMPDIR:-/tmp}/tessel-dist-aarch64.XXXXXX")
trap 'rm -rf "$TMP"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1

run() {  # log name, command...: quiet unless it fails
    local log=$TMP/$1.log
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "dist_aarch64: FAILED: $*" >&2; exit 1; }
}

"$ROOT/tools/aarch64_root.sh" "$TESSEL_AARCH64_ROOT"
# FindPython wants an interpreter of the same version as the headers; the
# build machine's own Python is that, since the root is of the same release.
python=$(readlink "$TESSEL_AARCH64_ROOT/usr/bin/python3")
HOST_PY=/usr/bin/$python
[ -x "$HOST_PY" ] || { echo "dist_aarch64: the root has $python, the build machine no $HOST_PY" >&2; exit 1; }

shopt -s nullglob
sdists=("$OUT"/tessel-*.tar.gz)
if [ ${#sdists[@]} -eq 0 ]; then
    echo "== dist aarch64: sdist"
    run sdist "$PY" -m build --sdist --no-isolation --outdir "$OUT" "$ROOT"
    sdists=("$OUT"/tessel-*.tar.gz)
fi
[ ${#sdists[@]} -eq 1 ] || { echo "dist_aarch64: expected one sdist, found: ${sdists[*]}" >&2; exit 1; }
rm -f "$OUT"/tessel-*_aarch64.whl
# From a path of its own: pip keys the wheels it built and cached by the
# sdist's path, and the x86-64 wheel of the same sdist would be taken.
cp "${sdists[0]}" "$TMP/"
sdist=$TMP/$(basename "${sdists[0]}")

echo "== dist aarch64: wheel from the sdist, cross-compiled by $(aarch64-linux-gnu-g++ --version | head -n 1)"
# The platform tag comes from _PYTHON_HOST_PLATFORM; the Python hints of the
# build front end would name the build machine's interpreter and headers, so
# the target's are given instead.
run wheel env CMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" _PYTHON_HOST_PLATFORM=linux-aarch64 \
    "$PY" -m pip wheel "$sdist" --no-deps -w "$TMP/raw" \
    --config-settings=cmake.python-hints=false \
    --config-settings=cmake.define.Python3_EXECUTABLE="$HOST_PY" \
    --config-settings=cmake.define.Python3_INCLUDE_DIR="$TESSEL_AARCH64_ROOT/usr/include/$python"
raw=("$TMP"/raw/tessel-*.whl)
[ ${#raw[@]} -eq 1 ] || { echo "dist_aarch64: expected one wheel, found: ${raw[*]:-none}" >&2; exit 1; }
case "$(basename "${raw[0]}")" in
    tessel-*-cp310-abi3-linux_aarch64.whl) ;;
    *) echo "dist_aarch64: not a cp310-abi3-linux_aarch64 wheel: ${raw[0]}" >&2; exit 1 ;;
esac

echo "== dist aarch64: auditwheel repair"
# auditwheel looks for the libraries the module needs along the loader's path
# and takes those of the wheel's architecture: the root's.
run repair env PATH="$BIN:$PATH" LD_LIBRARY_PATH="$TESSEL_AARCH64_ROOT/usr/lib/aarch64-linux-gnu" \
    "$BIN/auditwheel" repair --wheel-dir "$TMP/repaired" "${raw[0]}"
wheels=("$TMP"/repaired/tessel-*.whl)
[ ${#wheels[@]} -eq 1 ] || { echo "dist_aarch64: expected one repaired wheel, found: ${wheels[*]:-none}" >&2; exit 1; }
case "$(basename "${wheels[0]}")" in
    tessel-*-cp310-abi3-manylinux_2_*_aarch64.whl) ;;
    *) echo "dist_aarch64: not a cp310-abi3-manylinux_2_NN_aarch64 wheel: ${wheels[0]}" >&2; exit 1 ;;
esac
"$PY" "$ROOT/tools/wheel_report.py" "${wheels[0]}" --check
cp "${wheels[0]}" "$OUT/"
if [ -n "$RAW" ]; then
    mkdir -p "$RAW"
    cp "${raw[0]}" "$RAW/"
fi
echo "== dist aarch64: $OUT"
ls -l "$OUT"/tessel-*_aarch64.whl
