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

# --- First run (quillo-store): without a calendar store, offer the tasks files of common
# calendar programs with the command that adopts each; `scripts/run.sh --adopt` adopts them.
if [ ! -e "${XDG_DATA_HOME:-$HOME/.local/share}/iCal/nodes.plist" ]; then
    cmake --build build --target quillo-store >/dev/null && build/bin/quillo-store discover ${1+"$1"}
fi
# --- end of first run

build/menuextra/quillo-menu-print
