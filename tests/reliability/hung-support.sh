# What the hung file system checks share, sourced after tests/support/checks.sh; they set
# `control` (the FUSE daemon's control directory), `work` and `agent_pid`.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Hung calls begun so far.
entered() { [ -f "$control/entered" ] && wc -l <"$control/entered" || echo 0; }
# One report into FILE: prints the status and the seconds it took.
report() { curl -s --max-time "${2:-10}" -o "$1" -w '%{http_code} %{time_total}' http://127.0.0.1:5782/getdata; }
served() { report "$work/report" 1 >/dev/null && grep -q '<root ' "$work/report"; }
agent_gone() { ! kill -0 "$agent_pid" 2>/dev/null; }
# SIGTERM, then waits up to SECONDS for the end (releasing the hang after that, so that the
# agent ends at all); sets stop_ms and status.
stop_agent() { # seconds
    local start
    start=$(now_ms)
    kill -TERM "$agent_pid"
    WAIT_INTERVAL=0.05 wait_until "$1" agent_gone || rm -f "$control/hang"
    stop_ms=$(($(now_ms) - start))
    set +e
    wait "$agent_pid"
    status=$?
    set -e
    agent_pid=""
}
