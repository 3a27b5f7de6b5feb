#!/usr/bin/env bash
# tavrine-analyze as a user runs it: each input it cannot analyse is named with the reason on stderr, the
# others are still analysed, and the exit status says whether all of them were.
# Usage: analyze_cli.sh TAVRINE_ANALYZE   (TAVRINE_MODEL_DIR names the models)
set -u
tool=${1:?usage: analyze_cli.sh TAVRINE_ANALYZE}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

convert -size 320x240 xc:gray60 "$work/blank.png" || { echo "FAIL could not make a test image"; exit 1; }
echo "not a picture" >"$work/notes.txt"
mkdir "$work/folder"

# expect NAME STATUS STDERR_PATTERN STDOUT_PATTERN -- ARGS...: runs the tool, checks its status and that each
# pattern (grep -E, empty for none) is found.
expect() {
    local name=$1 status=$2 err=$3 out=$4
    shift 5
    "$tool" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    local ok=1
    [ "$got" = "$status" ] || ok=0
    [ -z "$err" ] || grep -qE "$err" "$work/err" || ok=0
    [ -z "$out" ] || grep -qE "$out" "$work/out" || ok=0
    if [ "$ok" = 1 ]; then
        echo "ok   $name"
    else
        echo "FAIL $name: status $got (wanted $status)"
        sed 's/^/     stdout: /' "$work/out" | head -n 5
        sed 's/^/     stderr: /' "$work/err" | head -n 5
        failures=$((failures + 1))
    fi
}

expect "no input" 2 '^Usage: tavrine-analyze' '' --
expect "unknown option" 2 'unknown option --bogus' '' -- --bogus "$work/blank.png"
expect "missing file" 1 "$work/gone.png: no such file" '' -- --csv "$work/gone.png"
expect "directory" 1 "$work/folder: is a directory" '' -- --csv "$work/folder"
expect "device" 1 '/dev/null: not a regular file' '' -- --csv /dev/null
ln -s loop "$work/loop"
expect "a loop of links" 1 'loop: Too many levels of symbolic links' '' -- --csv "$work/loop"
expect "text file" 1 "notes.txt: not an image or video that can be decoded" '' -- --csv "$work/notes.txt"
expect "image without a face" 0 '' "^$work/blank.png,0,0," -- --csv "$work/blank.png"
# A bad input does not stop the others.
expect "bad then good" 1 "$work/folder: is a directory" "^$work/blank.png,0,0," -- --csv "$work/folder" "$work/blank.png"
expect "after -- a name may start with -" 1 '\-x.png: no such file' '' -- --csv -- -x.png
if [ "$(id -u)" != 0 ]; then
    cp "$work/blank.png" "$work/locked.png" && chmod 000 "$work/locked.png"
    expect "unreadable file" 1 "locked.png: cannot be read" '' -- --csv "$work/locked.png"
fi

[ "$failures" = 0 ] || { echo "$failures case(s) failed"; exit 1; }
