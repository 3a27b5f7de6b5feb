#!/usr/bin/env bash
# End-to-end scenarios: the real application in a private desktop session (run-in-session.sh), driven and
# checked only from outside: screenshots and pixel reads, the D-Bus mocks' recorded calls, the settings
# file, the process table.
#
# Usage (inside run-in-session.sh): e2e.sh SCENARIO...
#   onboarding  filter  states  shortcut  portal  pauses  preferences  camera  models  stall  already
#   notifyrestart  quit  snooze  lock  panel  xembed
# Environment: TAVRINE_BIN, TAVRINE_PROBE, E2E_CLIPS (made by make_clips.sh), E2E_SHOTS (where the README
# screenshots go), E2E_WORK (optional scratch dir).
# Ends with "N passed, N failed"; exit 77 when the face clips are missing.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/e2e}
E2E_SHOTS=${E2E_SHOTS:-$E2E_WORK/screenshots}
source "$here/lib.sh"
mkdir -p "$E2E_SHOTS"

[ $# -ge 1 ] || { echo "usage: e2e.sh SCENARIO..." >&2; exit 2; }
require_app
for name in facing story onlooker; do
    if [ -z "$(clip_path "$name")" ]; then
        echo "SKIP: the test clips are missing in '${E2E_CLIPS:-}' (no face data at \$TAVRINE_FACEDATA_DIR?)"
        exit 77
    fi
done

ONBOARDING_TITLE="Bienvenue dans Tavrine"
PREFS_TITLE="Préférences Tavrine"
PRIMARY_RGB="46 143 235" # the application's primary colour, #2e8feb
BUTTON_RGB="37 116 191"  # the prominent buttons' blue, darker for their white text
STRIPE_ALPHA_DEFAULT=0.42  # the stripes' opacity when no value is stored

expected() { expected_stripe_value "${2:-$STRIPE_ALPHA_DEFAULT}" "$(filter_alpha "$1" "${3:-3}")"; }

# The desktop every scenario starts from: a tray host, the system services, a white backdrop.
desktop_up() {
    mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications && mock_fdo_screensaver &&
        mock_gnome_screensaver && backdrop_start || {
        echo "FAIL could not set up the desktop mocks"
        summary
        exit 1
    }
}

# A user who has been through the onboarding already.
returning_user() { settings_seed "has_completed_onboarding=true"; }

# tray_registered: the application's icon is in the tray host.
tray_registered() { [ -n "$(sni_items)" ]; }

# The tray item's current icon, as a digest of its pixmaps.
tray_icon_digest() {
    local item service path
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || return 1
    service=${item%%/*}
    path=/${item#*/}
    gdbus call --session -d "$service" -o "$path" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem IconPixmap 2>/dev/null | md5sum | cut -c1-16
}

# The tray item's icon name and status, as the tray host reads them.
sni_string() { sni_property "$1" | grep -o "'[^']*'" | head -n 1 | tr -d "'"; }
tray_shows() { [ "$(sni_string IconName)" = "$1" ] && [ "$(sni_string Status)" = "$2" ]; }
# The named icon is there for the host: under the item's theme path, or in the installed theme.
tray_icon_found() {
    local name dir
    name=$(sni_string IconName)
    dir=$(sni_string IconThemePath)
    [ -n "$name" ] && [ -f "${dir:-/usr/share/icons}/hicolor/scalable/status/$name.svg" ]
}

tray_icon_differs() {
    local d
    d=$(tray_icon_digest)
    [ -n "$d" ] && [ "$d" != "$1" ]
}
tray_icon_is() { [ "$(tray_icon_digest)" = "$1" ]; }

notify_calls() { mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" Notify; }
close_calls() { mock_calls session "$NOTIFY_NAME" "$NOTIFY_PATH" CloseNotification; }
notified() { [ -n "$(notify_calls)" ]; }
closed_id() { close_calls | jq -s -e "any(.[]; .args[0] == $1)" >/dev/null; }
withdrawn() { [ -n "$(close_calls)" ]; }
count_of() { if [ -z "$1" ]; then echo 0; else echo "$1" | wc -l; fi; }
not() { ! "$@"; }

# Some stripes darken the left monitor, whatever their opacity.
some_stripes() {
    local png
    png=$(shot) && [ "$(darkest "$png" "$LEFT_AREA")" -lt 245 ]
}

onboarding_on_page() { [ "$(onboarding_page "$1")" = "$2" ]; }

# classify PNG: the overlay state a screenshot shows on the left monitor: none, nominal, inattention,
# alert or other (strength 3, default stripe opacity), followed by the darkest grey and the redness read.
classify() {
    local dark red
    dark=$(darkest "$1" "$LEFT_AREA")
    red=$("$TAVRINE_PROBE" redness "$1" $LEFT_AREA)
    awk -v d="$dark" -v r="$red" -v n="$(expected nominal)" -v i="$(expected inattention)" \
        -v a="$(expected alert)" 'BEGIN {
        state = "other"
        if (r > 12) state = "alert"
        else if (d >= 250) state = "none"
        else if (d - n <= 4 && n - d <= 4) state = "nominal"
        else if (d - i <= 4 && i - d <= 4) state = "inattention"
        else if (d - a <= 5 && a - d <= 5) state = "alert"
        print state, "dark=" d, "red=" r
    }'
}

# record_states SECS FILE: samples the overlay state as fast as screenshots allow; "millis state dark=N
# red=N" lines.
record_states() {
    local end=$(($(date +%s%N) / 1000000 + $1 * 1000)) png now
    : >"$2"
    while true; do
        now=$(($(date +%s%N) / 1000000))
        [ "$now" -ge "$end" ] && break
        png=$(shot sample) || continue
        echo "$now $(classify "$png")" >>"$2"
    done
}

# segments FILE: the runs of equal states, "state start_ms end_ms", with single-sample blips (a screenshot
# taken mid-repaint) folded into their neighbours.
segments() {
    awk '
        { t[NR] = $1; s[NR] = $2 }
        END {
            for (k = 2; k < NR; k++) if (s[k] != s[k-1] && s[k] != s[k+1] && s[k-1] == s[k+1]) s[k] = s[k-1]
            cur = ""; for (k = 1; k <= NR; k++) {
                if (s[k] != cur) { if (cur != "") print cur, start, t[k]; cur = s[k]; start = t[k] }
            }
            if (cur != "") print cur, start, t[NR]
        }' "$1"
}

# until_nominal STATE SEGMENTS: milliseconds from the first STATE segment to the next nominal one.
until_nominal() {
    awk -v s="$1" '$1 == s && !t0 { t0 = $2; next } t0 && $1 == "nominal" { print $2 - t0; exit }' "$2"
}

# --- 1. Onboarding on first launch only ----------------------------------------------------------------

# The onboarding's current page: which of its five page dots wears the primary colour.
onboarding_page() {
    local wid=$1 geometry png i x y best=-1
    geometry=$(window_geometry "$wid")
    read -r x y _ _ <<<"$geometry"
    png=$(window_shot "$wid" onboarding-page) || return 1
    for i in 0 1 2 3 4; do
        # Dots: 7 px discs 15 px apart, centred at the bottom of the 440x420 window, 20 px from its edge.
        if "$TAVRINE_PROBE" blobs "$png" $((186 + 15 * i + 2)) 394 3 3 "$(printf '#%02x%02x%02x' $PRIMARY_RGB)" 40 |
            grep -q .; then
            best=$i
        fi
    done
    echo "$best"
}

# click_primary WID [BELOW]: clicks the page's main button (the largest button-blue area of the lower
# half), or with BELOW the flat secondary button that sits under it.
click_primary() {
    local wid=$1 below=${2:-0} x y w h png bx by bw bh
    read -r x y w h <<<"$(window_geometry "$wid")"
    png=$(window_shot "$wid" onboarding-click) || return 1
    read -r bx by bw bh _ <<<"$("$TAVRINE_PROBE" blobs "$png" 0 $((h / 2)) "$w" $((h / 2 - 30)) \
        "$(printf '#%02x%02x%02x' $BUTTON_RGB)" 10 | head -n 1)"
    [ -n "${bh:-}" ] && [ "$bw" -ge 40 ] || { log "no primary button found"; return 1; }
    bx=$((bx + x))
    by=$((by + y))
    if [ "$below" = 1 ]; then
        click_at $((bx + bw / 2)) $((by + bh + 20))
    else
        click_at $((bx + bw / 2)) $((by + bh / 2))
    fi
}

scenario_onboarding() {
    app_start --camera "$(clip_path facing)"
    eventually 20 "first launch shows the onboarding window" window_shown "$ONBOARDING_TITLE"
    local wid
    wid=$(window_id "$ONBOARDING_TITLE")
    [ -n "$wid" ] || { app_stop; return; }
    check "the onboarding window is 440x420" [ "$(window_geometry "$wid" | awk '{print $3 "x" $4}')" = 440x420 ]
    eventually 15 "the tray icon is registered meanwhile" tray_registered
    eventually 15 "the filter runs while the onboarding is open" overlay_reads "$(expected nominal)"
    check "the flag is not set before the onboarding is done" not settings_is has_completed_onboarding true

    # Camera page: "Plus tard"; then the overlay page's "Compris", the notification page's main button,
    # then the last page through its dot, and "Activer".
    check "the onboarding opens on its first page" [ "$(onboarding_page "$wid")" = 0 ]
    local page
    for page in 1 2 3; do
        click_primary "$wid" $((page == 1))
        eventually 5 "the main button leads to page $((page + 1))" onboarding_on_page "$wid" "$page"
    done
    [ -n "$(window_id "$ONBOARDING_TITLE")" ] && { import -window "$wid" "$E2E_SHOTS/onboarding.png" 2>/dev/null || true; }
    local x y
    read -r x y _ _ <<<"$(window_geometry "$wid")"
    click_at $((x + 186 + 60 + 3)) $((y + 396))
    eventually 5 "the page dots lead to the last page" onboarding_on_page "$wid" 4
    click_primary "$wid"
    eventually 5 "finishing closes the onboarding window" window_gone "$ONBOARDING_TITLE"
    eventually 5 "finishing stores the onboarding flag" settings_is has_completed_onboarding true
    check "\"Activer\" registered the XDG autostart entry" test -f "$XDG_CONFIG_HOME/autostart/tavrine.desktop"

    app_stop
    check "the application ends cleanly on SIGTERM" [ "$APP_STATUS" = 0 ]
    app_start --camera "$(clip_path facing)"
    eventually 20 "the next launch starts the filter" overlay_reads "$(expected nominal)"
    check "the next launch shows no onboarding" stays 3 window_gone "$ONBOARDING_TITLE"
    app_stop
}

# --- 2. The filter starts by itself ---------------------------------------------------------------------

scenario_filter() {
    returning_user
    local png
    png=$(shot before)
    check "the backdrop is white before the start" overlay_gone
    app_start --camera "$(clip_path facing)"
    eventually 20 "stripes on both monitors at the nominal alpha (strength 3: $(filter_alpha nominal 3))" \
        overlay_reads "$(expected nominal)"
    echo "     reading: $LAST_READING"
    png=$(shot overlay-nominal)
    check "stripes alternate: gaps keep the background" [ "$(brightest "$png" "$LEFT_AREA")" -ge 250 ]
    # A stripe pattern, not a uniform veil: some pixels of every 8-pixel row segment are dark.
    check "the stripes are diagonal and fine" bash -c "
        for dx in 0 8 16 24; do
            v=\$('$TAVRINE_PROBE' stats '$png' \$((60 + dx)) 700 8 1 | awk '{print \$2}')
            [ \"\$v\" -lt 240 ] || exit 1
        done"
    check "no onboarding for a returning user" window_gone "$ONBOARDING_TITLE"
    check "the tray icon is registered" tray_registered
    # The overlay over a window, for the README.
    convert "$png" -crop 640x400+0+400 +repage "$E2E_SHOTS/overlay-stripes.png" 2>/dev/null || true
    app_stop

    local demo
    demo=$("$TAVRINE_BIN" --help 2>&1 | grep -c -- "--camera")
    if [ "$demo" -ge 1 ]; then
        app_start --camera demo
        if poll 10 bash -c "grep -qi 'demo' '$APP_LOG'" && ! app_alive; then
            skip "the demo clip is not installed in this build"
        else
            eventually 20 "the demo clip runs the filter too" some_stripes
        fi
        app_stop
    fi
}

# --- 3. Look-away, onlooker, departure ------------------------------------------------------------------

scenario_states() {
    returning_user
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    app_start --camera "$(clip_path story)"
    # The clip: facing 0-8 s, looking away 8-14 s, facing 14-18 s, an onlooker 18-24 s, facing 24-40 s.
    local states="$E2E_WORK/states.log"
    record_states 34 "$states"
    segments "$states" >"$E2E_WORK/segments.log"
    echo "     states seen: $(awk '{printf "%s %.1fs; ", $1, ($3 - $2) / 1000}' "$E2E_WORK/segments.log")"
    local sequence
    sequence=$(awk '$1 != "none" && $1 != "other" {print $1}' "$E2E_WORK/segments.log" | uniq | tr '\n' ' ')
    check "the overlay goes nominal, inattention, nominal, alert, nominal ($sequence)" \
        bash -c "[[ '$sequence' == *'nominal inattention nominal alert nominal'* ]]"
    local inattention alert
    # From a state's first sample to the next nominal one: a sample the classifier cannot place (a
    # screenshot of a compositor that lags behind on a loaded machine) does not end the state.
    inattention=$(until_nominal inattention "$E2E_WORK/segments.log")
    alert=$(until_nominal alert "$E2E_WORK/segments.log")
    if grep -q ' other ' "$states"; then
        echo "     unplaced samples: $(grep ' other ' "$states" | cut -d' ' -f3- | sort | uniq -c | tr -s ' ' | tr '\n' ';')"
    fi
    # 6 s of looking away minus the 1.5 s delay; 6 s of onlooker plus the 3 s hold.
    check "inattention starts after the delay: ${inattention:-?} ms of 6000 ms looking away" \
        awk -v d="${inattention:-0}" 'BEGIN { exit !(d >= 3300 && d <= 5600) }'
    check "the alert holds 3 s after the onlooker leaves: ${alert:-?} ms for 6000 ms of onlooker" \
        awk -v d="${alert:-0}" 'BEGIN { exit !(d >= 7800 && d <= 10800) }'
    check "the alert flashes red" awk '$2 == "alert" && substr($4, 5) + 0 > 12 { red = 1 } END { exit !red }' "$states"

    local notifies closes id
    notifies=$(notify_calls)
    closes=$(close_calls)
    check "exactly one notification for the onlooker" [ "$(count_of "$notifies")" = 1 ]
    check "the notification comes from Tavrine with a title" \
        bash -c "echo '$notifies' | head -n 1 | jq -e '.args[0] == \"Tavrine\" and (.args[3] | length) > 0' >/dev/null"
    id=1
    check "the departure closes that notification" bash -c "echo '$closes' | jq -e '.args[0] == $id' >/dev/null"
    check "the notification is closed after the alert ends, not before" bash -c "
        n=\$(echo '$notifies' | jq '.time' | head -n 1); c=\$(echo '$closes' | jq '.time' | head -n 1)
        [ -n \"\$c\" ] && [ \"\$c\" -ge \$((n + 8)) ]"
    app_stop
}

# --- 4. Super+Shift+C ---------------------------------------------------------------------------------

scenario_shortcut() {
    returning_user
    local clip
    clip=$(clip_path facing)
    app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    eventually 5 "one session counted at start" settings_is stats_session_count 1
    check "the camera clip is open" app_holds_file "$clip"
    local t0=$SECONDS
    sleep 3 # active time to be counted
    xdotool key super+shift+c
    eventually 5 "Super+Shift+C stops the filter: overlays gone" overlay_gone
    eventually 5 "the camera is released" bash -c "! ls -l /proc/$APP_PID/fd 2>/dev/null | grep -qF -- '$clip'"
    local active=$((SECONDS - t0))
    eventually 5 "the active seconds are added (about ${active}s)" bash -c "
        v=\$(sed -n 's/^stats_total_active_seconds=//p' '$(settings_file)'); [ -n \"\$v\" ] && [ \$v -ge 2 ] && [ \$v -le $((active + 2)) ]"
    local first
    first=$(settings_get stats_total_active_seconds)
    xdotool key super+c shift+c ctrl+alt+super+c ctrl+alt+shift+c
    check "Super+C and Shift+C do nothing, whatever else is held" stays 2 overlay_gone
    # Held by accident besides Super and Shift: Ctrl, Alt, AltGr, Num Lock still toggle.
    xdotool key ctrl+alt+ISO_Level3_Shift+super+shift+c
    eventually 15 "Super+Shift+C with Ctrl, Alt and AltGr held starts it again" overlay_reads "$(expected nominal)"
    eventually 5 "a second session is counted" settings_is stats_session_count 2
    check "the camera clip is open again" app_holds_file "$clip"
    sleep 2
    xdotool key Num_Lock ctrl+super+shift+c Num_Lock
    eventually 5 "with Num Lock on and Ctrl held, it stops again" overlay_gone
    eventually 5 "the second run's seconds are added" bash -c "
        v=\$(sed -n 's/^stats_total_active_seconds=//p' '$(settings_file)'); [ \"\$v\" -gt '${first:-0}' ]"
    app_stop
    check "the application ends cleanly" [ "$APP_STATUS" = 0 ]
}

# --- 4b. The shortcut in a Wayland session: the desktop portal, a refusal, no portal --------------------

# The binding the application asked the portal for: our id, Super+Shift+C as the preferred trigger.
portal_bound() {
    mock_calls session "$PORTAL_NAME" "$PORTAL_PATH" BindShortcuts |
        jq -e -s 'length == 1 and .[0].args[1] == [["toggle-filter", {"description": .[0].args[1][0][1].description,
            "preferred_trigger": "LOGO+SHIFT+c"}]]' >/dev/null
}

# prefs_colours: opens the preferences from the tray; prints how many pixels of the window are warning
# orange and how many are the switches' primary blue.
prefs_colours() {
    local panel prefs x y w h png
    panel=$(open_panel) || return 1
    read -r x y w h <<<"$(window_geometry "$panel")"
    click_at $((x + 100)) $((y + PANEL_PREFS_ROW_Y))
    poll 5 window_shown "$PREFS_TITLE" || return 1
    prefs=$(window_id "$PREFS_TITLE")
    sleep 0.5
    png=$(window_shot "$prefs") || return 1
    read -r x y w h <<<"$(window_geometry "$prefs")"
    local colour
    for colour in '#ff9400' "$(printf '#%02x%02x%02x' $PRIMARY_RGB)"; do
        "$TAVRINE_PROBE" blobs "$png" 0 0 "$w" "$h" "$colour" 40 | awk '{n += $5} END {printf "%d ", n}'
    done
    echo
}

scenario_portal() {
    returning_user
    local clip granted denied xonly
    clip=$(clip_path facing)
    mock_shortcuts_portal 0 || { fail "the portal mock did not start"; return; }
    XDG_SESSION_TYPE=wayland app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    eventually 5 "the portal is asked to bind toggle-filter to Super+Shift+C" portal_bound
    check "the choice of the portal is told once" [ "$(grep -c 'desktop portal' "$APP_LOG")" = 1 ]
    portal_press toggle-filter
    eventually 5 "the portal's Activated stops the filter" overlay_gone
    xdotool key super+shift+c
    check "no X key grab runs beside the portal" stays 2 overlay_gone
    portal_press toggle-filter
    eventually 15 "Activated starts it again" overlay_reads "$(expected nominal)"
    granted=$(prefs_colours)
    app_stop
    mock_stop shortcuts_portal

    # The user declines when the desktop asks.
    mock_shortcuts_portal 1 || { fail "the portal mock did not start"; return; }
    XDG_SESSION_TYPE=wayland app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    eventually 5 "the refusal is reported once" bash -c "[ \$(grep -c 'declined' '$APP_LOG') = 1 ]"
    check "no portal session stays open" [ -z "$(portal_sessions)" ]
    denied=$(prefs_colours)
    check "the preferences show a warning line and the switch off ($granted -> $denied)" \
        bash -c "set -- $granted $denied; [ \$3 -gt \$1 ] && [ \$4 -lt \$2 ]"
    app_stop
    mock_stop shortcuts_portal

    # No portal, the application on XWayland: the key grab stays, for the keys typed into X11 windows.
    XDG_SESSION_TYPE=wayland app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    check "the XWayland grab is told" grep -q 'XWayland key grab' "$APP_LOG"
    xdotool key super+shift+c
    eventually 5 "Super+Shift+C typed into an X11 window stops the filter" overlay_gone
    xonly=$(prefs_colours)
    check "the preferences say it answers in X11 windows only, the switch stays on ($granted -> $xonly)" \
        bash -c "set -- $granted $xonly; [ \$3 -gt \$1 ] && [ \$4 -ge \$2 ]"
    app_stop
}

# --- 5. Sleep, screensaver, session switch, battery ----------------------------------------------------

scenario_pauses() {
    returning_user
    app_start --camera "$(clip_path facing)"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    local icon_running
    icon_running=$(tray_icon_digest)

    logind_prepare_for_sleep true
    eventually 5 "PrepareForSleep(true) hides the overlays" overlay_gone
    eventually 5 "the tray icon shows the pause" tray_icon_differs "$icon_running"
    logind_prepare_for_sleep false
    eventually 10 "wake brings them back" overlay_reads "$(expected nominal)"

    screensaver_set_active true
    eventually 5 "the screensaver hides the overlays" overlay_gone
    screensaver_set_active false
    eventually 10 "the screensaver ending brings them back" overlay_reads "$(expected nominal)"

    logind_set_session_active false
    eventually 5 "switching the session away hides the overlays" overlay_gone
    logind_set_session_active true
    eventually 10 "coming back to the session brings them back" overlay_reads "$(expected nominal)"

    # The battery is checked every 30 s: each change shows at the next check, at most 30 s later.
    upower_set_battery 5 2
    eventually 45 "a battery under the 10 % threshold pauses the filter" overlay_gone
    upower_set_battery 5 1
    eventually 45 "charging resumes it" overlay_reads "$(expected nominal)"
    app_stop
}

# --- 6. Preferences through the user interface ----------------------------------------------------------

# open_panel: clicks the tray item; prints the panel's window id.
open_panel() {
    xdotool mousemove --sync 900 150
    sni_activate 900 150 || return 1
    poll 5 window_shown Tavrine || return 1
    window_id Tavrine
}

# The rows of the panel, from its top: a 64 px header, a divider, then 36 px rows.
PANEL_PREFS_ROW_Y=123
PANEL_QUIT_ROW_Y=204

scenario_preferences() {
    returning_user
    app_start --camera "$(clip_path facing)"
    eventually 20 "the filter runs at strength 3" overlay_reads "$(expected nominal)"
    eventually 10 "the tray icon is registered" tray_registered
    eventually 5 "the tray names the open eye of the icon theme, status Active" \
        tray_shows tavrine-active-symbolic Active
    check "the tray host finds that icon" tray_icon_found
    local panel x y w h
    panel=$(open_panel)
    check "the tray icon opens the panel" [ -n "$panel" ]
    [ -n "$panel" ] || { app_stop; return; }
    read -r x y w h <<<"$(window_geometry "$panel")"
    import -window "$panel" "$E2E_SHOTS/panel.png" 2>/dev/null
    check "the panel is 320 px wide (plus its frame)" [ "$w" -ge 320 ] && [ "$w" -le 324 ]
    click_at $((x + 100)) $((y + PANEL_PREFS_ROW_Y))
    eventually 5 "the preferences row opens the preferences window" window_shown "$PREFS_TITLE"
    local prefs
    prefs=$(window_id "$PREFS_TITLE")
    [ -n "$prefs" ] || { app_stop; return; }
    read -r x y w h <<<"$(window_geometry "$prefs")"
    check "the preferences window is 560x440" [ "${w}x${h}" = 560x440 ]
    import -window "$prefs" "$E2E_SHOTS/preferences.png" 2>/dev/null

    # "Force du filtre": focus its slider by a click on its handle (strength 3 sits mid-groove), then one
    # step to the right.
    local handle
    handle=$(strength_handle "$prefs")
    check "the strength slider is found" [ -n "$handle" ]
    if [ -n "$handle" ]; then
        click_at $handle
        xdotool key Right
    fi
    eventually 3 "strength 4 reaches the overlay at once" overlay_reads "$(expected nominal "" 4)"
    eventually 3 "strength 4 is saved" settings_is filter_strength 4
    # The overlay seen through, for the README.
    local png
    png=$(shot overlay-over-preferences)
    convert "$png" -crop 760x560+$((x - 100))+$((y - 60)) +repage "$E2E_SHOTS/overlay.png" 2>/dev/null || true

    app_stop
    check "the settings file keeps strength 4 after quitting" settings_is filter_strength 4
    app_start --camera "$(clip_path facing)"
    eventually 20 "a restart restores strength 4 on the overlay" overlay_reads "$(expected nominal "" 4)"
    app_stop
}

# strength_handle WID: "X Y" of the first slider's handle in the preferences window, found as the
# middle of the first slider row's groove (the widest light-grey run right of the 200 px label column).
strength_handle() {
    local wid=$1 x y w h
    read -r x y w h <<<"$(window_geometry "$wid")"
    # The slider row: label column 24..224, slider from x+240; the first row sits below the section title.
    local gx=$((x + 240)) gw=$((w - 240 - 24 - 16 - 36))
    local png row
    png=$(window_shot "$wid" prefs-layout) || return 1
    # Scan rows 50..130 of the window for the slider handle: a compact blob that is not the background.
    for row in $(seq 50 2 130); do
        local s
        s=$("$TAVRINE_PROBE" stats "$png" 240 "$row" "$gw" 1)
        # A groove row has dark and light pixels across the whole width.
        if awk -v s="$s" 'BEGIN { split(s, v, " "); exit !(v[4] - v[1] > 40) }'; then
            echo "$((gx + gw / 2)) $((y + row + 2))"
            return 0
        fi
    done
    return 1
}

# --- 7. The camera goes and comes back ------------------------------------------------------------------

camera_shown_missing() { overlay_gone && tray_tooltip_has "Caméra indisponible"; }
camera_not_shown_missing() { tray_tooltip_has Tavrine && ! tray_tooltip_has "Caméra indisponible"; }
# The lines the application printed about the camera.
camera_log_lines() { grep -c "caméra" "$APP_LOG"; }

scenario_camera() {
    returning_user
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    # A camera known by its persistent name, as under /dev/v4l/by-id.
    local dev="$E2E_WORK/dev"
    rm -rf "$dev"
    mkdir -p "$dev/v4l/by-id"
    local cam="$dev/v4l/by-id/usb-Test_Camera_0001-video-index0"
    cp "$(clip_path facing)" "$dev/video3.webm"
    ln -s ../../video3.webm "$cam"
    app_start --camera "$cam"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    eventually 5 "the tray does not say the camera is missing" camera_not_shown_missing
    local icon_running
    icon_running=$(tray_icon_digest)

    # Unplugged: its node and its name are gone, and a loopback camera (a clip without a face, which
    # would show inattention stripes if taken) sits on another node.
    : >"$dev/video3.webm"
    rm -f "$dev/video3.webm" "$cam"
    cp "$(clip_path empty)" "$dev/video0.webm"
    eventually 15 "losing the camera hides the stripes and the tray says the camera is missing" camera_shown_missing
    eventually 5 "the tray names the struck-through eye" tray_shows tavrine-paused-symbolic Active
    check "the tooltip says the protection comes back by itself" tray_tooltip_has "reprendra d"
    eventually 5 "the tray icon shows the pause" tray_icon_differs "$icon_running"
    # Past two 5 s retries: no timer alone brings the filter back to "running".
    check "it stays shown missing while the camera is away (12 s)" stays 12 camera_shown_missing
    check "the application keeps running" app_alive
    check "the retries are not logged one by one ($(camera_log_lines) lines)" [ "$(camera_log_lines)" -le 3 ]

    # Back under another node, found by its name; it now shows an onlooker: only analysed frames can
    # raise the notification.
    cp "$(clip_path onlooker)" "$dev/video5.webm"
    ln -s ../../video5.webm "$cam"
    local t0=$SECONDS
    eventually 15 "the camera back: its frames are analysed again (onlooker notified)" notified
    echo "     onlooker seen $((SECONDS - t0)) s after the camera came back"
    eventually 5 "the tray no longer says the camera is missing" camera_not_shown_missing
    check "the loopback camera was never opened" bash -c "! ls -l /proc/$APP_PID/fd 2>/dev/null | grep -qF video0.webm"
    app_stop
}

# --- 7b. The stream goes silent without an error -----------------------------------------------------------

scenario_stall() {
    returning_user
    # Four seconds of a face, then nothing for a minute (the next frame is stamped at 60 s): the file
    # stays open and readable, the stream just stops delivering.
    local clip="$E2E_WORK/stall.webm"
    ffmpeg -loglevel error -y -i "$(clip_path facing)" \
        -vf "select='lte(n\,60)',setpts='if(lte(N\,59)\,PTS-STARTPTS\,60/TB)'" -fps_mode passthrough \
        -c:v libvpx -b:v 1M "$clip" || { fail "could not make the silent clip"; return; }
    app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    local t0=$SECONDS
    eventually 12 "a stream silent for 3 s shows the camera missing" camera_shown_missing
    echo "     shown missing $((SECONDS - t0)) s after the filter was seen running"
    # The retry reopens the source, which delivers its first seconds again.
    eventually 10 "the restarted camera runs the filter again" overlay_reads "$(expected nominal)"
    check "the camera said it stopped and came back" bash -c "grep -q 'ne donne plus' '$APP_LOG' && grep -q 'de nouveau' '$APP_LOG'"
    app_stop
}

# --- 7c. A desktop already locked, switched away or on a low battery at launch ------------------------------

scenario_already() {
    returning_user
    local what setup undo
    for what in screensaver session battery; do
        mock_stop_all
        case $what in
        screensaver)
            setup="mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_gnome_screensaver && screensaver_set_active true"
            undo="screensaver_set_active false" ;;
        session)
            setup="mock_sni_watcher && mock_logind false && mock_upower 80 2"
            undo="logind_set_session_active true" ;;
        battery)
            setup="mock_sni_watcher && mock_logind && mock_upower 5 2"
            undo="upower_set_battery 5 1" ;;
        esac
        eval "$setup" || { fail "$what: the mocks did not start"; continue; }
        mock_notifications
        app_start --camera "$(clip_path facing)"
        eventually 15 "$what already on at launch: the tray shows the pause" tray_tooltip_has "En pause"
        check "$what: no stripes while paused" stays 3 overlay_gone
        eval "$undo"
        # The battery is checked every 30 s.
        eventually 45 "$what ended: the filter runs" overlay_reads "$(expected nominal)"
        app_stop
    done
}

