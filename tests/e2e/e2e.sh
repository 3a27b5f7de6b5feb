#!/usr/bin/env bash
# Runs one scenario of scenarios.txt: the real application in a private desktop session
# (tests/harness/run-in-session.sh), driven and checked from outside. Ends with "N passed, N failed".
# Usage: e2e.sh SCENARIO. Environment: TAVRINE_BIN, TAVRINE_PROBE, E2E_CLIPS (made by make_clips.sh),
# E2E_SHOTS (where the README's screenshots go), E2E_WORK (a scratch directory).
# Scenarios named wayland_* bring their own headless compositor and run as an unprivileged user (compositors
# refuse root; as root the user tavrine-test is created).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_SCENARIO=${1:?usage: e2e.sh SCENARIO}
if [[ $E2E_SCENARIO == wayland_* ]] && [ -z "${TAVRINE_SESSION_DIR:-}" ]; then
    session=(run-in-session.sh --timeout 170 --)
    rm -rf "$E2E_WORK" && mkdir -p "$E2E_WORK" "$E2E_SHOTS" || exit 1
    [ "$(id -u)" != 0 ] && exec "$here/../harness/${session[@]}" "$0" "$@"
    # The checkout may sit where tavrine-test cannot reach (a private home, a 0700 temporary folder): what
    # the session needs is copied to a folder of its own, and the screenshots and logs are brought back.
    id -u tavrine-test >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin tavrine-test || exit 1
    stage=$(mktemp -d /tmp/tavrine-e2e.XXXXXX) && chmod 755 "$stage" || exit 1
    trap 'cp -r "$stage/shots/." "$E2E_SHOTS/"; cp -r "$stage/work/." "$E2E_WORK/"; rm -rf "$stage"' EXIT
    mkdir "$stage/work" "$stage/shots" && cp -r "$here/.." "$stage/tests" && cp -r "$E2E_CLIPS" "$stage/clips" &&
        cp -r "${TAVRINE_MODEL_DIR:?}" "$stage/models" && cp "$TAVRINE_BIN" "$TAVRINE_PROBE" "$stage/" || exit 1
    chown -R tavrine-test "$stage"
    runuser -u tavrine-test -- env HOME="$stage/work" E2E_WORK="$stage/work" E2E_SHOTS="$stage/shots" \
        E2E_CLIPS="$stage/clips" TAVRINE_MODEL_DIR="$stage/models" TAVRINE_BIN="$stage/${TAVRINE_BIN##*/}" \
        TAVRINE_PROBE="$stage/${TAVRINE_PROBE##*/}" "$stage/tests/harness/${session[@]}" "$stage/tests/e2e/${0##*/}" "$@"
    exit # with the scenario's status, once the trap brought its screenshots and logs back
fi
source "$here/lib.sh"
mkdir -p "$E2E_SHOTS"
find "$E2E_WORK" -mindepth 1 -delete 2>/dev/null # what an earlier run left
require_app

ONBOARDING_TITLE="Bienvenue dans Tavrine"
PREFS_TITLE="Préférences Tavrine"
PRIMARY="#2e8feb" # the application's primary colour
BUTTON="#2574bf"  # the prominent buttons' blue, darker for their white text
WARNING="#995900" # the warning orange, darkened to read at 4.5:1 on the light scheme's panels
NBSP=$(printf '\302\240')
PANEL_ROW1_Y=87 PANEL_PREFS_Y=123 PANEL_QUIT_Y=204 # the panel's first, preferences and quit rows

abort_scenario() { fail "the scenario cannot go on"; ABORTED=1; }
started_filtering() { app_start "$@" && eventually 20 "the filter runs" overlay_reads "$(expected nominal)"; }


