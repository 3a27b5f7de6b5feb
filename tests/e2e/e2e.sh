#!/usr/bin/env bash
# Runs one desktop scenario of scenarios.txt inside a private desktop session (run-in-session.sh).
#
# Usage (inside run-in-session.sh): e2e.sh SCENARIO
# Environment: TAVRINE_BIN, TAVRINE_PROBE, E2E_CLIPS (made by make_clips.sh), E2E_SHOTS (where the README
# screenshots go), E2E_WORK (optional scratch dir). Ends with "N passed, N failed".
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/e2e}
E2E_SHOTS=${E2E_SHOTS:-$E2E_WORK/screenshots}
E2E_SCENARIO=${1:?usage: e2e.sh SCENARIO}
source "$here/lib.sh"
mkdir -p "$E2E_SHOTS"
require_app

ONBOARDING_TITLE="Bienvenue dans Tavrine"
PREFS_TITLE="Préférences Tavrine"
PRIMARY_RGB="46 143 235" # the application's primary colour, #2e8feb
BUTTON_RGB="37 116 191"  # the prominent buttons' blue, darker for their white text
WARNING_RGB="153 89 0"    # the warning orange, darkened to read at 4.5:1 on the light scheme's panels
NBSP=$(printf '\302\240')
# The panel's rows from its top (a 64 px header, a divider, then 36 px rows) and its pause button.
PANEL_RESUME_ROW_Y=87
PANEL_STATS_ROW_Y=87
PANEL_PREFS_ROW_Y=123
PANEL_QUIT_ROW_Y=204
PANEL_PAUSE_BUTTON_X=241
PANEL_HEADER_Y=34

# expected STATE [STRENGTH=3]: the grey a black stripe of that state reads over white, at the stripes'
# opacity when none is stored.
expected() { expected_stripe_value 0.42 "$(filter_alpha "$1" "${2:-3}")"; }

# The desktop every scenario starts from: a tray host, the system services, a white backdrop.
desktop_up() {
    mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && mock_fdo_screensaver &&
        mock_gnome_screensaver && backdrop_start
}
returning_user() { settings_seed "has_completed_onboarding=true"; }
start() { app_start "$@"; }
stop() { app_stop; }
abort_scenario() {
    fail "the scenario cannot go on"
    ABORTED=1
}

not() { ! "$@"; }
contains() { [[ "$1" == *"$2"* ]]; }
within() { awk -v v="${1:-x}" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "x" && v >= lo && v <= hi) }'; }
count_of() { if [ -z "$1" ]; then echo 0; else echo "$1" | wc -l; fi; }
# jq_first CALLS FILTER: the first recorded call passes FILTER; jq_only: the only one does.
jq_first() { echo "$1" | head -n 1 | jq -e "$2" >/dev/null; }
jq_only() { [ "$(count_of "$1")" = 1 ] && jq_first "$@"; }
grep_both() { grep -q "$2" "$1" && grep -q "$3" "$1"; }
stat_between() { within "$(settings_get "$1")" "$2" "$3"; }
taller_than() { [ "$(xwininfo -id "$1" | awk '/Height:/ {print $NF}')" -gt "$2" ]; }

