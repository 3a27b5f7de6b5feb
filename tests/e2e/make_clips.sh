#!/usr/bin/env bash
# Builds the camera clips of the desktop tests into OUT_DIR (reused when already made from the same recipe)
# from still frames of the demonstration clip (a public-domain portrait, see data/demo/PROVENANCE.md) and,
# for the empty room, an image Debian ships: the same clips on every machine.
# Usage: make_clips.sh DEMO_CLIP OUT_DIR; fails when the clip or a tool (convert, ffmpeg) is missing.
# Clips (640x480, 15 fps, VP8): each a sequence of still scenes, listed at the end as SCENE:SECONDS.
set -euo pipefail
demo=${1:?usage: make_clips.sh DEMO_CLIP OUT_DIR}
out=${2:?usage: make_clips.sh DEMO_CLIP OUT_DIR}
logo=/usr/share/pixmaps/debian-logo.png # shipped by debconf, on every Debian system
[ -f "$demo" ] || { echo "make_clips: demonstration clip not found: $demo" >&2; exit 1; }

mkdir -p "$out"
recipe="$(stat -c %s "$demo") v10"
[ "$(cat "$out/.made-from" 2>/dev/null)" = "$recipe" ] && exit 0
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-clips.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

still() { ffmpeg -nostdin -loglevel error -y -ss "$2" -i "$demo" -frames:v 1 "$scratch/$1.png"; }
# The times of the scenes in the demonstration clip (its PROVENANCE.md). Its synthetic turn reads 29 to 34
# degrees on live frames, too close to the 30 degree limit: a perspective turns the face further (36 to 39).
still facing 3.0
still turned 7.8
convert "$scratch/turned.png" -distort Perspective '0,0 0,60  640,0 640,0  640,480 640,480  0,480 0,420' \
    "$scratch/away.png"
still two 19.0
# An empty room: a plain wall, with a picture on it when Debian's logo is there.
convert -size 640x480 xc:'#8a8f96' "$scratch/empty.png"
[ -f "$logo" ] && convert "$scratch/empty.png" \( "$logo" -resize 160x160 \) -gravity center -composite \
    "$scratch/empty.png"
# A closed shutter: all but black.
convert -size 640x480 xc:'#060606' "$scratch/dark.png"

# clip NAME SCENE:SECONDS...: one second of each scene is encoded once; clips repeat these seconds.
clip() {
    local part i
    for part in "${@:2}"; do
        [ -f "$scratch/${part%%:*}.1s.webm" ] || ffmpeg -nostdin -loglevel error -y -loop 1 -framerate 15 -t 1 \
            -i "$scratch/${part%%:*}.png" -r 15 -pix_fmt yuv420p -c:v libvpx -deadline good -cpu-used 2 -b:v 2M \
            -qmin 2 -qmax 20 -g 15 -auto-alt-ref 0 "$scratch/${part%%:*}.1s.webm"
        for ((i = 0; i < ${part#*:}; i++)); do echo "file '$scratch/${part%%:*}.1s.webm'"; done
    done >"$scratch/$1.list"
    ffmpeg -nostdin -loglevel error -y -f concat -safe 0 -i "$scratch/$1.list" -c copy "$scratch/$1.webm"
    mv "$scratch/$1.webm" "$out/$1.webm"
}
clip facing facing:10
clip empty empty:10
clip dark dark:10
clip story facing:8 away:6 facing:4 two:6 facing:16
clip onlooker two:20 facing:10
# The user leaves, comes back in time, leaves again.
clip leaving facing:5 empty:36 facing:6 empty:50
clip soak facing:50 away:15 facing:20 two:15 facing:40 away:10 facing:30
echo "$recipe" >"$out/.made-from"
