# Helpers of the desktop scripts: the scenario runner (e2e.sh), the soak and the benchmarks. Source it inside
# a session of tests/harness/run-in-session.sh, after setting TAVRINE_BIN (the application), TAVRINE_PROBE
# (tavrine-e2e-probe), E2E_WORK (a scratch directory) and E2E_CLIPS (the clips of make_clips.sh).
: "${TAVRINE_SESSION_DIR:?lib.sh must be sourced inside run-in-session.sh}"
: "${TAVRINE_BIN:?TAVRINE_BIN must name the application binary}"
: "${TAVRINE_PROBE:?TAVRINE_PROBE must name tavrine-e2e-probe}"
: "${E2E_WORK:?E2E_WORK must name a scratch directory}"
source "$TAVRINE_HARNESS_DIR/mocks.sh"
mkdir -p "$E2E_WORK"
E2E_SCENARIO=${E2E_SCENARIO:-e2e}
source "$TAVRINE_HARNESS_DIR/checks.sh"
CHECK_LABEL="[$E2E_SCENARIO] "

log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
pass() { check "$1" true; }
fail() { check "$1" false; }
summary() { checks_summary; }
# What the screen and the application looked like when a check failed.
on_fail() {
    local png
    png=$(shot "fail-$failed-$(echo "$1" | tr -c 'a-zA-Z0-9' '_' | cut -c1-40)") && echo "     screenshot: $png"
    if [ -f "${APP_LOG:-}" ]; then
        echo "     last lines of $APP_LOG:"
        tail -n 8 "$APP_LOG" | sed 's/^/       /'
    fi
}

# eventually SECS DESCRIPTION CMD...: polls CMD until it succeeds or SECS pass; says how long it took, so a
# log shows how close a check came to its limit.
eventually() {
    local secs=$1 what=$2 t0=$(date +%s%N) ms
    shift 2
    LAST_READING=""
    if wait_until "$secs" "$@"; then
        ms=$((($(date +%s%N) - t0) / 1000000))
        pass "$what ($((ms / 1000)).$((ms % 1000 / 100))s of ${secs}s)"
    else
        fail "$what (not within ${secs}s${LAST_READING:+; last reading: $LAST_READING})"
        return 1
    fi
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

not() { ! "$@"; }
contains() { [[ "$1" == *"$2"* ]]; }
within() { awk -v v="${1:-x}" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "x" && v >= lo && v <= hi) }'; }
# near VALUE EXPECTED [TOL=3]
near() { awk -v v="$1" -v e="$2" -v t="${3:-3}" 'BEGIN { d = v - e; if (d < 0) d = -d; exit !(v != "" && d <= t) }'; }
# jq_first CALLS FILTER: the first recorded call passes FILTER; jq_only: the only one does.
jq_first() { echo "$1" | head -n 1 | jq -e "$2" >/dev/null; }
jq_only() { [ "$(count_of "$1")" = 1 ] && jq_first "$@"; }
grep_both() { grep -q "$2" "$1" && grep -q "$3" "$1"; }
# log_count PATTERN: lines of the application's log matching the extended PATTERN.
log_count() { grep -cE "$1" "$APP_LOG" 2>/dev/null || true; }

# --- The application --------------------------------------------------------------------------------

APP_PID="" APP_LOG="" APP_STATUS="" APP_RUNS=0