notify_calls() { mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify; }
close_calls() { mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" CloseNotification; }
notified() { [ -n "$(notify_calls)" ]; }
withdrawn() { [ -n "$(close_calls)" ]; }
closed_id() { close_calls | jq -s -e "any(.[]; .args[0] == $1)" >/dev/null; }
# closed_after SECS: the first notification was closed at least SECS after it was posted.
closed_after() {
    local n c
    n=$(notify_calls | jq '.time' | head -n 1)
    c=$(close_calls | jq '.time' | head -n 1)
    [ -n "$c" ] && [ "$c" -ge $((n + $1)) ]
}
lock_calls() { mock_count_calls system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" Lock; }
locked() { [ "$(lock_calls)" -ge 1 ]; }
lock_warnings() { notify_calls | grep -F "Verrouillage dans 10"; }
lock_warned() { [ -n "$(lock_warnings)" ]; }

# The tray item as the tray host reads it: registered, its tooltip, its icon.
tray_registered() { [ -n "$(sni_items)" ]; }
tray_tooltip() {
    local item
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || return 1
    gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem ToolTip 2>/dev/null
}
tray_tooltip_has() { tray_tooltip | grep -qF -- "$1"; }
# The tray item's current icon, as a digest of its pixmaps.
tray_icon_digest() {
    local item service path
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || return 1
    service=${item%%/*}
    path=/${item#*/}
    gdbus call --session -d "$service" -o "$path" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem IconPixmap 2>/dev/null | md5sum | cut -c1-16
}

# The tray item's icon name and status, as the tray host reads them.
sni_string() { sni_property "$1" | grep -o "'[^']*'" | head -n 1 | tr -d "'"; }
tray_shows() { [ "$(sni_string IconName)" = "$1" ] && [ "$(sni_string Status)" = "$2" ]; }
# The named icon is there for the host: under the item's theme path, or in the installed theme.
tray_icon_found() {
    local name dir
    name=$(sni_string IconName)
    dir=$(sni_string IconThemePath)
    [ -n "$name" ] && [ -f "${dir:-/usr/share/icons}/hicolor/scalable/status/$name.svg" ]
}

tray_icon_differs() {
    local d
    d=$(tray_icon_digest)
    [ -n "$d" ] && [ "$d" != "$1" ]
}
camera_shown_missing() { overlay_gone && tray_tooltip_has "Caméra indisponible"; }
camera_not_shown_missing() { tray_tooltip_has Tavrine && ! tray_tooltip_has "Caméra indisponible"; }
camera_advice_shown() { tray_tooltip_has "Caméra indisponible" && tray_tooltip_has "Branchez une caméra"; }

# Some stripes darken the left monitor, whatever their opacity.
some_stripes() {
    local png
    png=$(shot) && [ "$(darkest "$png" "$LEFT_AREA")" -lt 245 ]
}
# fine_stripes PNG: a stripe pattern, not a uniform veil: some pixels of every 8-pixel row segment are dark.
fine_stripes() {
    local dx
    for dx in 0 8 16 24; do
        [ "$("$TAVRINE_PROBE" stats "$1" $((60 + dx)) 700 8 1 | awk '{print $2}')" -lt 240 ] || return 1
    done
}

# The onboarding's current page: which of its five page dots wears the primary colour.
onboarding_page() {
    local wid=$1 geometry png i x y best=-1
    geometry=$(window_geometry "$wid")
    read -r x y _ _ <<<"$geometry"
    png=$(window_shot "$wid" onboarding-page) || return 1
    for i in 0 1 2 3 4; do
        # Dots: 7 px discs 15 px apart, centred at the bottom of the 440x420 window, 20 px from its edge.
        if "$TAVRINE_PROBE" blobs "$png" $((186 + 15 * i + 2)) 394 3 3 "$(printf '#%02x%02x%02x' $PRIMARY_RGB)" 40 |
            grep -q .; then
            best=$i
        fi
    done
    echo "$best"
}

# click_primary WID [BELOW]: clicks the page's main button (the largest button-blue area of the lower
# half), or with BELOW the flat secondary button that sits under it.
click_primary() {
    local wid=$1 below=${2:-0} x y w h png bx by bw bh
    read -r x y w h <<<"$(window_geometry "$wid")"
    png=$(window_shot "$wid" onboarding-click) || return 1
    read -r bx by bw bh _ <<<"$("$TAVRINE_PROBE" blobs "$png" 0 $((h / 2)) "$w" $((h / 2 - 30)) \
        "$(printf '#%02x%02x%02x' $BUTTON_RGB)" 10 | head -n 1)"
    [ -n "${bh:-}" ] && [ "$bw" -ge 40 ] || { log "no primary button found"; return 1; }
    bx=$((bx + x))
    by=$((by + y))
    if [ "$below" = 1 ]; then
        click_at $((bx + bw / 2)) $((by + bh + 20))
    else
        click_at $((bx + bw / 2)) $((by + bh / 2))
    fi
}

onboarding_on_page() { [ "$(onboarding_page "$1")" = "$2" ]; }

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

# record_states SECS FILE: samples the overlay state as fast as screenshots allow; "millis state dark=N
# red=N" lines.
record_states() {
    local end=$(($(date +%s%N) / 1000000 + $1 * 1000)) png now
    : >"$2"
    while true; do
        now=$(($(date +%s%N) / 1000000))
        [ "$now" -ge "$end" ] && break
        png=$(shot sample) || continue
        echo "$now $(classify "$png")" >>"$2"
    done
}

# segments FILE: the runs of equal states, "state start_ms end_ms", with single-sample blips (a screenshot
# taken mid-repaint) folded into their neighbours.
segments() {
    awk '
        { t[NR] = $1; s[NR] = $2 }
        END {
            for (k = 2; k < NR; k++) if (s[k] != s[k-1] && s[k] != s[k+1] && s[k-1] == s[k+1]) s[k] = s[k-1]
            cur = ""; for (k = 1; k <= NR; k++) {
                if (s[k] != cur) { if (cur != "") print cur, start, t[k]; cur = s[k]; start = t[k] }
            }
            if (cur != "") print cur, start, t[NR]
        }' "$1"
}

# until_nominal STATE SEGMENTS: milliseconds from the first STATE segment to the next nominal one.
until_nominal() {
    awk -v s="$1" '$1 == s && !t0 { t0 = $2; next } t0 && $1 == "nominal" { print $2 - t0; exit }' "$2"
}

# record_story SECS: records the overlay's states for SECS; sets SEQUENCE (the states in order), INATTENTION
# and ALERT (milliseconds from each state's first sample to the next nominal one: a sample the classifier
# cannot place, a screenshot of a compositor lagging behind on a loaded machine, does not end the state).
record_story() {
    record_states "$1" "$E2E_WORK/states.log"
    segments "$E2E_WORK/states.log" >"$E2E_WORK/segments.log"
    echo "     states seen: $(awk '{printf "%s %.1fs; ", $1, ($3 - $2) / 1000}' "$E2E_WORK/segments.log")"
    SEQUENCE=$(awk '$1 != "none" && $1 != "other" {print $1}' "$E2E_WORK/segments.log" | uniq | tr '\n' ' ')
    INATTENTION=$(until_nominal inattention "$E2E_WORK/segments.log")
    ALERT=$(until_nominal alert "$E2E_WORK/segments.log")
}

# open_panel: clicks the tray item; prints the panel's window id.
open_panel() {
    xdotool mousemove --sync 900 150
    sni_activate 900 150 || return 1
    poll 5 window_shown Tavrine || return 1
    window_id Tavrine
}
# panel_window: the open panel's id, opening it from the tray when it is closed.
panel_window() {
    local panel
    panel=$(window_id Tavrine)
    [ -n "$panel" ] && { echo "$panel"; return 0; }
    open_panel
}
# pause_from_panel N: the Nth entry of the pause menu, chosen with the keyboard.
pause_from_panel() {
    local panel x y i
    panel=$(panel_window) || return 1
    read -r x y _ _ <<<"$(window_geometry "$panel")"
    click_at $((x + PANEL_PAUSE_BUTTON_X)) $((y + PANEL_HEADER_Y))
    sleep 0.5
    for ((i = 0; i < $1; i++)); do xdotool key Down; done
    xdotool key Return
}
# same_anchor "X Y W H" "X Y W H": the same centre line and top edge (the panel opens below the pointer).
same_anchor() {
    local a b
    read -r -a a <<<"$1"
    read -r -a b <<<"$2"
    local dx=$((b[0] + b[2] / 2 - a[0] - a[2] / 2))
    [ "${dx#-}" -le 1 ] && [ "${b[1]}" = "${a[1]}" ]
}

# Areas of the panel's home page: the status line under the name, and the notice under the header.
PANEL_STATUS_AREA="64 37 170 16"
PANEL_NOTICE_AREA="16 64 288 30"

# panel_reads SCHEME PNG: the panel's window shot has the scheme's background and its status line and
# notice read at 4.5:1 or more.
panel_reads() {
    local png=$2 bg status notice
    read -r status bg <<<"$("$TAVRINE_PROBE" contrast "$png" $PANEL_STATUS_AREA)"
    read -r notice _ <<<"$("$TAVRINE_PROBE" contrast "$png" $PANEL_NOTICE_AREA)"
    LAST_READING="background luminance $bg, status $status:1, notice $notice:1"
    echo "     $1: $LAST_READING"
    if [ "$1" = dark ]; then awk -v b="$bg" 'BEGIN { exit !(b < 0.1) }' || return 1; else awk -v b="$bg" 'BEGIN { exit !(b > 0.6) }' || return 1; fi
    awk -v s="$status" -v n="$notice" 'BEGIN { exit !(s >= 4.5 && n >= 4.5) }'
}

# The binding the application asked the portal for: our id, Super+Shift+C as the preferred trigger.
portal_bound() {
    mock_calls session "$PORTAL_NAME" "$PORTAL_PATH" BindShortcuts |
        jq -e -s 'length == 1 and .[0].args[1] == [["toggle-filter", {"description": .[0].args[1][0][1].description,
            "preferred_trigger": "LOGO+SHIFT+c"}]]' >/dev/null
}

