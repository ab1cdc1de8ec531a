#!/usr/bin/env bash
# Builds Quillo from scratch and runs every test suite on a private session bus
# and a virtual X server; then does the same with the address and
# undefined-behaviour sanitizers. Usage: scripts/test.sh [--no-sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    rm -rf "$dir"
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
    dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--no-sanitize" ]; then
    # Leaks are errors; only Qt, GLib and fontconfig, which keep caches for the life
    # of the process, are suppressed.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLO_SANITIZE=ON
fi