# app_start ARGS...: starts the application in the background; its output goes to $APP_LOG.
app_start() {
    local item
    APP_RUNS=$((APP_RUNS + 1))
    APP_LOG="$E2E_WORK/app-$APP_RUNS.log"
    APP_STATUS=""
    log "starting tavrine $*"
    # The tray mock keeps items of processes that left; the new instance's item must be the only one.
    for item in $(sni_items 2>/dev/null); do
        mock_call session "$SNI_NAME" "$SNI_PATH" "$MOCK_IFACE.UnregisterItem" "$item" >/dev/null 2>&1
    done
    "$TAVRINE_BIN" "$@" >"$APP_LOG" 2>&1 &
    APP_PID=$!
}
app_alive() { [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; }
# app_wait_exit SECS: waits for the application to end; APP_STATUS is its exit status (128+N for a
# signal). Fails when it still runs after SECS.
app_wait_exit() {
    [ -n "$APP_PID" ] && wait_until "$1" not app_alive || return 1
    wait "$APP_PID" 2>/dev/null
    APP_STATUS=$?
    APP_PID=""
}
# app_stop: ends the application as the session manager does (SIGTERM), then for sure.
app_stop() {
    app_alive || { APP_PID=""; return 0; }
    kill -TERM "$APP_PID" 2>/dev/null
    app_wait_exit 10 && return 0
    log "tavrine ignored SIGTERM; killing it"
    kill -KILL "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_STATUS=killed APP_PID=""
}
# stopped_cleanly: app_stop, and the application ended with status 0.
stopped_cleanly() { app_stop && [ "$APP_STATUS" = 0 ]; }
# The resident set of the application in kB.
app_rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$APP_PID/status" 2>/dev/null; }
# Open file descriptors of the application that point at PATH (a camera node or clip).
app_holds_file() { ls -l "/proc/$APP_PID/fd" 2>/dev/null | grep -qF -- "$1"; }
# require_app: fails unless the binary is the full application, which takes --camera.
require_app() {
    timeout 5 "$TAVRINE_BIN" --help 2>&1 | grep -q -- "--camera" && return 0
    echo "FAIL: $TAVRINE_BIN does not take --camera"
    exit 1
}

# --- Settings and statistics (QSettings INI under $XDG_CONFIG_HOME/tavrine) ---------------------------

settings_file() { echo "$XDG_CONFIG_HOME/tavrine/tavrine.conf"; }
# settings_get KEY: the stored value, empty when absent.
settings_get() { [ -f "$(settings_file)" ] && sed -n "s/^$1=//p" "$(settings_file)" | tail -n 1 | tr -d '"'; }
settings_is() { [ "$(settings_get "$1")" = "$2" ]; }
stat_between() { within "$(settings_get "$1")" "$2" "$3"; }
# settings_seed KEY=VALUE...: writes a settings file before the application starts.
settings_seed() {
    mkdir -p "$XDG_CONFIG_HOME/tavrine"
    printf '%s\n' "[General]" "$@" >"$(settings_file)"
}
returning_user() { settings_seed "has_completed_onboarding=true"; }

# --- Screen -----------------------------------------------------------------------------------------

# A white backdrop over the whole desktop: the overlay's black stripes then darken known pixels.
backdrop_start() {
    "$TAVRINE_PROBE" backdrop "${1:-#ffffff}" >"$E2E_WORK/backdrop.out" 2>&1 &
    wait_until 10 grep -q ready "$E2E_WORK/backdrop.out"
}

SHOT_SEQ=0
# shot [NAME]: a screenshot of the whole desktop (of the X server, or of the compositor E2E_SHOOTER names);
# prints its path.
shot() {
    SHOT_SEQ=$((SHOT_SEQ + 1))
    local path="$E2E_WORK/${1:-shot-$SHOT_SEQ}.png"
    case "${E2E_SHOOTER:-x}" in
    sway) grim -s 1 "$path" ;;
    weston) (cd "$E2E_WORK" && rm -f wayland-screenshot-*.png && weston-screenshooter && mv wayland-screenshot-*.png "$path") ;;
    *) import -window root "$path" ;;
    esac >/dev/null 2>&1 || return 1
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
# keep_shot WID NAME: the window's pixels as screenshot NAME of the README.
keep_shot() { import -window "$1" "$E2E_SHOTS/$2.png" 2>/dev/null; }

