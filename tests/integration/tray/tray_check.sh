#!/usr/bin/env bash
# Runs inside run-in-session.sh. The tray item registers with a host that appears after the application
# started, Activate opens and closes the panel, a second launch opens the panel of the first, and SIGTERM
# ends the application cleanly.
set -u
app=$1
source "$TAVRINE_HARNESS_DIR/mocks.sh"

source "$TAVRINE_HARNESS_DIR/checks.sh"

log=$TAVRINE_SESSION_DIR/tavrine.log
mkdir -p "$XDG_CONFIG_HOME/tavrine"
printf '[General]\nhas_completed_onboarding=true\n' >"$XDG_CONFIG_HOME/tavrine/tavrine.conf"

panel_geometry() { xdotool search --onlyvisible --name '^Tavrine$' getwindowgeometry 2>/dev/null | grep Geometry; }
panel_open() { panel_geometry | grep -q '322x282'; }
panel_closed() { ! panel_open; }

# The host is not there yet: the application says so once and keeps running.
"$app" --camera demo >"$log" 2>&1 &
pid=$!
check "the application starts without a tray host" wait_until 10 grep -q "aucune zone de notification" "$log"
check "the missing host is reported once" test "$(grep -c 'aucune zone de notification' "$log")" = 1
check "still running without a host" kill -0 "$pid"

# The host appears: the item registers.
mock_sni_watcher
item_registered() { [ -n "$(sni_items)" ]; }
check "the item registers with a late host" wait_until 10 item_registered
check "one item" test "$(sni_items | wc -l)" = 1

# Activate toggles the panel.
xdotool mousemove 1500 300
sni_activate 1500 300
check "Activate opens the panel" wait_until 5 panel_open
sni_activate 1500 300
check "Activate again closes it" wait_until 5 panel_closed
sni_activate 1500 300
check "and opens it again" wait_until 5 panel_open
xdotool mousemove 100 700 click 1
check "a click elsewhere closes it" wait_until 5 panel_closed

# A second launch hands over to the first and leaves.
timeout 10 "$app" >"$TAVRINE_SESSION_DIR/second.log" 2>&1
check "a second launch exits at once with success" test $? = 0
check "and the first instance opens its panel" wait_until 5 panel_open
# Other tests may run the application at the same time: count only this session's processes.
check "only one instance runs" test "$(pgrep -c -g "$(ps -o pgid= $$ | tr -d " ")" -f "^$app")" = 1

# SIGTERM stops the filter and ends the process cleanly.
kill -TERM "$pid"
wait "$pid"
check "SIGTERM ends the application with status 0" test $? = 0

checks_summary
