#!/usr/bin/env bash
# quorvane-exporter's cost per probe beside prometheus-blackbox-exporter's HTTP probe of the same
# agents (the bare fetch of the report, no translation), in the same run: CPU per probe (the
# exporter process's user + system time over all probes), wall time per probe as the client sees
# it, peak resident memory. Then 500 probes at once through each, of 500 real agents: the time
# until every answer is in, the slowest answer, how many read the agent, CPU per probe.
#
#   bench/exporter.sh
#
# Installs what it needs, builds the agent and the exporter in Release mode into
# build-bench-exporter/, and prints Markdown. Runs as root in private network and PID
# namespaces with a fleet of real agents (tests/support/fleet.sh), loopback only; everything
# ends with the script. The two exporters take turns, batch by batch, so a change in the
# machine's load meets both alike.
# Knobs (environment): AGENTS (the steady part's fleet, 50), ROUNDS (batches per exporter, 6),
# PER_ROUND (probes per batch, 500), PARALLEL (client concurrency in the steady part, 4),
# BURST (targets at once, 500; 0 skips the burst).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-bench-exporter
AGENTS=${AGENTS:-50}
ROUNDS=${ROUNDS:-6}
PER_ROUND=${PER_ROUND:-500}
PARALLEL=${PARALLEL:-4}
BURST=${BURST:-500}

if [ -z "${QUORVANE_BENCH_NETNS:-}" ]; then
    scripts/deps.sh prometheus-blackbox-exporter socat iproute2 >&2
    echo "Building (Release) into $BUILD/ ..." >&2
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$BUILD" --target quorvane-agent quorvane-exporter -j2 >/dev/null
    exec timeout -k 20 900 unshare --net --pid --fork --mount-proc --kill-child=TERM \
        env QUORVANE_BENCH_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

. tests/support/fleet.sh
ulimit -n "$(ulimit -Hn)"
tmp=$(mktemp -d /tmp/quorvane-bench-exporter.XXXXXX)
pids=()
cleanup() {
    for pid in ${pids[@]+"${pids[@]}"}; do kill -TERM "$pid" 2>/dev/null || true; done
    fleet_stop
    rm -rf "$tmp"
}
trap cleanup EXIT

cat >"$tmp/blackbox.yml" <<'YAML'
modules:
  quorvane_report:
    prober: http
    timeout: 10s
    http:
      method: GET
      preferred_ip_protocol: ip4
      valid_status_codes: [200]
YAML
"$BUILD/exporter/quorvane-exporter" --web.listen-address=127.0.0.1:15782 --log.level=error \
    2>"$tmp/quorvane.log" &
quorvane_pid=$!
pids+=($!)
prometheus-blackbox-exporter --config.file="$tmp/blackbox.yml" --web.listen-address=127.0.0.1:9115 \
    --log.level=error 2>"$tmp/blackbox.log" &
blackbox_pid=$!
pids+=($!)

count=$((BURST > AGENTS ? BURST : AGENTS))
started=$SECONDS
fleet_start "$count" "$BUILD/quorvane-agent" >&2
echo "fleet of $count agents up in $((SECONDS - started)) s" >&2

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
peak_kb() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }
quorvane_url() { echo "http://127.0.0.1:15782/probe?target=$(fleet_address "$1")"; }
blackbox_url() { echo "http://127.0.0.1:9115/probe?module=quorvane_report&target=http://$(fleet_address "$1"):5782/getdata"; }
# A curl config of probes, agent 1 to N in turn, all with Prometheus's time-out header (one
# operation: the header is given once and holds for every URL).
probes() { # url-function probes agents
    local i
    echo 'header = "X-Prometheus-Scrape-Timeout-Seconds: 10"'
    for ((i = 0; i < $2; i++)); do
        echo "url = \"$($1 $((i % $3 + 1)))\""
        echo 'output = "/dev/null"'
    done
}
probes quorvane_url "$PER_ROUND" "$AGENTS" >"$tmp/quorvane.curl"
probes blackbox_url "$PER_ROUND" "$AGENTS" >"$tmp/blackbox.curl"
# Each exporter's own answer says whether the agent was read: the body is checked once per
# exporter here, the batches below discard it.
grep -qx 'quorvane_up 1' <<<"$(curl -s "$(quorvane_url 1)")"
grep -qx 'probe_success 1' <<<"$(curl -s "$(blackbox_url 1)")"

# One batch: PARALLEL at a time; prints each probe's wall time in ms, then a line "cpu TICKS".
batch() { # pid config
    local before
    before=$(cpu_ticks "$1")
    { curl -s --parallel --parallel-max "$PARALLEL" -K "$2" -w '%{time_total} %{http_code}\n' || true; } |
        awk '$2 != 200 { failed++ } { print $1 * 1000 } END { if (failed) print "failed " failed > "/dev/stderr" }'
    echo "cpu $(($(cpu_ticks "$1") - before))"
}
for exporter in quorvane blackbox; do # warm-up
    pid_var=${exporter}_pid
    batch "${!pid_var}" "$tmp/$exporter.curl" >/dev/null
