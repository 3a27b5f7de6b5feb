#!/usr/bin/env bash
# Soak run: the application analyses a looping clip at 15 fps for DURATION seconds, with the filter state
# changing every minute or so (look-away, onlooker) and the right monitor unplugged and plugged back every
# HOTPLUG seconds, plus a sleep/wake cycle every 5 minutes. It reports the resident memory after warm-up
# and at the end, checks the process never died, the overlay still follows the clip at the end, and the
# alerts were counted.
#
# Usage (inside run-in-session.sh): soak.sh DURATION_S [HOTPLUG_S=120] [MAX_GROWTH_KB]
# MAX_GROWTH_KB (optional) fails the run when the memory grows more than that.
# Environment: TAVRINE_BIN, TAVRINE_PROBE, TAVRINE_E2E_LIB, E2E_CLIPS, E2E_WORK (optional).
# Prints the figures, then "N passed, N failed".
set -u
duration=${1:?usage: soak.sh DURATION_S [HOTPLUG_S] [MAX_GROWTH_KB]}
hotplug=${2:-120}
max_growth_kb=${3:-}
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/soak}
E2E_SCENARIO=soak
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app

require_clip soak

mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && mock_fdo_screensaver &&
    backdrop_start || { echo "FAIL mocks"; exit 1; }
settings_seed "has_completed_onboarding=true" "capture_fps=15"

app_start --camera "$clip"
nominal=$(expected nominal)
eventually 30 "the filter runs" overlay_reads "$nominal"

# Warm-up: models loaded, caches and buffer pools filled, one of each state seen.
warmup=$((duration / 6))
[ "$warmup" -gt 120 ] && warmup=120
[ "$warmup" -lt 20 ] && warmup=20
sleep "$warmup"
rss_start=$(app_rss_kb)
t_start=$SECONDS
log "rss after ${warmup}s warm-up: ${rss_start} kB"

samples="$E2E_WORK/rss.tsv"
echo -e "seconds\trss_kb" >"$samples"
next_hotplug=$((SECONDS + hotplug))
next_sleep=$((SECONDS + 300))
hotplugs=0
sleeps=0
died=0
end=$((t_start + duration - warmup))
[ "$end" -le "$t_start" ] && end=$((t_start + 30))
while [ "$SECONDS" -lt "$end" ]; do
    if ! app_alive; then
        died=1
        break
    fi
    echo -e "$((SECONDS - t_start))\t$(app_rss_kb)" >>"$samples"
    if [ "$SECONDS" -ge "$next_hotplug" ]; then
        xrandr --delmonitor RIGHT >/dev/null 2>&1
        sleep 3
        xrandr --setmonitor RIGHT 1280/338x800/211+1280+0 none >/dev/null 2>&1
        hotplugs=$((hotplugs + 1))
        next_hotplug=$((SECONDS + hotplug))
    fi
    if [ "$SECONDS" -ge "$next_sleep" ]; then
        logind_prepare_for_sleep true
        sleep 3
        logind_prepare_for_sleep false
        sleeps=$((sleeps + 1))
        next_sleep=$((SECONDS + 300))
    fi
    sleep 5
done

check "the application never died (ran $((SECONDS - t_start + warmup)) s)" [ "$died" = 0 ]
rss_end=$(app_rss_kb)
# The clip has its onlooker 85-100 s into each 3-minute loop, and the overlay must still be up and right.
eventually 200 "the overlay still follows the clip on both monitors at the end" overlay_reads "$nominal"
alerts=$(settings_get stats_alert_count)
check "alerts were raised and counted (${alerts:-0})" [ "${alerts:-0}" -ge 1 ]
app_stop
check "the application ends cleanly (status $APP_STATUS)" [ "$APP_STATUS" = 0 ]

growth=$(( ${rss_end:-0} - ${rss_start:-0} ))
echo "soak: duration ${duration}s at 15 fps, ${hotplugs} monitor hotplugs, ${sleeps} sleep/wake cycles, ${alerts:-0} alerts counted"
echo "soak: rss_start_kb=${rss_start:-?} rss_end_kb=${rss_end:-?} growth_kb=${growth} (goal <= 1024)"
echo "soak: rss samples in $samples"
if [ -n "$max_growth_kb" ]; then
    check "memory growth ${growth} kB <= ${max_growth_kb} kB" [ "$growth" -le "$max_growth_kb" ]
fi
summary
