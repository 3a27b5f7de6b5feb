#!/usr/bin/env bash
# Runs inside run-in-session.sh: checks the X server, monitors, compositor, buses, XDG dirs and every mock.
set -u
source "$TAVRINE_HARNESS_DIR/mocks.sh"
source "$TAVRINE_HARNESS_DIR/x11.sh"

CHECKS_QUIET=1
source "$TAVRINE_HARNESS_DIR/checks.sh"
equals() { [ "$1" = "$2" ] || { echo "  expected '$2', got '$1'" >&2; return 1; }; }
contains() { case "$1" in *"$2"*) return 0 ;; *) echo "  '$2' not in '$1'" >&2; return 1 ;; esac; }

# Starts a monitor of the bus for one signal; the caller reads the file later.
watch_signal() {
    local bus=$1 member=$2 out=$3
    dbus-monitor "--$bus" "type='signal',member='$member'" >"$out" 2>&1 &
    echo $!
    wait_until 5 grep -q NameAcquired "$out"
}

# X server and monitors
check "DISPLAY is a local display" bash -c '[[ "$DISPLAY" =~ ^:[0-9]+$ ]]'
check "X server answers" xdpyinfo
check "screen is 2560x800" bash -c 'xdpyinfo | grep -q "dimensions: *2560x800 pixels"'
monitors=$(xrandr --listmonitors)
check "two monitors" contains "$monitors" "Monitors: 2"
check "LEFT 1280x800 at 0,0" contains "$monitors" "LEFT 1280/338x800/211+0+0"
check "RIGHT 1280x800 at 1280,0" contains "$monitors" "RIGHT 1280/338x800/211+1280+0"
check "compositor runs" bash -c 'xwininfo -root -children | grep -q "\"xcompmgr\""'
check "screenshot of the root window" import -window root "$TAVRINE_SESSION_DIR/root.png"
check "root screenshot is 2560x800" equals "$(identify -format '%wx%h' "$TAVRINE_SESSION_DIR/root.png" 2>/dev/null)" 2560x800

# X helpers
check "root is black under the compositor" x_pixel_near "$TAVRINE_SESSION_DIR/root.png" 640 400 0 0 0 0
convert -size 8x8 xc:'#336699' "$TAVRINE_SESSION_DIR/swatch.png"
check "pixel of an image reads back" equals "$(x_pixel "$TAVRINE_SESSION_DIR/swatch.png" 3 5)" "51 102 153"
check "pixel within tolerance matches" x_pixel_near "$TAVRINE_SESSION_DIR/swatch.png" 3 5 52 101 153 1
check "pixel outside tolerance does not" bash -c '! (source "$TAVRINE_HARNESS_DIR/x11.sh"; x_pixel_near "$1" 3 5 55 102 153 2) 2>/dev/null' _ "$TAVRINE_SESSION_DIR/swatch.png"
xmessage -name tavrine-probe -title tavrine-probe probe >/dev/null 2>&1 &
probe=$!
check "a new window is found by title" x_wait_window '^tavrine-probe$' 10
kill "$probe"
check "a closed window is gone" x_wait_no_window '^tavrine-probe$' 10
check "RIGHT monitor can be removed" x_monitor_remove RIGHT
check "one monitor left" contains "$(xrandr --listmonitors)" "Monitors: 1"
check "RIGHT monitor comes back" x_monitor_add RIGHT
check "two monitors again" contains "$(xrandr --listmonitors)" "RIGHT 1280/338x800/211+1280+0"
check "XEmbed tray starts" x_start_trayer
check "tray panel sits at the top" bash -c 'xwininfo -name panel | grep -q "Absolute upper-left Y:  0"'

# Buses and directories
check "session bus is private" contains "$DBUS_SESSION_BUS_ADDRESS" "$TAVRINE_SESSION_DIR"
check "system bus is private" contains "$DBUS_SYSTEM_BUS_ADDRESS" "$TAVRINE_SESSION_DIR"
check "the two buses differ" bash -c '[ "$DBUS_SESSION_BUS_ADDRESS" != "$DBUS_SYSTEM_BUS_ADDRESS" ]'
check "session bus answers" gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.GetId
check "system bus answers" gdbus call --system -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.GetId
check "nothing activatable on the session bus" equals \
    "$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.ListActivatableNames)" \
    "(['org.freedesktop.DBus'],)"
for var in XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME; do
    dir=${!var}
    check "$var is fresh and private" bash -c "[ -d '$dir' ] && [ -z \"\$(ls -A '$dir')\" ] && [[ '$dir' == '$TAVRINE_SESSION_DIR'/* ]]"
