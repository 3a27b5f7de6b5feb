#!/usr/bin/env bash
# The application in headless Wayland compositors, checked from outside: the compositor's screenshots and
# state, the D-Bus mocks, and the protocol log of the overlay's own Wayland connection (WAYLAND_DEBUG).
#
# Usage: wayland.sh sway|weston
#   sway    layer-shell overlay: stripes over a native Wayland window on two outputs, an output added and
#           one removed while running, a click through the overlay, the alert flash, no frame while idle,
#           the tray and the notification.
#   weston  a compositor without layer-shell: the overlay through XWayland, over a native Wayland window.
# Compositors refuse to run as root: as root the script creates the user tavrine-test and runs itself as
# that user, inside tests/harness/run-in-session.sh (private buses, the D-Bus mocks).
# Environment: TAVRINE_BIN, TAVRINE_PROBE, E2E_CLIPS, E2E_WORK. Exit 77 when a compositor package is missing.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self="$here/$(basename "${BASH_SOURCE[0]}")"
scenario=${1:-}
case "$scenario" in
sway) tools=(sway swaymsg swaybg grim Xwayland jq) ;;
weston) tools=(weston weston-screenshooter Xwayland) ;;
*) echo "usage: wayland.sh sway|weston" >&2; exit 2 ;;
esac
for tool in "${tools[@]}"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (install: sway swaybg grim weston xwayland qt6-wayland jq)"
        exit 77
    fi
done
if ! ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1; then
    echo "SKIP: Qt's Wayland platform plugin is missing (install: qt6-wayland)"
    exit 77
fi

if [ "$(id -u)" = 0 ]; then
    user=tavrine-test
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 1
    mkdir -p "$E2E_WORK" "$E2E_SHOTS"
    chown -R "$user" "$E2E_WORK" "$E2E_SHOTS"
    exec runuser -u "$user" -- env HOME="$E2E_WORK" "$here/../harness/run-in-session.sh" --timeout 170 \
        --one-monitor --no-compositor -- "$self" "$@"
fi
if [ -z "${TAVRINE_SESSION_DIR:-}" ]; then
    exec "$here/../harness/run-in-session.sh" --timeout 170 --one-monitor --no-compositor -- "$self" "$@"
fi

