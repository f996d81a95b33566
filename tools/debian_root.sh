# Sourced: a debootstrap root of Debian's unstable suite with its newest
# CPython releases, each in a venv with test packages, for tests/debian_pythons.sh
# and the benchmark. Expects $PY (the project's venv python) and the working
# directory at the top of the tree; needs root and debootstrap.
#
#   debian_root_ensure [MODULE]   the root in build-debian/root, made once and kept,
#                             with the libraries MODULE links (build/tessel.abi3.so)
#   debian_versions           minor versions the suite has that this machine lacks
#   debian_venv MINOR         /opt/venv-3.MINOR in the root, with DEBIAN_PACKAGES
#   in_root COMMAND...        a command inside the root, this tree at /work/tessel

DEBIAN_WORK=$PWD/build-debian
DEBIAN_ROOT=$DEBIAN_WORK/root
DEBIAN_MIRROR=${TESSEL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
DEBIAN_PACKAGES=(pytest hypothesis numpy scipy matplotlib "dask[distributed]")

in_root() {
    unshare -m sh -c '
        root=$1; tree=$2; shift 2
        mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
            mkdir -p "$root/work/tessel" && mount --bind "$tree" "$root/work/tessel" &&
            exec chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"' \
        sh "$DEBIAN_ROOT" "$PWD" "$@"
}

debian_root_ensure() {
    if [ ! -e "$DEBIAN_WORK/root.done" ]; then
        echo "== debootstrap of Debian's unstable suite into $DEBIAN_ROOT"
        rm -rf "$DEBIAN_ROOT"
        mkdir -p "$DEBIAN_WORK"
        debootstrap --variant=minbase --include=tzdata,tzdata-legacy sid "$DEBIAN_ROOT" "$DEBIAN_MIRROR" \
            >"$DEBIAN_WORK/debootstrap.log" 2>&1 || { tail -n 20 "$DEBIAN_WORK/debootstrap.log"; return 1; }
        touch "$DEBIAN_WORK/root.done"
    fi
    # The module links cctz and simdjson: the root gets this machine's copies,
    # since the unstable suite's may be other versions.
    mkdir -p "$DEBIAN_ROOT/opt/hostlibs"
    ldd "${1:-build/tessel.abi3.so}" | awk '/libcctz|libsimdjson/ { print $3 }' | xargs -r cp -L -t "$DEBIAN_ROOT/opt/hostlibs"
}

# Newer than the newest minor version this machine tests itself (pyenv's, else the system's).
debian_versions() {
    local newest
    newest=$(ls -d "$HOME"/.pyenv/versions/3.* 2>/dev/null | sed -n 's|.*/3\.\([0-9]*\)\..*|\1|p' | sort -n | tail -n 1)
    [ -n "$newest" ] || newest=$(python3 -c 'import sys; print(sys.version_info[1])')
    in_root apt-cache pkgnames python3. | sed -n 's/^python3\.\([0-9][0-9]*\)$/\1/p' | awk -v n="$newest" '$1 > n' |
        sort -n
}

debian_venv() {
    local v=$1 venv=/opt/venv-3.$1
    [ "$(cat "$DEBIAN_ROOT$venv/ready" 2>/dev/null)" = "${DEBIAN_PACKAGES[*]}" ] && return 0
    if ! in_root dpkg -s "python3.$v-venv" >/dev/null 2>&1; then
        echo "== apt-get install python3.$v python3.$v-venv (in the root)"
        # The mirror may serve the suite as of a past day, whose Release file has
        # passed its Valid-Until: its signature is still checked.
        in_root sh -c 'apt-get -o Acquire::Check-Valid-Until=false update -qq &&
            DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Check-Valid-Until=false install -y -qq "$@" >/dev/null' \
            sh "python3.$v" "python3.$v-venv"
    fi
    # Downloaded here, installed offline there: pip inside the root may refuse
    # the index's certificate.
    echo "== venv with ${DEBIAN_PACKAGES[*]} for 3.$v (in the root)"
    rm -rf "$DEBIAN_WORK/wheels-3.$v"
    "$PY" -m pip download -q --disable-pip-version-check --only-binary=:all: --python-version "3.$v" \
        --implementation cp --platform manylinux_2_28_x86_64 --platform manylinux2014_x86_64 \
        --platform manylinux_2_17_x86_64 --platform any -d "$DEBIAN_WORK/wheels-3.$v" "${DEBIAN_PACKAGES[@]}"
    in_root "python3.$v" -m venv --clear "$venv"
    in_root "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-index \
        --find-links "/work/tessel/build-debian/wheels-3.$v" "${DEBIAN_PACKAGES[@]}"
    echo "${DEBIAN_PACKAGES[*]}" >"$DEBIAN_ROOT$venv/ready"
}