# prefs_colours: opens the preferences from the tray; prints how many pixels of the window are warning
# orange and how many are the switches' primary blue.
prefs_colours() {
    local panel prefs x y w h png
    panel=$(open_panel) || return 1
    read -r x y w h <<<"$(window_geometry "$panel")"
    click_at $((x + 100)) $((y + PANEL_PREFS_ROW_Y))
    poll 5 window_shown "$PREFS_TITLE" || return 1
    prefs=$(window_id "$PREFS_TITLE")
    sleep 0.5
    png=$(window_shot "$prefs") || return 1
    read -r x y w h <<<"$(window_geometry "$prefs")"
    local colour
    for colour in "$(printf '#%02x%02x%02x' $WARNING_RGB)" "$(printf '#%02x%02x%02x' $PRIMARY_RGB)"; do
        "$TAVRINE_PROBE" blobs "$png" 0 0 "$w" "$h" "$colour" 40 | awk '{n += $5} END {printf "%d ", n}'
    done
    echo
}

# The XEmbed tray's window: "X Y W H".
xembed_tray_geometry() { window_geometry "$(xwininfo -root -children | awk '/"panel"/ {print $1; exit}')"; }
# The tray holds an icon: it grew wider than its empty width.
xembed_icon_docked() { local g; read -r -a g <<<"$(xembed_tray_geometry)"; [ "${g[2]:-0}" -ge 16 ]; }