done
check "XDG_RUNTIME_DIR is mode 700" equals "$(stat -c %a "$XDG_RUNTIME_DIR")" 700

# logind
check "logind mock starts" mock_logind
check "logind session c1 is active" contains \
    "$(gdbus call --system -d "$LOGIND_NAME" -o "$LOGIND_SESSION_PATH" -m org.freedesktop.DBus.Properties.Get org.freedesktop.login1.Session Active)" \
    "<true>"
check "GetSession auto is c1" contains \
    "$(gdbus call --system -d "$LOGIND_NAME" -o "$LOGIND_PATH" -m org.freedesktop.login1.Manager.GetSession auto)" \
    "$LOGIND_SESSION_PATH"
check "GetSessionByPID is c1" contains \
    "$(gdbus call --system -d "$LOGIND_NAME" -o "$LOGIND_PATH" -m org.freedesktop.login1.Manager.GetSessionByPID $$)" \
    "$LOGIND_SESSION_PATH"
mon=$(watch_signal system PropertiesChanged "$TAVRINE_SESSION_DIR/props.mon")
check "session can be made inactive" logind_set_session_active false
check "session reads back inactive" contains \
    "$(gdbus call --system -d "$LOGIND_NAME" -o "$LOGIND_SESSION_PATH" -m org.freedesktop.DBus.Properties.Get org.freedesktop.login1.Session Active)" \
    "<false>"
check "PropertiesChanged(Active) is emitted" wait_until 5 grep -q '"Active"' "$TAVRINE_SESSION_DIR/props.mon"
kill "$mon"
mon=$(watch_signal system PrepareForSleep "$TAVRINE_SESSION_DIR/sleep.mon")
check "PrepareForSleep(true) is emitted" bash -c 'source "$TAVRINE_HARNESS_DIR/mocks.sh"; logind_prepare_for_sleep true' 
check "PrepareForSleep reaches a listener" wait_until 5 grep -q "boolean true" "$TAVRINE_SESSION_DIR/sleep.mon"
kill "$mon"

# UPower
check "upower mock starts" mock_upower 80 2
check "battery at 80 %" contains \
    "$(gdbus call --system -d "$UPOWER_NAME" -o "$UPOWER_DISPLAY_PATH" -m org.freedesktop.DBus.Properties.Get org.freedesktop.UPower.Device Percentage)" \
    "80.0"
check "battery can change" upower_set_battery 15 1
check "battery reads back 15 % charging" bash -c "
    gdbus call --system -d $UPOWER_NAME -o $UPOWER_DISPLAY_PATH -m org.freedesktop.DBus.Properties.GetAll org.freedesktop.UPower.Device \
    | grep -q \"'Percentage': <15.0>\" && gdbus call --system -d $UPOWER_NAME -o $UPOWER_DISPLAY_PATH -m org.freedesktop.DBus.Properties.GetAll org.freedesktop.UPower.Device | grep -q \"'State': <uint32 1>\""

# Notifications
check "notification daemon mock starts" mock_notifications
check "first Notify returns id 1" contains \
    "$(gdbus call --session -d "$NOTIFY_NAME" -o "$NOTIFY_PATH" -m org.freedesktop.Notifications.Notify Tavrine 0 '' Titre Texte '[]' '{}' 5000)" \
    "(uint32 1,)"
check "second Notify returns id 2" contains \
    "$(gdbus call --session -d "$NOTIFY_NAME" -o "$NOTIFY_PATH" -m org.freedesktop.Notifications.Notify Tavrine 0 '' Titre Texte '[]' '{}' 5000)" \
    "(uint32 2,)"
check "two Notify calls recorded" equals "$(mock_count_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify)" 2
check "recorded call carries its arguments" equals \
    "$(mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify | head -n 1 | jq -c '.args[0:5]')" '["Tavrine",0,"","Titre","Texte"]'
mon=$(watch_signal session NotificationClosed "$TAVRINE_SESSION_DIR/closed.mon")
check "CloseNotification answers" gdbus call --session -d "$NOTIFY_NAME" -o "$NOTIFY_PATH" -m org.freedesktop.Notifications.CloseNotification 1
check "NotificationClosed(1) is emitted" wait_until 5 grep -q "uint32 1" "$TAVRINE_SESSION_DIR/closed.mon"
kill "$mon"
check "calls can be cleared" mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
check "no calls after clearing" equals "$(mock_count_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify)" 0