E2E_SCENARIO=wayland-$scenario
source "$here/lib.sh"
rm -f "$E2E_WORK"/*.log "$E2E_WORK"/*.png "$E2E_WORK/xdisplay" # what an earlier run left
require_app
require_clip onlooker
require_clip facing

# Areas away from the badge and the windows' edges.
LEFT_AREA="40 500 240 150"
STRIPE_ALPHA_DEFAULT=0.42
NOMINAL=$(expected_stripe_value "$STRIPE_ALPHA_DEFAULT" "$(filter_alpha nominal 3)")

# As on a desktop: no X server of the session and no Qt platform chosen for the application.
unset DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$TAVRINE_SESSION_DIR/runtime"
COMPOSITOR_PID=""
SWAY_PID=""
stop_compositor() {
    [ -n "$SWAY_PID" ] && kill "$SWAY_PID" 2>/dev/null
    [ -n "$COMPOSITOR_PID" ] && kill "$COMPOSITOR_PID" 2>/dev/null
}
trap 'app_stop; stop_compositor' EXIT

# A native Wayland window: the probe's white backdrop on Qt's Wayland backend.
native_window() {
    QT_QPA_PLATFORM=wayland DISPLAY= "$TAVRINE_PROBE" backdrop >>"$E2E_WORK/native.log" 2>&1 &
}

overlay_on() {
    local png value
    png=$(shot) || return 1
    value=$(darkest "$png" "$1")
    LAST_READING="$value (expected $NOMINAL)"
    near "$value" "$NOMINAL" 4 && [ "$(brightest "$png" "$1")" -ge 250 ]
}

panel_shown() { DISPLAY=$(cat "$E2E_WORK/xdisplay") window_shown Tavrine; }
tray_registered() { [ -n "$(sni_items)" ]; }
notified() { [ -n "$(mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify)" ]; }

# The overlay's requests in the application's protocol log.
requests() { grep -cE "$1" "$APP_LOG" 2>/dev/null || true; }

# The layout of the inner sway's outputs: "X Y W H" of a free area near the bottom-left of output NAME.
output_area() {
    swaymsg -t get_outputs | jq -r --arg n "$1" \
        '.[] | select(.name == $n) | "\(.rect.x + 40) \(.rect.y + .rect.height - 200) 200 150"'
}

# native_on OUTPUT: a native window on OUTPUT; waits until sway shows it (a window maps on the workspace
# focused when it appears).
native_on() {
    local count
    count=$(swaymsg -t get_tree | jq '[.. | .pid? // empty] | length')
    swaymsg focus output "$1" >/dev/null
    native_window
    wait_until 15 bash -c "[ \$(swaymsg -t get_tree | jq '[.. | .pid? // empty] | length') -gt $count ]"
}

# view_at X: the id of the window whose tile starts at (X, 0), empty when there is none.
view_at() { swaymsg -t get_tree | jq -r --argjson x "$1" '[.. | select(.pid? and .rect.x == $x and .rect.y == 0)][0].id // empty'; }

# came_up WHAT LOG CONDITION...: waits for a compositor to come up; says why when it does not.
came_up() {
    local what=$1 log=$2
    shift 2
    wait_until 10 "$@" && return 0
    fail "$what starts"
    tail -n 5 "$log"
    return 1
}

# scaled_buffer NAME: the last buffer declared at scale 2 has twice the logical size of output NAME.
scaled_buffer() {
    local want got
    want=$(swaymsg -t get_outputs | jq -r --arg n "$1" '.[] | select(.name == $n) | "\(.rect.width * 2)x\(.rect.height * 2)"')
    got=$(grep -A2 'set_buffer_scale(2)' "$APP_LOG" | grep -oE 'damage_buffer\(0, 0, [0-9]+, [0-9]+\)' | tail -n 1 |
        sed -E 's/.*, ([0-9]+), ([0-9]+)\)/\1x\2/')
    LAST_READING="buffer $got for output $want"
    [ -n "$got" ] && [ "$got" = "$want" ]
}

scenario_sway() {
    shot() {
        SHOT_SEQ=$((SHOT_SEQ + 1))
        local path="$E2E_WORK/${1:-shot-$SHOT_SEQ}.png"
        grim -s 1 "$path" 2>/dev/null || return 1
        echo "$path"
    }
    # sway inside a headless sway: the outer one shows each output of the inner one as a window, and
    # closing that window unplugs the output (a headless output cannot be removed). The outer output
    # holds two 1280x720 tiles side by side.
    printf 'xwayland disable\ndefault_border none\noutput HEADLESS-1 mode 2560x720\n' >"$E2E_WORK/host.conf"
    printf '%s\n' 'xwayland enable' 'default_border none' 'focus_follows_mouse no' 'mouse_warping none' \
        'output * bg #ffffff solid_color' >"$E2E_WORK/sway.conf"
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$E2E_WORK/host.conf" \
        >"$E2E_WORK/host.log" 2>&1 &
    COMPOSITOR_PID=$!
    came_up "the host sway" "$E2E_WORK/host.log" bash -c "ls '$XDG_RUNTIME_DIR'/sway-ipc.*.sock" || return
    HOST_SOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    local host_display
    host_display=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | head -n 1)
    WAYLAND_DISPLAY=$host_display WLR_BACKENDS=wayland WLR_RENDERER=pixman sway -c "$E2E_WORK/sway.conf" \
        >"$E2E_WORK/sway.log" 2>&1 &
    SWAY_PID=$!
    came_up sway "$E2E_WORK/sway.log" bash -c "[ \$(ls '$XDG_RUNTIME_DIR'/sway-ipc.*.sock | wc -l) = 2 ]" || return
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | grep -v "$HOST_SOCK")
    WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | grep -v "$host_display" | head -n 1)
    export SWAYSOCK WAYLAND_DISPLAY
    swaymsg create_output >/dev/null
    wait_until 5 bash -c "[ \$(swaymsg -t get_outputs | jq '[.[] | select(.rect.width == 1280)] | length') = 2 ]"
    # XWayland starts with the first X client; sway hands its display to what it runs.
    swaymsg exec "echo \$DISPLAY >'$E2E_WORK/xdisplay'" >/dev/null
    wait_until 5 test -s "$E2E_WORK/xdisplay"
    # Two native windows side by side on the left output, one on the right.
    native_on WL-1 && native_on WL-1 && native_on WL-2
    LEFT_AREA=$(output_area WL-1)
    RIGHT_AREA=$(output_area WL-2)

    DISPLAY=$(cat "$E2E_WORK/xdisplay") WAYLAND_DEBUG=client app_start --camera "$(clip_path facing)"
    check "one line says the overlay takes layer-shell and the windows XWayland" \
        poll 10 bash -c "[ \$(grep -c '^tavrine : calque' '$APP_LOG') = 1 ] && grep -q 'calque en surfaces layer-shell.*fenêtres par XWayland' '$APP_LOG'"
    eventually 20 "stripes over the native windows of the left output" overlay_on "$LEFT_AREA"
    check "and of the right output" overlay_on "$RIGHT_AREA"
    check "the tray icon is registered (SNI)" tray_registered
    check "one layer surface per output, on the overlay layer, anchored to all edges, exclusive zone -1" bash -c "
        [ \$(grep -c 'get_layer_surface(.*, 3, \"tavrine-overlay\")' '$APP_LOG') = 2 ] &&
        [ \$(grep -c 'zwlr_layer_surface_v1@[0-9]*\.set_anchor(15)' '$APP_LOG') = 2 ] &&
        [ \$(grep -c 'zwlr_layer_surface_v1@[0-9]*\.set_exclusive_zone(-1)' '$APP_LOG') = 2 ] &&
        [ \$(grep -c 'zwlr_layer_surface_v1@[0-9]*\.set_keyboard_interactivity(0)' '$APP_LOG') = 2 ]"

    # Nominal and nothing changing: no frame at all.
    sleep 2
    local before after
    before=$(requests 'wl_surface@[0-9]*\.commit\(\)')
    sleep 3
    after=$(requests 'wl_surface@[0-9]*\.commit\(\)')
    check "no frame while nothing changes ($before then $after commits over 3 s)" [ "$before" = "$after" ]
    cp "$(shot overlay-sway)" "$E2E_SHOTS/overlay-sway.png" 2>/dev/null

    # A click over the overlay goes to the window beneath: sway focuses the window it reaches.
    local target focused
    target=$(view_at 0)
    swaymsg "[con_id=$(view_at 640)] focus" >/dev/null
    swaymsg seat seat0 cursor set 200 400 >/dev/null
    swaymsg seat seat0 cursor press button1 >/dev/null
    swaymsg seat seat0 cursor release button1 >/dev/null
    focused=$(swaymsg -t get_tree | jq -r '[.. | select(.focused? == true)][0].id')
    check "a click through the overlay reaches the window beneath ($focused, expected $target)" \
        [ "${target:-none}" = "$focused" ]

    # Outputs come and go while it runs; a third one narrows the others, which are resized as well.
    swaymsg create_output >/dev/null
    wait_until 5 bash -c "[ \$(swaymsg -t get_outputs | jq length) = 3 ]"
    eventually 10 "an output added gets its overlay" overlay_on "$(output_area WL-3)"
    eventually 10 "the narrowed ones keep theirs" overlay_on "$(output_area WL-1)"
    local destroyed
    destroyed=$(requests 'zwlr_layer_surface_v1@[0-9]*\.destroy\(\)')
    swaymsg -s "$HOST_SOCK" '[title="WL-2"] kill' >/dev/null
    wait_until 5 bash -c "[ \$(swaymsg -t get_outputs | jq length) = 2 ]"
    eventually 10 "an output removed loses its overlay" bash -c \
        "[ \$(grep -cE 'zwlr_layer_surface_v1@[0-9]*\.destroy\(\)' '$APP_LOG') -gt $destroyed ]"
    check "the others keep theirs" overlay_on "$(output_area WL-3)"
    # A scale of 2: buffers of twice the surface's size, declared as such.
    swaymsg output WL-1 scale 2 >/dev/null
    eventually 10 "an output's new scale gets buffers at that scale" scaled_buffer WL-1
    echo "     reading: $LAST_READING"
    eventually 10 "and stays covered" overlay_on "$(output_area WL-1)"
    check "the protocol connection stays healthy" bash -c "! grep -q 'connexion au compositeur Wayland est perdue' '$APP_LOG'"
    sni_activate 900 150
    check "the tray icon opens the panel, on XWayland" poll 5 panel_shown
    app_stop

    # The alert, without XWayland this time (Qt on its Wayland backend): the red flash on every output,
    # the tray and the notification, and no window of the application among sway's.
    LEFT_AREA=$(output_area WL-1)
    RIGHT_AREA=$(output_area WL-3)
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    app_start --camera "$(clip_path onlooker)"
    check "without XWayland the windows go to Qt's Wayland backend" \
        poll 10 grep -q 'calque en surfaces layer-shell.*fenêtres Wayland (pas de XWayland)' "$APP_LOG"
    eventually 25 "the alert flashes red on both outputs" red_flash_seen 1
    echo "     reading: $LAST_READING"
    check "the notification reaches the desktop (Notify)" poll 5 notified
    check "the tray icon is registered" tray_registered
    check "no window of the application is tiled" bash -c \
        "! swaymsg -t get_tree | jq -r '.. | .app_id? // empty' | grep -qx tavrine"
    app_stop
}

scenario_weston() {
    shot() {
        SHOT_SEQ=$((SHOT_SEQ + 1))
        local path="$E2E_WORK/${1:-shot-$SHOT_SEQ}.png"
        rm -f "$E2E_WORK"/wayland-screenshot-*.png
        (cd "$E2E_WORK" && weston-screenshooter >/dev/null 2>&1) || return 1
        mv "$E2E_WORK"/wayland-screenshot-*.png "$path" 2>/dev/null || return 1
        echo "$path"
    }
    # --debug lets a client take screenshots.
    weston --backend=headless-backend.so --use-pixman --xwayland --debug --idle-time=0 --width=1280 \
        --height=720 -S wayland-tavrine >"$E2E_WORK/weston.log" 2>&1 &
    COMPOSITOR_PID=$!
    export WAYLAND_DISPLAY=wayland-tavrine
    came_up "weston with XWayland" "$E2E_WORK/weston.log" grep -q 'xserver listening on display' "$E2E_WORK/weston.log" ||
        return
    native_window
    wait_until 10 grep -q ready "$E2E_WORK/native.log"
    DISPLAY=$(grep -o 'listening on display :[0-9]*' "$E2E_WORK/weston.log" | grep -o ':[0-9]*') \
        app_start --camera "$(clip_path facing)"
    check "one line says the overlay goes through XWayland, and why" \
        poll 10 grep -q "calque par XWayland (le compositeur Wayland n’offre pas zwlr_layer_shell_v1)" "$APP_LOG"
    eventually 20 "stripes over the native window" overlay_on "$LEFT_AREA"
    cp "$(shot overlay-weston)" "$E2E_SHOTS/overlay-xwayland.png" 2>/dev/null
    app_stop
}

mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications || {
    echo "FAIL could not set up the desktop mocks"
    exit 1
}
settings_seed "has_completed_onboarding=true"
mkdir -p "$E2E_SHOTS"
"scenario_$scenario"
summary
