#!/usr/bin/env bash
# The longest main-thread stalls of the running application during a start, a stop (Super+Shift+C) and a
# camera loss, as the application's own heartbeat measures them (TAVRINE_MAIN_THREAD_PROBE). Prints one
# figure per phase; no pass mark: the goal (no stall a user notices, well under 100 ms) is read by a person.
#
# Usage (inside run-in-session.sh): stalls.sh
# Environment: TAVRINE_BIN, TAVRINE_PROBE, TAVRINE_E2E_LIB, E2E_CLIPS, E2E_WORK (optional).
set -u
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/stalls}
E2E_SCENARIO=stalls
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app
require_clip facing

mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && backdrop_start ||
    { echo "FAIL mocks"; exit 1; }
settings_seed "has_completed_onboarding=true"
cam="$E2E_WORK/camera.webm"
cp "$clip" "$cam"
nominal=$(expected nominal)

export TAVRINE_MAIN_THREAD_PROBE=1
launched=$(date +%s%N)
app_start --camera "$cam"
now_ms() { echo $((($(date +%s%N) - launched) / 1000000)); }
phase_start=(); phase_name=()
phase() { phase_name+=("$1"); phase_start+=("$(now_ms)"); log "phase $1"; }

phase start
eventually 30 "the filter runs" overlay_reads "$nominal"
sleep 2
phase stop
xdotool key super+shift+c
eventually 10 "Super+Shift+C stops it" overlay_gone
sleep 2
phase restart
xdotool key super+shift+c
eventually 20 "and starts it again" overlay_reads "$nominal"
sleep 2
phase camera-loss
: >"$cam"
rm -f "$cam"
eventually 15 "the camera loss shows" overlay_gone
sleep 11 # two retries
phase camera-back
cp "$clip" "$cam"
eventually 20 "the camera back runs the filter" overlay_reads "$nominal"
sleep 2
phase quit
app_stop
phase end

# The probe's clock starts a little after the launch: its times are at most that much early here.
for i in $(seq 0 $((${#phase_name[@]} - 2))); do
    from=${phase_start[$i]}
    to=${phase_start[$((i + 1))]}
    worst=$(awk -v a="$from" -v b="$to" '/main thread blocked/ { t = $(NF - 1); if (t >= a && t < b && $5 > m) m = $5 }
        END { print m + 0 }' "$APP_LOG")
    printf 'main-thread stall, %-12s longest %4d ms (blocks of 30 ms or more are counted)\n' "${phase_name[$i]}" "$worst"
done
grep "longest main-thread block" "$APP_LOG"
summary
