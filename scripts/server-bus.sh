# Sourced by run.sh and uninstall.sh: the user's session bus, and calls to the
# menu-bar server on it.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ -S "/run/user/$(id -u)/bus" ]; then
    export DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$(id -u)/bus"
fi
# call METHOD [ARGUMENTS...]: prints the server's reply.
call() {
    dbus-send --session --print-reply=literal --reply-timeout=30000 \
        --dest=org.quillo.MenuBarServer /org/quillo/MenuBarServer \
        "org.quillo.MenuBarServer.$1" "${@:2}"
}
