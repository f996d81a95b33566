#!/usr/bin/env bash
# One entry point for a fresh Debian machine (run as root):
#   ./dev.sh example   install what the build needs, build, run the example
#   ./dev.sh check     the inner loop: incremental build, C++ and Python tests, stubtest; no installs, no root
#   ./dev.sh test      install what is missing, build, run every test
#   ./dev.sh newest    the suite and the smoke check under Debian's newest CPython releases (CI runs it too)
#   ./dev.sh reliability   sanitizer builds and bounded fuzzing (CI runs it too)
#   ./dev.sh dist      the release files in dist/: the sdist and the manylinux wheels for x86_64 and aarch64
#   ./dev.sh aarch64   the aarch64 build and wheel tested on an emulated CPU (CI runs it too)
#   ./dev.sh docs [--check]   the documentation site into site/ (--check: in a browser, offline)
set -euo pipefail
cd "$(dirname "$0")"

APT_PACKAGES=(cmake g++ make python3 python3-venv python3-dev tzdata
              libcctz-dev libsimdjson-dev libgtest-dev libbenchmark-dev)
# Cross-building for aarch64 and running it under emulation (tools/dist_aarch64.sh, tests/aarch64.sh).
AARCH64_PACKAGES=(g++-aarch64-linux-gnu qemu-user-static debootstrap)
VENV=.venv
PY=$VENV/bin/python

install_system() {
    local missing=()
    for p in "${APT_PACKAGES[@]}" "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    # Newer Debian releases keep the backward-compatible zone names (US/Eastern) apart.
    if [ ! -e /usr/share/zoneinfo/US/Eastern ]; then missing+=(tzdata-legacy); fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== apt-get install ${missing[*]}"
        # Others may hold the dpkg lock (another checkout's setup): wait for it.
        apt-get -o DPkg::Lock::Timeout=900 update -qq
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${missing[@]}" >/dev/null
    fi
}

python_for_venv() {
    # The pyenv interpreter when there is one (it carries the headers), else the system's.
    if command -v pyenv >/dev/null 2>&1 && pyenv which python3 >/dev/null 2>&1; then
        pyenv which python3
    elif [ -x "$HOME/.pyenv/shims/python3" ]; then
        echo "$HOME/.pyenv/shims/python3"
    else
        command -v python3
    fi
}

install_python() {
    if [ ! -x "$PY" ]; then
        echo "== creating $VENV"
        "$(python_for_venv)" -m venv "$VENV"
    fi
    "$PY" -m pip install -q --disable-pip-version-check -r requirements-dev.txt
    ensure_cmake
}

# The build needs CMake 3.26 (the stable-ABI Python module); Debian 12's is
# 3.25, so an older one is replaced by PyPI's, in the venv.
ensure_cmake() {
    local have
    have=$(cmake --version 2>/dev/null | sed -n '1s/^cmake version \([0-9]*\.[0-9]*\).*/\1/p')
    if [ -z "$have" ] || [ "$(printf '%s\n' 3.26 "$have" | sort -V | head -n 1)" != 3.26 ]; then
        echo "== cmake ${have:-missing} is older than 3.26: cmake from PyPI into $VENV"
        "$PY" -m pip install -q --disable-pip-version-check 'cmake>=3.26'
    fi
    if [ -x "$VENV/bin/cmake" ]; then export PATH="$PWD/$VENV/bin:$PATH"; fi
}

# The major version of the installed clang, which names its versioned packages
# (Debian 12: 14, Debian 13: 19).
clang_major() {
    clang -dumpversion | cut -d. -f1
}

build() {
    cmake -S . -B build -DPython3_EXECUTABLE="$PWD/$PY" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j "$(nproc)"
}

# The C++ core tests: a line of summary, or every failing test's output in full.
cpp_tests() {
    echo "== C++ core tests"
    if ctest --test-dir build --output-on-failure -j "$(nproc)" >build/ctest.log 2>&1; then
        grep -E '^[0-9]+% tests passed' build/ctest.log
    else
        cat build/ctest.log
        return 1
    fi
}

