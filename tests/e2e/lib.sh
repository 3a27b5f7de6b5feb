# Helpers of the desktop scripts: the scenario runner (e2e.sh), the soak and the benchmarks. Source it inside
# a session of tests/harness/run-in-session.sh, after setting TAVRINE_BIN (the application), TAVRINE_PROBE
# (tavrine-e2e-probe), E2E_WORK (a scratch directory) and E2E_CLIPS (the clips of make_clips.sh).
: "${TAVRINE_BIN:?TAVRINE_BIN must name the application binary}"
: "${TAVRINE_PROBE:?TAVRINE_PROBE must name tavrine-e2e-probe}"
: "${E2E_WORK:?E2E_WORK must name a scratch directory}"
source "${TAVRINE_HARNESS_DIR:?lib.sh must be sourced inside run-in-session.sh}/mocks.sh"
source "$TAVRINE_HARNESS_DIR/checks.sh"
mkdir -p "$E2E_WORK"
CHECK_LABEL="[${E2E_SCENARIO:-e2e}] "

log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
fail() { check "$1" false; }
# A step naming a command that does not exist fails the script, even behind "not".
command_not_found_handle() {
    echo "FAIL [${E2E_SCENARIO:-e2e}] no command named $1" | tee -a "$E2E_WORK/missing-commands"
    return 127
}
summary() { checks_summary && [ ! -s "$E2E_WORK/missing-commands" ]; }
# What the screen and the application looked like when a check failed.
on_fail() {
    local png
    png=$(shot "fail-$failed-$(echo "$1" | tr -c 'a-zA-Z0-9' '_' | cut -c1-40)") && echo "     screenshot: $png"
    [ -f "${APP_LOG:-}" ] && echo "     last lines of $APP_LOG:" && tail -n 8 "$APP_LOG" | sed 's/^/       /'
}

# eventually SECS DESCRIPTION CMD...: polls CMD until it succeeds or SECS pass, and says how long it took.
eventually() {
    local t0=$(date +%s%N) ms
    LAST_READING=""
    if wait_until "$1" "${@:3}"; then
        ms=$((($(date +%s%N) - t0) / 1000000))
        check "$2 ($((ms / 1000)).$((ms % 1000 / 100))s of ${1}s)" true
    else
        fail "$2 (not within ${1}s${LAST_READING:+; last reading: $LAST_READING})"
    fi
}
# stays SECS CMD...: CMD keeps succeeding for SECS seconds.
stays() { ! wait_until "$1" not "${@:2}"; }
not() { ! "$@"; }
within() { awk -v v="${1:-x}" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "x" && v >= lo && v <= hi) }'; }
# calls_are FILTER CMD...: the calls CMD prints (mock_calls), as one JSON array, pass the jq FILTER. A CMD that
# fails (its mock gone) fails the check, even one that expects no call.
calls_are() { [ $# -gt 1 ] && (set -o pipefail && "${@:2}" | jq -s -e "$1" >/dev/null); }
log_count() { grep -cE "$1" "$APP_LOG" 2>/dev/null || true; }


APP_PID="" APP_LOG="" APP_STATUS="" APP_RUNS=0
app_start() {
    APP_RUNS=$((APP_RUNS + 1)) APP_STATUS=""
    APP_LOG="$E2E_WORK/app-$APP_RUNS.log"
    log "starting tavrine $*"
    "$TAVRINE_BIN" "$@" >"$APP_LOG" 2>&1 &
    APP_PID=$!
}
app_alive() { [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; }
# app_wait_exit SECS: waits for the application to end; APP_STATUS is its exit status (128+N for a signal).
app_wait_exit() {
    [ -n "$APP_PID" ] && wait_until "$1" not app_alive || return 1
    wait "$APP_PID" 2>/dev/null
    APP_STATUS=$? APP_PID=""
}
# app_stop: ends the application as the session manager does (SIGTERM), then for sure.
app_stop() {
    app_alive || { APP_PID=""; return 0; }
    kill -TERM "$APP_PID" 2>/dev/null
    app_wait_exit 10 && return 0
    log "tavrine ignored SIGTERM; killing it"
    kill -KILL "$APP_PID" 2>/dev/null && app_wait_exit 5
    APP_STATUS=killed APP_PID=""
}
stopped_cleanly() { app_stop && [ "$APP_STATUS" = 0 ]; }
app_rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$APP_PID/status" 2>/dev/null; }
app_holds_file() { ls -l "/proc/$APP_PID/fd" 2>/dev/null | grep -qF -- "$1"; }
# require_app: fails unless the binary is the full application, which takes --camera.
require_app() {
    timeout 5 "$TAVRINE_BIN" --help 2>&1 | grep -q -- "--camera" ||
        { echo "FAIL: $TAVRINE_BIN does not take --camera"; exit 1; }
}


settings_file() { echo "$XDG_CONFIG_HOME/tavrine/tavrine.conf"; }
settings_get() { [ -f "$(settings_file)" ] && sed -n "s/^$1=//p" "$(settings_file)" | tail -n 1 | tr -d '"'; }
settings_is() { [ "$(settings_get "$1")" = "$2" ]; }
settings_seed() { mkdir -p "$XDG_CONFIG_HOME/tavrine" && printf '%s\n' "[General]" "$@" >"$(settings_file)"; }
returning_user() { settings_seed "has_completed_onboarding=true"; }


# A white backdrop over the whole desktop: the overlay's black stripes then darken known pixels.
backdrop_start() { spawn "$E2E_WORK/backdrop.out" "grep -q ready '$E2E_WORK/backdrop.out'" "$TAVRINE_PROBE" backdrop; }
SHOT_SEQ=0
# shot [NAME] [WID]: the whole desktop (of the X server, or of the compositor E2E_SHOOTER names), or with WID
# that window's own pixels (from its buffer, without the stripes above it); prints the path.
shot() {
    local path="$E2E_WORK/${1:-shot-$((++SHOT_SEQ))}.png"
    case "${2:+window}${E2E_SHOOTER:-x}" in
    window*) import -window "$2" "$path" ;;
    sway) grim -s 1 "$path" ;;
    weston) (cd "$E2E_WORK" && rm -f wayland-screenshot-*.png && weston-screenshooter && mv wayland-screenshot-*.png "$path") ;;
    *) import -window root "$path" ;;
    esac >/dev/null 2>&1 && echo "$path"
}
# keep_shot WID NAME: the window's pixels as screenshot NAME of the README.
keep_shot() { import -window "$1" "$E2E_SHOTS/$2.png" 2>/dev/null; }