# --- 7d. The notification daemon restarts between two alerts ---------------------------------------------

scenario_notifyrestart() {
    returning_user
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    app_start --camera "$(clip_path onlooker)"
    eventually 25 "the onlooker raises a notification" notified
    # The clip: an onlooker for 20 s, then the user alone for 10 s; the alert ends about 3 s after.
    eventually 30 "its departure closes it" withdrawn
    mock_stop notifications
    mock_notifications || { fail "the notification daemon did not restart"; return; }
    # Alert notifications are at least 30 s apart: this is the clip's second or third onlooker.
    eventually 60 "the next onlooker notifies through the new daemon" notified
    local notifies
    notifies=$(notify_calls)
    check "one notification, not a replacement of an id the new daemon never gave" \
        bash -c "[ '$(count_of "$notifies")' = 1 ] && echo '$notifies' | jq -e '.args[1] == 0' >/dev/null"
    # The new daemon numbers its notifications from 1.
    eventually 30 "its withdrawal closes that notification" closed_id 1
    app_stop
}

# --- Face models that cannot load ------------------------------------------------------------------------

# tray_tooltip: the tray item's tooltip as the tray host reads it.
tray_tooltip() {
    local item
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || return 1
    gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem ToolTip 2>/dev/null
}
tray_tooltip_says() { tray_tooltip | grep -qF -- "$1"; }

