#!/usr/bin/env bash
# Overlay figures in a headless sway (run as an ordinary user: sway refuses root):
#   1. the overlay bench's CPU figures on layer surfaces over one 3840x2160 output;
#   2. the application's CPU in the nominal state, with a facing clip, over SECONDS (default 40), after 20 s
#      to settle, on two 1280x720 outputs.
# The same bench on X11 for comparison:
#   Xvfb :77 -screen 0 3840x2160x24 & DISPLAY=:77 xcompmgr &
#   DISPLAY=:77 QT_QPA_PLATFORM=xcb BUILD/bench/overlay/tavrine_overlay_bench cpu 8
# Usage: bench/overlay/sway-figures.sh BUILD CLIP [SECONDS]
set -u
build=${1:?usage: sway-figures.sh BUILD CLIP [SECONDS]}
clip=${2:?usage: sway-figures.sh BUILD CLIP [SECONDS]}
seconds=${3:-40}
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config WLR_BACKENDS=headless WLR_RENDERER=pixman
export WLR_LIBINPUT_NO_DEVICES=1
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/tavrine" && chmod 700 "$XDG_RUNTIME_DIR"
printf '[General]\nhas_completed_onboarding=true\n' >"$XDG_CONFIG_HOME/tavrine/tavrine.conf"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
sway_pid=""
trap '[ -n "$sway_pid" ] && kill "$sway_pid"; rm -rf "$work"' EXIT

start_sway() { # CONFIG_LINE...
    printf '%s\n' "$@" >"$work/sway.conf"
    rm -f "$XDG_RUNTIME_DIR"/sway-ipc.* "$XDG_RUNTIME_DIR"/wayland-*
    sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
    sway_pid=$!
    for _ in $(seq 50); do ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1 && break; sleep 0.1; done
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | head -n 1)
    export SWAYSOCK WAYLAND_DISPLAY
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start_sway 'xwayland disable' 'output HEADLESS-1 mode 3840x2160' 'output * bg #ffffff solid_color'
QT_QPA_PLATFORM=offscreen "$build/bench/overlay/tavrine_overlay_bench" cpu 8 layer-shell
kill "$sway_pid" && wait "$sway_pid" 2>/dev/null

start_sway 'xwayland enable' 'output * bg #ffffff solid_color'
swaymsg create_output >/dev/null
swaymsg exec "echo \$DISPLAY >'$work/xdisplay'" >/dev/null
sleep 1
DISPLAY=$(cat "$work/xdisplay") "$build/src/app/tavrine" --camera "$clip" >"$work/app.log" 2>&1 &
app=$!
sleep 20
hz=$(getconf CLK_TCK)
a0=$(cpu_ticks "$app") s0=$(cpu_ticks "$sway_pid") t0=$(date +%s.%N)
sleep "$seconds"
a1=$(cpu_ticks "$app") s1=$(cpu_ticks "$sway_pid") t1=$(date +%s.%N)
head -n 1 "$work/app.log"
awk -v a0="$a0" -v a1="$a1" -v s0="$s0" -v s1="$s1" -v t0="$t0" -v t1="$t1" -v hz="$hz" 'BEGIN {
    w = t1 - t0
    printf "nominal state over %.1f s: tavrine %.2f %% of one core, sway %.2f %%\n", w,
        100 * (a1 - a0) / hz / w, 100 * (s1 - s0) / hz / w }'
kill "$app"
wait "$app" 2>/dev/null
