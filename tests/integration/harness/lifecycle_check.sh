#!/usr/bin/env bash
# Checks run-in-session.sh from outside: exit codes, teardown after success, failure, timeout and signals,
# and two sessions side by side. Usage: lifecycle_check.sh PATH/TO/run-in-session.sh
set -u
harness=${1:?usage: lifecycle_check.sh run-in-session.sh}
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-lifecycle.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../../harness/checks.sh"
gone() { ! kill -0 "$1" 2>/dev/null; }
all_gone() {
    local p
    for p in "$@"; do gone "$p" || { echo "  pid $p still alive: $(ps -o cmd= -p "$p")" >&2; return 1; }; done
}
# Waits up to 5 s for every pid of the list to be gone.
eventually_all_gone() {
    local tries=100
    until all_gone "$@" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -le 0 ] && { all_gone "$@"; return 1; }
        sleep 0.05
    done
}

# What a session leaves behind, written from inside it: session dir, the X server's pid, the bus daemons,
# a mock and a stray background process.
record='
    source "$TAVRINE_HARNESS_DIR/mocks.sh"
    mock_notifications || exit 99
    sleep 300 &
    {
        echo "dir=$TAVRINE_SESSION_DIR"
        echo "display=$DISPLAY"
        echo "xvfb=$(tr -dc 0-9 </tmp/.X${DISPLAY#:}-lock)"
        echo "buses=$(pgrep -f "dbus-daemon --config-file=$TAVRINE_SESSION_DIR" | tr "\n" " ")"
        echo "mock=$(cat "$TAVRINE_SESSION_DIR/mock-notifications.pid")"
        echo "stray=$!"
    } >"$OUT"
'
field() { sed -n "s/^$2=//p" "$1"; }
torn_down() {
    local f=$1
    [ -s "$f" ] || { echo "  nothing recorded" >&2; return 1; }
    # shellcheck disable=SC2046
    eventually_all_gone $(field "$f" xvfb) $(field "$f" buses) $(field "$f" mock) $(field "$f" stray) &&
        [ ! -e "$(field "$f" dir)" ] && [ ! -e "/tmp/.X$(field "$f" display | tr -dc 0-9)-lock" ]
}

# A failing command: its code comes back and everything goes.
OUT=$work/fail.rec "$harness" bash -c "$record exit 7" 2>"$work/fail.err"
code=$?
check "exit code of a failing command is returned" [ "$code" = 7 ]
check "two bus daemons were running" [ "$(field "$work/fail.rec" buses | wc -w)" = 2 ]
check "everything is torn down after a failure" torn_down "$work/fail.rec"

OUT=$work/ok.rec "$harness" bash -c "$record exit 0" 2>"$work/ok.err"
code=$?
check "exit code 0 is returned" [ "$code" = 0 ]
check "everything is torn down after success" torn_down "$work/ok.rec"

# A command that hangs is killed at the timeout.
OUT=$work/timeout.rec "$harness" --timeout 3 bash -c "$record sleep 300" 2>"$work/timeout.err"
code=$?
check "a hanging command ends with 124" [ "$code" = 124 ]
check "the timeout is explained" grep -q "still running after 3s" "$work/timeout.err"
check "everything is torn down after a timeout" torn_down "$work/timeout.rec"

# The harness itself is stopped (as a test runner does on its own timeout).
OUT=$work/signal.rec "$harness" bash -c "$record sleep 300" 2>"$work/signal.err" &
harness_pid=$!
tries=200
until [ -s "$work/signal.rec" ] || [ "$tries" -le 0 ]; do sleep 0.05; tries=$((tries - 1)); done
kill -TERM "$harness_pid"
wait "$harness_pid"
code=$?
check "a signalled harness exits non-zero" [ "$code" != 0 ]
check "everything is torn down after a signal" torn_down "$work/signal.rec"

# Two sessions at once get their own display and buses.
for i in 1 2; do
    "$harness" bash -c 'echo "$DISPLAY $DBUS_SESSION_BUS_ADDRESS $XDG_CONFIG_HOME" >"'"$work/par$i"'"; xrandr --listmonitors | head -n 1 >>"'"$work/par$i"'"; sleep 2' &
done
wait
read -r d1 b1 c1 <"$work/par1"
read -r d2 b2 c2 <"$work/par2"
check "concurrent sessions use different displays" [ -n "$d1" ] && [ "$d1" != "$d2" ]
check "concurrent sessions use different buses" [ -n "$b1" ] && [ "$b1" != "$b2" ]
check "concurrent sessions use different config dirs" [ -n "$c1" ] && [ "$c1" != "$c2" ]
check "both concurrent sessions have two monitors" [ "$(grep -c "Monitors: 2" "$work/par1" "$work/par2" | grep -c ':1$')" = 2 ]

# A host display or bus in the environment is not used.
DISPLAY=:4242 DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent WAYLAND_DISPLAY=wayland-9 \
    "$harness" bash -c 'echo "$DISPLAY|$DBUS_SESSION_BUS_ADDRESS|${WAYLAND_DISPLAY:-}"' >"$work/env" 2>/dev/null
IFS='|' read -r d b w <"$work/env"
check "host DISPLAY is replaced" [ "$d" != ":4242" ]
check "host session bus is replaced" [ "$b" != "unix:path=/nonexistent" ]
check "WAYLAND_DISPLAY is cleared" [ -z "$w" ]

"$harness" 2>/dev/null
check "no command is a usage error" [ $? = 2 ]

checks_summary
