#!/usr/bin/env bash
# Builds Quillo, installs it for the current user under ~/.local, starts the menu-bar
# server when it is not running and puts Quillo into the system tray. Without a display
# it prints the to-do menu as text instead. Running it again changes nothing.
#   scripts/run.sh            your calendar store (~/.local/share/iCal)
#   scripts/run.sh --sample   a copy of the sample store, for a first look
#   scripts/run.sh --adopt    without a store: adopt the tasks files of common calendar
#                             programs that quillo-store finds (without it they are offered)
# scripts/uninstall.sh removes what this installs.
set -euo pipefail
cd "$(dirname "$0")/.."

sample=0
adopt=()
case "${1:-}" in
"") ;;
--sample) sample=1 ;;
--adopt) adopt=(--adopt) ;;
*)
    echo "usage: scripts/run.sh [--sample | --adopt]" >&2
    exit 2
    ;;
esac

prefix="$HOME/.local"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
panes="$data/PreferencePanes"
menu="$panes/Quillo.prefPane/Contents/Resources/Quillo.menu"
server="$prefix/bin/menubar-server"
state="$data/quillo"
# A build folder of its own: the install prefix is built into it, and the test builds
# must not find the installed pane.
build=build-run

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DQUILLO_INSTALL_PANESDIR="$panes" &&
       cmake --build "$build" -j "$(nproc)" \
        --target menubar-server preferences-host quillo_menu_plugin quillo_prefpane_bundle \
            quillo-store &&
       cmake --install "$build"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: the build or the installation failed" >&2
    exit 1
fi
mkdir -p "$state"
cmp -s "$build/install_manifest.txt" "$state/install_manifest.txt" ||
    cp "$build/install_manifest.txt" "$state/install_manifest.txt"

store_home="$data"
if [ "$sample" = 1 ]; then
    # Kept between runs: changes made in the menu stay.
    store_home="${XDG_CACHE_HOME:-$HOME/.cache}/quillo-sample"
    if [ ! -d "$store_home/iCal" ]; then
        mkdir -p "$store_home"
        cp -r tests/data/store/sample/iCal "$store_home/"
    fi
    mkdir -p "$store_home/PreferencePanes"
    ln -sfn "$panes/Quillo.prefPane" "$store_home/PreferencePanes/Quillo.prefPane"
elif [ ! -e "$data/iCal/nodes.plist" ]; then
    # First run without a calendar store: offer the tasks files of common calendar
    # programs, each with the command that adopts it (--adopt adopts them).
    "$build/bin/quillo-store" discover "${adopt[@]}" || true
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: Quillo's menu as text (what a click on its tray icon shows)."
    echo
    XDG_DATA_HOME="$store_home" "$server" --print "$menu" 2>>"$state/menubar-server.log"
    exit 0
fi

# shellcheck source=scripts/server-bus.sh
source scripts/server-bus.sh
running_pid() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.quillo.MenuBarServer \
        2>/dev/null | awk '{print $2}' || true
}
if ! dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ListNames >/dev/null 2>&1; then
    echo "run.sh: there is no D-Bus session bus; log in to a desktop session first" >&2
    exit 1
fi

# A server reading another store (the sample, or the real one after --sample) makes way.
pid=$(running_pid)
if [ -n "$pid" ]; then
    current=$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | sed -n 's/^XDG_DATA_HOME=//p')
    if [ "${current:-$HOME/.local/share}" != "$store_home" ] || [ "$(readlink -f "/proc/$pid/exe")" != "$(readlink -f "$server")" ]; then
        call Quit >/dev/null || true
        for _ in $(seq 1 100); do [ -z "$(running_pid)" ] && break; sleep 0.1; done
        pid=""
    fi
fi
if [ -z "$pid" ]; then
    XDG_DATA_HOME="$store_home" setsid "$server" >>"$state/menubar-server.log" 2>&1 </dev/null &
    for _ in $(seq 1 100); do [ -n "$(running_pid)" ] && break; sleep 0.1; done
    if [ -z "$(running_pid)" ]; then
        echo "run.sh: the menu-bar server did not start; see $state/menubar-server.log" >&2
        exit 1
    fi
fi

status=$(call AddMenuExtra "string:$menu" | awk '{print $2}')
if [ "$status" != 0 ]; then
    echo "run.sh: the menu-bar server refused $menu; see $state/menubar-server.log" >&2
    exit 1
fi
if [ "$sample" = 1 ]; then
    echo "Quillo shows the sample store (a copy in $store_home/iCal)."
fi
tray=false
for _ in $(seq 1 50); do # a server that has just started may not have looked yet
    tray=$(call TrayAvailable | awk '{print $NF}')
    [ "$tray" = true ] && break
    sleep 0.1
done
if [ "$tray" = true ]; then
    echo "Quillo is in your system tray (the notification area of your panel): click its icon."
else
    echo "Your desktop shows no system tray yet; Quillo's icon appears as soon as one does."
    echo "Meanwhile a keyboard shortcut of your desktop can open the menu with:"
    echo "    $server --pop-up com.orvane.quillo"
fi
