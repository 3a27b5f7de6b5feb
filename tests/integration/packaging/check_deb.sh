#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it holds and what it depends on.
set -u
build_dir=${1:?usage: check_deb.sh BUILD_DIR VERSION}
version=${2:?usage: check_deb.sh BUILD_DIR VERSION}
out=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-deb.XXXXXX")
trap 'rm -rf "$out"' EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../../harness/checks.sh"

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || cat "$out/cpack.log"
deb=$(ls "$out"/*.deb 2>/dev/null | head -n 1)
check "a .deb is produced" [ -n "$deb" ] || { checks_summary; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
lists() { grep -q "$@" <<<"$contents"; }
lacks() { ! lists "$@"; }
check "binary in /usr/bin" lists -Fx ./usr/bin/tavrine
check "desktop entry" lists -Fx ./usr/share/applications/expert.brightfen.Tavrine.desktop
check "scalable icon in hicolor" lists -Fx ./usr/share/icons/hicolor/scalable/apps/tavrine.svg
check "AppStream metainfo" lists -Fx ./usr/share/metainfo/expert.brightfen.Tavrine.metainfo.xml
check "copyright file, with the models' licence" lists -Fx ./usr/share/doc/tavrine/copyright
# Files that other parts of the build install when they exist: the face models and the demo clip.
installs() { grep -rqs -- "$1" "$build_dir" --include=cmake_install.cmake; }
! installs share/tavrine/models || check "face models shipped" lists '^\./usr/share/tavrine/models/.*\.onnx$'
! installs share/tavrine/demo || check "demo clip shipped" lists '^\./usr/share/tavrine/demo/.'
check "nothing outside /usr" lacks -v '^\./usr/\|^\./$'
check "no test or face data shipped" lacks -Ei 'facedata|gtest|/tests?/'

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" [ "$(field Package)" = tavrine ]
check "version is the project's" bash -c '[[ "$1" == "$2"* ]]' _ "$(field Version)" "$version"
depends=$(field Depends)
echo "Depends: $depends"
check "depends on the landmark model" grep -q "libdlib-data" <<<"$depends"
check "depends on the libraries dpkg-shlibdeps found (Qt)" grep -q "libqt6widgets6" <<<"$depends"

dpkg-deb -x "$deb" "$out/root"
check "installed binary is stripped" bash -c '! file "$1" | grep -q "not stripped"' _ "$out/root/usr/bin/tavrine"
check "installed binary finds its libraries" bash -c '! ldd "$1" | grep -q "not found"' _ "$out/root/usr/bin/tavrine"

# Unpacked anywhere, the packaged program finds the packaged models, with the build's own models out of
# sight behind a private mount (where this user may not mount, the check is skipped).
models=$(sed -n 's/^TAVRINE_MODELS_BUILD_DIR:PATH=//p' "$build_dir/CMakeCache.txt")
base64 -d >"$out/pixel.png" <<<iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==
if [ -d "$models" ] && unshare -m --propagation private true 2>/dev/null; then
    check "the unpacked program finds its own models" env -u TAVRINE_MODEL_DIR unshare -m --propagation private \
        sh -c 'mount -t tmpfs none "$1" && "$2" --csv "$3" >/dev/null' _ "$models" \
        "$out/root/usr/bin/tavrine-analyze" "$out/pixel.png"
else
    echo "skipped: the unpacked program's own models (no private mount here)"
fi

checks_summary