scenario_models() {
    returning_user
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    # Model files that are there but broken, as a damaged installation leaves them.
    local models="$E2E_WORK/broken-models"
    mkdir -p "$models"
    echo "not a model" >"$models/face_detection_back_256x256_barracuda.onnx"
    echo "not a model" >"$models/face_detection_front_128x128_barracuda.onnx"
    TAVRINE_MODEL_DIR=$models app_start --camera "$(clip_path facing)"
    eventually 20 "a notification tells the user" notified
    local notifies
    notifies=$(notify_calls)
    check "its title says the face analysis is unavailable" \
        bash -c "echo '$notifies' | head -n 1 | jq -e '.args[3] == \"Analyse du visage indisponible\"' >/dev/null"
    check "its text says to reinstall" \
        bash -c "echo '$notifies' | head -n 1 | jq -e '.args[4] | test(\"Réinstallez Tavrine\")' >/dev/null"
    check "no stripes pretend to protect the screen" stays 6 overlay_gone
    check "the application keeps running" app_alive
    eventually 10 "the tray tooltip says so" tray_tooltip_says "analyse du visage indisponible"
    check "one notification only" [ "$(count_of "$(notify_calls)")" = 1 ]
    app_stop
}

# --- 8. Quit from the panel -----------------------------------------------------------------------------