# Screensavers
check "gnome screensaver mock starts" mock_gnome_screensaver
check "fdo screensaver mock starts" mock_fdo_screensaver
mon=$(watch_signal session ActiveChanged "$TAVRINE_SESSION_DIR/ss.mon")
check "screensaver can be activated" screensaver_set_active true
check "both screensavers announce it" wait_until 5 bash -c \
    "[ \"\$(grep -c 'member=ActiveChanged' '$TAVRINE_SESSION_DIR/ss.mon')\" = 2 ]"
check "gnome screensaver reads back active" contains \
    "$(gdbus call --session -d org.gnome.ScreenSaver -o /org/gnome/ScreenSaver -m org.gnome.ScreenSaver.GetActive)" true
check "fdo screensaver reads back active" contains \
    "$(gdbus call --session -d org.freedesktop.ScreenSaver -o /org/freedesktop/ScreenSaver -m org.freedesktop.ScreenSaver.GetActive)" true
kill "$mon"

# Tray host
check "StatusNotifierWatcher mock starts" mock_sni_watcher
check "a host is registered" contains \
    "$(gdbus call --session -d "$SNI_NAME" -o "$SNI_PATH" -m org.freedesktop.DBus.Properties.Get "$SNI_NAME" IsStatusNotifierHostRegistered)" true
# A stand-in tray item that records its clicks.
check "a tray item comes up" mock_start item session org.kde.StatusNotifierItem-1-1 \
    org.kde.StatusNotifierItem-1-1 /StatusNotifierItem org.kde.StatusNotifierItem
mock_call session org.kde.StatusNotifierItem-1-1 /StatusNotifierItem "$MOCK_IFACE.AddMethods" org.kde.StatusNotifierItem \
    "[('Activate', 'ii', '', ''), ('ContextMenu', 'ii', '', '')]" >/dev/null
mon=$(watch_signal session StatusNotifierItemRegistered "$TAVRINE_SESSION_DIR/sni.mon")
check "item registers by name" gdbus call --session -d "$SNI_NAME" -o "$SNI_PATH" -m "$SNI_NAME.RegisterStatusNotifierItem" org.kde.StatusNotifierItem-1-1
check "registration is announced" wait_until 5 grep -q "org.kde.StatusNotifierItem-1-1/StatusNotifierItem" "$TAVRINE_SESSION_DIR/sni.mon"
kill "$mon"
check "item is listed" equals "$(sni_items)" "org.kde.StatusNotifierItem-1-1/StatusNotifierItem"
check "registering twice lists it once" bash -c "
    gdbus call --session -d $SNI_NAME -o $SNI_PATH -m $SNI_NAME.RegisterStatusNotifierItem org.kde.StatusNotifierItem-1-1 >/dev/null &&
    [ \"\$(source \"\$TAVRINE_HARNESS_DIR/mocks.sh\"; sni_items | wc -l)\" = 1 ]"
check "clicking the item calls Activate" sni_activate 12 34
check "Activate received the position" equals \
    "$(mock_calls session org.kde.StatusNotifierItem-1-1 /StatusNotifierItem Activate | jq -c .args)" "[12,34]"
check "context click calls ContextMenu" sni_context_menu 5 6
check "ContextMenu received once" equals \
    "$(mock_count_calls session org.kde.StatusNotifierItem-1-1 /StatusNotifierItem ContextMenu)" 1
check "item registers by object path under its sender" bash -c "
    gdbus call --session -d $SNI_NAME -o $SNI_PATH -m $SNI_NAME.RegisterStatusNotifierItem /org/x/Item >/dev/null &&
    source \"\$TAVRINE_HARNESS_DIR/mocks.sh\" && sni_items | grep -Eq '^:[0-9]+\.[0-9]+/org/x/Item$'"

# Stopping
check "a second logind is refused" bash -c '! (source "$TAVRINE_HARNESS_DIR/mocks.sh"; mock_logind) 2>/dev/null'
mock_stop_all
check "all mocks gone from the buses" bash -c "
    source \"\$TAVRINE_HARNESS_DIR/mocks.sh\"
    ! _name_has_owner system $LOGIND_NAME && ! _name_has_owner system $UPOWER_NAME &&
    ! _name_has_owner session $NOTIFY_NAME && ! _name_has_owner session $SNI_NAME &&
    ! _name_has_owner session org.gnome.ScreenSaver && ! _name_has_owner session org.freedesktop.ScreenSaver"

checks_summary
