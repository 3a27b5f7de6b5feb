#!/usr/bin/env bash
# Runs a command inside a private, throw-away desktop session: Xvfb on a free display (2560x800, split into
# two RandR monitors LEFT and RIGHT), a compositor (xcompmgr) so that translucent windows blend instead of
# rendering black, a private session bus and a private "system" bus, fresh XDG_* folders. Everything is torn
# down when the command ends, fails, times out or the harness is signalled; the exit code is the command's
# (124 on timeout). Several sessions may run at once: each one takes its own display.
# Usage: run-in-session.sh [--timeout SECS] [--wm] [--] CMD [ARGS...]     (--wm: also openbox)
# Inside the command: DISPLAY, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS, XDG_*, TAVRINE_SESSION_DIR
# (scratch space, removed afterwards) and TAVRINE_HARNESS_DIR (this folder, for mocks.sh).
set -u
harness_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
timeout_secs=0 window_manager=0
log() { echo "run-in-session: $*" >&2; }
while [ $# -gt 0 ]; do
    case "$1" in
    --timeout) timeout_secs=${2:?--timeout needs SECS}; shift 2 ;;
    --wm) window_manager=1; shift ;;
    --) shift; break ;;
    -*) log "unknown option $1"; exit 2 ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || { log "usage: $0 [--timeout SECS] [--wm] [--] CMD [ARGS...]"; exit 2; }
for tool in Xvfb xdpyinfo xrandr xset dbus-daemon xcompmgr; do
    command -v "$tool" >/dev/null || { log "missing $tool (install: xvfb x11-utils x11-xserver-utils dbus xcompmgr)"; exit 127; }
done

session_dir=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-session.XXXXXX") || exit 1
mkdir -p "$session_dir"/{runtime,config,data,cache,bus}
chmod 700 "$session_dir" "$session_dir/runtime"
export TAVRINE_SESSION_DIR="$session_dir" TAVRINE_HARNESS_DIR="$harness_dir"
source "$harness_dir/mocks.sh" # wait_until, spawn
cmd_pid=""

# The command runs in its own process group: whatever it left behind (the app, mocks) goes with it.
teardown() {
    trap - EXIT INT TERM HUP
    local p pids="$(cat "$session_dir/mock-pids" 2>/dev/null) ${cmd_pid:+-$cmd_pid}"
    kill -TERM -- $pids 2>/dev/null
    for p in $pids; do wait_until 1 bash -c "! kill -0 -- $p"; done
    kill -KILL -- $pids 2>/dev/null
    wait 2>/dev/null
    rm -rf "$session_dir"
}
trap teardown EXIT
trap 'log "interrupted, tearing down"; exit 130' INT TERM HUP

# The daemons of the session stay our children (no --fork), so that whoever kills this script's process
# tree reaches them too.
# X server: -displayfd lets Xvfb pick a free display itself, which is race-free across sessions.
unset XAUTHORITY WAYLAND_DISPLAY
spawn "$session_dir/xvfb.log" "grep -qx '[0-9][0-9]*' '$session_dir/xvfb.log'" \
    Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 2560x800x24 || exit 1
export DISPLAY=":$(grep -x '[0-9][0-9]*' "$session_dir/xvfb.log")"
wait_until 10 xdpyinfo && xrandr --setmonitor LEFT 1280/338x800/211+0+0 screen >/dev/null &&
    xrandr --setmonitor RIGHT 1280/338x800/211+1280+0 none >/dev/null || { log "could not set up the RandR monitors"; exit 1; }
# The server's own screen saver would start after 10 minutes without input and pause the filter in the
# middle of a long command: only `xset s activate` starts it here.
xset s off || { log "could not turn the X screen saver's timeout off"; exit 1; }
# xcompmgr names the window that holds the compositing-manager selection after itself.
spawn "$session_dir/xcompmgr.log" 'xwininfo -root -children | grep -q "\"xcompmgr\""' xcompmgr || exit 1
if [ "$window_manager" = 1 ]; then
    spawn "$session_dir/openbox.log" 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' openbox --sm-disable || exit 1
fi

# Buses: private daemons with no service activation, so nothing from the host can answer.
cat >"$session_dir/bus/bus.conf" <<CONF
<busconfig>
  <listen>unix:dir=$session_dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
CONF
for kind in session system; do
    spawn "$session_dir/$kind-bus.log" "grep -q unix: '$session_dir/$kind-bus.log'" \
        dbus-daemon --config-file="$session_dir/bus/bus.conf" --nofork --print-address || exit 1
    export "DBUS_${kind^^}_BUS_ADDRESS=$(grep -m1 unix: "$session_dir/$kind-bus.log")"
done
unset DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE
export XDG_RUNTIME_DIR="$session_dir/runtime" XDG_CONFIG_HOME="$session_dir/config" XDG_DATA_HOME="$session_dir/data"
export XDG_CACHE_HOME="$session_dir/cache" XDG_SESSION_TYPE=x11 QT_QPA_PLATFORM=xcb TAVRINE_DBUS_PYTHON=/usr/bin/python3

# The command, under timeout (0: none), which puts it in a process group of its own and on time out
# signals the whole group.
timeout -k 2 "$timeout_secs" "$@" &
cmd_pid=$!
wait "$cmd_pid"
status=$?
[ "$status" = 124 ] && log "command still running after ${timeout_secs}s, killed it"
exit "$status"
