# Sourced by the shell checks: counts and prints one line per check, and a summary at the end.
# check DESCRIPTION CMD...  runs CMD once; with CHECKS_QUIET=1 its output is dropped.
# checks_summary            prints "N passed, M failed" and returns non-zero when one failed.
passed=0
failed=0
check() {
    local what=$1 ok
    shift
    if [ "${CHECKS_QUIET:-0}" = 1 ]; then
        "$@" >/dev/null 2>&1 && ok=1 || ok=0
    else
        "$@" && ok=1 || ok=0
    fi
    if [ "$ok" = 1 ]; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}
checks_summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
}
