# Desktop and system services for tests, as python3-dbusmock peers on the buses of run-in-session.sh.
# Source it inside a session:  source "$TAVRINE_HARNESS_DIR/mocks.sh"
# mock_<service> starts one and waits until its bus name is owned (non-zero and a message on failure);
# mock_stop LABEL stops one (LABEL: the function's name without "mock_"); the other functions act as the
# service would. BUS is "system" or "session".

: "${TAVRINE_SESSION_DIR:?mocks.sh must be sourced inside run-in-session.sh}"
TAVRINE_HARNESS_DIR=${TAVRINE_HARNESS_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
# The dbus module lives in the system interpreter, not necessarily the first python3 on PATH.
TAVRINE_DBUS_PYTHON=${TAVRINE_DBUS_PYTHON:-/usr/bin/python3}
MOCK_IFACE=org.freedesktop.DBus.Mock

# wait_until SECS CMD...: polls CMD (its output dropped) every 100 ms until it succeeds or SECS pass.
wait_until() {
    local deadline=$(($(date +%s%N) / 1000000 + $1 * 1000))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(($(date +%s%N) / 1000000))" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

_bus_flag() {
    case "$1" in
    system | session) echo "--$1" ;;
    *) echo "mocks.sh: unknown bus '$1' (system or session)" >&2; return 1 ;;
    esac
}

# mock_start LABEL BUS BUS_NAME DBUSMOCK_ARGS...
mock_start() {
    local label=$1 bus=$2 name=$3 flag pid
    shift 3
    flag=$(_bus_flag "$bus") || return 1
    "$TAVRINE_DBUS_PYTHON" -m dbusmock "$flag" "$@" >"$TAVRINE_SESSION_DIR/mock-$label.log" 2>&1 &
    pid=$!
    echo "$pid" >"$TAVRINE_SESSION_DIR/mock-$label.pid"
    echo "$pid" >>"$TAVRINE_SESSION_DIR/mock-pids"
    if ! wait_until 10 mock_call "$bus" org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner "$name"; then
        echo "mocks.sh: $label ($name) did not come up:" >&2
        cat "$TAVRINE_SESSION_DIR/mock-$label.log" >&2
        mock_stop "$label"
        return 1
    fi
}

mock_stop() {
    local pidfile="$TAVRINE_SESSION_DIR/mock-$1.pid" pid
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null
    wait_until 5 bash -c "! kill -0 $pid"
    rm -f "$pidfile"
}