# Areas of the two monitors that no window of the application covers (the onboarding, preferences and
# panel windows sit around the centre of the left monitor, the shortcut badge in the top-right corners).
LEFT_AREA="40 620 240 150"
RIGHT_AREA="1320 620 240 150"

# The darkest green value of an area: the fully covered stripe pixels. Green, because the alert flash
# adds red.
darkest() { "$TAVRINE_PROBE" stats "$1" $2 | awk '{print $2}'; }
brightest() { "$TAVRINE_PROBE" stats "$1" $2 | awk '{print $5}'; }

# expected_stripe_value STRIPE_ALPHA OVERLAY_ALPHA [BACKGROUND=255]: what a fully covered pixel of a black
# stripe reads over the background.
expected_stripe_value() { awk -v s="$1" -v a="$2" -v b="${3:-255}" 'BEGIN { printf "%.1f", b * (1 - s * a) }'; }
# filter_alpha STATE STRENGTH: the overlay's opacity for nominal, inattention and alert at strengths 1 to 5.
filter_alpha() {
    local -A table=([nominal]="0.3025 0.3575 0.4125 0.4675 0.5225" [inattention]="0.44 0.52 0.60 0.68 0.76"
        [alert]="0.55 0.65 0.75 0.80 0.80")
    echo "${table[$1]}" | cut -d' ' -f"$2"
}
# expected STATE [STRENGTH=3]: the grey a stripe of that state reads over white, at the default stripe opacity.
expected() { expected_stripe_value 0.42 "$(filter_alpha "$1" "${2:-3}")"; }

# stripes_read EXPECTED TOL AREA...: in one screenshot every AREA shows stripes whose darkest pixels read
# EXPECTED (within TOL), and gaps that keep the white background.
stripes_read() {
    local want=$1 tol=$2 png area dark
    shift 2
    png=$(shot) || return 1
    LAST_READING="expected $want:"
    for area in "$@"; do
        dark=$(darkest "$png" "$area")
        LAST_READING="$LAST_READING $dark"
        near "$dark" "$want" "$tol" && [ "$(brightest "$png" "$area")" -ge 250 ] || return 1
    done
}
# overlay_reads EXPECTED [TOL=3]: both monitors show stripes at EXPECTED.
overlay_reads() { stripes_read "$1" "${2:-3}" "$LEFT_AREA" "$RIGHT_AREA"; }
# overlay_gone: nothing darkens either monitor.
overlay_gone() {
    local png
    png=$(shot) || return 1
    LAST_READING="left $(darkest "$png" "$LEFT_AREA") right $(darkest "$png" "$RIGHT_AREA")"
    [ "$(darkest "$png" "$LEFT_AREA")" -ge 250 ] && [ "$(darkest "$png" "$RIGHT_AREA")" -ge 250 ]
}
# Some stripes darken the left monitor, whatever their opacity.
some_stripes() {
    local png
    png=$(shot) && [ "$(darkest "$png" "$LEFT_AREA")" -lt 245 ]
}
# fine_stripes PNG: a stripe pattern, not a uniform veil: some pixels of every 8-pixel row segment are dark.
fine_stripes() {
    local dx
    for dx in 0 8 16 24; do
        [ "$(darkest "$1" "$((60 + dx)) 700 8 1")" -lt 240 ] || return 1
    done
}
# red_flash: a screenshot shows the red alert layer on both monitors.
red_flash() {
    local png l r
    png=$(shot) || return 1
    l=$("$TAVRINE_PROBE" redness "$png" $LEFT_AREA)
    r=$("$TAVRINE_PROBE" redness "$png" $RIGHT_AREA)
    LAST_READING="redness left $l right $r"
    awk -v l="$l" -v r="$r" 'BEGIN { exit !(l > 20 && r > 20) }'
}

