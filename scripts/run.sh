#!/usr/bin/env bash
# Builds Quillo in build/ and prints the calendars and to-dos of the user's calendar
# store (~/.local/share/iCal), as the menu will show them.
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build --target quillo-store-print -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: the build failed" >&2
    exit 1
fi
build/menuextra/quillo-store-print
