# Sourced by the shell checks: one line per check and a summary at the end.
#   check DESCRIPTION CMD...   runs CMD once; a failure also calls on_fail DESCRIPTION when it is defined
#   checks_summary             prints "N passed, M failed" and returns non-zero when one failed
CHECK_LABEL=${CHECK_LABEL:-} passed=0 failed=0
check() {
    if "${@:2}"; then
        passed=$((passed + 1))
        echo "ok   $CHECK_LABEL$1"
        return 0
    fi
    failed=$((failed + 1))
    echo "FAIL $CHECK_LABEL$1"
    ! declare -F on_fail >/dev/null || on_fail "$1"
    return 1
}
checks_summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
}
