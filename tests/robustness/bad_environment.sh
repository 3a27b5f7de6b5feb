#!/usr/bin/env bash
# Bad environments: no X display, no session bus, no tray host, no camera, an unwritable configuration
# directory, a corrupt settings file. In each the application must say what is wrong in one line and
# either run degraded or exit non-zero, and never crash (no signal, no abort).
# Runs inside run-in-session.sh; environment as for tests/e2e/e2e.sh. Prints "N passed, N failed".
set -u
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/badenv}
E2E_SCENARIO=badenv
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app

require_clip facing

mock_logind && mock_upower 80 2 && mock_notifications || { echo "FAIL mocks"; exit 1; }
backdrop_start || { echo "FAIL backdrop"; exit 1; }
nominal=$(expected_stripe_value 0.42 "$(filter_alpha nominal 3)")

# The messages of the application itself, without the toolkit's own warnings (lines "qt.…: ").
own_lines() { grep -vE '^(qt\.[a-z.]+: |QStandardPaths: |Qt: |\(tavrine:[0-9]+\): )' "$1" | grep -v '^\s*$'; }

# explains LOG PATTERN: one line of the application's own says what is wrong.
explains() {
    local lines
    lines=$(own_lines "$1" | grep -ciE "$2")
    [ "$lines" -ge 1 ] || { echo "     no line matching /$2/ in: $(head -c 400 "$1" | tr '\n' '|')" >&2; return 1; }
}

not_crashed() {
    case "${APP_STATUS:-}" in
    "") return 0 ;;       # still running
    killed) return 1 ;;   # did not end on SIGTERM
    *) [ "$APP_STATUS" -lt 128 ] || { echo "     ended by signal $((APP_STATUS - 128))" >&2; return 1; } ;;
    esac
}

# degraded_or_failed NAME PATTERN: either the application still runs after 6 s (then SIGTERM ends it
# with status 0) or it has exited non-zero; in both cases without a crash and with its one line.
degraded_or_failed() {
    local name=$1 pattern=$2
    if poll 6 bash -c "! kill -0 $APP_PID 2>/dev/null"; then
        app_wait_exit 1
        check "$name: exits without crashing (status $APP_STATUS)" not_crashed
        check "$name: exits non-zero" [ "$APP_STATUS" != 0 ]
    else
        app_stop
        check "$name: runs degraded, then ends cleanly on SIGTERM (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]
    fi
    check "$name: explains itself in one line" explains "$APP_LOG" "$pattern"
}

# --- No X display
E2E_SCENARIO=no-display
(unset DISPLAY WAYLAND_DISPLAY; export QT_QPA_PLATFORM=xcb; exec "$TAVRINE_BIN" --camera "$clip") \
    >"$E2E_WORK/no-display.log" 2>&1 &
APP_PID=$!
APP_LOG="$E2E_WORK/no-display.log"
if poll 15 bash -c "! kill -0 $APP_PID 2>/dev/null"; then
    app_wait_exit 1
    check "no display: exits without crashing (status $APP_STATUS)" not_crashed
    check "no display: exits non-zero" [ "$APP_STATUS" != 0 ]
else
    app_stop
    fail "no display: still running without any display"
fi
check "no display: explains itself in one line" explains "$APP_LOG" 'display|X11|affichage'

# --- No session bus (no tray, no notifications, no screensaver): the filter itself can still run.
E2E_SCENARIO=no-session-bus
APP_LOG="$E2E_WORK/no-bus.log"
settings_seed "has_completed_onboarding=true"
DBUS_SESSION_BUS_ADDRESS="unix:path=$TAVRINE_SESSION_DIR/no-such-bus" "$TAVRINE_BIN" --camera "$clip" >"$APP_LOG" 2>&1 &
APP_PID=$!
degraded_or_failed "no session bus" 'bus|d-bus|dbus'

# --- No tray host: runs, filter on, says the tray is missing.
E2E_SCENARIO=no-tray
settings_seed "has_completed_onboarding=true"
app_start --camera "$clip"
eventually 20 "no tray host: the filter runs anyway" overlay_reads "$nominal"
check "no tray host: still running" app_alive
app_stop
check "no tray host: ends cleanly on SIGTERM (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]
check "no tray host: explains itself in one line" explains "$APP_LOG" 'tray|notification area|zone de notification|StatusNotifier|barre'
mock_sni_watcher || fail "tray mock"

# --- No camera: a device node that does not exist, and a clip that does not exist.
for source in /dev/video63 "$E2E_WORK/no-such-clip.webm"; do
    E2E_SCENARIO="no-camera ${source##*/}"
    settings_seed "has_completed_onboarding=true"
    app_start --camera "$source"
    check "$E2E_SCENARIO: keeps running without a camera" stays 6 app_alive
    check "$E2E_SCENARIO: no overlay without a camera" overlay_gone
    app_stop
    check "$E2E_SCENARIO: ends cleanly on SIGTERM (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]
    check "$E2E_SCENARIO: explains itself in one line" explains "$APP_LOG" 'cam[eé]ra|video|vid[eé]o'
done

# --- An unwritable configuration directory. Root ignores permission bits, so the place where the
# settings directory should be is taken by a plain file: nothing can be created there, for anyone.
E2E_SCENARIO=readonly-config
ro_home="$E2E_WORK/ro-config"
rm -rf "$ro_home"
mkdir -p "$ro_home"
echo "not a directory" >"$ro_home/tavrine"
chmod 0555 "$ro_home"
XDG_CONFIG_HOME="$ro_home" app_start --camera "$clip"
eventually 20 "read-only config: the filter runs with the defaults" overlay_reads "$nominal"
xdotool key super+shift+c
check "read-only config: survives a stop that saves statistics" stays 3 app_alive
xdotool key super+shift+c
eventually 15 "read-only config: starts again" overlay_reads "$nominal"
app_stop
check "read-only config: ends cleanly on SIGTERM (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]
check "read-only config: explains itself in one line" explains "$APP_LOG" 'settings|config|réglages|param[eè]tres|write|écrire|enregistr'
chmod 0755 "$ro_home"

# --- A corrupt settings file: garbage bytes, malformed and out-of-range values.
E2E_SCENARIO=corrupt-settings
mkdir -p "$XDG_CONFIG_HOME/tavrine"
{
    printf '\x00\xff\xfe garbage \x01\x02\n[General\n'
    echo "[General]"
    echo "has_completed_onboarding=true"
    echo "filter_strength=banana"
    echo "capture_fps=0"
    echo "inattention_delay_ms=-5"
    echo "matrix_stripe_alpha=nan"
    echo "battery_threshold=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1cQ)"
    echo "privacy_matrix_coefficient=1e999"
    head -c 2000 /dev/urandom | tr -d '\n[]'
    echo
} >"$(settings_file)"
app_start --camera "$clip"
check "corrupt settings: keeps running" stays 6 app_alive
eventually 15 "corrupt settings: the filter runs, stripes on screen" bash -c "
    png=\$(import -window root '$E2E_WORK/corrupt.png' && echo '$E2E_WORK/corrupt.png') &&
    v=\$('$TAVRINE_PROBE' stats \"\$png\" $LEFT_AREA | awk '{print \$2}') && [ \"\$v\" -lt 245 ]"
app_stop
check "corrupt settings: ends cleanly on SIGTERM (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]

summary