# The shipped stub against the built module.
stubtest() {
    echo "== stubtest"
    (cd build && PYTHONPATH="$PWD" MYPYPATH="$PWD/../stubs" "../$PY" -m mypy.stubtest tessel)
}

smoke_all_pythons() {
    local found=0 own
    own=$("$PY" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    for v in 3.10 3.11 3.12 3.13; do
        local exe
        exe=$(ls -d "$HOME"/.pyenv/versions/"$v".*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
        [ -n "$exe" ] || continue
        found=1
        echo "== smoke: $("$exe" --version)"
        "$exe" tests/smoke.py build
        # The suite ran these under the venv's own version already.
        if [ "$v" != "$own" ]; then "$exe" tests/interpreters.py build; fi
    done
    [ "$found" = 1 ] || echo "== smoke: no pyenv interpreters 3.10-3.13 found"
}

# The documentation site (mkdocs.yml) into site/: API pages from stubs/tessel.pyi,
# pictures and example output from the built module, formulas typeset by
# Debian's KaTeX. With --check, headless Chromium then opens every page in a
# network namespace without a route (tools/docs/check_site.py): no request may
# leave the machine, every formula must be typeset, screenshots go to
# build-docs/shots.
docs() {
    local check=${1:-}
    case "$check" in ""|--check) ;; *) echo "usage: $0 docs [--check]" >&2; exit 2 ;; esac
    install_system libjs-katex ${check:+chromium}
    install_python
    "$PY" -m pip install -q --disable-pip-version-check -r requirements-docs.txt
    build
    echo "== docs: mkdocs build --strict into site/"
    local start=$SECONDS
    NO_MKDOCS_2_WARNING=1 "$PY" -m mkdocs build --strict --quiet
    echo "   built in $((SECONDS - start)) s: open site/index.html"
    if [ -n "$check" ]; then
        echo "== docs: the site in headless Chromium, without a network"
        local netns=(unshare -n)  # as root; otherwise in a user namespace of one's own
        unshare -n true 2>/dev/null || netns=(unshare -r -n)
        "${netns[@]}" "$PY" tools/docs/check_site.py site build-docs/shots
    fi
}

case "${1:-}" in
    example)
        install_system
        install_python
        build
        PYTHONPATH=build "$PY" examples/price_options.py
        ;;
    test)
        install_system
        install_python
        build
        cpp_tests
        echo "== Python tests"
        PYTHONPATH=build "$PY" -m pytest tests/python
        smoke_all_pythons
        echo "== Packaging"
        tests/packaging.sh
        docs --check
        ;;
    check)
        # Nothing is installed: the venv and the build tree come from `./dev.sh test`.
        [ -x "$PY" ] || { echo "no $VENV yet: run ./dev.sh test once" >&2; exit 2; }
        if [ -x "$VENV/bin/cmake" ]; then export PATH="$PWD/$VENV/bin:$PATH"; fi
        start=$SECONDS
        if [ -e build/CMakeCache.txt ]; then cmake --build build -j "$(nproc)" | sed '/^\[/d'; else build; fi
        cpp_tests
        echo "== Python tests"
        PYTHONPATH=build "$PY" -m pytest tests/python
        stubtest
        echo "== check: all passed in $((SECONDS - start)) s"
        ;;
    newest)
        install_system debootstrap
        install_python
        build
        tests/debian_pythons.sh
        ;;
    docs)
        docs "${2:-}"
        ;;
    reliability)
        install_system clang
        install_system "libclang-rt-$(clang_major)-dev"  # libFuzzer and the sanitizer runtimes
        install_python
        "$PY" -m pip install -q --disable-pip-version-check atheris
        tests/reliability.sh
        ;;
    dist)
        install_system "${AARCH64_PACKAGES[@]}"
        install_python
        tools/dist.sh dist
        tools/dist_aarch64.sh dist
        ;;
    aarch64)
        install_system "${AARCH64_PACKAGES[@]}"
        install_python
        tests/aarch64.sh
        ;;
    *)
        echo "usage: $0 example|check|test|newest|reliability|dist|aarch64|docs [--check]" >&2
        exit 2
        ;;
esac