# Areas of the two monitors that no window of the application covers (the onboarding, preferences and
# panel windows sit around the centre of the left monitor, the shortcut badge in the top-right corners).
LEFT_AREA="40 620 240 150"
RIGHT_AREA="1320 620 240 150"

# expected STATE [STRENGTH=3]: the grey a black stripe reads over white at the default stripe opacity (0.42),
# under the overlay's opacity while nominal or inattentive at that strength (1 to 5).
expected() {
    local -A alpha=([nominal]="0.3025 0.3575 0.4125 0.4675 0.5225" [inattention]="0.44 0.52 0.60 0.68 0.76")
    awk -v a="$(cut -d' ' -f"${2:-3}" <<<"${alpha[$1]}")" 'BEGIN { printf "%.1f", 255 * (1 - 0.42 * a) }'
}

# screen_reads TEST AREA...: in one screenshot, the probe's stats of every AREA (awk fields $1-$3 the least R G
# B, $4-$6 the most, $7-$9 the mean) pass the awk TEST.
screen_reads() {
    local png area stats
    png=$(shot) || return 1
    LAST_READING=""
    for area in "${@:2}"; do
        stats=$("$TAVRINE_PROBE" stats "$png" $area) || return 1
        LAST_READING+="[$stats] "
        awk "{ exit !($1) }" <<<"$stats" || return 1
    done
}
# stripes_read EXPECTED TOL AREA...: every AREA shows stripes whose darkest pixels read EXPECTED (within TOL),
# and gaps that keep the white background. Green is read, because the alert flash adds red.
stripes_read() { screen_reads "(\$2 - $1) ^ 2 <= $2 ^ 2 && \$5 >= 250" "${@:3}"; }
# overlay_reads EXPECTED [TOL=3]: both monitors show stripes at EXPECTED; overlay_gone: nothing darkens them.
overlay_reads() { stripes_read "$1" "${2:-3}" "$LEFT_AREA" "$RIGHT_AREA"; }
overlay_gone() { stripes_read 255 5 "$LEFT_AREA" "$RIGHT_AREA"; }
some_stripes() { screen_reads '$2 < 245' "$LEFT_AREA"; }
# red_flash: the red alert layer shows on both monitors.
red_flash() { screen_reads '$7 - ($8 + $9) / 2 > 20' "$LEFT_AREA" "$RIGHT_AREA"; }
window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id "$1")" ]; }
window_geometry() {
    [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /Width:/ {w = $NF} /Height:/ {h = $NF} END {print x, y, w, h}'
}
click_at() { xdotool mousemove --sync "$1" "$2" click 1; }
# clip_path NAME: the clip made by make_clips.sh, empty when it is missing; require_clip NAME: its path in
# $clip, or the script fails.
clip_path() { [ -f "$E2E_CLIPS/$1.webm" ] && echo "$E2E_CLIPS/$1.webm"; }
require_clip() {
    clip=$(clip_path "$1") ||
        { echo "FAIL: the $1 clip is missing in '${E2E_CLIPS:-}' (made by tests/e2e/make_clips.sh)"; exit 1; }
}
