#!/usr/bin/env bash
# Builds Sable, installing the Debian packages it needs when they are missing.
#
#   ./build.sh          release build; leaves the engine at build/sable
#   ./build.sh test     release build and its tests, then the tests again with
#                       AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)
#                       and the protocol tests with ThreadSanitizer (build-tsan);
#                       every one of these builds treats warnings as errors
set -euo pipefail
cd "$(dirname "$0")"

# Installs the Debian packages of the list that are missing; returns non-zero
# when apt-get fails.
install_missing() {
    local missing=() pkg sudo=""
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing ${missing[*]}" >&2
    $sudo apt-get update -qq >&2 &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

install_missing g++ cmake make libgtest-dev zlib1g-dev libfathom-dev
# The front-end game test needs XBoard, PolyGlot and a virtual X server; the
# test run installs them when it can and reports the test skipped otherwise.
if [ "${1:-}" = test ]; then
    install_missing xboard polyglot xvfb xauth || echo "could not install the front-end test's packages" >&2
    # A real opening book for the book tests, which report themselves skipped without it.
    install_missing gnuchess-book || echo "could not install gnuchess-book" >&2
fi

jobs=$(nproc)
configure_and_build() {  # dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" ${BUILD_TARGETS:+--target $BUILD_TARGETS} >&2
}

if [ "${1:-}" != test ]; then
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DSABLE_TESTS=OFF
    exit 0
fi

configure_and_build build -DCMAKE_BUILD_TYPE=Release -DSABLE_TESTS=ON -DSABLE_WERROR=ON
ctest --test-dir build --output-on-failure -j"$jobs"

# The instrumented builds make only what their tests run (the developer tools
# are built, with warnings as errors, by the release build above). The perft
# suite through the binary repeats, far more slowly, what the perft unit
# tests already run instrumented.
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
BUILD_TARGETS=sable_tests configure_and_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSABLE_SANITIZE=address,undefined -DSABLE_WERROR=ON
ctest --test-dir build-asan --output-on-failure -j"$jobs" -E 'ProtocolPerft.SuiteMatchesThroughTheBinary'


echo "== ThreadSanitizer (protocol and thread tests)"
BUILD_TARGETS=sable_tests configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSABLE_SANITIZE=thread \
    -DSABLE_WERROR=ON
# The transposition table races on purpose (lock-free, key-checked entries);
# the suppressions file names only its functions, so any other race fails.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan_suppressions.txt" \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R 'Protocol|Platform|Thread|WakeSignal'

# A short fuzzing pass over the command processor, the FEN reader, the
# network loaders, the book reader and the tablebase file reader, when clang
# (libFuzzer) is at hand.
if command -v clang++ >/dev/null 2>&1; then
    echo "== Fuzzing (10 s per target)"
    CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSABLE_TESTS=OFF \
        -DSABLE_FUZZ=ON -DSABLE_SANITIZE=address,undefined -DSABLE_WERROR=ON
    for target in build-fuzz/fuzz_*; do
        name=$(basename "$target")
        work=$(mktemp -d)
        [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
        # Table files need more room than commands or FENs: the seeds are small real tables.
        max_len=4096
        [ "$name" = fuzz_tablebase ] && max_len=16384
        "$target" -max_total_time=10 -max_len=$max_len -artifact_prefix="$work/" "$work" 2>&1 | tail -n 1
        rm -rf "$work"
    done
fi
