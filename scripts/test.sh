#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds Tavrine and runs every test, then the other builds:
#   0. clang-format over every tracked C++ file (scripts/format-check.sh),
#   1. the normal build (warnings are errors) and all its tests (ctest),
#   2. the packager's Release build (-O3, warnings not errors), built only: it must build without a warning,
#   3. an AddressSanitizer + UndefinedBehaviorSanitizer build running the unit and integration tests,
#   4. a ThreadSanitizer build of the core running its tests (the threaded frame path included).
# Ends with a summary; exits non-zero when any step fails.
# Environment: TAVRINE_JOBS (build jobs, default 2), TAVRINE_TEST_JOBS (parallel tests, default 2),
# TAVRINE_SANITIZERS=0 skips steps 3 and 4, TAVRINE_CTEST_ARGS extra ctest arguments (e.g. "-R harness").
set -uo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${TAVRINE_JOBS:-2}
test_jobs=${TAVRINE_TEST_JOBS:-2}
read -r -a extra_ctest_args <<<"${TAVRINE_CTEST_ARGS:-}"
started=$(date +%s)
summary=()
total_passed=0
total_failed=0
failures=0
failed_tests=()
flaky_tests=()
skipped_tests=()

note() { printf '\n=== %s\n' "$*"; }
elapsed() { local s=$(($(date +%s) - $1)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

# configure_and_build DIR LABEL [CMAKE_ARGS...]: configures, then builds incrementally.
configure_and_build() {
    local dir=$1 label=$2
    shift 2
    # Configuring an existing tree again is quick and keeps its options what this script says.
    mkdir -p "$dir"
    cmake -S "$repo_dir" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log"
        return 1
    }
    cmake --build "$dir" -j "$jobs" || return 1
}

# failed_names LOG: the tests a ctest log lists as failed, one per line, without their status.
failed_names() {
    sed -n '/^The following tests FAILED:/,/^$/p' "$1" | sed -n -E 's/^[[:space:]]*[0-9]+ - (.*) \([^)]*\)$/\1/p'
}

# counts LOG: "TOTAL FAILED" from ctest's closing line, nothing when ctest never got that far.
counts() {
    grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1 |
        sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2 \1/'
}

# run_ctest DIR LABEL [CTEST_ARGS...]: runs ctest and records "N passed, N failed".
# Tests that fail are run once more, one at a time: one that passes then is reported as flaky by name
# (the desktop scenarios wait on a real X server and D-Bus peers, and a loaded machine can hold one past
# its deadline); one that fails again fails the step.
run_ctest() {
    local dir=$1 label=$2 log rerun_log
    shift 2
    log=$(mktemp)
    rerun_log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$test_jobs" --output-junit "$dir/ctest.xml" \
        "$@" "${extra_ctest_args[@]}" 2>&1 | tee "$log"
    local code=${PIPESTATUS[0]}
    local skipped
    skipped=$(skipped_with_reasons "$dir/ctest.xml")
    while IFS= read -r name; do
        [ -n "$name" ] && skipped_tests+=("$label: $name")
    done <<<"$skipped"
    local total failed name
    read -r total failed <<<"$(counts "$log")"
    if [ -z "${total:-}" ]; then
        summary+=("$(printf '%-22s no test ran (ctest exit %d)' "$label" "$code")")
        failures=$((failures + 1))
        rm -f "$log" "$rerun_log"
        return
    fi
    local first_failed
    first_failed=$(failed_names "$log")
    if [ "$failed" -gt 0 ] && [ -n "$first_failed" ]; then
        note "$label: running the $failed failed test(s) again, one at a time"
        ctest --test-dir "$dir" --output-on-failure --rerun-failed -j 1 "$@" "${extra_ctest_args[@]}" 2>&1 |
            tee "$rerun_log"
        code=${PIPESTATUS[0]}
        local again
        again=$(failed_names "$rerun_log")
        [ -n "$(counts "$rerun_log")" ] || again=$first_failed
        while IFS= read -r name; do
            [ -n "$name" ] || continue
            if grep -qxF -- "$name" <<<"$again"; then
                failed_tests+=("$label: $name (failed twice)")
            else
                flaky_tests+=("$label: $name (failed, then passed alone)")
            fi
        done <<<"$first_failed"
        failed=$(grep -c . <<<"$again" || true)
    fi
    summary+=("$(printf '%-22s %d passed, %d failed' "$label" $((total - failed)) "$failed")")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
    rm -f "$log" "$rerun_log"
    [ "$code" = 0 ] || failures=$((failures + 1))
}

# skipped_with_reasons JUNIT: "test: reason" for each skipped test of a ctest JUnit report, the reason
# being the test's own skip message.
skipped_with_reasons() {
    [ -f "$1" ] || return 0
    python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).iter("testcase"):
    if case.get("status") not in ("notrun", "disabled") and case.find("skipped") is None:
        continue
    out = (case.findtext("system-out") or "").splitlines()
    reason = next((out[i + 1].strip() for i, l in enumerate(out[:-1]) if l.rstrip().endswith("Skipped")), "")
    reason = reason or next((l.strip() for l in out if "SKIP" in l.upper() and "[  SKIPPED ]" not in l), "")
    print(f"{case.get('name')}: {reason or 'no reason given'}")
PY
}

