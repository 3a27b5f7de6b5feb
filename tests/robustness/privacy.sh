#!/usr/bin/env bash
# Privacy: runs the application on a camera clip under strace, through an onlooker alert and a settings
# change, and proves from the system calls that
#   - no camera frame is written anywhere: the only regular files written are the settings (and the
#     caches of fontconfig and GStreamer's plugin registry, which hold no image), and nothing written to
#     any socket or file comes near the size of a frame;
#   - no network socket is opened or connected: only AF_UNIX (X11, D-Bus) and AF_NETLINK (device events).
# Runs inside run-in-session.sh; environment as for tests/e2e/e2e.sh. Prints "N passed, N failed".
set -u
E2E_WORK=${E2E_WORK:-$TAVRINE_SESSION_DIR/privacy}
E2E_SCENARIO=privacy
source "${TAVRINE_E2E_LIB:?TAVRINE_E2E_LIB must name tests/e2e/lib.sh}"
require_app

require_clip onlooker
command -v strace >/dev/null || { echo "SKIP: strace is not installed"; exit 77; }

mock_sni_watcher && mock_logind && mock_upower 80 2 && mock_notifications || { echo "FAIL mocks"; exit 1; }
settings_seed "has_completed_onboarding=true"

# GStreamer builds its plugin registry on first use in a fresh cache, through a scanner process that
# sends the registry over a pipe; build it before tracing so those transfers are not mistaken for frames.
gst-inspect-1.0 >/dev/null 2>&1 || true

trace="$E2E_WORK/strace.log"
APP_LOG="$E2E_WORK/app.log"
# -yy names every descriptor (file path, socket kind and peer) in each call.
strace -f -qq -yy -s 0 -o "$trace" \
    -e trace=socket,connect,bind,sendto,sendmsg,sendmmsg,write,writev,pwrite64,pwritev,openat,open,creat,rename,renameat,renameat2,link,linkat,memfd_create \
    "$TAVRINE_BIN" --camera "$clip" >"$APP_LOG" 2>&1 &
tracer=$!
poll 20 bash -c "pgrep -P $tracer >/dev/null" || true
APP_PID=$(pgrep -P "$tracer" | head -n 1)
check "the application runs under strace" [ -n "$APP_PID" ]

# An onlooker from the first frame: alert, notification; then a setting saved and the filter toggled.
eventually 40 "the onlooker alert is notified (the whole frame path ran)" \
    bash -c "[ -n \"\$($TAVRINE_DBUS_PYTHON $TAVRINE_HARNESS_DIR/mockctl.py calls --session $NOTIFY_NAME $NOTIFY_PATH Notify)\" ]"
xdotool key super+shift+c
sleep 2
xdotool key super+shift+c
sleep 3
[ -n "$APP_PID" ] && kill -TERM "$APP_PID" 2>/dev/null
poll 20 bash -c "! kill -0 $tracer 2>/dev/null"
wait "$tracer" 2>/dev/null
check "the trace was written" test -s "$trace"

# Sockets: families of every socket(), and every connect() target.
families=$(grep -oE 'socket\((AF|PF)_[A-Z0-9]+' "$trace" | sed -E 's/socket\(//' | sort | uniq -c | sed 's/^ *//')
echo "     socket families: $(echo "$families" | tr '\n' ';')"
check "no network socket is opened (AF_INET, AF_INET6, AF_PACKET)" \
    bash -c "! grep -qE 'socket\((AF|PF)_(INET|INET6|PACKET)[,)]' '$trace'"
check "no connect() to a network address" bash -c "! grep -E 'connect\(' '$trace' | grep -qE 'sa_family=AF_INET6?'"
check "no bind() to a network address" bash -c "! grep -E 'bind\(' '$trace' | grep -qE 'sa_family=AF_INET6?'"

# Regular files opened for writing. openat flags with O_WRONLY, O_RDWR or O_CREAT.
# ORC, GStreamer's code generator, maps the machine code it generates through an orcexec file.
allowed="^($XDG_CONFIG_HOME/tavrine(/|$)|${XDG_RUNTIME_DIR:-/run/user}/orcexec\.|$XDG_CONFIG_HOME/autostart/|$XDG_CACHE_HOME/(fontconfig|gstreamer-1.0|mesa_shader_cache)/|/dev/null$|/dev/shm/|/dev/dri/|/proc/self/|/dev/tty|/tmp/\.X11-unix/)"
written=$(grep -E 'open(at)?\(|creat\(' "$trace" | grep -E 'O_WRONLY|O_RDWR|O_CREAT|creat\(' | grep -v '= -1' |
    grep -oE '"[^"]+"' | tr -d '"' | sort -u)
echo "     files opened for writing:"
echo "$written" | sed 's/^/       /'
unexpected=$(echo "$written" | grep -vE "$allowed" | grep -v '^$' || true)
check "nothing but the settings (and caches) is opened for writing${unexpected:+: $unexpected}" [ -z "$unexpected" ]
check "the settings file was written" bash -c "echo '$written' | grep -q '^$XDG_CONFIG_HOME/tavrine/'"

# Writes by destination: a 640x480 frame is 1.2 MB (0.9 MB as RGB, 0.46 MB as YUV 4:2:0); no single
# write to a file, pipe or socket may carry even a fifth of the smallest.
frame_min=$((640 * 480 * 3 / 2 / 5))
big=$(grep -E '^[0-9]+ +(write|writev|pwrite64|pwritev|sendto|sendmsg|sendmmsg)\(' "$trace" |
    awk -v m="$frame_min" '{ n = $NF; if (n ~ /^[0-9]+$/ && n + 0 >= m) print }' | head -n 5)
check "no write carries a frame-sized payload (>= $frame_min bytes)${big:+: $big}" [ -z "$big" ]
# Writes to regular files other than the allowed ones (descriptors are annotated with their path).
file_writes=$(grep -E '^[0-9]+ +(write|writev|pwrite64|pwritev)\([0-9]+</' "$trace" |
    grep -oE '\([0-9]+<[^>]+>' | sed -E 's/^\([0-9]+<//; s/>$//; s/<(char|block) [0-9:]+$//' | grep '^/' | sort -u |
    grep -vE "$allowed|^$E2E_WORK/" || true)
check "no write to any other file${file_writes:+: $file_writes}" [ -z "$file_writes" ]
check "no shared memory file is created by name" bash -c "! grep -qE 'open(at)?\(.*\"/dev/shm/[^\"]*\".*O_CREAT' '$trace'"

summary