scenario_quit() {
    returning_user
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    app_start --camera "$(clip_path onlooker)"
    eventually 20 "the onlooker raises a notification" notified
    eventually 10 "the tray icon is registered" tray_registered
    eventually 5 "during the alert the tray item asks for attention with the alert eye" \
        tray_shows tavrine-alert-symbolic NeedsAttention
    local panel x y w h
    panel=$(open_panel)
    check "the tray icon opens the panel" [ -n "$panel" ]
    [ -n "$panel" ] || { app_stop; return; }
    read -r x y w h <<<"$(window_geometry "$panel")"
    click_at $((x + 100)) $((y + PANEL_QUIT_ROW_Y))
    eventually 10 "\"Quitter\" ends the process" bash -c "! kill -0 $APP_PID 2>/dev/null"
    app_wait_exit 2
    check "the exit status is 0 (got ${APP_STATUS:-?})" [ "${APP_STATUS:-x}" = 0 ]
    check "the alert notification is withdrawn" withdrawn
    check "the overlays are gone" overlay_gone
}

# --- 9. A timed pause from the panel ---------------------------------------------------------------------

# The pause button beside the switch and the "Reprendre maintenant" row shown during a timed pause.
PANEL_PAUSE_BUTTON_X=241
PANEL_HEADER_Y=34
PANEL_RESUME_ROW_Y=87
NBSP=$(printf '\302\240')

