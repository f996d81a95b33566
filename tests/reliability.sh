#!/usr/bin/env bash
# Reliability run: the C++ tests and the whole Python suite against an
# AddressSanitizer + UndefinedBehaviorSanitizer build, interpreters with their
# own locks using a ThreadSanitizer build at once, then every fuzz target for
# a bounded time. Exits non-zero on any failure, sanitizer report or fuzzer
# finding.
#
#   tests/reliability.sh [sanitize|threads|fuzz|all]     (default: all)
#
# Needs clang and its libclang-rt-<major>-dev (libFuzzer) from Debian and atheris in
# .venv. TESSEL_FUZZ_SECONDS sets the time per fuzz target (default 20).
# Fuzzer findings are left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

WHAT=${1:-all}
PY=${PY:-$PWD/.venv/bin/python}
FUZZ_SECONDS=${TESSEL_FUZZ_SECONDS:-20}
JOBS=${JOBS:-2}

# Any report fails the run at once; UBSan stops at its first report too.
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:print_summary=1
ASAN_COMMON=abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1

sanitize() {
    echo "== ASan/UBSan build (build-asan)"
    # g++, whose runtime is preloaded below.
    cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=g++ -DTESSEL_SANITIZE=ON -DTESSEL_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DPython3_EXECUTABLE="$PY" >/dev/null
    cmake --build build-asan -j "$JOBS" >build-asan/build.log 2>&1 || { tail -n 40 build-asan/build.log; return 1; }

    echo "== C++ tests under ASan/UBSan (leaks included)"
    ASAN_OPTIONS=$ASAN_COMMON:detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j "$JOBS" 2>&1 |
        tail -n 25

    echo "== Python tests under ASan/UBSan"
    # The interpreter is not instrumented, so the runtime is preloaded. It
    # keeps objects alive on purpose at exit, so leak detection is off here;
    # tests/python/test_leaks.py checks for growth, in full in the plain run.
    # PYTHONMALLOC=malloc lets ASan see every Python object the module touches.
    local libasan
    # libstdc++ is preloaded too: the runtime binds its __cxa_throw interceptor
    # at start-up, before the module would bring libstdc++ in.
    libasan="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    # tessel is imported from build-asan before the tests' conftest can put
    # build/ first on the path.
    LD_PRELOAD=$libasan ASAN_OPTIONS=$ASAN_COMMON:detect_leaks=0 PYTHONMALLOC=malloc \
        PYTHONPATH=build-asan "$PY" -c '
import os, sys
import tessel
assert os.path.dirname(os.path.abspath(tessel.__file__)) == os.path.abspath("build-asan"), tessel.__file__
import pytest
sys.exit(pytest.main(["-p", "no:cacheprovider", "tests/python"]))'
}

threads() {
    # Interpreters with their own locks need CPython 3.13's _interpreters:
    # the newest pyenv interpreter, if it is recent enough.
    local exe
    exe=$(ls -d "$HOME"/.pyenv/versions/3.*/bin/python3 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -z "$exe" ] || ! "$exe" -c 'import sys; sys.exit(sys.version_info < (3, 13))'; then
        echo "== ThreadSanitizer: no CPython 3.13 or later here, skipped"
        return 0
    fi
    echo "== ThreadSanitizer build (build-tsan)"
    cmake -S . -B build-tsan -DCMAKE_CXX_COMPILER=g++ -DTESSEL_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g -fsanitize=thread" -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" \
        -DPython3_EXECUTABLE="$PY" >/dev/null
    cmake --build build-tsan --target tessel -j "$JOBS" >build-tsan/build.log 2>&1 ||
        { tail -n 40 build-tsan/build.log; return 1; }
    echo "== four interpreters with their own locks at once, under ThreadSanitizer ($("$exe" --version))"
    # Every object through malloc, which the sanitizer's allocator serves.
    PYTHONMALLOC=malloc LD_PRELOAD="$(g++ -print-file-name=libtsan.so)" \
        TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$PWD/tests/tsan.supp" \
        "$exe" tests/tsan_parallel.py build-tsan
}

run_fuzzer() {  # name, extra libFuzzer flags...
    local name=$1
    shift
    local seeds=tests/fuzz/corpus/$name work=build-fuzz/corpus/$name out=build-fuzz/findings/$name
    mkdir -p "$work" "$out"
    echo "== fuzz $name (${FUZZ_SECONDS}s)"
    if ! "$@" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$out/" "$work" "$seeds" >"build-fuzz/$name.log" 2>&1; then
        tail -n 40 "build-fuzz/$name.log"
        echo "fuzz $name FAILED; input and log in $out/ and build-fuzz/$name.log" >&2
        return 1
    fi
    grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "build-fuzz/$name.log" | tail -n 1
}

fuzz() {
    echo "== libFuzzer build (build-fuzz, clang)"
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DTESSEL_FUZZ=ON -DTESSEL_TESTS=OFF \
        -DTESSEL_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
        -DPython3_EXECUTABLE="$PY" >/dev/null
    cmake --build build-fuzz --target fuzz_targets -j "$JOBS" >build-fuzz/build.log 2>&1 ||
        { tail -n 40 build-fuzz/build.log; return 1; }

    local status=0
    export ASAN_OPTIONS=$ASAN_COMMON:detect_leaks=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp:print_suppressions=0
    run_fuzzer calendar_json build-fuzz/tests/fuzz/fuzz_calendar_json -max_len=4096 \
        -dict=tests/fuzz/calendar_json.dict || status=1
    run_fuzzer bucket build-fuzz/tests/fuzz/fuzz_bucket -max_len=64 || status=1
    run_fuzzer tenor build-fuzz/tests/fuzz/fuzz_tenor -max_len=64 -dict=tests/fuzz/tenor.dict || status=1
    run_fuzzer instant build-fuzz/tests/fuzz/fuzz_instant -max_len=16 || status=1

    # The conversions at the interpreter boundary, through atheris. They
    # run on the plain modules: a preloaded sanitizer runtime would take over
    # atheris's coverage hooks (the boundary code itself runs under ASan in
    # the Python suite above).
    if [ ! -e build/CMakeCache.txt ]; then
        cmake -S . -B build -DPython3_EXECUTABLE="$PY" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build build --target tessel tessel_array -j "$JOBS" >build-fuzz/module.log 2>&1 ||
        { tail -n 40 build-fuzz/module.log; return 1; }
    PYTHONPATH=build run_fuzzer instant_boundary "$PY" tests/fuzz/instant_boundary.py -max_len=64 || status=1
    # Arrays as tessel_array reads them: whatever an __array_interface__
    # claims, nothing is read outside the memory it has.
    PYTHONPATH=build run_fuzzer array_boundary "$PY" -W ignore tests/fuzz/array_boundary.py -max_len=256 || status=1
    unset ASAN_OPTIONS LSAN_OPTIONS
    return $status
}

case "$WHAT" in
    sanitize) sanitize ;;
    threads) threads ;;
    fuzz) fuzz ;;
    all)
        sanitize
        threads
        fuzz
        ;;
    *)
        echo "usage: $0 [sanitize|threads|fuzz|all]" >&2
        exit 2
        ;;
esac
echo "== reliability: all passed"
