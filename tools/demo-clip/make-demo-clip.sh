#!/bin/sh
# Regenerates data/demo/tavrine-demo.webm (26 s, 640x480, 10 frames a second, VP8/WebM) from the
# public-domain portrait that Debian ships in python3-skimage. Needs g++, the OpenCV core/imgproc/imgcodecs
# development packages and gstreamer1.0-tools with the good plugins (vp8enc, webmmux).
# Usage: tools/demo-clip/make-demo-clip.sh [astronaut.png]
set -eu

repo_dir=$(cd "$(dirname "$0")/../.." && pwd)
out="$repo_dir/data/demo/tavrine-demo.webm"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

portrait=${1:-/usr/lib/python3/dist-packages/skimage/data/astronaut.png}
if [ ! -f "$portrait" ]; then
    # Not installed: take the file from the package itself, without installing it.
    (cd "$work" && apt-get download python3-skimage >/dev/null && dpkg-deb -x python3-skimage_*.deb pkg)
    portrait="$work/pkg/usr/lib/python3/dist-packages/skimage/data/astronaut.png"
fi
[ -f "$portrait" ] || { echo "make-demo-clip: astronaut.png not found" >&2; exit 1; }

g++ -std=c++20 -O2 -isystem /usr/include/opencv4 "$repo_dir/tools/demo-clip/make_demo_clip.cpp" \
    -o "$work/make_demo_clip" -lopencv_imgcodecs -lopencv_imgproc -lopencv_core
mkdir "$work/frames"
"$work/make_demo_clip" "$portrait" "$work/frames"
gst-launch-1.0 -q multifilesrc location="$work/frames/frame%04d.png" index=0 caps="image/png,framerate=10/1" \
    ! pngdec ! videoconvert ! video/x-raw,format=I420 \
    ! vp8enc target-bitrate=450000 keyframe-max-dist=20 deadline=0 cpu-used=0 threads=2 \
    ! webmmux ! filesink location="$out"
echo "make-demo-clip: wrote $out ($(stat -c %s "$out") bytes)"