# The tray item's tooltip as the tray host reads it.
tray_tooltip() {
    local item
    item=$(sni_items | head -n 1)
    [ -n "$item" ] || return 1
    gdbus call --session -d "${item%%/*}" -o "/${item#*/}" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem ToolTip
}
tray_tooltip_has() { tray_tooltip | grep -qF -- "$1"; }

# panel_window: the open panel's id, opening it from the tray when it is closed.
panel_window() {
    local panel
    panel=$(window_id Tavrine)
    [ -n "$panel" ] && { echo "$panel"; return 0; }
    open_panel
}

# pause_from_panel N: the Nth entry of the pause menu, chosen with the keyboard.
pause_from_panel() {
    local panel x y i
    panel=$(panel_window) || return 1
    read -r x y _ _ <<<"$(window_geometry "$panel")"
    click_at $((x + PANEL_PAUSE_BUTTON_X)) $((y + PANEL_HEADER_Y))
    sleep 0.5
    for ((i = 0; i < $1; i++)); do xdotool key Down; done
    xdotool key Return
}

scenario_snooze() {
    returning_user
    local clip panel x y icon_running
    clip=$(clip_path facing)
    app_start --camera "$clip"
    eventually 20 "the filter runs" overlay_reads "$(expected nominal)"
    eventually 10 "the tray icon is registered" tray_registered
    icon_running=$(tray_icon_digest)
    check "the tooltip names the application" tray_tooltip_has Tavrine
    check "the tooltip shows no pause" not tray_tooltip_has reprise

    pause_from_panel 1
    eventually 5 "\"Suspendre 15 min\" hides the overlays" overlay_gone
    eventually 5 "the camera is released" not app_holds_file "$clip"
    eventually 5 "the tooltip shows the time left" tray_tooltip_has "reprise dans 15${NBSP}min"
    echo "     tooltip: $(tray_tooltip)"
    eventually 5 "the tray icon shows the pause" tray_icon_differs "$icon_running"
    panel=$(panel_window)
    read -r x y _ _ <<<"$(window_geometry "$panel")"
    [ -n "$panel" ] && import -window "$panel" "$E2E_SHOTS/panel-paused.png" 2>/dev/null
    click_at $((x + 100)) $((y + PANEL_RESUME_ROW_Y))
    eventually 15 "\"Reprendre maintenant\" brings the overlays back" overlay_reads "$(expected nominal)"
    eventually 5 "the camera is open again" app_holds_file "$clip"
    eventually 5 "the tooltip no longer shows a pause" not tray_tooltip_has reprise

    pause_from_panel 2
    eventually 5 "\"Suspendre 1 h\" hides the overlays" overlay_gone
    eventually 5 "the tooltip shows one hour left" tray_tooltip_has "reprise dans 1${NBSP}h"
    app_stop
    check "quitting during a pause ends cleanly" [ "$APP_STATUS" = 0 ]
    app_start --camera "$clip"
    eventually 20 "the next launch starts as usual: the pause is forgotten" overlay_reads "$(expected nominal)"
    check "no pause in the tooltip" not tray_tooltip_has reprise
    app_stop
}

