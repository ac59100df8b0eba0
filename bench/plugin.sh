#!/usr/bin/env bash
# check_quorvane's cost per check against a live agent, beside check_http (Debian's
# monitoring-plugins-basic) fetching the same URL: wall time per check (each one a new process,
# as a station runs them) and peak resident memory.
#
#   bench/plugin.sh
#
# Installs what it needs, builds the agent and the plugin in Release mode into
# build-bench-plugin/, and prints Markdown. The two programs run in turn, one check each, so a
# change in the machine's load meets both alike. Everything runs in a private network namespace
# (loopback only) that ends with the script; the agent is stopped on exit.
# Beside them, check_quorvane --version: process start and library loading alone.
# Knobs (environment): CHECKS (per program, 1000), MODE (storage).
set -euo pipefail
cd "$(dirname "$0")/.."

CHECKS=${CHECKS:-1000}
MODE=${MODE:-storage}
BUILD=build-bench-plugin

if [ -z "${QUORVANE_BENCH_NETNS:-}" ]; then
    scripts/deps.sh monitoring-plugins-basic time iproute2 >&2
    echo "Building (Release) into $BUILD/ ..." >&2
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$BUILD" --target quorvane-agent check_quorvane -j2 >/dev/null
    exec unshare -n env QUORVANE_BENCH_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

plugin=(
    "$PWD/$BUILD/plugin/check_quorvane" -H 127.0.0.1 -m "$MODE")
check_http=(/usr/lib/nagios/plugins/check_http -H 127.0.0.1 -p 5782 -u /getdata)

"$PWD/$BUILD/quorvane-agent" >/dev/null 2>&1 &
agent=$!
trap 'kill -TERM "$agent" 2>/dev/null; wait "$agent" 2>/dev/null' EXIT
for _ in $(seq 100); do
    curl -sf --max-time 1 -o /dev/null http://127.0.0.1:5782/getdata && break
    sleep 0.1
done

succeeds() { # name command...
    local name=$1 code
    shift
    "$@" >/dev/null && code=0 || code=$?
    if [ "$code" -ne 0 ]; then
        echo "$name does not succeed against the agent (exit $code): $("$@" | head -n 1)" >&2
        exit 1
    fi
}
succeeds check_quorvane "${plugin[@]}"
succeeds check_http "${check_http[@]}"

# Wall time of each check in microseconds, from just before the fork to the exit.
# --version loads the same libraries and exits: the part of a check that is process start-up.
plugin_times=()
http_times=()
startup_times=()
for ((i = 0; i < CHECKS; i++)); do
    start=$EPOCHREALTIME
    "${plugin[0]}" --version >/dev/null || true
    end=$EPOCHREALTIME
    startup_times+=($((${end/./} - ${start/./})))
    start=$EPOCHREALTIME
    "${plugin[@]}" >/dev/null
    end=$EPOCHREALTIME
    plugin_times+=($((${end/./} - ${start/./})))
    start=$EPOCHREALTIME
    "${check_http[@]}" >/dev/null
    end=$EPOCHREALTIME
    http_times+=($((${end/./} - ${start/./})))
done

stats() { # microseconds... -> "median p90 p99 mean" in ms
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1; s += $1 }
        END { printf "%.2f %.2f %.2f %.2f", v[int(NR * 0.5) + 1] / 1000, v[int(NR * 0.9) + 1] / 1000,
              v[int(NR * 0.99) + 1] / 1000, s / NR / 1000 }'
}
# Peak resident set size (GNU time's %M, kB), the median of 21 checks; CPU per check (user +
# system of 200 checks together, from the shell's times of its children).
resources() { # command...
    for _ in $(seq 21); do
        /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
    done | sort -n | sed -n 11p
    (
        for _ in $(seq 200); do "$@" >/dev/null; done
        times
    ) | sed -n 2p | tr 'ms' '  ' | awk '{ printf "%.2f\n", ($1 * 60 + $2 + $3 * 60 + $4) * 1000 / 200 }'
}
read -r p50 p90 p99 mean <<<"$(stats "${plugin_times[@]}")"
read -r h50 h90 h99 hmean <<<"$(stats "${http_times[@]}")"
read -r s50 _ _ _ <<<"$(stats "${startup_times[@]}")"
{ read -r prss; read -r pcpu; } < <(resources "${plugin[@]}")
{ read -r hrss; read -r hcpu; } < <(resources "${check_http[@]}")

echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- $CHECKS checks each, in turn; check_quorvane -m $MODE; check_http -u /getdata"
echo "- $(/usr/lib/nagios/plugins/check_http -V)"
echo
echo "| per check | check_quorvane | check_http | ratio |"
echo "|---|---|---|---|"
awk -v a="$p50" -v b="$h50" 'BEGIN { printf "| wall time, median | %.2f ms | %.2f ms | %.2f |\n", a, b, a / b }'
awk -v a="$p90" -v b="$h90" 'BEGIN { printf "| wall time, p90 | %.2f ms | %.2f ms | %.2f |\n", a, b, a / b }'
awk -v a="$p99" -v b="$h99" 'BEGIN { printf "| wall time, p99 | %.2f ms | %.2f ms | %.2f |\n", a, b, a / b }'
awk -v a="$mean" -v b="$hmean" 'BEGIN { printf "| wall time, mean | %.2f ms | %.2f ms | %.2f |\n", a, b, a / b }'
echo "| start-up only (check_quorvane --version), median | $s50 ms | | |"
awk -v a="$prss" -v b="$hrss" 'BEGIN { printf "| peak resident memory | %d kB | %d kB | %.2f |\n", a, b, a / b }'
awk -v a="$pcpu" -v b="$hcpu" 'BEGIN { printf "| CPU, user + system | %.2f ms | %.2f ms | %.2f |\n", a, b, a / b }'
