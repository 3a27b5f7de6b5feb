# Shared helpers of the desktop scripts (end-to-end scenarios, robustness, soak). Source it inside a
# session of tests/harness/run-in-session.sh, after setting:
#   TAVRINE_BIN     the application binary
#   TAVRINE_PROBE   the tavrine-e2e-probe helper
#   E2E_WORK        a scratch directory (logs, screenshots of failures)
# It sources the harness mocks (mock_*, wait_until, ...).

: "${TAVRINE_SESSION_DIR:?lib.sh must be sourced inside run-in-session.sh}"
: "${TAVRINE_BIN:?TAVRINE_BIN must name the application binary}"
: "${TAVRINE_PROBE:?TAVRINE_PROBE must name tavrine-e2e-probe}"
: "${E2E_WORK:?E2E_WORK must name a scratch directory}"
source "$TAVRINE_HARNESS_DIR/mocks.sh"
mkdir -p "$E2E_WORK"

E2E_PASSED=0
E2E_FAILED=0
E2E_SKIPPED=0
E2E_SCENARIO=${E2E_SCENARIO:-e2e}

log() { echo "[$(date +%H:%M:%S)] $*" >&2; }

pass() {
    E2E_PASSED=$((E2E_PASSED + 1))
    echo "ok   [$E2E_SCENARIO] $1"
}

fail() {
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "FAIL [$E2E_SCENARIO] $1"
    # What the screen and the application looked like when it went wrong.
    local stem
    stem="$E2E_WORK/fail-$E2E_FAILED-$(echo "$1" | tr -c 'a-zA-Z0-9' '_' | cut -c1-40)"
    import -window root "$stem.png" 2>/dev/null && echo "     screenshot: $stem.png"
    if [ -n "${APP_LOG:-}" ] && [ -f "$APP_LOG" ]; then
        echo "     last lines of $APP_LOG:"
        tail -n 8 "$APP_LOG" | sed 's/^/       /'
    fi
}

skip() {
    E2E_SKIPPED=$((E2E_SKIPPED + 1))
    echo "SKIP [$E2E_SCENARIO] $1"
}

# check DESCRIPTION CMD...: runs CMD once.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# eventually SECS DESCRIPTION CMD...: polls CMD until it succeeds or SECS pass.
# The time it took is printed, so a log shows how close a check came to its limit.
eventually() {
    local secs=$1 what=$2 t0
    shift 2
    t0=$(date +%s%N)
    if poll "$secs" "$@"; then
        pass "$what ($(elapsed_since "$t0") of ${secs}s)"
    else
        fail "$what (not within ${secs}s)"
    fi
}

# elapsed_since NS: seconds since the date +%s%N value NS, to a tenth.
elapsed_since() {
    local ms=$((($(date +%s%N) - $1) / 1000000))
    printf '%d.%ds' $((ms / 1000)) $((ms % 1000 / 100))
}

# poll SECS CMD...: like wait_until, but every 200 ms (screenshots cost more than bus calls) and CMD's
# diagnostics stay visible.
poll() {
    local deadline=$(($(date +%s%N) / 1000000 + $1 * 1000))
    shift
    while true; do
        "$@" 2>/dev/null && return 0
        [ "$(($(date +%s%N) / 1000000))" -ge "$deadline" ] && return 1
        sleep 0.2
    done
}

# stays SECS CMD...: CMD keeps succeeding for SECS seconds (checked every 250 ms).
stays() {
    local deadline=$(($(date +%s%N) / 1000000 + $1 * 1000))
    shift
    while [ "$(($(date +%s%N) / 1000000))" -lt "$deadline" ]; do
        "$@" 2>/dev/null || return 1
        sleep 0.25
    done
}

summary() {
    if [ "$E2E_SKIPPED" -gt 0 ]; then echo "$E2E_PASSED passed, $E2E_FAILED failed, $E2E_SKIPPED skipped"; else echo "$E2E_PASSED passed, $E2E_FAILED failed"; fi
    [ "$E2E_FAILED" = 0 ]
}

# --- The application --------------------------------------------------------------------------------

APP_PID=""
APP_LOG=""
APP_STATUS=""
APP_RUNS=0

