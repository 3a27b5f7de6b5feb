#!/usr/bin/env bash
# Time from launch to the tray icon: the milliseconds between starting the application and its
# StatusNotifierItem being registered with the tray's watcher, in a session whose desktop portal holds its
# bus name but never answers (a hung portal), told as a Wayland one (XDG_SESSION_TYPE) so that the global
# shortcut is looked for on the portal. Prints one line per run, then the median.
#
# Usage (inside run-in-session.sh): startup_to_tray.sh [RUNS=5]
# Environment: TAVRINE_BIN, TAVRINE_E2E_LIB (tests/e2e/lib.sh); SILENT_PORTAL=0 runs without the portal.
# Example:
#   tests/harness/run-in-session.sh env TAVRINE_BIN=build/src/app/tavrine TAVRINE_E2E_LIB=tests/e2e/lib.sh \
#     bench/app/startup_to_tray.sh 5
set -u
runs=${1:-5}
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/startup}
E2E_SCENARIO=startup
TAVRINE_PROBE=${TAVRINE_PROBE:-unused} # the screen probe is not needed here
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app

mock_sni_watcher || { echo "FAIL mocks"; exit 1; }
settings_seed "has_completed_onboarding=true"
if [ "${SILENT_PORTAL:-1}" = 1 ]; then
    # Owns the portal's name and never reads its messages: every call waits for its timeout.
    "$TAVRINE_DBUS_PYTHON" -c 'import dbus, time
dbus.SessionBus().request_name("org.freedesktop.portal.Desktop")
time.sleep(3600)' &
    portal=$!
    until gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner org.freedesktop.portal.Desktop 2>/dev/null | grep -q true; do
        sleep 0.05
    done
fi

times=()
for ((run = 1; run <= runs; run++)); do
    begin=$(date +%s%N)
    XDG_SESSION_TYPE=wayland app_start
    until [ -n "$(sni_items 2>/dev/null)" ]; do
        app_alive || { echo "FAIL the application ended: $(tail -n 3 "$APP_LOG")"; exit 1; }
        sleep 0.01
    done
    ms=$((($(date +%s%N) - begin) / 1000000))
    times+=("$ms")
    echo "run $run: tray after $ms ms"
    app_stop
done
[ -n "${portal:-}" ] && kill "$portal"
echo "median: $(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p") ms"
