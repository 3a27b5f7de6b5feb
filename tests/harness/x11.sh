# X helpers for tests inside run-in-session.sh. Source it:  source "$TAVRINE_HARNESS_DIR/x11.sh"
#
#   x_screenshot FILE                    the whole root window (both monitors) as PNG
#   x_pixel FILE X Y                     prints "R G B" (0-255) of one pixel of an image
#   x_pixel_near FILE X Y R G B [TOL=2]  succeeds when every channel is within TOL
#   x_wait_window NAME_REGEX [SECS=10]   waits for a visible window whose title matches; prints its id
#   x_wait_no_window NAME_REGEX [SECS=10]
#   x_monitor_remove NAME                drops a RandR monitor (Qt sees screenRemoved)
#   x_monitor_add LEFT|RIGHT             puts one of the two standard monitors back (screenAdded)
#   x_start_trayer                       starts an XEmbed tray (trayer) at the top right; stopped at teardown
#   x_key KEYS...                        xdotool key, e.g. x_key super+shift+c

: "${TAVRINE_SESSION_DIR:?x11.sh must be sourced inside run-in-session.sh}"

x_screenshot() {
    import -window root "$1"
}

x_pixel() {
    convert "$1" -format "%[fx:round(255*p{$2,$3}.r)] %[fx:round(255*p{$2,$3}.g)] %[fx:round(255*p{$2,$3}.b)]\n" info:
}

x_pixel_near() {
    local file=$1 x=$2 y=$3 tol=${7:-2}
    local want=("$4" "$5" "$6") got
    read -r -a got <<<"$(x_pixel "$file" "$x" "$y")" || return 1
    [ "${#got[@]}" = 3 ] || return 1
    local i d
    for i in 0 1 2; do
        d=$((got[i] - want[i]))
        [ "${d#-}" -le "$tol" ] || {
            echo "x11.sh: pixel ($x,$y) is ${got[*]}, expected ${want[*]} ±$tol" >&2
            return 1
        }
    done
}

x_wait_window() {
    local tries=$((${2:-10} * 10)) id
    while [ "$tries" -gt 0 ]; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        tries=$((tries - 1))
        sleep 0.1
    done
    echo "x11.sh: no visible window named like '$1'" >&2
    return 1
}

x_wait_no_window() {
    local tries=$((${2:-10} * 10))
    while [ "$tries" -gt 0 ]; do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        tries=$((tries - 1))
        sleep 0.1
    done
    echo "x11.sh: a window named like '$1' is still visible" >&2
    return 1
}

x_monitor_remove() {
    xrandr --delmonitor "$1"
}

x_monitor_add() {
    case "$1" in
    LEFT) xrandr --setmonitor LEFT 1280/338x800/211+0+0 screen ;;
    RIGHT) xrandr --setmonitor RIGHT 1280/338x800/211+1280+0 none ;;
    *) echo "x11.sh: monitor is LEFT or RIGHT" >&2; return 1 ;;
    esac
}

x_start_trayer() {
    trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
        >"$TAVRINE_SESSION_DIR/trayer.log" 2>&1 &
    local pid=$!
    echo "$pid" >>"$TAVRINE_SESSION_DIR/mock-pids"
    echo "$pid" >"$TAVRINE_SESSION_DIR/trayer.pid"
    local tries=100
    # The tray is ready when it owns the XEmbed system tray selection of screen 0.
    until xwininfo -root -children 2>/dev/null | grep -q '"panel"'; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ] || ! kill -0 "$pid" 2>/dev/null; then
            echo "x11.sh: trayer did not start" >&2
            cat "$TAVRINE_SESSION_DIR/trayer.log" >&2
            return 1
        fi
        sleep 0.1
    done
}

x_key() {
    xdotool key "$@"
}