# app_start ARGS...: starts the application in the background; its output goes to $APP_LOG.
app_start() {
    APP_RUNS=$((APP_RUNS + 1))
    APP_LOG="$E2E_WORK/app-$APP_RUNS.log"
    APP_STATUS=""
    log "starting tavrine $*"
    # The tray mock keeps items of processes that left; the new instance's item must be the only one.
    local item
    for item in $(sni_items 2>/dev/null); do
        gdbus call --session -d "$SNI_NAME" -o "$SNI_PATH" -m org.freedesktop.DBus.Mock.UnregisterItem "$item" \
            >/dev/null 2>&1
    done
    "$TAVRINE_BIN" "$@" >"$APP_LOG" 2>&1 &
    APP_PID=$!
}

app_alive() { [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; }

# app_wait_exit SECS: waits for the application to end; APP_STATUS is its exit status (128+N for a
# signal). Fails when it still runs after SECS.
app_wait_exit() {
    [ -n "$APP_PID" ] || return 1
    poll "$1" bash -c "! kill -0 $APP_PID 2>/dev/null" || return 1
    wait "$APP_PID" 2>/dev/null
    APP_STATUS=$?
    APP_PID=""
}

# app_stop: ends the application as the session manager does (SIGTERM), then for sure.
app_stop() {
    app_alive || { APP_PID=""; return 0; }
    kill -TERM "$APP_PID" 2>/dev/null
    if ! app_wait_exit 10; then
        log "tavrine ignored SIGTERM; killing it"
        kill -KILL "$APP_PID" 2>/dev/null
        wait "$APP_PID" 2>/dev/null
        APP_STATUS=killed
        APP_PID=""
    fi
}

# The resident set of the application in kB.
app_rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$APP_PID/status" 2>/dev/null; }

# Open file descriptors of the application that point at PATH (a camera node or clip).
app_holds_file() { ls -l "/proc/$APP_PID/fd" 2>/dev/null | grep -qF -- "$1"; }

# --- Settings and statistics (QSettings INI under $XDG_CONFIG_HOME/tavrine) ---------------------------

settings_file() { echo "$XDG_CONFIG_HOME/tavrine/tavrine.conf"; }

# settings_get KEY: the stored value, empty when absent.
settings_get() {
    local file
    file=$(settings_file)
    [ -f "$file" ] || return 0
    sed -n "s/^$1=//p" "$file" | tail -n 1 | tr -d '"'
}

settings_is() { [ "$(settings_get "$1")" = "$2" ]; }

# settings_seed KEY=VALUE...: writes a settings file before the application starts.
settings_seed() {
    mkdir -p "$XDG_CONFIG_HOME/tavrine"
    {
        echo "[General]"
        printf '%s\n' "$@"
    } >"$(settings_file)"
}

# --- Screen -----------------------------------------------------------------------------------------

BACKDROP_PID=""
# A white backdrop over the whole desktop: the overlay's black stripes then darken known pixels.
backdrop_start() {
    local out="$E2E_WORK/backdrop.out"
    "$TAVRINE_PROBE" backdrop "${1:-#ffffff}" >"$out" 2>&1 &
    BACKDROP_PID=$!
    wait_until 10 grep -q ready "$out"
}

SHOT_SEQ=0
# shot [NAME]: a screenshot of the whole desktop; prints its path.
shot() {
    SHOT_SEQ=$((SHOT_SEQ + 1))
    local path="$E2E_WORK/${1:-shot-$SHOT_SEQ}.png"
    import -window root "$path" 2>/dev/null || return 1
    echo "$path"
}

# window_shot WID [NAME]: the window's own pixels. Under the compositor they come from the window's
# off-screen buffer, so the overlay's stripes above it do not disturb searches for the window's controls.
window_shot() {
    SHOT_SEQ=$((SHOT_SEQ + 1))
    local path="$E2E_WORK/${2:-window-$SHOT_SEQ}.png"
    import -window "$1" "$path" 2>/dev/null || return 1
    echo "$path"
}

# Areas of the two monitors that no window of the application covers (the onboarding, preferences and
# panel windows sit around the centre of the left monitor, the shortcut badge in the top-right corners).
LEFT_AREA="40 620 240 150"
RIGHT_AREA="1320 620 240 150"

# region_stats PNG AREA: "minR minG minB maxR maxG maxB meanR meanG meanB"
region_stats() {
    local png=$1
    shift
    # shellcheck disable=SC2086
    "$TAVRINE_PROBE" stats "$png" $*
}

# The darkest green value of an area: the fully covered stripe pixels. Green, because the alert flash
# adds red.
darkest() { region_stats "$1" "$2" | awk '{print $2}'; }
brightest() { region_stats "$1" "$2" | awk '{print $5}'; }

# expected_stripe_value STRIPE_ALPHA OVERLAY_ALPHA [BACKGROUND=255]: what a fully covered pixel of a black
# stripe reads over the background.
expected_stripe_value() {
    awk -v s="$1" -v a="$2" -v b="${3:-255}" 'BEGIN { printf "%.1f", b * (1 - s * a) }'
}

# near VALUE EXPECTED [TOL=3]
near() {
    awk -v v="$1" -v e="$2" -v t="${3:-3}" 'BEGIN { d = v - e; if (d < 0) d = -d; exit !(v != "" && d <= t) }'
}

# overlay_reads EXPECTED [TOL]: both monitors show stripes whose darkest pixels read EXPECTED, and gaps
# that stay at the background.
overlay_reads() {
    local png left right
    png=$(shot) || return 1
    left=$(darkest "$png" "$LEFT_AREA")
    right=$(darkest "$png" "$RIGHT_AREA")
    LAST_READING="left $left right $right (expected ${1})"
    near "$left" "$1" "${2:-3}" && near "$right" "$1" "${2:-3}" &&
        [ "$(brightest "$png" "$LEFT_AREA")" -ge 250 ] && [ "$(brightest "$png" "$RIGHT_AREA")" -ge 250 ]
}

# overlay_gone: nothing darkens either monitor.
overlay_gone() {
    local png
    png=$(shot) || return 1
    LAST_READING="left $(darkest "$png" "$LEFT_AREA") right $(darkest "$png" "$RIGHT_AREA")"
    [ "$(darkest "$png" "$LEFT_AREA")" -ge 250 ] && [ "$(darkest "$png" "$RIGHT_AREA")" -ge 250 ]
}

# red_flash_seen SECS: within SECS, some screenshot shows the red alert layer on both monitors.
red_flash_seen() {
    local deadline=$(($(date +%s) + $1)) png l r
    while [ "$(date +%s)" -le "$deadline" ]; do
        png=$(shot) || return 1
        l=$("$TAVRINE_PROBE" redness "$png" $LEFT_AREA)
        r=$("$TAVRINE_PROBE" redness "$png" $RIGHT_AREA)
        LAST_READING="redness left $l right $r"
        awk -v l="$l" -v r="$r" 'BEGIN { exit !(l > 20 && r > 20) }' && return 0
    done
    return 1
}

# filter_alpha STATE STRENGTH: the overlay's opacity for nominal, inattention and alert at strengths 1 to 5.
filter_alpha() {
    local -A table=([nominal]="0.3025 0.3575 0.4125 0.4675 0.5225" [inattention]="0.44 0.52 0.60 0.68 0.76"
        [alert]="0.55 0.65 0.75 0.80 0.80")
    echo "${table[$1]}" | cut -d' ' -f"$2"
}

# --- Windows ----------------------------------------------------------------------------------------

# window_id TITLE: the first visible window with exactly that title.
window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id "$1")" ]; }
window_gone() { [ -z "$(window_id "$1")" ]; }

# window_geometry WID: "X Y W H" of the window on the screen.
window_geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /Width:/ {w = $NF} /Height:/ {h = $NF} END {print x, y, w, h}'
}

click_at() { xdotool mousemove --sync "$1" "$2" click 1; }

# --- Test clips -------------------------------------------------------------------------------------

# clip_path NAME: the clip made by make_clips.sh for this run, empty when it is missing.
clip_path() {
    local path="$E2E_CLIPS/$1.webm"
    [ -f "$path" ] && echo "$path"
}

# require_clip NAME: the clip's path in $clip; fails when it was not made.
require_clip() {
    clip=$(clip_path "$1")
    if [ -z "$clip" ]; then
        echo "FAIL: the $1 clip is missing in '${E2E_CLIPS:-}' (made by tests/e2e/make_clips.sh)"
        exit 1
    fi
}

# require_app: fails unless the binary is the full application, which takes --camera.
require_app() {
    if ! timeout 5 "$TAVRINE_BIN" --help 2>&1 | grep -q -- "--camera"; then
        echo "FAIL: $TAVRINE_BIN does not take --camera"
        exit 1
    fi
}
