# The checks of the shell test scripts, sourced by them: each check prints one line, and the
# script ends with `checks_summary`, the closing "N passed, N failed" line, failing when any did.
passes=0
failures=0

pass() { passes=$((passes + 1)); echo "ok   - $1"; }
fail() { failures=$((failures + 1)); echo "FAIL - $1"; }
check() { # description, command...
    local description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}

checks_summary() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}

# True once the command succeeds, false when SECONDS have passed; polls every 0.5 s, or every
# WAIT_INTERVAL seconds when that is set (WAIT_INTERVAL=0.05 wait_until 5 ...).
wait_until() { # seconds command...
    local end=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep "${WAIT_INTERVAL:-0.5}"
    done
}
