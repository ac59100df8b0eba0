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

# Daemons a test starts, each in the foreground of a background job with its log in
# $daemon_logs/NAME.log; stop_daemons ends them all (SIGTERM, in the order they were started,
# then SIGKILL for any still there after 20 s in all).
daemons=()
start_daemon() { # name command...
    local name=$1
    shift
    "$@" >"$daemon_logs/$name.log" 2>&1 </dev/null &
    daemons+=($!)
}
stop_daemons() {
    local pid end=$((SECONDS + 20))
    for pid in "${daemons[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${daemons[@]}"; do
        if ! timeout $((end > SECONDS ? end - SECONDS : 1)) tail --pid="$pid" -f /dev/null 2>/dev/null; then
            echo "     process $pid did not stop in time: killed"
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
}

# CPU seconds used so far by the processes named NAME, with the children they have waited for
# (the plugins a station runs): to print what a station costs over a window.
cpu_seconds() { # name
    local pid total=0
    for pid in $(pgrep -x "$1"); do
        total=$((total + $(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    awk -v t="$total" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}
# "N ms of CPU per agent per minute": from CPU seconds at two times, seconds apart, and the agents.
cpu_per_agent_minute() { # before after seconds agents
    awk -v a="$1" -v b="$2" -v s="$3" -v n="$4" 'BEGIN { printf "%.0f ms", (b - a) * 1000 * 60 / s / n }'
}