# --- 10. Locking the session when the user leaves -------------------------------------------------------

lock_calls() { mock_count_calls system "$LOGIND_NAME" "$LOGIND_SESSION_PATH" Lock; }
locked() { [ "$(lock_calls)" -ge 1 ]; }
lock_warnings() { notify_calls | grep -F "Verrouillage dans 10"; }
lock_warned() { [ -n "$(lock_warnings)" ]; }

scenario_lock() {
    local clip
    require_clip leaving
    settings_seed "has_completed_onboarding=true" "lock_on_absence=true" "lock_delay_ms=30000"
    mock_clear_calls session "$NOTIFY_NAME" "$NOTIFY_PATH"
    mock_clear_calls system "$LOGIND_NAME" "$LOGIND_SESSION_PATH"
    # The clip: facing 0-5 s, nobody 5-41 s, facing 41-47 s, nobody 47-97 s.
    app_start --camera "$clip"
    eventually 20 "the filter runs" some_stripes
    eventually 45 "30 s without a face: the lock warning" lock_warned
    check "the warning says how to cancel" bash -c "echo '$(lock_warnings | head -n 1)' |
        jq -e '.args[4] == \"Verrouillage dans 10\u00a0s \u2014 revenez devant l\u2019\u00e9cran pour annuler\"' >/dev/null"
    eventually 10 "the user back within the 10 s: the warning is withdrawn" withdrawn
    check "and the session is not locked" stays 6 not locked
    eventually 50 "the user leaves again: the session is locked through logind" locked
    check "locked once for this absence" stays 6 [ "$(lock_calls)" = 1 ]
    check "two warnings in all" [ "$(count_of "$(lock_warnings)")" = 2 ]
    eventually 5 "the lock is counted in the statistics" settings_is stats_lock_count 1
    app_stop
}

