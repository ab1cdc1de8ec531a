#!/usr/bin/env bash
# Removes what scripts/run.sh installed: takes Quillo out of the tray, stops the
# menu-bar server when nothing else is in it, and deletes the installed files. Your
# settings ($XDG_CONFIG_HOME/com.orvane.quillo.plist) and calendar store stay.
set -euo pipefail
prefix="$HOME/.local"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
config="${XDG_CONFIG_HOME:-$HOME/.config}"
state="$data/quillo"
manifest="$state/install_manifest.txt"
server="$prefix/bin/menubar-server"
if [ ! -f "$manifest" ]; then
    echo "uninstall.sh: nothing installed by scripts/run.sh ($manifest is missing)" >&2
    exit 1
fi

# shellcheck source=scripts/server-bus.sh
source "$(dirname "$0")/server-bus.sh"
# Only a running server is asked: the call must not start one.
if dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.quillo.MenuBarServer 2>/dev/null |
        grep -q true; then
    call RemoveMenuExtra string:com.orvane.quillo >/dev/null 2>&1 || true
    if [ -z "$(call ListMenuExtras 2>/dev/null | tr -d '[:space:]' | sed 's/^array\[\]$//')" ]; then
        call Quit >/dev/null 2>&1 || true
        # The server is going with its list, which names nothing now.
        list="$config/menubar-server/MenuExtras.plist"
        if [ -f "$list" ] && ! grep -q "<string>" "$list"; then
            rm -f "$list"
            rmdir "$config/menubar-server" 2>/dev/null || true
        fi
    fi
else
    # The server would have forgotten Quillo on removal; it cannot now.
    entry="$config/autostart/menubar-server.desktop"
    if [ -f "$entry" ] && grep -q "Exec=\"$server\"" "$entry"; then
        rm -f "$entry" "$config/menubar-server/MenuExtras.plist"
    fi
fi

dirs=()
# The manifest's last line has no line break.
while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] || continue
    rm -f "$file"
    dirs+=("$(dirname "$file")")
done <"$manifest"
# Our own folders (the pane bundle, the library folder), deepest first, once empty.
printf '%s\n' "${dirs[@]}" | sort -u | awk '{ print length, $0 }' | sort -rn | cut -d' ' -f2- |
    while IFS= read -r dir; do
        while [[ "$dir" == */Quillo.prefPane* || "$dir" == "$prefix"/lib*/quillo ]] &&
            [ -d "$dir" ] && [ -z "$(ls -A "$dir")" ]; do
            rmdir "$dir"
            dir=$(dirname "$dir")
        done
    done
rm -rf "${XDG_CACHE_HOME:-$HOME/.cache}/quillo-sample"
rm -f "$manifest" "$state/menubar-server.log"
rmdir "$state" 2>/dev/null || true
echo "Quillo is uninstalled; your settings and calendar store are left as they were."
