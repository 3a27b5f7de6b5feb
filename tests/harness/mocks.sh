# Desktop and system services for tests, as python3-dbusmock peers on the buses of run-in-session.sh (source
# it inside a session). mock_<service> starts one and waits until its bus name is owned (non-zero and a
# message on failure); mock_stop LABEL stops one (LABEL: the function's name without "mock_"); the other
# functions act as the service would. BUS is "system" or "session".

: "${TAVRINE_SESSION_DIR:?mocks.sh must be sourced inside run-in-session.sh}"
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

# spawn LOG CONDITION CMD...: CMD in the background (its output in LOG, its pid in $spawned, ended with the
# session), then up to 10 s for the shell CONDITION; says why on stderr when it does not come.
spawn() {
    "${@:3}" >>"$1" 2>&1 &
    spawned=$!
    echo $spawned >>"$TAVRINE_SESSION_DIR/mock-pids"
    wait_until 10 eval "$2" && return 0
    echo "did not come up within 10 s: ${*:3}" >&2
    tail -n 20 "$1" >&2
    return 1
}

# mock_start LABEL BUS BUS_NAME DBUSMOCK_ARGS...
mock_start() {
    local owned="mock_call $2 org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner $3"
    spawn "$TAVRINE_SESSION_DIR/mock-$1.log" "$owned" "$TAVRINE_DBUS_PYTHON" -m dbusmock "--$2" "${@:4}" ||
        { kill $spawned 2>/dev/null; return 1; }
    echo $spawned >"$TAVRINE_SESSION_DIR/mock-$1.pid"
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
    for f in "$TAVRINE_SESSION_DIR"/mock-*.pid; do f=${f##*/mock-} && mock_stop "${f%.pid}"; done
}

# mock_call BUS NAME PATH METHOD ARGS...; mock_set: the same, its answer dropped.
mock_call() { gdbus call "--$1" -d "$2" -o "$3" -m "$4" "${@:5}"; }
mock_set() { mock_call "$@" >/dev/null; }
# mock_emit BUS NAME PATH IFACE SIGNAL SIGNATURE ARGS, e.g. ARGS "[<true>]"
mock_emit() { mock_set "$1" "$2" "$3" "$MOCK_IFACE.EmitSignal" "$4" "$5" "$6" "$7"; }
# mock_calls BUS NAME PATH [METHOD]: one JSON object per recorded call: {"time","method","args"}
mock_calls() { "$TAVRINE_DBUS_PYTHON" "$TAVRINE_HARNESS_DIR/mockctl.py" "--$1" "$2" "$3" ${4:+"$4"}; }
mock_count_calls() { mock_calls "$@" | grep -c .; }

LOGIND_NAME=org.freedesktop.login1
LOGIND_PATH=/org/freedesktop/login1
LOGIND_SESSION_PATH=/org/freedesktop/login1/session/c1

# mock_logind: session c1 on seat0 for uid 1000, active; exports XDG_SESSION_ID=c1.
mock_logind() {
    local manager=org.freedesktop.login1.Manager
    mock_start logind system "$LOGIND_NAME" --template logind &&
        mock_set system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddSession" c1 seat0 1000 tester true &&
        # A program asks for its own session by pid or by the "auto"/"self" aliases; all of them mean c1 here.
        mock_set system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddMethod" "$manager" GetSessionByPID u o \
            "ret = '$LOGIND_SESSION_PATH'" &&
        mock_set system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.AddMethod" "$manager" GetSession s o \
            "ret = '/org/freedesktop/login1/session/' + ('c1' if args[0] in ('auto', 'self') else args[0])" &&
        export XDG_SESSION_ID=c1
}
logind_prepare_for_sleep() {
    mock_emit system "$LOGIND_NAME" "$LOGIND_PATH" org.freedesktop.login1.Manager PrepareForSleep b "[<$1>]"
}
logind_set_session_active() {
    mock_set system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" "$MOCK_IFACE.UpdateProperties" \
        org.freedesktop.login1.Session "{'Active': <$1>}"
}
# logind_set_locked true|false: a screen locker sets the session's LockedHint (PropertiesChanged with the value).
logind_set_locked() {
    mock_set system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" org.freedesktop.login1.Session.SetLockedHint "$1"
}
# logind_invalidate_locked [true|false]: the LockedHint takes the value given, if any, without a word, then
# PropertiesChanged only names it as invalidated (sent for the session's path even once its object is gone).
logind_invalidate_locked() {
    if [ -n "${1:-}" ]; then
        mock_set system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" "$MOCK_IFACE.AddMethod" "$MOCK_IFACE" SetLockedQuietly b '' \
            "self.props['org.freedesktop.login1.Session']['LockedHint'] = args[0]" &&
            mock_set system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" "$MOCK_IFACE.SetLockedQuietly" "$1" || return 1
    fi
    mock_set system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.EmitSignalDetailed" org.freedesktop.DBus.Properties \
        PropertiesChanged 'sa{sv}as' "[<'org.freedesktop.login1.Session'>, <@a{sv} {}>, <['LockedHint']>]" \
        "{'path': <'$LOGIND_SESSION_PATH'>}"
}
# logind_remove_session [quietly]: session c1 ends: its object goes, then SessionRemoved (not when quietly).
logind_remove_session() {
    mock_set system "$LOGIND_NAME" "$LOGIND_PATH" "$MOCK_IFACE.RemoveObject" "$LOGIND_SESSION_PATH" || return 1
    [ "${1:-}" = quietly ] || mock_emit system "$LOGIND_NAME" "$LOGIND_PATH" org.freedesktop.login1.Manager \
        SessionRemoved so "[<'c1'>, <objectpath '$LOGIND_SESSION_PATH'>]"
}

UPOWER_PATH=/org/freedesktop/UPower
# mock_upower [PERCENT=80] [STATE=2]: a battery DisplayDevice (STATE: 1 charging, 2 discharging, 4 full);
# mock_upower_no_battery: a desktop machine. The device's fields: type, state, percentage, energy, energy
# full, rate, time to empty, time to full, present, icon, warning level.
mock_upower() { mock_upower_device 2 "${2:-2}" "${1:-80}" 40.0 50.0 10.0 3600 0 true battery-good 1; }
mock_upower_no_battery() { mock_upower_device 0 0 0.0 0.0 0.0 0.0 0 0 false ac-adapter 1; }
mock_upower_device() {
    mock_start upower system org.freedesktop.UPower --template upower &&
        mock_set system org.freedesktop.UPower "$UPOWER_PATH" "$MOCK_IFACE.SetupDisplayDevice" "$@"
}
upower_set_battery() {
    mock_set system org.freedesktop.UPower "$UPOWER_PATH" "$MOCK_IFACE.SetDeviceProperties" \
        "$UPOWER_PATH/devices/DisplayDevice" "{'Percentage': <$1.0>, 'State': <uint32 $2>}"
}

NOTIFY_NAME=org.freedesktop.Notifications
NOTIFY_PATH=/org/freedesktop/Notifications
mock_notifications() { mock_start notifications session "$NOTIFY_NAME" --template notification_daemon; }
# notifications_close ID: the user closes a notification (NotificationClosed reason 2).
notifications_close() {
    mock_emit session "$NOTIFY_NAME" "$NOTIFY_PATH" "$NOTIFY_NAME" NotificationClosed uu "[<uint32 $1>, <uint32 2>]"
}

FDO_SAVER=org.freedesktop.ScreenSaver
mock_gnome_screensaver() { mock_start gnome_screensaver session org.gnome.ScreenSaver --template gnome_screensaver; }
# A bare org.freedesktop.ScreenSaver.
mock_fdo_screensaver() {
    mock_start fdo_screensaver session $FDO_SAVER $FDO_SAVER /org/freedesktop/ScreenSaver $FDO_SAVER &&
        mock_set session $FDO_SAVER /org/freedesktop/ScreenSaver "$MOCK_IFACE.AddMethod" $FDO_SAVER GetActive '' b 'ret = False'
}
# screensaver_set_active true|false: both screensavers at once.
screensaver_set_active() {
    mock_set session org.gnome.ScreenSaver /org/gnome/ScreenSaver org.gnome.ScreenSaver.SetActive "$1" &&
        mock_set session $FDO_SAVER /org/freedesktop/ScreenSaver "$MOCK_IFACE.AddMethod" $FDO_SAVER GetActive '' b \
            "ret = ${1^}" &&
        mock_emit session $FDO_SAVER /org/freedesktop/ScreenSaver $FDO_SAVER ActiveChanged b "[<$1>]"
}

SNI_NAME=org.kde.StatusNotifierWatcher
mock_sni_watcher() { mock_start sni_watcher session "$SNI_NAME" --template "$TAVRINE_HARNESS_DIR/sni_watcher.py"; }
# sni_items: one registered tray item per line ("service/path").
sni_items() {
    mock_call session "$SNI_NAME" /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
        "$SNI_NAME" RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"
}
# sni_call METHOD ARGS...: calls the first registered tray item; sni_activate: the user clicks it.
sni_call() {
    local item=$(sni_items | head -n 1)
    [ -n "$item" ] && mock_call session "${item%%/*}" "/${item#*/}" "$@"
}
sni_activate() { sni_call org.kde.StatusNotifierItem.Activate "${1:-0}" "${2:-0}" >/dev/null; }
sni_property() { sni_call org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"; }

PORTAL_NAME=org.freedesktop.portal.Desktop
PORTAL_PATH=/org/freedesktop/portal/desktop
# mock_shortcuts_portal [ANSWER=0] [REGISTRY=absent]: GlobalShortcuts; ANSWER to BindShortcuts: 0 granted, 1 the
# user cancels, 2 ended, unbound, error; REGISTRY absent (older portals) or required (see global_shortcuts_portal.py).
mock_shortcuts_portal() {
    mock_start shortcuts_portal session "$PORTAL_NAME" --template "$TAVRINE_HARNESS_DIR/global_shortcuts_portal.py" \
        --parameters "{\"bind_response\": \"${1:-0}\", \"registry\": \"${2:-absent}\"}"
}
# portal_press ID: the user presses the portal shortcut ID (Activated, Deactivated).
portal_press() { mock_set session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.Activate" "$1"; }
portal_sessions() { mock_call session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.Sessions" | grep -o "'[^']*'" | tr -d "'"; }
# portal_app_ids: the application ids registered with the portal's host registry, one a line.
portal_app_ids() { mock_call session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.AppIds" | grep -o "': '[^']*'" | cut -d"'" -f3; }
# mock_portal_settings [SCHEME=0]: the portal's appearance color-scheme (0 none, 1 dark, 2 light), in the two
# variants of the interface's first version; portal_set_color_scheme N: the user switches it (SettingChanged).
mock_portal_settings() {
    mock_start portal_settings session "$PORTAL_NAME" "$PORTAL_NAME" "$PORTAL_PATH" org.freedesktop.portal.Settings &&
        portal_set_color_scheme "${1:-0}"
}
portal_set_color_scheme() {
    mock_set session "$PORTAL_NAME" "$PORTAL_PATH" "$MOCK_IFACE.AddMethod" org.freedesktop.portal.Settings Read ss v \
        "if list(args) != ['org.freedesktop.appearance', 'color-scheme']: raise dbus.exceptions.DBusException(
    'not found', name='org.freedesktop.portal.Error.NotFound')
ret = dbus.UInt32($1, variant_level=2)" &&
        mock_emit session "$PORTAL_NAME" "$PORTAL_PATH" org.freedesktop.portal.Settings SettingChanged ssv \
            "[<'org.freedesktop.appearance'>, <'color-scheme'>, <uint32 $1>]"
}
