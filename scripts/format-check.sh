#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (the .clang-format at the root) makes of it.
# Lists the files to reformat; `clang-format -i FILE...` fixes them.
set -uo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_dir" || exit 1
if ! command -v clang-format >/dev/null; then
    echo "format-check: clang-format is not installed (apt install clang-format)" >&2
    exit 1
fi
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc')
if [ "${#files[@]}" = 0 ]; then
    echo "format-check: no C++ file tracked" >&2
    exit 1
fi
# One run over every file; it names each file that would change ("FILE:LINE:COL: error: ...").
output=$(clang-format --dry-run --Werror "${files[@]}" 2>&1)
code=$?
mapfile -t unformatted < <(sed -n -E 's/^([^:]+):[0-9]+:[0-9]+: error: .*/\1/p' <<<"$output" | sort -u)
if [ "${#unformatted[@]}" -gt 0 ]; then
    echo "format-check: ${#unformatted[@]} of ${#files[@]} files need clang-format:"
    printf '  %s\n' "${unformatted[@]}"
    exit 1
fi
if [ "$code" != 0 ]; then
    echo "format-check: clang-format failed (exit $code):" >&2
    head -n 20 <<<"$output" >&2
    exit 1
fi
echo "format-check: ${#files[@]} files formatted"