build_step() {
    local dir=$1 label=$2
    shift 2
    local t0
    t0=$(date +%s)
    note "build: $label ($dir)"
    if configure_and_build "$dir" "$label" "$@"; then
        echo "built $label in $(elapsed "$t0")"
        return 0
    fi
    summary+=("$(printf '%-22s BUILD FAILED' "$label")")
    failures=$((failures + 1))
    return 1
}

note "dependencies"
if ! "$repo_dir/scripts/deps.sh" test; then
    echo "test: could not install the dependencies" >&2
    exit 1
fi

# Reports from the sanitizers: stop at the first error, and keep known noise of system libraries out.
sanitizer_dir=$repo_dir/scripts/sanitizers
# Leak checking covers our core; Qt, fontconfig, GStreamer and D-Bus keep process-lifetime allocations
# that LeakSanitizer would report in every desktop test, so it is off for the whole suite and on for the
# core test binary, which runs a second time on its own below.
asan_common=abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1
export ASAN_OPTIONS=detect_leaks=0:$asan_common
export LSAN_OPTIONS=suppressions=$sanitizer_dir/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$sanitizer_dir/tsan.supp

note "formatting"
if "$repo_dir/scripts/format-check.sh"; then
    summary+=("$(printf '%-22s passed' "format check")")
else
    summary+=("$(printf '%-22s FAILED' "format check")")
    failures=$((failures + 1))
fi

t0=$(date +%s)
if build_step "$repo_dir/build" "tests"; then
    note "tests"
    run_ctest "$repo_dir/build" "tests"
fi
times=("tests: $(elapsed "$t0")")

# What a distribution builds: Release without -Werror. It must build, and without any warning, so that a
# newer compiler's complaint shows here before a packager meets it.
t0=$(date +%s)
release_log=$repo_dir/build-release/build.log
mkdir -p "$repo_dir/build-release"
if build_step "$repo_dir/build-release" "release" -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_TESTS=OFF \
    >"$release_log" 2>&1; then
    warnings=$(grep -c 'warning:' "$release_log" || true)
    if [ "$warnings" = 0 ]; then
        summary+=("$(printf '%-22s built, no warning' "release build")")
    else
        grep -B2 -A6 'warning:' "$release_log" | head -n 60
        summary+=("$(printf '%-22s %d warning(s)' "release build" "$warnings")")
        failures=$((failures + 1))
        # An incremental build shows only the warnings of what it recompiles: a tree that warned is not
        # kept, so the next run builds it all again and counts them again.
        rm -rf "$repo_dir/build-release"
    fi
else
    tail -n 60 "$release_log"
fi
times+=("release: $(elapsed "$t0")")

if [ "${TAVRINE_SANITIZERS:-1}" != 0 ]; then
    # Light optimisation and line tables only: the reports keep file and line, the builds stay quick, and
    # assertions stay on.
    sanitizer_build_type=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")
    t0=$(date +%s)
    if build_step "$repo_dir/build-asan" "asan+ubsan" -DTAVRINE_SANITIZE=address,undefined \
        -DTAVRINE_BUILD_BENCH=OFF "${sanitizer_build_type[@]}"; then
        note "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
        # Benchmarks and long soak runs measure; they are not correctness tests.
        run_ctest "$repo_dir/build-asan" "asan+ubsan" -LE 'soak|bench|nosan'
        note "core tests under LeakSanitizer"
        if ASAN_OPTIONS=detect_leaks=1:$asan_common "$repo_dir/build-asan/tests/core/tavrine_core_tests" \
            --gtest_brief=1; then
            summary+=("$(printf '%-22s passed' "core leak check")")
        else
            summary+=("$(printf '%-22s FAILED' "core leak check")")
            failures=$((failures + 1))
        fi
    fi
    times+=("asan+ubsan: $(elapsed "$t0")")

    t0=$(date +%s)
    if build_step "$repo_dir/build-tsan" "tsan (core)" -DTAVRINE_SANITIZE=thread -DTAVRINE_CORE_ONLY=ON \
        -DTAVRINE_BUILD_BENCH=OFF "${sanitizer_build_type[@]}"; then
        note "core tests under ThreadSanitizer"
        run_ctest "$repo_dir/build-tsan" "tsan (core)"
    fi
    times+=("tsan: $(elapsed "$t0")")
fi

note "summary"
for line in "${summary[@]}"; do echo "$line"; done
for name in "${flaky_tests[@]}"; do echo "flaky   $name"; done
for name in "${failed_tests[@]}"; do echo "failed  $name"; done
echo "skipped: ${#skipped_tests[@]} test(s)"
for name in "${skipped_tests[@]}"; do echo "skipped $name"; done
echo "time: ${times[*]}; total $(elapsed "$started")"
if [ "$failures" = 0 ]; then
    echo "ALL PASSED"
else
    echo "FAILED: $failures step(s)"
fi
echo "total: $total_passed passed, $total_failed failed"
[ "$failures" = 0 ]