# --- 11. The panel from the tray: the statistics reset, the panel kept in place --------------------------

PANEL_STATS_ROW_Y=87

# same_anchor "X Y W H" "X Y W H": the same centre line and top edge (the panel opens below the pointer).
same_anchor() {
    local a b
    read -r -a a <<<"$1"
    read -r -a b <<<"$2"
    local dx=$((b[0] + b[2] / 2 - a[0] - a[2] / 2))
    [ "${dx#-}" -le 1 ] && [ "${b[1]}" = "${a[1]}" ]
}

# Areas of the panel's home page: the status line under the name, and the notice under the header.
PANEL_STATUS_AREA="64 37 170 16"
PANEL_NOTICE_AREA="16 64 288 30"

# panel_reads SCHEME PNG: the panel's window shot has the scheme's background and its status line and
# notice read at 4.5:1 or more.
panel_reads() {
    local png=$2 bg status notice
    read -r status bg <<<"$("$TAVRINE_PROBE" contrast "$png" $PANEL_STATUS_AREA)"
    read -r notice _ <<<"$("$TAVRINE_PROBE" contrast "$png" $PANEL_NOTICE_AREA)"
    LAST_READING="background luminance $bg, status $status:1, notice $notice:1"
    echo "     $1: $LAST_READING"
    if [ "$1" = dark ]; then awk -v b="$bg" 'BEGIN { exit !(b < 0.1) }' || return 1; else awk -v b="$bg" 'BEGIN { exit !(b > 0.6) }' || return 1; fi
    awk -v s="$status" -v n="$notice" 'BEGIN { exit !(s >= 4.5 && n >= 4.5) }'
}

