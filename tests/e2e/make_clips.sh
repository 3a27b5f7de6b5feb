#!/usr/bin/env bash
# Builds the camera clips of the desktop tests into OUT_DIR (reused when already there), from material any
# checkout has: still frames of the demonstration clip (a public-domain portrait, see data/demo/PROVENANCE.md)
# and, for the empty room, an image Debian ships. The clips stay in the build tree.
#
# Usage: make_clips.sh DEMO_CLIP OUT_DIR [FACEDATA_DIR]
# Exit 1 when the demonstration clip or a tool is missing. When the labelled face data is there, the scenes
# come from its portraits instead. The demonstration clip's synthetic turn (about 35 degrees) reads 29 to 34
# on live frames, too close to the 30 degree limit for a scene that must read as looking away: its still
# is given a perspective that turns the face further (read 36 to 39 on live frames).
#
# Clips (640x480, 15 fps, VP8), each a sequence of still scenes:
#   facing.webm   one person facing the camera (10 s; the camera loops it)
#   story.webm    facing 0-8 s, looking away 8-14 s, facing 14-18 s, a second face 18-24 s, facing 24-40 s
#   soak.webm     a 3-minute loop with the same changes a minute apart
#   onlooker.webm a second face from the start (20 s), then facing (10 s)
#   empty.webm    no face at all (10 s)
#   leaving.webm  facing 0-5 s, nobody 5-41 s, facing 41-47 s, nobody 47-97 s (the user leaves, comes back
#                 in time, leaves again)
set -euo pipefail

demo=${1:?usage: make_clips.sh DEMO_CLIP OUT_DIR [FACEDATA_DIR]}
out=${2:?usage: make_clips.sh DEMO_CLIP OUT_DIR [FACEDATA_DIR]}
# GENKI-4K portraits (yaw, pitch): facing (2.0, -0.4), a second person (-1.2, 3.4), looking away (41.2,
# read 41 on every live frame).
labelled=${3:-/nonexistent}/genki4k/files
labelled_facing=$labelled/file0007.jpg labelled_second=$labelled/file0001.jpg labelled_away=$labelled/file1850.jpg
logo=/usr/share/pixmaps/debian-logo.png # shipped by debconf, on every Debian system

[ -f "$demo" ] || { echo "make_clips: demonstration clip not found: $demo" >&2; exit 1; }
for tool in convert ffmpeg; do
    command -v "$tool" >/dev/null || { echo "make_clips: missing $tool" >&2; exit 1; }
done

# Scenes: the time in the demonstration clip each still is taken from (its PROVENANCE.md has the time
# line). At 7.8 s the head is turned away.
facing_at=3.0
away_at=7.8
two_at=19.0

mkdir -p "$out"
stamp="$out/.made-from"
away_source=demo
[ -f "$labelled_away" ] && [ -f "$labelled_facing" ] && [ -f "$labelled_second" ] && away_source=labelled
recipe="$(stat -c %s "$demo") $facing_at $away_at $two_at $away_source v8"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ] && [ -f "$out/onlooker.webm" ] && [ -f "$out/soak.webm" ] &&
    [ -f "$out/leaving.webm" ]; then
    exit 0
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-clips.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

still() { ffmpeg -nostdin -loglevel error -y -ss "$2" -i "$demo" -frames:v 1 "$scratch/$1.png"; }
if [ "$away_source" = labelled ]; then
    # A plain wall with the portrait(s) scaled to a head about a third of the frame wide.
    canvas() { convert -size 640x480 xc:'#8a8f96' "$@"; }
    canvas \( "$labelled_facing" -resize x400 \) -gravity center -composite "$scratch/facing.png"
    canvas \( "$labelled_away" -resize x400 \) -gravity center -composite "$scratch/away.png"
    canvas \( "$labelled_facing" -resize x300 \) -gravity west -geometry +20+0 -composite \
        \( "$labelled_second" -resize x300 \) -gravity east -geometry +20+0 -composite "$scratch/two.png"
else
    still facing "$facing_at"
    still turned "$away_at"
    convert "$scratch/turned.png" -distort Perspective '0,0 0,60  640,0 640,0  640,480 640,480  0,480 0,420' \
        "$scratch/away.png"
    still two "$two_at"
fi
# An empty room: a plain wall, with a picture on it when Debian's logo is there.
convert -size 640x480 xc:'#8a8f96' "$scratch/empty.png"
[ -f "$logo" ] && convert "$scratch/empty.png" \( "$logo" -resize 160x160 \) -gravity center -composite \
    "$scratch/empty.png"

# One second of each scene, encoded once; longer clips repeat these seconds without re-encoding.
second() {
    [ -f "$scratch/$1.1s.webm" ] && return 0
    ffmpeg -nostdin -loglevel error -y -loop 1 -framerate 15 -t 1 -i "$scratch/$1.png" -r 15 -pix_fmt yuv420p \
        -c:v libvpx -deadline good -cpu-used 2 -b:v 2M -qmin 2 -qmax 20 -g 15 -auto-alt-ref 0 "$scratch/$1.1s.webm"
}

# clip NAME SCENE:SECONDS...
clip() {
    local name=$1 part i
    shift
    : >"$scratch/$name.list"
    for part in "$@"; do
        second "${part%%:*}"
        for ((i = 0; i < ${part#*:}; i++)); do
            echo "file '$scratch/${part%%:*}.1s.webm'" >>"$scratch/$name.list"
        done
    done
    ffmpeg -nostdin -loglevel error -y -f concat -safe 0 -i "$scratch/$name.list" -c copy "$scratch/$name.webm"
    mv "$scratch/$name.webm" "$out/$name.webm"
}

clip facing facing:10
clip empty empty:10
clip story facing:8 away:6 facing:4 two:6 facing:16
clip onlooker two:20 facing:10
clip leaving facing:5 empty:36 facing:6 empty:50
clip soak facing:50 away:15 facing:20 two:15 facing:40 away:10 facing:30
echo "$recipe" >"$stamp"
