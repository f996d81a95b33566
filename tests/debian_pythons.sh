#!/usr/bin/env bash
# The Python suite and the smoke check of build/ under the CPython releases
# that Debian's unstable suite carries and this machine's own interpreters
# do not (3.14 and 3.15 as of writing), each in a venv of a debootstrap root.
#
#   tests/debian_pythons.sh        (as root; after the build, from dev.sh)
#
# The root (build-debian/root) is made once and kept; delete it to refresh.
# Test packages are downloaded on the host, because pip inside the root may
# refuse the index's certificate, and installed offline.
set -euo pipefail
cd "$(dirname "$0")/.."

PY=${PY:-$PWD/.venv/bin/python}
WORK=$PWD/build-debian
ROOT=$WORK/root
MIRROR=${TESSEL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
TEST_PACKAGES=(pytest hypothesis numpy)

[ -e build/tessel.abi3.so ] || { echo "build/tessel.abi3.so is missing: build first" >&2; exit 1; }

# The newest minor version this machine tests itself: pyenv's, else the system's.
host_newest() {
    local v
    v=$(ls -d "$HOME"/.pyenv/versions/3.* 2>/dev/null | sed -n 's|.*/3\.\([0-9]*\)\..*|\1|p' | sort -n | tail -n 1)
    [ -n "$v" ] || v=$(python3 -c 'import sys; print(sys.version_info[1])')
    echo "$v"
}

in_root() {  # command... : run inside the root, with /proc, /dev and this tree mounted
    unshare -m sh -c '
        root=$1; tree=$2; shift 2
        mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
            mkdir -p "$root/work/tessel" && mount --bind "$tree" "$root/work/tessel" &&
            exec chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"' \
        sh "$ROOT" "$PWD" "$@"
}

start=$SECONDS
if [ ! -x "$ROOT/usr/bin/apt-get" ] || [ ! -e "$WORK/root.done" ]; then
    echo "== debian pythons: debootstrap of the unstable suite into $ROOT"
    rm -rf "$ROOT" "$WORK/root.done"
    mkdir -p "$WORK"
    debootstrap --variant=minbase --include=tzdata,tzdata-legacy sid "$ROOT" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
        { tail -n 20 "$WORK/debootstrap.log"; exit 1; }
    touch "$WORK/root.done"
fi

newest=$(host_newest)
mapfile -t versions < <(in_root apt-cache pkgnames python3. | sed -n 's/^python3\.\([0-9][0-9]*\)$/\1/p' |
    awk -v n="$newest" '$1 > n' | sort -n)
if [ ${#versions[@]} -eq 0 ]; then
    echo "== debian pythons: the unstable suite has no CPython newer than 3.$newest" >&2
    exit 1
fi
packages=()
for v in "${versions[@]}"; do packages+=("python3.$v" "python3.$v-venv"); done
missing=()
for p in "${packages[@]}"; do in_root dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== debian pythons: apt-get install ${missing[*]}"
    in_root sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null' \
        sh "${missing[@]}"
fi

# The module links cctz and simdjson: the root gets this machine's copies,
# since the unstable suite's may be other versions.
mkdir -p "$ROOT/opt/hostlibs"
ldd build/tessel.abi3.so | awk '/libcctz|libsimdjson/ { print $3 }' | xargs -r cp -L -t "$ROOT/opt/hostlibs"

status=0
for v in "${versions[@]}"; do
    venv=/opt/venv-3.$v
    if [ ! -e "$ROOT$venv/ready" ]; then
        echo "== debian pythons: venv and test packages for 3.$v"
        rm -rf "$WORK/wheels-3.$v"
        "$PY" -m pip download -q --disable-pip-version-check --only-binary=:all: --python-version "3.$v" \
            --implementation cp --platform manylinux_2_28_x86_64 --platform manylinux2014_x86_64 \
            --platform manylinux_2_17_x86_64 --platform any -d "$WORK/wheels-3.$v" "${TEST_PACKAGES[@]}"
        in_root "python3.$v" -m venv "$venv"
        in_root "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-index \
            --find-links "/work/tessel/build-debian/wheels-3.$v" "${TEST_PACKAGES[@]}"
        touch "$ROOT$venv/ready"
    fi
    echo "== debian pythons: smoke and suite under $(in_root "python3.$v" --version)"
    in_root env LD_LIBRARY_PATH=/opt/hostlibs PYTHONPATH=/work/tessel/build "$venv/bin/python" \
        /work/tessel/tests/smoke.py || status=1
    in_root env LD_LIBRARY_PATH=/opt/hostlibs PYTHONPATH=/work/tessel/build "$venv/bin/python" -m pytest \
        -p no:cacheprovider /work/tessel/tests/python || status=1
done
echo "== debian pythons: done in $((SECONDS - start)) s"
exit $status