camera_advice_shown() { tray_tooltip_has "Caméra indisponible" && tray_tooltip_has "Branchez une caméra"; }

scenario_panel() {
    # No camera, a desktop that prefers the dark scheme, then switches to the light one.
    returning_user
    mock_portal_settings 1 || { fail "the portal mock did not start"; return; }
    app_start
    eventually 10 "the tray icon is registered" tray_registered
    eventually 10 "without a camera the tooltip says so and what to do" camera_advice_shown
    local panel png scheme
    for scheme in dark light; do
        [ "$scheme" = light ] && portal_set_color_scheme 2
        panel=$(open_panel)
        check "the tray icon opens the panel ($scheme)" [ -n "$panel" ]
        [ -n "$panel" ] || continue
        sleep 0.3
        png=$(window_shot "$panel" "panel-no-camera-$scheme")
        cp "$png" "$E2E_SHOTS/panel-no-camera-$scheme.png" 2>/dev/null
        check "$scheme scheme: the panel follows it and its status and notice read at 4.5:1" panel_reads "$scheme" "$png"
        xdotool key Escape
        poll 5 window_gone Tavrine
    done
    app_stop
    mock_stop portal_settings

    settings_seed "has_completed_onboarding=true" "stats_alert_count=4" "stats_lock_count=1" \
        "stats_total_active_seconds=4000"
    app_start --camera "$(clip_path facing)"
    eventually 10 "the tray icon is registered" tray_registered
    local home stats x y w h
    panel=$(open_panel)
    check "the tray icon opens the panel" [ -n "$panel" ]
    [ -n "$panel" ] || { app_stop; return; }
    home=$(window_geometry "$panel")
    read -r x y w h <<<"$home"
    click_at $((x + 100)) $((y + PANEL_STATS_ROW_Y))
    eventually 5 "Statistiques makes the panel taller" bash -c "[ \$(xwininfo -id $panel | awk '/Height:/ {print \$NF}') -gt $h ]"
    stats=$(window_geometry "$panel")
    check "the panel keeps its place though the pointer moved ($home -> $stats)" same_anchor "$home" "$stats"
    import -window "$panel" "$E2E_SHOTS/panel-stats.png" 2>/dev/null
    read -r x y w h <<<"$stats"
    # "Réinitialiser" at the bottom left; the question's "Réinitialiser" then sits at the bottom right.
    click_at $((x + 50)) $((y + h - 27))
    sleep 0.5
    check "the panel stays open while it asks" window_shown Tavrine
    check "asking alone changes nothing" settings_is stats_alert_count 4
    import -window "$panel" "$E2E_SHOTS/panel-stats-reset.png" 2>/dev/null
    click_at $((x + w - 50)) $((y + h - 27))
    eventually 5 "confirmed: the alerts are zero in the settings file" settings_is stats_alert_count 0
    check "and the locks and the time too" bash -c "[ \"\$(sed -n 's/^stats_lock_count=//p;s/^stats_total_active_seconds=//p' '$(settings_file)' | sort -u)\" = 0 ]"
    check "the panel is still open" window_shown Tavrine
    app_stop
}

# --- 12. An XEmbed tray, without a StatusNotifier host --------------------------------------------------

# The XEmbed tray's window: "X Y W H".
xembed_tray_geometry() { window_geometry "$(xwininfo -root -children | awk '/"panel"/ {print $1; exit}')"; }
# The tray holds an icon: it grew wider than its empty width.
xembed_icon_docked() { local g; read -r -a g <<<"$(xembed_tray_geometry)"; [ "${g[2]:-0}" -ge 16 ]; }

scenario_xembed() {
    returning_user
    source "$TAVRINE_HARNESS_DIR/x11.sh"
    mock_stop sni_watcher
    x_start_trayer || { fail "the XEmbed tray did not start"; mock_sni_watcher; return; }
    app_start --camera "$(clip_path facing)"
    eventually 15 "the icon docks in the XEmbed tray" xembed_icon_docked
    local x y w h panel px py
    read -r x y w h <<<"$(xembed_tray_geometry)"
    click_at $((x + w - h / 2)) $((y + h / 2))
    eventually 5 "a click on the docked icon opens the panel" window_shown Tavrine
    panel=$(window_id Tavrine)
    if [ -n "$panel" ]; then
        read -r px py _ _ <<<"$(window_geometry "$panel")"
        check "the panel opens under the tray ($px $py under $x $y $w $h)" [ "$py" -ge $((y + h)) ] && [ "$py" -le $((y + h + 12)) ]
    fi
    app_stop
    kill "$(cat "$TAVRINE_SESSION_DIR/trayer.pid")" 2>/dev/null
    mock_sni_watcher
}

desktop_up
for scenario in "$@"; do
    E2E_SCENARIO=$scenario
    if ! declare -F "scenario_$scenario" >/dev/null; then
        fail "no scenario named $scenario"
        continue
    fi
    "scenario_$scenario"
    app_stop
done
summary
