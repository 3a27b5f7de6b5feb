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
#   --keep             keep the session directory (logs, config) and print where it is
#
# Inside the command: DISPLAY, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS, XDG_* and
# TAVRINE_SESSION_DIR (scratch space, removed afterwards unless --keep) are exported, and
# TAVRINE_HARNESS_DIR points at this folder, so `source "$TAVRINE_HARNESS_DIR/mocks.sh"` works.
set -u

harness_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
timeout_secs=0
two_monitors=1
compositor=1
window_manager=0
keep=0

usage() {
    sed -n '2,/^set -u/p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --timeout)
        [ $# -ge 2 ] || usage
        timeout_secs=$2
        shift 2
        ;;
    --one-monitor) two_monitors=0; shift ;;
    --no-compositor) compositor=0; shift ;;
    --wm) window_manager=1; shift ;;
    --keep) keep=1; shift ;;
    --) shift; break ;;
    -h | --help) usage ;;
    -*) echo "run-in-session: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage

log() { echo "run-in-session: $*" >&2; }

for tool in Xvfb xdpyinfo xrandr dbus-daemon; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        log "missing $tool (install: xvfb x11-utils x11-xserver-utils dbus)"
        exit 127
    fi
done
if [ "$compositor" = 1 ] && ! command -v xcompmgr >/dev/null 2>&1; then
    log "missing xcompmgr (install: xcompmgr)"
    exit 127
fi

session_dir=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-session.XXXXXX") || exit 1
chmod 700 "$session_dir"
mkdir -p "$session_dir"/{runtime,config,data,cache,bus}
chmod 700 "$session_dir/runtime"

pids=()
cmd_pid=""
finished=0

teardown() {
    [ "$finished" = 1 ] && return
    finished=1
    # The command runs in its own process group: whatever it left behind (the app, mocks) goes with it.
    if [ -n "$cmd_pid" ]; then
        kill -TERM -- "-$cmd_pid" 2>/dev/null
    fi
    if [ -f "$session_dir/mock-pids" ]; then
        while read -r p; do kill -TERM "$p" 2>/dev/null; done <"$session_dir/mock-pids"
    fi
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null
    done
    # Give them a moment, then make sure nothing survives.
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        local alive=0
        for p in "${pids[@]}" ${cmd_pid:+"$cmd_pid"}; do
            kill -0 "$p" 2>/dev/null && alive=1
        done
        [ "$alive" = 0 ] && break
        sleep 0.1
    done
    [ -n "$cmd_pid" ] && kill -KILL -- "-$cmd_pid" 2>/dev/null
    for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done
    wait 2>/dev/null
    if [ "$keep" = 1 ]; then
        log "session kept in $session_dir"
    else
        rm -rf "$session_dir"
    fi
}

on_signal() {
    log "interrupted, tearing down"
    teardown
    exit 130
}
trap teardown EXIT
trap on_signal INT TERM HUP

# Polls CONDITION (a command) every 50 ms for up to SECS seconds.
wait_for() {
    local secs=$1
    shift
    local tries=$((secs * 20))
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -le 0 ] && return 1
        sleep 0.05
    done
}

# --- X server: -displayfd lets Xvfb pick a free display itself, which is race-free across sessions.
unset XAUTHORITY WAYLAND_DISPLAY
Xvfb -displayfd 9 -noreset -nolisten tcp -screen 0 2560x800x24 \
    9>"$session_dir/display" >"$session_dir/xvfb.log" 2>&1 &
pids+=($!)
xvfb_pid=$!
if ! wait_for 20 grep -q '[0-9]' "$session_dir/display"; then
    log "Xvfb did not start:"
    cat "$session_dir/xvfb.log" >&2
    exit 1
fi
display=":$(tr -dc '0-9' <"$session_dir/display")"
export DISPLAY=$display
if ! wait_for 20 xdpyinfo; then
    log "X server $DISPLAY does not answer"
    kill -0 "$xvfb_pid" 2>/dev/null || cat "$session_dir/xvfb.log" >&2
    exit 1
fi

if [ "$two_monitors" = 1 ]; then
    if ! xrandr --setmonitor LEFT 1280/338x800/211+0+0 screen >/dev/null 2>&1 ||
        ! xrandr --setmonitor RIGHT 1280/338x800/211+1280+0 none >/dev/null 2>&1; then
        log "could not set up the RandR monitors"
        exit 1
    fi
fi

if [ "$compositor" = 1 ]; then
    xcompmgr >"$session_dir/xcompmgr.log" 2>&1 &
    pids+=($!)
    # xcompmgr names the window that holds the compositing-manager selection after itself.
    if ! wait_for 10 bash -c 'xwininfo -root -children | grep -q "\"xcompmgr\""'; then
        log "compositor did not start"
        cat "$session_dir/xcompmgr.log" >&2
        exit 1
    fi
fi

if [ "$window_manager" = 1 ]; then
    openbox --sm-disable >"$session_dir/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 10 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
        log "window manager did not announce itself"
fi

# --- Buses: private daemons with no service activation, so nothing from the host can answer. They stay
# our children (no --fork) so that whoever kills this script's process tree reaches them too.
start_bus() {
    local kind=$1 conf="$session_dir/bus/$1.conf"
    cat >"$conf" <<CONF
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
    dbus-daemon --config-file="$conf" --nofork --print-address=3 \
        3>"$session_dir/bus/$kind.address" 2>"$session_dir/bus/$kind.log" &
    pids+=($!)
    if ! wait_for 10 grep -q . "$session_dir/bus/$kind.address"; then
        log "could not start the $kind bus:"
        cat "$session_dir/bus/$kind.log" >&2
        return 1
    fi
    bus_address=$(head -n 1 "$session_dir/bus/$kind.address")
}

start_bus session || exit 1
export DBUS_SESSION_BUS_ADDRESS=$bus_address
start_bus system || exit 1
export DBUS_SYSTEM_BUS_ADDRESS=$bus_address
unset DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE

export XDG_RUNTIME_DIR="$session_dir/runtime"
export XDG_CONFIG_HOME="$session_dir/config"
export XDG_DATA_HOME="$session_dir/data"
export XDG_CACHE_HOME="$session_dir/cache"
export XDG_SESSION_TYPE=x11
export QT_QPA_PLATFORM=xcb
export TAVRINE_SESSION_DIR="$session_dir"
export TAVRINE_HARNESS_DIR="$harness_dir"
export TAVRINE_DBUS_PYTHON=/usr/bin/python3

# --- The command, in its own process group so that teardown reaches everything it started.
setsid "$@" &
cmd_pid=$!

if [ "$timeout_secs" != 0 ]; then
    (
        sleep "$timeout_secs" &
        sleeper=$!
        trap 'kill $sleeper 2>/dev/null; exit 0' TERM
        wait "$sleeper"
        if kill -0 "$cmd_pid" 2>/dev/null; then
            echo timeout >"$session_dir/timed-out"
            echo "run-in-session: command still running after ${timeout_secs}s, killing it" >&2
            kill -TERM -- "-$cmd_pid" 2>/dev/null
            sleep 2
            kill -KILL -- "-$cmd_pid" 2>/dev/null
        fi
    ) &
    watchdog_pid=$!
fi

wait "$cmd_pid"
status=$?
if [ -n "${watchdog_pid:-}" ]; then
    kill "$watchdog_pid" 2>/dev/null
    wait "$watchdog_pid" 2>/dev/null
fi
[ -f "$session_dir/timed-out" ] && status=124
teardown
exit "$status"