mock_stop_all() {
    local f
    for f in "$TAVRINE_SESSION_DIR"/mock-*.pid; do
        [ -e "$f" ] || continue
        f=${f##*/mock-}
        mock_stop "${f%.pid}"
    done
}

# mock_call BUS NAME PATH METHOD ARGS...
mock_call() {
    local flag
    flag=$(_bus_flag "$1") || return 1
    gdbus call "$flag" -d "$2" -o "$3" -m "$4" "${@:5}"
}

# mock_emit BUS NAME PATH IFACE SIGNAL SIGNATURE ARGS, e.g. ARGS "[<true>]"
mock_emit() { mock_call "$1" "$2" "$3" "$MOCK_IFACE.EmitSignal" "$4" "$5" "$6" "$7" >/dev/null; }

# mock_calls BUS NAME PATH [METHOD]: one JSON object per recorded call: {"time","method","args"}
mock_calls() {
    local flag
    flag=$(_bus_flag "$1") || return 1
    "$TAVRINE_DBUS_PYTHON" "$TAVRINE_HARNESS_DIR/mockctl.py" calls "$flag" "$2" "$3" ${4:+"$4"}
}

mock_count_calls() {
    local out
    out=$(mock_calls "$1" "$2" "$3" "$4") || return 1
    count_of "$out"
}
count_of() { if [ -z "$1" ]; then echo 0; else echo "$1" | wc -l; fi; }

mock_clear_calls() { mock_call "$1" "$2" "$3" "$MOCK_IFACE.ClearCalls" >/dev/null; }

LOGIND_NAME=org.freedesktop.login1
LOGIND_PATH=/org/freedesktop/login1
LOGIND_SESSION_PATH=/org/freedesktop/login1/session/c1

# mock_logind [SESSION_ACTIVE=true]: session c1 on seat0 for uid 1000; exports XDG_SESSION_ID=c1.
mock_logind() {
    local manager=org.freedesktop.login1.Manager
    mock_start logind system "$LOGIND_NAME" --template logind || return 1
    mock_call system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddSession" c1 seat0 1000 tester "${1:-true}" >/dev/null ||
        return 1
    # A program asks for its own session by pid or by the "auto"/"self" aliases; all of them mean c1 here.
    mock_call system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddMethod" "$manager" GetSessionByPID u o \
        "ret = '$LOGIND_SESSION_PATH'" >/dev/null || return 1
    mock_call system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddMethod" "$manager" GetSession s o \
        "ret = '/org/freedesktop/login1/session/' + ('c1' if args[0] in ('auto', 'self') else args[0])" >/dev/null ||
        return 1
    export XDG_SESSION_ID=c1
}

logind_prepare_for_sleep() {
    mock_emit system "$LOGIND_NAME" "$LOGIND_PATH" org.freedesktop.login1.Manager PrepareForSleep b "[<$1>]"
}

logind_set_session_active() {
    mock_call system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" "$MOCK_IFACE.UpdateProperties" \
        org.freedesktop.login1.Session "{'Active': <$1>}" >/dev/null
}

UPOWER_NAME=org.freedesktop.UPower
UPOWER_PATH=/org/freedesktop/UPower

# mock_upower [PERCENT=80] [STATE=2]: a battery DisplayDevice (STATE: 1 charging, 2 discharging, 4 full).
mock_upower() {
    mock_start upower system "$UPOWER_NAME" --template upower || return 1
    # type battery, state, percentage, energy, energy full, rate, time to empty, time to full, present, icon,
    # warning level
    mock_call system "$UPOWER_NAME" "$UPOWER_PATH" "$MOCK_IFACE.SetupDisplayDevice" \
        2 "${2:-2}" "${1:-80}" 40.0 50.0 10.0 3600 0 true battery-good 1 >/dev/null
}

# mock_upower_no_battery: a desktop machine.
mock_upower_no_battery() {
    mock_start upower system "$UPOWER_NAME" --template upower || return 1
    mock_call system "$UPOWER_NAME" "$UPOWER_PATH" "$MOCK_IFACE.SetupDisplayDevice" \
        0 0 0.0 0.0 0.0 0.0 0 0 false ac-adapter 1 >/dev/null
}

# upower_set_battery PERCENT STATE
upower_set_battery() {
    mock_call system "$UPOWER_NAME" "$UPOWER_PATH" "$MOCK_IFACE.SetDeviceProperties" "$UPOWER_PATH/devices/DisplayDevice" \
        "{'Percentage': <$1.0>, 'State': <uint32 $2>}" >/dev/null
}

NOTIFY_NAME=org.freedesktop.Notifications
NOTIFY_PATH=/org/freedesktop/Notifications

mock_notifications() { mock_start notifications session "$NOTIFY_NAME" --template notification_daemon; }

# notifications_close ID: the user closes a notification (NotificationClosed reason 2).
notifications_close() {
    mock_emit session "$NOTIFY_NAME" "$NOTIFY_PATH" org.freedesktop.Notifications NotificationClosed uu "[<uint32 $1>, <uint32 2>]"
}

mock_gnome_screensaver() { mock_start gnome_screensaver session org.gnome.ScreenSaver --template gnome_screensaver; }

# A bare org.freedesktop.ScreenSaver.
mock_fdo_screensaver() {
    mock_start fdo_screensaver session org.freedesktop.ScreenSaver \
        org.freedesktop.ScreenSaver /org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver || return 1
    mock_call session org.freedesktop.ScreenSaver /org/freedesktop/ScreenSaver "$MOCK_IFACE.AddMethod" \
        org.freedesktop.ScreenSaver GetActive '' b 'ret = False' >/dev/null
}

# screensaver_set_active true|false: every screensaver mock that runs.
screensaver_set_active() {
    local done=0 fdo=org.freedesktop.ScreenSaver value=False
    if [ -f "$TAVRINE_SESSION_DIR/mock-gnome_screensaver.pid" ]; then
        mock_call session org.gnome.ScreenSaver /org/gnome/ScreenSaver org.gnome.ScreenSaver.SetActive "$1" >/dev/null || return 1
        done=1
    fi
    if [ -f "$TAVRINE_SESSION_DIR/mock-fdo_screensaver.pid" ]; then
        [ "$1" = true ] && value=True
        mock_call session $fdo /org/freedesktop/ScreenSaver "$MOCK_IFACE.AddMethod" $fdo GetActive '' b "ret = $value" >/dev/null &&
            mock_emit session $fdo /org/freedesktop/ScreenSaver $fdo ActiveChanged b "[<$1>]" || return 1
        done=1
    fi
    [ "$done" = 1 ] || { echo "mocks.sh: no screensaver mock runs" >&2; return 1; }
}

SNI_NAME=org.kde.StatusNotifierWatcher
SNI_PATH=/StatusNotifierWatcher

# mock_sni_watcher: a tray host.
mock_sni_watcher() { mock_start sni_watcher session "$SNI_NAME" --template "$TAVRINE_HARNESS_DIR/sni_watcher.py"; }

# sni_items: one registered tray item per line ("service/path").
sni_items() {
    gdbus call --session -d "$SNI_NAME" -o "$SNI_PATH" -m org.freedesktop.DBus.Properties.Get \
        "$SNI_NAME" RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"
}

# sni_call METHOD ARGS...: calls the first registered tray item.
sni_call() {
    local item
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || { echo "mocks.sh: no tray item registered" >&2; return 1; }
    gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m "$@"
}

# sni_activate [X Y]: the user clicks the tray item.
sni_activate() { sni_call org.kde.StatusNotifierItem.Activate "${1:-0}" "${2:-0}" >/dev/null; }
# sni_property NAME: a property of the tray item, as gdbus prints it.
sni_property() { sni_call org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"; }

PORTAL_NAME=org.freedesktop.portal.Desktop
PORTAL_PATH=/org/freedesktop/portal/desktop

# mock_shortcuts_portal [ANSWER=0]: GlobalShortcuts; ANSWER to BindShortcuts: 0 granted, 1 the user cancels,
# 2 ended, unbound, error (see global_shortcuts_portal.py).
mock_shortcuts_portal() {
    local answer=${1:-0}
    [[ $answer =~ ^[0-9]+$ ]] || answer="\"$answer\""
    mock_start shortcuts_portal session "$PORTAL_NAME" --template "$TAVRINE_HARNESS_DIR/global_shortcuts_portal.py" \
        --parameters "{\"bind_response\": $answer}"
}

# portal_press ID: the user presses the portal shortcut ID (Activated, Deactivated).
portal_press() { mock_call session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.Activate" "$1" >/dev/null; }
# portal_sessions: the open portal sessions, one per line.
portal_sessions() { mock_call session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.Sessions" | grep -o "'[^']*'" | tr -d "'"; }

# mock_portal_settings [SCHEME=0]: the portal's appearance color-scheme (0 none, 1 dark, 2 light).
mock_portal_settings() {
    mock_start portal_settings session "$PORTAL_NAME" --template "$TAVRINE_HARNESS_DIR/portal_settings.py" \
        --parameters "{\"ColorScheme\": ${1:-0}}"
}

# portal_set_color_scheme N: the user switches the desktop's scheme (SettingChanged).
portal_set_color_scheme() { mock_call session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.SetColorScheme" "$1" >/dev/null; }
