#!/usr/bin/env bash
# Builds the camera clips of the desktop tests from the labelled face images, into OUT_DIR (reused when
# already there). The clips are test material made from research images: they stay in the build tree and
# are never committed or installed.
#
# Usage: make_clips.sh FACEDATA_DIR OUT_DIR
# Exit 77 (skip) when the face images are missing, 1 when a tool fails.
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

facedata=${1:?usage: make_clips.sh FACEDATA_DIR OUT_DIR}
out=${2:?usage: make_clips.sh FACEDATA_DIR OUT_DIR}

# Scenes and the labelled images they come from (GENKI-4K portraits: yaw and pitch in degrees).
facing_image=genki4k/files/file0007.jpg  # yaw 2.0, pitch -0.4
second_image=genki4k/files/file0001.jpg  # yaw -1.2, pitch 3.4
away_image=genki4k/files/file1850.jpg    # yaw 41.2 (read 41 on every live frame): well past the 30 degree limit
empty_image=negatives_noface/opencv_samples/baboon.jpg

for image in "$facing_image" "$second_image" "$away_image"; do
    if [ ! -f "$facedata/$image" ]; then
        echo "make_clips: face images not found under $facedata ($image): skipping" >&2
        exit 77
    fi
done
for tool in convert ffmpeg; do
    command -v "$tool" >/dev/null || { echo "make_clips: missing $tool" >&2; exit 1; }
done

mkdir -p "$out"
stamp="$out/.made-from"
recipe="$facing_image $second_image $away_image $empty_image v4"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ] && [ -f "$out/onlooker.webm" ] && [ -f "$out/soak.webm" ] &&
    [ -f "$out/leaving.webm" ]; then
    exit 0
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-clips.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# A webcam-like frame: a plain wall with the portrait(s) scaled to a head that fills about a third of
# the frame width, as a user at arm's length would.
canvas() { convert -size 640x480 xc:'#8a8f96' "$@"; }
canvas \( "$facedata/$facing_image" -resize x400 \) -gravity center -composite "$scratch/facing.png"
canvas \( "$facedata/$away_image" -resize x400 \) -gravity center -composite "$scratch/away.png"
canvas \( "$facedata/$facing_image" -resize x300 \) -gravity west -geometry +20+0 -composite \
    \( "$facedata/$second_image" -resize x300 \) -gravity east -geometry +20+0 -composite "$scratch/two.png"
if [ -f "$facedata/$empty_image" ]; then
    convert "$facedata/$empty_image" -resize 640x480^ -gravity center -extent 640x480 "$scratch/empty.png"
else
    canvas "$scratch/empty.png"
fi

# One second of each scene, encoded once; longer clips repeat these seconds without re-encoding.
second() {
    [ -f "$scratch/$1.1s.webm" ] && return 0
    ffmpeg -nostdin -loglevel error -y -loop 1 -framerate 15 -t 1 -i "$scratch/$1.png" -r 15 -pix_fmt yuv420p \
        -c:v libvpx -deadline realtime -cpu-used 8 -b:v 400k -g 15 -auto-alt-ref 0 "$scratch/$1.1s.webm"
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