notify_calls() { mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" "${1:-Notify}"; }
notified() { [ -n "$(notify_calls)" ]; }
withdrawn() { [ -n "$(notify_calls CloseNotification)" ]; }
lock_calls() { mock_calls system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" Lock; }
lock_warnings() { notify_calls | grep -F "Verrouillage dans 10"; }
tray_registered() { [ "$(sni_items | grep -c .)" = 1 ]; }
tray_tooltip_has() { sni_property ToolTip | grep -qF -- "$1"; }
# tray_tooltip_lacks TEXT: the tray item answers with its tooltip, and TEXT is not in it.
tray_tooltip_lacks() { tray_tooltip_has Tavrine && ! tray_tooltip_has "$1"; }
# tray_icon_differs DIGEST: the tray icon's pixmaps no longer have the DIGEST tray_icon_digest gave; an icon
# that could not be read, then or now, is no difference.
tray_icon_digest() { local p; p=$(sni_property IconPixmap) && [ -n "$p" ] && md5sum <<<"$p"; }
tray_icon_differs() { local now; now=$(tray_icon_digest) && [ -n "$1" ] && [ "$now" != "$1" ]; }
sni_string() { sni_property "$1" | grep -o "'[^']*'" | head -n 1 | tr -d "'"; }
tray_shows() { [ "$(sni_string IconName)" = "$1" ] && [ "$(sni_string Status)" = "$2" ]; }
camera_shown_missing() { overlay_gone && tray_tooltip_has "Caméra indisponible"; }
stat_between() { within "$(settings_get "$1")" "$2" "$3"; }


# panel_opens: clicks the tray item and waits for the panel: its id in $panel, its place in x y w h.
panel_opens() {
    xdotool mousemove --sync 900 150
    sni_activate 900 150 && wait_until 5 window_shown Tavrine || return 1
    panel=$(window_id Tavrine)
    read -r x y w h <<<"$(window_geometry "$panel")"
}
taller_than() { [ "$(window_geometry "$1" | cut -d' ' -f4)" -gt "$2" ]; }
# pause_from_panel N: the Nth entry of the pause menu (under the header's pause button), by the keyboard.
pause_from_panel() {
    window_shown Tavrine || panel_opens || return 1
    read -r x y _ _ <<<"$(window_geometry "$(window_id Tavrine)")"
    click_at $((x + 241)) $((y + 34))
    sleep 0.5
    for ((i = 0; i < $1; i++)); do xdotool key Down; done
    xdotool key Return
}
# panel_reads SCHEME PNG: the panel's window shot has the scheme's background, and its status line (under
# the name) and its notice (under the header) read at 4.5:1 or more. The notice is measured at the end of
# its first line, where no row of the panel reaches: a panel without the notice reads 1:1 there.
panel_reads() {
    local status notice bg
    read -r status bg <<<"$("$TAVRINE_PROBE" contrast "$2" 64 37 170 16)"
    read -r notice _ <<<"$("$TAVRINE_PROBE" contrast "$2" 210 66 90 26)"
    echo "     $1: background luminance $bg, status $status:1, notice $notice:1"
    awk -v s="$1" -v b="$bg" -v t="$status" -v n="$notice" \
        'BEGIN { exit !((s == "dark" ? b < 0.1 : b > 0.6) && t >= 4.5 && n >= 4.5) }'
}
# prefs_colours: opens the preferences from the tray; prints the counts of their warning orange and their
# switches' primary blue pixels.
prefs_colours() {
    local png colour
    panel_opens && click_at $((x + 100)) $((y + PANEL_PREFS_Y)) && wait_until 5 window_shown "$PREFS_TITLE" || return 1
    sleep 0.5
    png=$(shot prefs-colours "$(window_id "$PREFS_TITLE")") || return 1
    for colour in "$WARNING" "$PRIMARY"; do
        "$TAVRINE_PROBE" colour "$png" 0 0 9999 9999 "$colour" 40 | awk '{n += $5} END {printf "%d ", n}'
    done
}
# onboarding_on_page WID N: the onboarding shows page N: the Nth of its five page dots (7 px discs 15 px
# apart, centred at the bottom of the 440x420 window, 20 px from its edge) wears the primary colour.
onboarding_on_page() {
    local png i page=-1
    png=$(shot onboarding-page "$1") || return 1
    for i in 0 1 2 3 4; do
        "$TAVRINE_PROBE" colour "$png" $((186 + 15 * i + 2)) 394 3 3 "$PRIMARY" 40 | grep -q . && page=$i
    done
    [ "$page" = "$2" ]
}
# click_primary WID [BELOW]: clicks the page's main button (the button-blue area of the lower
# half), or with BELOW the flat secondary button that sits under it.
click_primary() {
    local x y w h png bx by bw bh
    read -r x y w h <<<"$(window_geometry "$1")"
    png=$(shot onboarding-click "$1") || return 1
    read -r bx by bw bh _ <<<"$("$TAVRINE_PROBE" colour "$png" 0 $((h / 2)) "$w" $((h / 2 - 30)) "$BUTTON" 10)"
    [ -n "${bh:-}" ] && [ "$bw" -ge 40 ] || { log "no primary button found"; return 1; }
    click_at $((x + bx + bw / 2)) $((y + by + (${2:-0} ? bh + 20 : bh / 2)))
}

# xembed_tray_up [COLOUR]: an XEmbed tray (trayer, its window named "panel") at the top right instead of the
# StatusNotifier host; with COLOUR (0xrrggbb) its background is that colour.
xembed_tray_up() {
    mock_stop sni_watcher
    spawn "$E2E_WORK/trayer.log" "window_shown panel" trayer --edge top --align right --widthtype request \
        --height 32 --SetDockType true ${1:+--transparent true --alpha 0 --tint "$1"}
}
# xembed_icon_stands_out: the tray holds an icon (it grew wider than its empty width) that reads at 3:1 or
# more against the tray (the tray's own pixels: the stripes and the shortcut badge above it left out).
xembed_icon_stands_out() {
    local w png ratio
    read -r _ _ w _ <<<"$(window_geometry "$(window_id panel)")"
    [ "${w:-0}" -ge 16 ] && png=$(shot xembed-tray "$(window_id panel)") || return 1
    ratio=$("$TAVRINE_PROBE" contrast "$png" 0 0 999 999 | cut -d' ' -f1)
    LAST_READING="$ratio:1"
    within "$ratio" 3 21
}


# explains PATTERN: a line of the application's own (not the toolkit's warnings) says what is wrong.
explains() { grep -vE '^(qt\.[a-z.]+: |QStandardPaths: |Qt: |\(tavrine:[0-9]+\): )' "$APP_LOG" | grep -qiE "$1"; }
exits_failing() { app_wait_exit "$1" && [ "$APP_STATUS" != 0 ] && [ "$APP_STATUS" -lt 128 ]; }
# without_camera SOURCE: the application started on a missing camera.
without_camera() {
    app_start --camera "$1"
    check "camera ${1##*/} missing: runs on" stays 6 app_alive
    check "camera ${1##*/} missing: no stripes" overlay_gone
    check "camera ${1##*/} missing: ends cleanly" stopped_cleanly
    check "camera ${1##*/} missing: says why" explains 'cam[eé]ra|video|vid[eé]o'
}
# pause_walk WHAT ON OFF [SECS=10] [launch]: with "launch" the application starts with ON done: the tray shows
# the pause and no stripes show until OFF. Then, the filter running, ON hides its stripes and the tray icon shows
# the pause, and OFF brings them back. SECS: how long ON and OFF may take to show.
pause_walk() {
    local icon secs=${4:-10}
    [ -n "${5:-}" ] && $2
    app_start --camera "$(clip_path facing)"
    if [ -n "${5:-}" ]; then
        eventually 15 "$1 at launch: the tray shows the pause" tray_tooltip_has "En pause"
        check "$1 at launch: no stripes while paused" stays 3 overlay_gone
        $3
    fi
    eventually "$((secs + 10))" "the filter runs${5:+ once $1 ends}" overlay_reads "$(expected nominal)"
    icon=$(tray_icon_digest)
    $2
    eventually "$secs" "$1 hides the overlays" overlay_gone
    eventually 5 "$1: the tray icon shows the pause" tray_icon_differs "$icon"
    $3
    eventually "$secs" "$1 ended: the overlays are back" overlay_reads "$(expected nominal)"
    app_stop
}


# traced_start ARGS...: the application under strace, every descriptor named (path, socket kind and
# peer); APP_PID is the traced process, TRACE the log.
traced_start() {
    APP_LOG="$E2E_WORK/app-traced.log" TRACE="$E2E_WORK/strace.log"
    local calls=socket,connect,bind,sendto,sendmsg,sendmmsg,write,writev,pwrite64,pwritev
    calls+=,openat,open,creat,rename,renameat,renameat2,link,linkat,memfd_create
    strace -f -qq -yy -s 0 -o "$TRACE" -e trace=$calls "$TAVRINE_BIN" "$@" >"$APP_LOG" 2>&1 &
    TRACER=$!
    wait_until 20 pgrep -P "$TRACER"
    APP_PID=$(pgrep -P "$TRACER" | head -n 1)
}
# Regular files opened for writing (O_WRONLY, O_RDWR or O_CREAT) or written through a descriptor.
files_written() {
    {
        grep -E 'open(at)?\(|creat\(' "$TRACE" | grep -E 'O_WRONLY|O_RDWR|O_CREAT|creat\(' | grep -v '= -1' |
            grep -oE '"[^"]+"' | tr -d '"'
        grep -oE '^[0-9]+ +(write|writev|pwrite64|pwritev)\([0-9]+<[^>]+>' "$TRACE" | sed -E 's/^.*\([0-9]+<//; s/>$//' | grep '^/'
    } | sort -u
}
# unexpected_writes FILES: those of FILES the application may not write. It may write its settings, its log,
# and caches that hold no image (fontconfig, GStreamer's plugin registry, shaders; ORC, GStreamer's code
# generator, maps the code it makes through an orcexec file).
unexpected_writes() {
    local mine="$XDG_CONFIG_HOME/tavrine(/|$)|$XDG_CONFIG_HOME/autostart/|$APP_LOG$|$XDG_RUNTIME_DIR/orcexec\."
    local caches="$XDG_CACHE_HOME/(fontconfig|gstreamer-1.0|mesa_shader_cache)/"
    grep -vE "^($mine|$caches|/dev/null$|/dev/shm/|/dev/dri/|/proc/self/|/dev/tty|/tmp/\.X11-unix/)" <<<"$1" | grep .
}
# frame_sized_writes: writes to a file, pipe or socket carrying a fifth of a 640x480 frame or more (0.46 MB
# as YUV 4:2:0, the smallest).
frame_sized_writes() {
    grep -E '^[0-9]+ +(write|writev|pwrite64|pwritev|sendto|sendmsg|sendmmsg)\(' "$TRACE" |
        awk -v m=$((640 * 480 * 3 / 2 / 5)) '$NF ~ /^[0-9]+$/ && $NF + 0 >= m { print; n++ } END { exit !n }'
}


# wayland_up sway|weston: a headless Wayland compositor with XWayland, screenshots through it.
wayland_up() {
    local tool tools=(sway swaymsg swaybg grim wtype)
    [ "$1" = weston ] && tools=(weston weston-screenshooter)
    for tool in "${tools[@]}" Xwayland jq /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so; do
        command -v "$tool" >/dev/null || [ -e "$tool" ] ||
            { echo "SKIP: $tool is missing (install: sway swaybg grim wtype weston xwayland jq qt6-wayland)"; exit 77; }
    done
    # As on a desktop: no X server of the session and no Qt platform chosen for the application.
    unset DISPLAY QT_QPA_PLATFORM
    E2E_SHOOTER=$1
    "${1}_up"
}
# sway inside a headless sway, whose windows are the inner one's outputs: closing one unplugs that output (a
# headless output cannot be removed). Two 1280x720 outputs; two native windows on the left one, one on the right.
sway_up() {
    printf 'xwayland disable\ndefault_border none\noutput HEADLESS-1 mode 2560x720\n' >"$E2E_WORK/host.conf"
    printf '%s\n' 'xwayland enable' 'default_border none' 'focus_follows_mouse no' 'mouse_warping none' \
        'output * bg #ffffff solid_color' >"$E2E_WORK/sway.conf"
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 spawn "$E2E_WORK/host.log" \
        "ls '$XDG_RUNTIME_DIR'/sway-ipc.*.sock" sway -c "$E2E_WORK/host.conf" || return 1
    HOST_SOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    local host_display=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | head -n 1)
    WAYLAND_DISPLAY=$host_display WLR_BACKENDS=wayland WLR_RENDERER=pixman spawn "$E2E_WORK/sway.log" \
        "[ \$(ls '$XDG_RUNTIME_DIR'/sway-ipc.*.sock | wc -l) = 2 ]" sway -c "$E2E_WORK/sway.conf" || return 1
    export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | grep -v "$HOST_SOCK")
    export WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | grep -v "$host_display" | head -n 1)
    swaymsg create_output >/dev/null
    wait_until 5 bash -c "[ \$(swaymsg -t get_outputs | jq '[.[] | select(.rect.width == 1280)] | length') = 2 ]"
    # XWayland starts with the first X client; sway hands its display to what it runs.
    swaymsg exec "echo \$DISPLAY >'$E2E_WORK/xdisplay'" >/dev/null
    wait_until 5 test -s "$E2E_WORK/xdisplay"
    # A keyboard plugged in for the whole session (a virtual one, idle): each wtype types through a keyboard
    # of its own, whose unplugging would otherwise leave the seat without any and take the focus away.
    spawn "$E2E_WORK/keyboard.log" "swaymsg -t get_seats | jq -e '.[0].capabilities > 0' >/dev/null" wtype -s 1000000 ||
        return 1
    native_on WL-1 && native_on WL-1 && native_on WL-2
}
# weston without layer-shell; --debug lets a client take screenshots. One native window.
weston_up() {
    spawn "$E2E_WORK/weston.log" "grep -q 'xserver listening on display' '$E2E_WORK/weston.log'" weston \
        --backend=headless-backend.so --use-pixman --xwayland --debug --idle-time=0 --width=1280 --height=720 \
        -S wayland-tavrine || return 1
    export WAYLAND_DISPLAY=wayland-tavrine
    grep -o 'listening on display :[0-9]*' "$E2E_WORK/weston.log" | grep -o ':[0-9]*' >"$E2E_WORK/xdisplay"
    native_window "grep -q ready '$E2E_WORK/native.log'"
}
# native_window CONDITION: a native Wayland window (the probe's backdrop on Qt's Wayland backend), then up to
# 10 s for CONDITION.
native_window() { QT_QPA_PLATFORM=wayland DISPLAY= spawn "$E2E_WORK/native.log" "$1" "$TAVRINE_PROBE" backdrop; }
# native_on OUTPUT: a native window on OUTPUT (it maps on the focused workspace); waits until sway shows it.
native_on() {
    local count=$(swaymsg -t get_tree | jq '[.. | .pid? // empty] | length')
    swaymsg focus output "$1" >/dev/null
    native_window "[ \$(swaymsg -t get_tree | jq '[.. | .pid? // empty] | length') -gt $count ]"
}
# output_area NAME: "X Y W H" of a free area near the bottom-left of the inner sway's output NAME.
output_area() {
    swaymsg -t get_outputs | jq -r --arg n "$1" '.[] | select(.name == $n) | "\(.rect.x + 40) \(.rect.y + .rect.height - 200) 200 150"'
}
outputs_are() { [ "$(swaymsg -t get_outputs | jq length)" = "$1" ]; }
# view_at X: the id of the window whose tile starts at (X, 0), "none" when there is none; focused_view: the
# id of the focused one.
view_at() { swaymsg -t get_tree | jq -r --argjson x "$1" '[.. | select(.pid? and .rect.x == $x and .rect.y == 0)][0].id // "none"'; }
focused_view() { swaymsg -t get_tree | jq -r '[.. | select(.focused? == true)][0].id'; }
# sway_click X Y: a click of the seat's pointer at X, Y of sway's layout.
sway_click() {
    swaymsg seat seat0 cursor set "$1" "$2" >/dev/null && swaymsg seat seat0 cursor press button1 >/dev/null &&
        swaymsg seat seat0 cursor release button1 >/dev/null
}
# app_windows: the application's windows in sway's tree, as JSON: [type ("con" tiled, "floating_con"), title,
# x, y, width, height, focused] each.
app_windows() {
    swaymsg -t get_tree | jq -c '[.. | select(.app_id? == "expert.brightfen.Tavrine") |
        [.type, .name, .rect.x, .rect.y, .rect.width, .rect.height, .focused]]'
}
no_app_window() { [ "$(app_windows)" = "[]" ]; }
app_window_place() { app_windows | jq -r '.[0] | "\(.[2]) \(.[3])"'; }
# floats_alone TITLE W H: the application's one window is TITLE, floating at W×H (a few pixels more for a
# frame), with the keyboard focus.
floats_alone() {
    LAST_READING=$(app_windows)
    jq -e --arg t "$1" --argjson w "$2" --argjson h "$3" 'length == 1 and (.[0] | .[0] == "floating_con" and
        .[1] == $t and .[4] >= $w and .[4] <= $w + 4 and .[5] >= $h and .[5] <= $h + 4 and .[6])' \
        <<<"$LAST_READING" >/dev/null
}
# user_widths: the widths of the other windows (the user's), in the tree's order.
user_widths() { swaymsg -t get_tree | jq -c '[.. | select(.pid? and .app_id != "expert.brightfen.Tavrine") | .rect.width]'; }
# route_told PATTERN: one line tells the overlay's route, and it matches PATTERN.
route_told() { [ "$(log_count "^tavrine${NBSP}: calque")" = 1 ] && grep -qE "^tavrine${NBSP}: calque.*$1" "$APP_LOG"; }
# layer_surfaces N: N layer surfaces on the overlay layer, anchored to all edges, exclusive zone -1, no keyboard.
layer_surfaces() {
    local request
    for request in 'get_layer_surface\(.*, 3, "tavrine-overlay"\)' 'surface_v1@[0-9]*\.set_anchor\(15\)' \
        'surface_v1@[0-9]*\.set_exclusive_zone\(-1\)' 'surface_v1@[0-9]*\.set_keyboard_interactivity\(0\)'; do
        [ "$(log_count "$request")" = "$1" ] || return 1
    done
}
# scaled_buffer NAME: the last buffer declared at scale 2 has twice the logical size of output NAME.
scaled_buffer() {
    local want=$(swaymsg -t get_outputs | jq -r --arg n "$1" '.[] | select(.name == $n) | "\(.rect.width * 2)x\(.rect.height * 2)"')
    local got=$(grep -A2 'set_buffer_scale(2)' "$APP_LOG" | grep -oE 'damage_buffer\(0, 0, [0-9]+, [0-9]+\)' | tail -n 1 |
        sed -E 's/.*, ([0-9]+), ([0-9]+)\)/\1x\2/')
    LAST_READING="buffer $got for output $want"
    [ -n "$got" ] && [ "$got" = "$want" ]
}

# The scenario's steps, from its "[name]" line to the next one, with @clip and %state[strength] replaced.
mapfile -t steps < <(awk -v name="[$E2E_SCENARIO]" '/^\[[a-z_]+\]$/ { on = ($0 == name); next } on && !/^#/ && NF' "$here/scenarios.txt" |
    sed -E 's/@([a-z]+)/"$(clip_path \1)"/g; s/%([a-z]+)([0-9]?)/"$(expected \1 \2)"/g')
[ "${#steps[@]}" -gt 0 ] || { echo "FAIL no scenario named $E2E_SCENARIO in scenarios.txt"; exit 1; }
for name in $(grep -oE 'clip_path [a-z]+' <<<"${steps[*]}" | cut -d' ' -f2 | sort -u); do require_clip "$name"; done
mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && mock_fdo_screensaver &&
    mock_gnome_screensaver && { [[ $E2E_SCENARIO == wayland_* ]] || backdrop_start; } ||
    { echo "FAIL could not set up the desktop mocks"; exit 1; }
ABORTED=0
for step in "${steps[@]}"; do
    [ "$ABORTED" = 0 ] && eval "$step"
done
app_stop
summary
