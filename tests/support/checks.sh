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