done
: >"$tmp/quorvane.times"
: >"$tmp/blackbox.times"
for ((round = 0; round < ROUNDS; round++)); do
    batch "$quorvane_pid" "$tmp/quorvane.curl" >>"$tmp/quorvane.times"
    batch "$blackbox_pid" "$tmp/blackbox.curl" >>"$tmp/blackbox.times"
done
hz=$(getconf CLK_TCK)
summary() { # times-file -> "median p99 cpu-ms-per-probe"
    local ticks
    ticks=$(awk '$1 == "cpu" { t += $2 } END { print t }' "$1")
    grep -v '^cpu' "$1" | sort -n | awk -v hz="$hz" -v ticks="$ticks" '{ v[++n] = $1 }
        END { printf "%.3f %.3f %.3f", v[int(n * 0.5) + 1], v[int(n * 0.99) + 1], ticks * 1000 / hz / n }'
}
read -r q50 q99 qcpu <<<"$(summary "$tmp/quorvane.times")"
read -r b50 b99 bcpu <<<"$(summary "$tmp/blackbox.times")"
qrss=$(peak_kb "$quorvane_pid")
brss=$(peak_kb "$blackbox_pid")

echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- $AGENTS real agents; $ROUNDS batches of $PER_ROUND probes per exporter, in turn, $PARALLEL at a time (curl --parallel)"
echo "- quorvane-exporter $("$BUILD/exporter/quorvane-exporter" --version | cut -d' ' -f2) (Release); $(prometheus-blackbox-exporter --version 2>&1 | head -n 1)"
echo
echo "| per probe | quorvane-exporter | blackbox_exporter (http) | ratio |"
echo "|---|---|---|---|"
awk -v a="$qcpu" -v b="$bcpu" 'BEGIN { printf "| CPU of the exporter, user + system | %.3f ms | %.3f ms | %.2f |\n", a, b, a / b }'
awk -v a="$q50" -v b="$b50" 'BEGIN { printf "| wall time, median | %.3f ms | %.3f ms | %.2f |\n", a, b, a / b }'
awk -v a="$q99" -v b="$b99" 'BEGIN { printf "| wall time, p99 | %.3f ms | %.3f ms | %.2f |\n", a, b, a / b }'
awk -v a="$qrss" -v b="$brss" 'BEGIN { printf "| peak resident memory (so far) | %d kB | %d kB | %.2f |\n", a, b, a / b }'

[ "$BURST" -gt 0 ] || exit 0
# --- BURST targets at once, each a different agent: all requests in flight together.
burst() { # pid url-function label
    local before start end config=$tmp/burst.curl
    probes "$2" "$BURST" "$BURST" >"$config"
    before=$(cpu_ticks "$1")
    start=$EPOCHREALTIME
    # A failed transfer shows as HTTP code 000 in the table, not as the script's end.
    curl -s --parallel --parallel-immediate --parallel-max "$BURST" -K "$config" \
        -w '%{time_total} %{http_code}\n' >"$tmp/burst.times" || true
    end=$EPOCHREALTIME
    local cpu=$(($(cpu_ticks "$1") - before))
    awk -v hz="$hz" -v cpu="$cpu" -v all="$(awk -v a="${start/./}" -v b="${end/./}" 'BEGIN { print (b - a) / 1e6 }')" \
        -v label="$3" '{ n++; if ($1 > max) max = $1; if ($2 == 200) ok++ }
        END { printf "| %s | %d | %d | %.2f s | %.2f s | %.3f ms |\n", label, n, ok, all, max, cpu * 1000 / hz / n }' \
        "$tmp/burst.times"
}
# How many of the answers read the agent: the exporters' own counters, before and after.
read_ok() { curl -s http://127.0.0.1:15782/metrics | awk '/^quorvane_exporter_probes_total / { p = $2 } /^quorvane_exporter_probe_failures_total/ { f += $2 } END { print p - f }'; }
echo
echo "$BURST probes at once, $BURST different real agents (curl --parallel-immediate --parallel-max $BURST), three times each:"
echo
echo "| exporter | probes | HTTP 200 | all answered after | slowest answer | CPU per probe |"
echo "|---|---|---|---|---|---|"
for _ in 1 2 3; do
    ok_before=$(read_ok)
    burst "$quorvane_pid" quorvane_url "quorvane-exporter"
    echo "|   read the agent (quorvane_up 1) | $(($(read_ok) - ok_before)) | | | | |"
    burst "$blackbox_pid" blackbox_url "blackbox_exporter"
done
echo
echo "Peak resident memory after the bursts: quorvane-exporter $(peak_kb "$quorvane_pid") kB, blackbox_exporter $(peak_kb "$blackbox_pid") kB."