# strength_handle WID: "X Y" of the first slider's handle in the preferences window, found as the
# middle of the first slider row's groove (the widest light-grey run right of the 200 px label column).
strength_handle() {
    local wid=$1 x y w h
    read -r x y w h <<<"$(window_geometry "$wid")"
    # The slider row: label column 24..224, slider from x+240; the first row sits below the section title.
    local gx=$((x + 240)) gw=$((w - 240 - 24 - 16 - 36))
    local png row
    png=$(window_shot "$wid" prefs-layout) || return 1
    # Scan rows 50..130 of the window for the slider handle: a compact blob that is not the background.
    for row in $(seq 50 2 130); do
        local s
        s=$("$TAVRINE_PROBE" stats "$png" 240 "$row" "$gw" 1)
        # A groove row has dark and light pixels across the whole width.
        if awk -v s="$s" 'BEGIN { split(s, v, " "); exit !(v[4] - v[1] > 40) }'; then
            echo "$((gx + gw / 2)) $((y + row + 2))"
            return 0
        fi
    done
    return 1
}

# make_stalled_clip PATH: four seconds of a face, then the next frame stamped at 60 s.
make_stalled_clip() {
    ffmpeg -loglevel error -y -i "$(clip_path facing)" \
        -vf "select='lte(n\,60)',setpts='if(lte(N\,59)\,PTS-STARTPTS\,60/TB)'" -fps_mode passthrough \
        -c:v libvpx -b:v 1M "$1"
}

# The scenario's steps: from its "[name]" line to the next one, comments and blank lines left out; @clip
# and %state[strength] replaced.
steps=$(awk -v name="[$E2E_SCENARIO]" '/^\[[a-z_]+\]$/ { on = ($0 == name); next } on && !/^#/ && NF' "$here/scenarios.txt" |
    sed -E 's/@([a-z]+)/"$(clip_path \1)"/g; s/%([a-z]+)([0-9]?)/"$(expected \1 \2)"/g')
[ -n "$steps" ] || { echo "FAIL no scenario named $E2E_SCENARIO in scenarios.txt"; exit 1; }
for name in $(grep -oE '"\$\(clip_path [a-z]+\)"' <<<"$steps" | grep -oE '[a-z]+\)' | tr -d ')' | sort -u); do
    [ -n "$(clip_path "$name")" ] || { echo "FAIL the $name clip is missing in '${E2E_CLIPS:-}'"; exit 1; }
done
desktop_up || { echo "FAIL could not set up the desktop mocks"; exit 1; }
ABORTED=0
# The steps come in on descriptor 3: the commands they run keep the session's stdin.
while IFS= read -r step <&3; do
    eval "$step"
    [ "$ABORTED" = 0 ] || break
done 3<<<"$steps"
app_stop
summary
