# A fleet of real agents for the station checks. Each agent runs in network and UTS namespaces of
# its own (host name fleet-N) and is reached from the caller's namespace at an address of its own,
# 127.0.1.N (then 127.0.2.N, ... past 250), port 5782, through a forwarder: a TCP listener here, a
# Unix socket between the namespaces, a connection to 127.0.0.1:5782 inside the agent's. So every
# address stays in 127.0.0.0/8, and a stopped agent's address refuses connections, as a host whose
# agent is down does.
# Source it from a script that runs as root in a network namespace of its own (the addresses are that
# namespace's loopback). Every process it starts is ended by fleet_stop (call it in the exit trap).
#   fleet_start COUNT AGENT   starts agents 1..COUNT; fails unless each serves within 60 s in all
#   fleet_address N           agent N's address
#   fleet_stop_agent N...     stops those agents and their forwarders
#   fleet_start_agent N       starts agent N again (fleet_wait N waits until it serves)
#   fleet_stop                stops every agent and forwarder
# FLEET_DIR holds agent-N.log, each agent's standard output and error.

fleet_agent=""
fleet_count=0
FLEET_DIR=""

fleet_address() { # n
    echo "127.0.$((($1 - 1) / 250 + 1)).$((($1 - 1) % 250 + 1))"
}

fleet_start_agent() { # n
    local n=$1 sock="$FLEET_DIR/$1.sock"
    # Each its own session, so that stopping it ends its forked forwarders too.
    setsid unshare --net --uts sh -c '
        ip link set lo up && hostname "$1" || exit 1
        socat UNIX-LISTEN:"$2",fork,unlink-early,mode=600 TCP4:127.0.0.1:5782 &
        exec "$3"' sh "fleet-$n" "$sock" "$fleet_agent" >"$FLEET_DIR/agent-$n.log" 2>&1 </dev/null &
    echo $! >"$FLEET_DIR/agent-$n.pid"
    setsid socat TCP4-LISTEN:5782,bind="$(fleet_address "$n")",fork,reuseaddr UNIX-CONNECT:"$sock" \
        >>"$FLEET_DIR/agent-$n.log" 2>&1 </dev/null &
    echo $! >"$FLEET_DIR/forwarder-$n.pid"
}

fleet_wait() { # n [seconds]
    local end=$((SECONDS + ${2:-30}))
    until curl -sf --max-time 2 -o /dev/null "http://$(fleet_address "$1"):5782/"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

# Stops the agents named, together: SIGTERM to each one's session, then SIGKILL to any left after
# 10 s in all.
fleet_stop_agent() { # n...
    local n file pid pids=() end=$((SECONDS + 10))
    for n in "$@"; do
        for file in "$FLEET_DIR/forwarder-$n.pid" "$FLEET_DIR/agent-$n.pid"; do
            [ -f "$file" ] || continue
            pid=$(cat "$file")
            rm -f "$file"
            kill -TERM -- "-$pid" 2>/dev/null || true
            pids+=("$pid")
        done
    done
    for pid in ${pids[@]+"${pids[@]}"}; do
        timeout $((end > SECONDS ? end - SECONDS : 1)) tail --pid="$pid" -f /dev/null 2>/dev/null ||
            kill -KILL -- "-$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

fleet_start() { # count agent
    local n
    if [ "$1" -lt 1 ] || [ "$1" -gt 1000 ]; then
        echo "fleet_start: between 1 and 1000 agents, not $1" >&2
        return 1
    fi
    command -v socat >/dev/null || { echo "fleet_start: socat is missing" >&2; return 1; }
    fleet_count=$1
    fleet_agent=$(realpath "$2")
    FLEET_DIR=$(mktemp -d /tmp/quorvane-fleet.XXXXXX)
    for n in $(seq "$fleet_count"); do
        fleet_start_agent "$n"
    done
    local end=$((SECONDS + 60))
    for n in $(seq "$fleet_count"); do
        if ! fleet_wait "$n" $((end > SECONDS ? end - SECONDS : 1)); then
            echo "fleet_start: agent $n at $(fleet_address "$n") does not serve; its log:" >&2
            tail -n 5 "$FLEET_DIR/agent-$n.log" >&2
            return 1
        fi
    done
}

fleet_stop() {
    local n
    [ -n "$FLEET_DIR" ] || return 0
    # shellcheck disable=SC2046
    fleet_stop_agent $(seq "$fleet_count")
    rm -rf "$FLEET_DIR"
    FLEET_DIR=""
}
