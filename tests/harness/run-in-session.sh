#!/usr/bin/env bash
# Runs a command inside a private, throw-away desktop session:
#   - Xvfb on a free display (2560x800) split into two RandR monitors LEFT and RIGHT (1280x800 each),
#   - a compositor (xcompmgr) so translucent windows blend instead of rendering black,
#   - a private session bus and a private "system" bus (DBUS_SYSTEM_BUS_ADDRESS),
#   - fresh XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME.
# Everything is torn down when the command ends, fails, times out or the harness is signalled; the exit code
# is the command's (124 on timeout). Several sessions may run at once: each one takes its own display.
#
# Usage: run-in-session.sh [options] [--] CMD [ARGS...]
#   --timeout SECS     kill the command after SECS seconds (exit code 124)
#   --one-monitor      keep a single 2560x800 monitor instead of LEFT/RIGHT
#   --no-compositor    do not start xcompmgr
#   --wm               also start openbox (a reparenting window manager)
#
# Inside the command: DISPLAY, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS, XDG_* and
# TAVRINE_SESSION_DIR (scratch space, removed afterwards) are exported, and TAVRINE_HARNESS_DIR points at
# this folder, so `source "$TAVRINE_HARNESS_DIR/mocks.sh"` works.
set -u
harness_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
timeout_secs=0 two_monitors=1 compositor=1 window_manager=0
usage() {
    sed -n '2,/^set -u/p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --timeout) [ $# -ge 2 ] || usage; timeout_secs=$2; shift 2 ;;
    --one-monitor) two_monitors=0; shift ;;
    --no-compositor) compositor=0; shift ;;
    --wm) window_manager=1; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage
log() { echo "run-in-session: $*" >&2; }
for tool in Xvfb xdpyinfo xrandr dbus-daemon xcompmgr; do
    command -v "$tool" >/dev/null || { log "missing $tool (install: xvfb x11-utils x11-xserver-utils dbus xcompmgr)"; exit 127; }
done

session_dir=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-session.XXXXXX") || exit 1
mkdir -p "$session_dir"/{runtime,config,data,cache,bus}
chmod 700 "$session_dir" "$session_dir/runtime"
export TAVRINE_SESSION_DIR="$session_dir" TAVRINE_HARNESS_DIR="$harness_dir"
source "$harness_dir/mocks.sh" # wait_until
pids=()
cmd_pid=""

# The command runs in its own process group: whatever it left behind (the app, mocks) goes with it.
teardown() {
    trap - EXIT INT TERM HUP
    [ -n "$cmd_pid" ] && kill -TERM -- "-$cmd_pid" 2>/dev/null
    cat "$session_dir/mock-pids" 2>/dev/null | xargs -r kill -TERM 2>/dev/null
    [ ${#pids[@]} -gt 0 ] && kill -TERM "${pids[@]}" 2>/dev/null
    local p
    for p in "${pids[@]}" $cmd_pid; do wait_until 1 bash -c "! kill -0 $p"; done
    [ -n "$cmd_pid" ] && kill -KILL -- "-$cmd_pid" 2>/dev/null
    [ ${#pids[@]} -gt 0 ] && kill -KILL "${pids[@]}" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$session_dir"
}
trap teardown EXIT
trap 'log "interrupted, tearing down"; exit 130' INT TERM HUP

# started WHAT LOG CONDITION...: waits up to 10 s for a daemon just started; says why when it did not.
started() {
    local what=$1 logfile=$2
    shift 2
    wait_until 10 "$@" && return 0
    log "$what did not start:"
    cat "$logfile" >&2
    exit 1
}

# --- X server: -displayfd lets Xvfb pick a free display itself, which is race-free across sessions.
unset XAUTHORITY WAYLAND_DISPLAY
Xvfb -displayfd 9 -noreset -nolisten tcp -screen 0 2560x800x24 9>"$session_dir/display" >"$session_dir/xvfb.log" 2>&1 &
pids+=($!)
started Xvfb "$session_dir/xvfb.log" grep -q '[0-9]' "$session_dir/display"
export DISPLAY=":$(tr -dc '0-9' <"$session_dir/display")"
started "X server $DISPLAY" "$session_dir/xvfb.log" xdpyinfo
if [ "$two_monitors" = 1 ]; then
    xrandr --setmonitor LEFT 1280/338x800/211+0+0 screen >/dev/null &&
        xrandr --setmonitor RIGHT 1280/338x800/211+1280+0 none >/dev/null || { log "could not set up the RandR monitors"; exit 1; }
fi
if [ "$compositor" = 1 ]; then
    xcompmgr >"$session_dir/xcompmgr.log" 2>&1 &
    pids+=($!)
    # xcompmgr names the window that holds the compositing-manager selection after itself.
    started xcompmgr "$session_dir/xcompmgr.log" bash -c 'xwininfo -root -children | grep -q "\"xcompmgr\""'
fi
if [ "$window_manager" = 1 ]; then
    openbox --sm-disable >"$session_dir/openbox.log" 2>&1 &
    pids+=($!)
    started openbox "$session_dir/openbox.log" bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
fi

# --- Buses: private daemons with no service activation, so nothing from the host can answer. They stay
# our children (no --fork) so that whoever kills this script's process tree reaches them too.
for kind in session system; do
    cat >"$session_dir/bus/$kind.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$kind</type>
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
    dbus-daemon --config-file="$session_dir/bus/$kind.conf" --nofork --print-address=3 \
        3>"$session_dir/bus/$kind.address" 2>"$session_dir/bus/$kind.log" &
    pids+=($!)
    started "the $kind bus" "$session_dir/bus/$kind.log" grep -q . "$session_dir/bus/$kind.address"
done
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$session_dir/bus/session.address")
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$session_dir/bus/system.address")
unset DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE
export XDG_RUNTIME_DIR="$session_dir/runtime" XDG_CONFIG_HOME="$session_dir/config" XDG_DATA_HOME="$session_dir/data"
export XDG_CACHE_HOME="$session_dir/cache" XDG_SESSION_TYPE=x11 QT_QPA_PLATFORM=xcb TAVRINE_DBUS_PYTHON=/usr/bin/python3

# --- The command, in its own process group so that teardown reaches everything it started.
setsid "$@" &
cmd_pid=$!
if [ "$timeout_secs" != 0 ]; then
    (
        sleep "$timeout_secs" &
        trap 'kill $! 2>/dev/null; exit 0' TERM
        wait $!
        echo timeout >"$session_dir/timed-out"
        log "command still running after ${timeout_secs}s, killing it"
        kill -TERM -- "-$cmd_pid" 2>/dev/null
        sleep 2
        kill -KILL -- "-$cmd_pid" 2>/dev/null
    ) &
    watchdog_pid=$!
fi
wait "$cmd_pid"
status=$?
[ -n "${watchdog_pid:-}" ] && kill "$watchdog_pid" 2>/dev/null && wait "$watchdog_pid"
[ -f "$session_dir/timed-out" ] && status=124
exit "$status"
