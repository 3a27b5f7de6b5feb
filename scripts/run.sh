#!/usr/bin/env bash
# Installs what is missing, builds Tavrine and starts it. Arguments go to tavrine (e.g. --camera demo).
set -euo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${TAVRINE_BUILD_DIR:-"$repo_dir/build"}
jobs=${TAVRINE_JOBS:-2}

"$repo_dir/scripts/deps.sh" build
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S "$repo_dir" -B "$build_dir" -G Ninja
fi
cmake --build "$build_dir" --target tavrine -j "$jobs"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no desktop session here (DISPLAY is not set). To try it headless:" >&2
    echo "     tests/harness/run-in-session.sh build/src/app/tavrine $*" >&2
fi
exec "$build_dir/src/app/tavrine" "$@"
