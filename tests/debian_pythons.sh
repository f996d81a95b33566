#!/usr/bin/env bash
# The Python suite and the smoke check of build/ under the CPython releases
# that Debian's unstable suite carries and this machine's own interpreters
# do not (3.14 and 3.15 as of writing), each in a venv of a debootstrap root
# (tools/debian_root.sh; build-debian/root is made once and kept).
#
#   tests/debian_pythons.sh        (as root, after the build; ./dev.sh newest)
set -euo pipefail
cd "$(dirname "$0")/.."

PY=${PY:-$PWD/.venv/bin/python}
[ -e build/tessel.abi3.so ] || { echo "build/tessel.abi3.so is missing: build first" >&2; exit 1; }
. tools/debian_root.sh

start=$SECONDS
debian_root_ensure
mapfile -t versions < <(debian_versions)
if [ ${#versions[@]} -eq 0 ]; then
    echo "== debian pythons: the unstable suite has no CPython newer than this machine's" >&2
    exit 1
fi
status=0
for v in "${versions[@]}"; do
    debian_venv "$v"
    run=(in_root env LD_LIBRARY_PATH=/opt/hostlibs PYTHONPATH=/work/tessel/build "/opt/venv-3.$v/bin/python")
    echo "== debian pythons: smoke and suite under $(in_root "python3.$v" --version)"
    "${run[@]}" /work/tessel/tests/smoke.py || status=1
    "${run[@]}" -m pytest -p no:cacheprovider /work/tessel/tests/python || status=1
done
echo "== debian pythons: done in $((SECONDS - start)) s"
exit $status