# classify PNG: the overlay state a screenshot shows on the left monitor: none, nominal, inattention,
# alert or other (strength 3, default stripe opacity), followed by the darkest grey and the redness read.
classify() {
    local dark red
    dark=$(darkest "$1" "$LEFT_AREA")
    red=$("$TAVRINE_PROBE" redness "$1" $LEFT_AREA)
    awk -v d="$dark" -v r="$red" -v n="$(expected nominal)" -v i="$(expected inattention)" \
        -v a="$(expected alert)" 'BEGIN {
        state = "other"
        if (r > 12) state = "alert"
        else if (d >= 250) state = "none"
        else if (d - n <= 4 && n - d <= 4) state = "nominal"
        else if (d - i <= 4 && i - d <= 4) state = "inattention"
        else if (d - a <= 5 && a - d <= 5) state = "alert"
        print state, "dark=" d, "red=" r
    }'
}

# record_story SECS: samples the overlay's state for SECS as fast as screenshots allow ("millis state dark=N
# red=N" lines in states.log); sets SEQUENCE (the states in order), INATTENTION and ALERT (milliseconds from
# each state's first sample to the next nominal one: a sample the classifier cannot place, a screenshot of a
# compositor lagging behind on a loaded machine, does not end the state). Single-sample blips (a screenshot
# taken mid-repaint) are folded into their neighbours.
record_story() {
    local end=$(($(date +%s%N) / 1000000 + $1 * 1000)) png now states="$E2E_WORK/states.log" segments="$E2E_WORK/segments.log"
    : >"$states"
    while now=$(($(date +%s%N) / 1000000)) && [ "$now" -lt "$end" ]; do
        png=$(shot sample) && echo "$now $(classify "$png")" >>"$states"
    done
    awk '{ t[NR] = $1; s[NR] = $2 }
        END {
            for (k = 2; k < NR; k++) if (s[k] != s[k-1] && s[k] != s[k+1] && s[k-1] == s[k+1]) s[k] = s[k-1]
            cur = ""; for (k = 1; k <= NR; k++) {
                if (s[k] != cur) { if (cur != "") print cur, start, t[k]; cur = s[k]; start = t[k] }
            }
            if (cur != "") print cur, start, t[NR]
        }' "$states" >"$segments"
    echo "     states seen: $(awk '{printf "%s %.1fs; ", $1, ($3 - $2) / 1000}' "$segments")"
    SEQUENCE=$(awk '$1 != "none" && $1 != "other" {print $1}' "$segments" | uniq | tr '\n' ' ')
    INATTENTION=$(awk '$1 == "inattention" && !t0 { t0 = $2; next } t0 && $1 == "nominal" { print $2 - t0; exit }' "$segments")
    ALERT=$(awk '$1 == "alert" && !t0 { t0 = $2; next } t0 && $1 == "nominal" { print $2 - t0; exit }' "$segments")
}

# --- Windows ----------------------------------------------------------------------------------------

# window_id TITLE: the first visible window with exactly that title.
window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id "$1")" ]; }
window_gone() { [ -z "$(window_id "$1")" ]; }
# window_geometry WID: "X Y W H" of the window on the screen.
window_geometry() {
    [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /Width:/ {w = $NF} /Height:/ {h = $NF} END {print x, y, w, h}'
}
taller_than() { [ "$(window_geometry "$1" | cut -d' ' -f4)" -gt "$2" ]; }
click_at() { xdotool mousemove --sync "$1" "$2" click 1; }
rgb() { printf '#%02x%02x%02x' "$@"; }

# --- Test clips -------------------------------------------------------------------------------------

# clip_path NAME: the clip made by make_clips.sh for this run, empty when it is missing.
clip_path() { [ -f "$E2E_CLIPS/$1.webm" ] && echo "$E2E_CLIPS/$1.webm"; }
# require_clip NAME: the clip's path in $clip; fails when it was not made.
require_clip() {
    clip=$(clip_path "$1") && return 0
    echo "FAIL: the $1 clip is missing in '${E2E_CLIPS:-}' (made by tests/e2e/make_clips.sh)"
    exit 1
}
