#!/usr/bin/env bash
# The whole application's cost while it filters: processor time over a stretch of SECONDS (user + system
# time of the process from /proc/PID/stat, in % of one core), the share of each thread, and its resident
# memory at the end, with the camera replaced by a looping clip and the analysis at FPS frames a second.
# A camera is asked for no more frames than the analysis takes (two an analysis interval: 20 a second for an
# analysis at 10, when it offers 20), and drops the extra ones before decoding them; a clip must be decoded
# whole. The clip is first re-encoded at CLIP_FPS (VP8, as the test clips). The default, FPS, decodes no
# frame the analysis could not take, but the analyzer's wall-clock admission turns away those that come a
# few ms early (fewer frames analysed than with a camera); CLIP_FPS=2*FPS analyses as many as a camera's
# run but decodes every frame the camera sends, where the camera path drops half of them undecoded.
# AS_IS=1 plays CLIP at its own rate.
#
# Usage (inside run-in-session.sh): app_cost.sh CLIP [SECONDS=60] [FPS=10] [WARMUP=20]
# Environment: TAVRINE_BIN, TAVRINE_PROBE, TAVRINE_E2E_LIB (tests/e2e/lib.sh), CLIP_FPS, AS_IS.
# Example:
#   tests/harness/run-in-session.sh env TAVRINE_BIN=build/src/app/tavrine \
#     TAVRINE_PROBE=build/tests/e2e/tavrine-e2e-probe TAVRINE_E2E_LIB=tests/e2e/lib.sh \
#     bench/app/app_cost.sh build/tests/e2e/clips/facing.webm 60 10
set -u
clip=${1:?usage: app_cost.sh CLIP [SECONDS] [FPS] [WARMUP]}
seconds=${2:-60}
fps=${3:-10}
warmup=${4:-20}
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/app-cost}
E2E_SCENARIO=app-cost
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app

mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && mock_fdo_screensaver ||
    { echo "FAIL mocks"; exit 1; }
settings_seed "has_completed_onboarding=true" "capture_fps=$fps"

if [ "${AS_IS:-0}" != 1 ]; then
    command -v ffmpeg >/dev/null || { echo "FAIL ffmpeg is needed to re-encode the clip (or AS_IS=1)"; exit 1; }
    mkdir -p "$E2E_WORK"
    clip_fps=${CLIP_FPS:-$fps}
    paced="$E2E_WORK/$(basename "${clip%.*}")-${clip_fps}fps.webm"
    ffmpeg -nostdin -loglevel error -y -i "$clip" -r "$clip_fps" -pix_fmt yuv420p -c:v libvpx -deadline realtime \
        -cpu-used 8 -b:v 400k -g "$clip_fps" -auto-alt-ref 0 "$paced" || { echo "FAIL re-encoding $clip"; exit 1; }
    clip=$paced
fi

# utime + stime of the process, in clock ticks (fields 14 and 15; the name in field 2 may hold spaces).
cpu_ticks() { sed 's/^.*) //' "/proc/$APP_PID/stat" | awk '{print $12 + $13}'; }
# The same for each thread: "TID TICKS NAME" lines.
thread_ticks() {
    local task
    for task in /proc/"$APP_PID"/task/*; do
        printf '%s %s %s\n' "${task##*/}" "$(sed 's/^.*) //' "$task/stat" | awk '{print $12 + $13}')" \
            "$(tr ' ' _ <"$task/comm")"
    done 2>/dev/null
}

app_start --camera "$clip"
sleep "$warmup" # models loaded, pools filled
app_alive || { echo "FAIL the application died during warm-up"; exit 1; }
# Without its models the filter stops: the figure would be that of an idle application.
if grep -q "model not found\|model could not\|model is corrupt\|model has" "$APP_LOG"; then
    app_stop
    echo "FAIL the face models did not load (TAVRINE_MODEL_DIR; see $APP_LOG)"
    exit 1
fi
ticks0=$(cpu_ticks)
threads0=$(thread_ticks)
t0=$(date +%s.%N)
sleep "$seconds"
ticks1=$(cpu_ticks)
threads1=$(thread_ticks)
t1=$(date +%s.%N)
rss=$(app_rss_kb)
hz=$(getconf CLK_TCK)
app_stop
awk -v d="$((ticks1 - ticks0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" -v rss="$rss" -v clip="$clip" -v fps="$fps" \
    'BEGIN { printf "clip %s at %d fps: cpu %.1f %% of one core over %.0f s, resident %.0f MB\n",
             clip, fps, 100 * d / hz / (t1 - t0), t1 - t0, rss / 1024 }'
# Each thread that used a tenth of a percent or more (threads that came and went in the stretch are left
# out), largest first.
awk -v hz="$hz" -v span="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" '
    NR == FNR { start[$1] = $2; next }
    ($1 in start) && 100 * ($2 - start[$1]) / hz / span >= 0.1 {
        printf "  %5.2f %%  %s (%s)\n", 100 * ($2 - start[$1]) / hz / span, $3, $1 }' \
    <(echo "$threads0") <(echo "$threads1") | sort -rn
