#!/usr/bin/env bash
# Builds Quillo in build/ and prints the to-do menu of the user's calendar store
# (~/.local/share/iCal) as text, as the tray menu shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build --target quillo-menu-print -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: the build failed" >&2
    exit 1
fi
build/menuextra/quillo-menu-print
