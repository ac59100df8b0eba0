#!/usr/bin/env bash
# The agent measured against its peers, in one run on this machine, and its own costs.
#
#   bench/run.sh
#
# Installs what it needs (Debian packages, only when missing), builds in Release mode into
# build-bench/, then prints, as Markdown:
#   1. requests/s, p50 and p99 at concurrency 1, 2 and 8 for the agent's /getdata, nginx serving
#      the very same report bytes as a static file with keep-alive off, and node_exporter's
#      /metrics; all with the same client (bench/LoadClient.cpp), a new connection per request;
#      at c=8 also with ApacheBench (ab) for the agent and nginx; CPU per served request of each
#      server; a chart (PNG, gnuplot) of req/s and p99 by concurrency;
#   2. Google Benchmark: one report document and one refresh cycle, in µs;
#   3. resources: resident memory after start and after 100,000 requests; CPU and voluntary
#      wake-ups of all the agent's threads per idle refresh period; time from process start to
#      the first complete report;
#   4. how long an ordinary client waits behind slow clients: 2 silent connections; 2 silent and
#      2 trickling ones; 12 silent ones; and how many one-attempt station polls are served
#      behind clients that trickle their heads and reconnect at once (12 from one address, 200
#      from 50);
#   5. a fair share: one-attempt station polls behind clients that loop complete requests (12 and
#      64 from one address, 500 from 250), behind 600 slow heads from 250 addresses (and the
#      accepting thread's CPU per connection cut there), at `ulimit -n 64` behind 300 silent
#      connections from 50; 12 concurrent requests from one host; ab -c 16 from one address;
#      POSTs whose body is still coming after the response (Python's http.client, wget
#      --post-file); a head over 32 KiB.
#
# Everything talks to 127.0.0.1 only, in a private network namespace when run as root (the slow
# clients come from other 127.x addresses). Every process started here is stopped on exit.
# Knobs (environment): DURATION (s per cell, 5), IDLE_PERIODS (refresh periods, 6),
# SOAK_REQUESTS (100000), FAIR_SHARE (1 = measure, about 4 min; 0 = skip; only = nothing else),
# SLOW_CLIENTS (1 = measure, each case bounded, in all up to 12 min when
# slow clients hold the agent; 0 = skip; only = nothing else), CHART (where the PNG goes;
# docs/performance.png), QUORVANE_AGENT (another agent binary to measure, e.g. an earlier build).
# A quick check of the script itself:
#   DURATION=1 IDLE_PERIODS=1 SOAK_REQUESTS=1000 SLOW_CLIENTS=0 CHART=/tmp/chart.png bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

DURATION=${DURATION:-5}
IDLE_PERIODS=${IDLE_PERIODS:-6}
SOAK_REQUESTS=${SOAK_REQUESTS:-100000}
SLOW_CLIENTS=${SLOW_CLIENTS:-1}
FAIR_SHARE=${FAIR_SHARE:-1}
CHART=${CHART:-$PWD/docs/performance.png}
AGENT_PORT=5782
BUILD=build-bench

if [ "$SLOW_CLIENTS" = only ] || [ "$FAIR_SHARE" = only ]; then
    scripts/deps.sh libbenchmark-dev apache2-utils wget python3 curl >&2
else
    scripts/deps.sh nginx prometheus-node-exporter libbenchmark-dev apache2-utils gnuplot-nox \
        procps wget python3 >&2
fi

echo "Building (Release) into $BUILD/ ..." >&2
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCH=ON \
    -DQUORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null

# The agent always listens on 5782, and the slow clients take many 127.x addresses: measure in a
# private network namespace of our own (loopback only, nothing else) when we can.
if [ -z "${QUORVANE_BENCH_NETNS:-}" ] && [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
    exec unshare -n env QUORVANE_BENCH_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' \
        "$0" "$@"
fi

AGENT=${QUORVANE_AGENT:-$PWD/$BUILD/quorvane-agent}
LOAD=$PWD/$BUILD/bench/quorvane-load
REPORT_BENCH=$PWD/$BUILD/bench/quorvane-report-bench

WORK=$(mktemp -d /tmp/quorvane-bench.XXXXXX)
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

port_in_use() {
    ss -Htln "sport = :$1" | grep -q .
}

free_port() {
    local port
    for port in $(seq 18080 18180); do
        if ! port_in_use "$port"; then
            echo "$port"
            return
        fi
    done
    echo "no free loopback port in 18080..18180" >&2
    exit 1
}

wait_for_http() {  # url
    for _ in $(seq 200); do
        curl -sf -o /dev/null --max-time 2 "$1" && return 0
        sleep 0.05
    done
    echo "nothing answers at $1" >&2
    return 1
}

# The agent always listens on 5782: wait (bounded) for another user of the port to go away.
wait_for_agent_port() {
    for _ in $(seq 120); do
        port_in_use "$AGENT_PORT" || return 0
        sleep 0.5
    done
    echo "port $AGENT_PORT stays in use; stop whatever listens there and run again" >&2
    exit 1
}

start_agent() {  # [descriptor limit]; sets AGENT_PID
    wait_for_agent_port
    (
        [ -z "${1:-}" ] || ulimit -Sn "$1"
        exec "$AGENT"
    ) >"$WORK/agent.log" 2>&1 &
    AGENT_PID=$!
    PIDS+=("$AGENT_PID")
    wait_for_http "http://127.0.0.1:$AGENT_PORT/getdata"
}

stop_pid() {  # pid: stop it and forget it, so the exit trap never signals a reused id
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    local kept=() pid
    for pid in "${PIDS[@]}"; do
        [ "$pid" = "$1" ] || kept+=("$pid")
    done
    PIDS=("${kept[@]}")
}

field() {  # key line
    echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"
}

rss_kb() {  # pid [field]: VmRSS, or RssAnon / RssFile
    awk -v key="${2:-VmRSS}:" '$1 == key {print $2}' "/proc/$1/status"
}

# Every thread of a process: CPU time in ns (scheduler accounting, not 10 ms ticks), and how
# often it went to sleep of its own accord.
threads_ns() {  # one line per thread: tid cpu_ns voluntary_context_switches
    local task
    for task in /proc/"$1"/task/*; do
        echo "${task##*/} $(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) $(awk '$1 == "voluntary_ctxt_switches:" {print $2}' "$task/status" 2>/dev/null)"
    done | sort
}

ticks() {  # utime + stime of the whole process, in clock ticks
    awk '{print $14 + $15}' "/proc/$1/stat"
}

refresh_count() {
    curl -s --max-time 5 "http://127.0.0.1:$AGENT_PORT/getdata" | sed -n 's/.* uc="\([0-9]*\)".*/\1/p' | head -1
}

# Slow clients against the real agent (2 connection threads, 10 queued, 60 s time-out, 5 s for
# the request head): how long an ordinary client waits behind them, and what they get.
slow_case() {  # label limit quorvane-load slow arguments...
    local label=$1 limit=$2 line ends outcome
    shift 2
    start_agent
    line=$("$LOAD" slow --port "$AGENT_PORT" --limit "$limit" "$@") || true
    AFTER_SLOW=$("$LOAD" load --port "$AGENT_PORT" --concurrency 1 --requests 10) || true
    stop_pid "$AGENT_PID"
    outcome=$(echo "$line" | sed -n 's/.*third_client_outcome=\(.*\) third_client_attempts=\([0-9]*\) .*/\1, \2 attempt(s)/p')
    # One entry per slow connection; counted when they all ended alike.
    ends=$(echo "$line" | sed -n 's/.*idle_connection_end="\([^"]*\)".*/\1/p' |
        awk -F'; ' '{same = 1; for (i = 2; i <= NF; i++) if ($i != $1) same = 0
            if (same && NF > 1) printf "all %d: %s", NF, $1; else print}')
    echo "| $label | $(field third_client_wait_s "$line") s ($outcome) | $ends | $(field ok "$AFTER_SLOW") of 10 ok |"
}

# A station polling once every 0.5 s behind clients that trickle their heads a byte a second and
# connect again the moment they are cut.
crowd_case() {  # label sources per-source
    local line
    start_agent
    line=$("$LOAD" crowd --port "$AGENT_PORT" --sources "$2" --per-source "$3" --interval 1 \
        --settle 6 --polls 20 --poll-interval 0.5 --poll-timeout 2) || true
    stop_pid "$AGENT_PID"
    echo "| $1 | $(field served "$line") of $(field polls "$line") | $(field slowest_served_s "$line") s | $(field slow_connections_cut_per_s "$line") |"
}

slow_clients() {
    echo "Slow clients: 5 cases, each bounded (70 s, 150 s, 420 s, 20 s, 20 s) ..." >&2
    echo
    echo "## Slow clients"
    echo
    echo "| case | ordinary client's wait | what the slow connections got | 10 requests right after |"
    echo "|---|---|---|---|"
    slow_case "2 connections that send nothing" 70 --idle 2
    slow_case "2 silent + 2 sending a request head one byte every 2 s" 150 --idle 2 --trickle 2 \
        --interval 2
    slow_case "12 silent connections never closed; the client connects again after each drop" 420 \
        --idle 12 --retry 1
    echo
    echo "| clients trickling a head a byte a second, reconnecting at once when cut | station polls served (one attempt each, 0.5 s apart, 2 s time-out) | slowest served | slow connections cut per s |"
    echo "|---|---|---|---|"
    crowd_case "12 from one address" 1 12
    crowd_case "200 from 50 addresses" 50 4
}

# ---------------------------------------------------------------------------------------------
# A fair share: stations behind busy hosts, legal clients the agent must not cut.
# Connection attempts the kernel dropped because the listen backlog was full (this namespace).
listen_drops() {
    awk '$1 == "TcpExt:" && !seen {split($0, names); seen = 1; next}
        $1 == "TcpExt:" {for (i = 2; i <= NF; i++) if (names[i] == "ListenDrops") print $i}' /proc/net/netstat
}

fair_flood() {  # label quorvane-load flood arguments...
    local label=$1 line drops
    shift
    start_agent
    drops=$(listen_drops)
    line=$("$LOAD" flood --port "$AGENT_PORT" --settle 2 --polls 20 --poll-interval 0.5 \
        --poll-timeout 2 --agent-pid "$AGENT_PID" "$@") || true
    drops=$(($(listen_drops) - drops))
    stop_pid "$AGENT_PID"
    echo "| station polls behind $label | $(field served "$line") of $(field polls "$line"), slowest $(field slowest_served_s "$line") s; $drops connection attempts dropped at the full backlog; the crowd got $(field crowd_requests_per_s "$line") reports/s; busiest thread $(field busiest_thread_share "$line") of a core |"
}

fair_crowd() {  # label descriptor-limit quorvane-load crowd arguments...
    local label=$1 limit=$2 line drops
    shift 2
    start_agent "$limit"
    drops=$(listen_drops)
    line=$("$LOAD" crowd --port "$AGENT_PORT" --settle 3 --polls 20 --poll-interval 0.5 \
        --poll-timeout 2 --agent-pid "$AGENT_PID" "$@") || true
    drops=$(($(listen_drops) - drops))
    stop_pid "$AGENT_PID"
    echo "| station polls behind $label | $(field served "$line") of $(field polls "$line"), slowest $(field slowest_served_s "$line") s; $drops dropped at the backlog; busiest thread $(field busiest_thread_share "$line") of a core, $(field busiest_thread_us_per_cut "$line") µs per connection cut ($(field slow_connections_cut_per_s "$line") cut/s) |"
}

fair_share() {
    echo "A fair share: 10 cases, about 4 min ..." >&2
    echo
    echo "## A fair share"
    echo
    echo "| case | figure |"
    echo "|---|---|"
    fair_flood "12 clients looping complete requests from one address" --sources 1 --per-source 12
    fair_flood "64 from one address" --sources 1 --per-source 64
    fair_flood "500 from 250 addresses" --sources 250 --connections 500
    fair_crowd "600 slow heads from 250 addresses (a byte a second, reconnecting at once)" "" \
        --sources 250 --connections 600 --interval 1
    fair_crowd "300 silent connections from 50 addresses (one byte each, held), ulimit -n 64" \
        64 --sources 50 --connections 300 --interval 1000 --pause 1000 --settle 1

    local line out failed posts wgets status
    start_agent
    line=$("$LOAD" burst --port "$AGENT_PORT" --concurrency 12 --runs 20) || true
    echo "| 12 concurrent requests from one host, 20 times | $(field ok "$line") of $(field of "$line") served |"
    out=$(ab -r -q -c 16 -n 5000 "http://127.0.0.1:$AGENT_PORT/getdata" 2>&1) || true
    failed=$(echo "$out" | awk '/^Failed requests:/ {getline; gsub(/[(),]/, " ")
        for (i = 1; i < NF; i++) if ($i == "Connect:" || $i == "Receive:" || $i == "Exceptions:") sum += $(i + 1)
        print sum + 0}')
    failed=$((failed + $(echo "$out" | awk '/^Non-2xx responses:/ {print $3}' | grep . || echo 0)))
    echo "| ab -r -c 16 -n 5000 from one address | $failed failed (connect, receive, non-2xx) |"
    posts=$(python3 - "$AGENT_PORT" <<'PY'
import http.client, sys, time
served = 0
for _ in range(20):
    try:
        connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=5)
        connection.putrequest("POST", "/getdata")
        connection.putheader("Content-Length", "5000")
        connection.endheaders()
        for _ in range(5):
            connection.send(b"b" * 1000)
            time.sleep(0.1)
        response = connection.getresponse()
        served += response.status == 200 and response.read().endswith(b"</root>\n")
        connection.close()
    except Exception:
        pass
print(served)
PY
)
    head -c 2000000 /dev/zero >"$WORK/post.bin"
    wgets=0
    for _ in $(seq 20); do
        rm -f "$WORK/wget.xml"
        wget -q --tries=1 --timeout=5 --post-file="$WORK/post.bin" -O "$WORK/wget.xml" \
            "http://127.0.0.1:$AGENT_PORT/getdata" 2>/dev/null && grep -q '</root>' "$WORK/wget.xml" &&
            wgets=$((wgets + 1))
    done
    echo "| http.client POST, 5 × 1,000 B 100 ms apart; wget --post-file 2 MB | $posts of 20; $wgets of 20 |"
    status=$(curl -s --max-time 5 -o /dev/null -w '%{http_code}' $(for i in 1 2 3 4 5; do
        printf -- "-H X-Large-%s:%s " "$i" "$(head -c 8000 /dev/zero | tr '\0' v)"; done) \
        "http://127.0.0.1:$AGENT_PORT/getdata") || true
    echo "| a head over 32 KiB (five 8,000-byte fields) | $([ "$status" = 000 ] && echo "no status line (reset or closed)" || echo "status $status") |"
    stop_pid "$AGENT_PID"
}

if [ "$FAIR_SHARE" = only ]; then
    fair_share
    exit 0
fi

if [ "$SLOW_CLIENTS" = only ]; then
    slow_clients
    exit 0
fi

# ---------------------------------------------------------------------------------------------
echo "Starting the agent, nginx and node_exporter on loopback ..." >&2
start_agent
mkdir -p "$WORK/www" "$WORK/nginx/logs"
curl -s --max-time 5 -o "$WORK/www/getdata" "http://127.0.0.1:$AGENT_PORT/getdata"
chmod -R go+rX "$WORK"

NGINX_PORT=$(free_port)
cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
worker_processes auto;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_timeout 0;
    sendfile on;
    default_type text/xml;
    client_body_temp_path $WORK/nginx/body;
    proxy_temp_path $WORK/nginx/proxy;
    fastcgi_temp_path $WORK/nginx/fastcgi;
    uwsgi_temp_path $WORK/nginx/uwsgi;
    scgi_temp_path $WORK/nginx/scgi;
    server {
        listen 127.0.0.1:$NGINX_PORT backlog=64;
        root $WORK/www;
        add_header Pragma no-cache;
    }
}
EOF
nginx -p "$WORK/nginx" -e "$WORK/nginx/logs/error.log" -c "$WORK/nginx/nginx.conf" &
PIDS+=("$!")
NGINX_PID=$!
wait_for_http "http://127.0.0.1:$NGINX_PORT/getdata"
if ! cmp -s "$WORK/www/getdata" <(curl -s --max-time 5 "http://127.0.0.1:$NGINX_PORT/getdata"); then
    echo "nginx does not serve the report bytes" >&2
    exit 1
fi

NODE_PORT=$(free_port)
prometheus-node-exporter --web.listen-address="127.0.0.1:$NODE_PORT" >"$WORK/node.log" 2>&1 &
PIDS+=("$!")
NODE_PID=$!
wait_for_http "http://127.0.0.1:$NODE_PORT/metrics"

# CPU time (utime + stime ticks) of the processes that serve: the agent's, or nginx's workers.
serving_ticks() {  # name
    case "$1" in
    agent) ticks "$AGENT_PID" ;;
    nginx)
        local sum=0 pid
        for pid in $(ps -o pid= --ppid "$NGINX_PID"); do
            sum=$((sum + $(ticks "$pid")))
        done
        echo "$sum"
        ;;
    *) ticks "$NODE_PID" ;;
    esac
}

declare -A RPS P50 P99 BYTES CPU_US AB_RPS AB_P99 AB_FAILED AB_CPU_US
measure() {  # name port path concurrency
    local line before after
    "$LOAD" load --port "$2" --path "$3" --concurrency "$4" --duration 0.5 --warmup 0 \
        >/dev/null || true
    before=$(serving_ticks "$1")
    line=$("$LOAD" load --port "$2" --path "$3" --concurrency "$4" --duration "$DURATION" \
        --warmup 0) || { echo "$1 c=$4: errors: $line" >&2; }
    after=$(serving_ticks "$1")
    RPS[$1,$4]=$(field rps "$line")
    P50[$1,$4]=$(field p50_us "$line")
    P99[$1,$4]=$(field p99_us "$line")
    BYTES[$1]=$(field bytes_per_response "$line")
    CPU_US[$1,$4]=$(awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" \
        -v n="$(field ok "$line")" 'BEGIN {if (n > 0) printf "%.1f", t * 1e6 / hz / n; else print "-"}')
    echo "  $1 c=$4: $line cpu_us_per_request=${CPU_US[$1,$4]}" >&2
}
# The c=8 cell again with ApacheBench, which reads a response without a length to its close (wrk
# counts every such response as a read error and reconnects, so its figure is no throughput).
measure_ab() {  # name port path
    local out before after
    before=$(serving_ticks "$1")
    out=$(ab -q -c 8 -t "$DURATION" -n 10000000 "http://127.0.0.1:$2$3" 2>&1) || true
    after=$(serving_ticks "$1")
    AB_RPS[$1]=$(echo "$out" | awk '/^Requests per second:/ {printf "%.0f", $4}')
    AB_P99[$1]=$(echo "$out" | awk '$1 == "99%" {print $2}')
    # ab counts a response whose length differs from the first one's as failed; the report's length
    # changes with the values of the load history, so only the other kinds are failures here.
    AB_FAILED[$1]=$(echo "$out" | awk '/^Failed requests:/ {getline; gsub(/[(),]/, " ")
        for (i = 1; i < NF; i++) if ($i == "Connect:" || $i == "Receive:" || $i == "Exceptions:") sum += $(i + 1)
        print sum + 0}')
    AB_CPU_US[$1]=$(awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" \
        -v n="$(echo "$out" | awk '/^Complete requests:/ {print $3}')" \
        'BEGIN {if (n > 0) printf "%.1f", t * 1e6 / hz / n; else print "-"}')
    echo "  $1 ab c=8: ${AB_RPS[$1]} req/s, p99 ${AB_P99[$1]} ms, failed ${AB_FAILED[$1]}, cpu_us_per_request=${AB_CPU_US[$1]}" >&2
}
echo "Load: ${DURATION} s per cell after 0.5 s warm-up ..." >&2
LOADAVG_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
for c in 1 2 8; do
    measure agent "$AGENT_PORT" /getdata "$c"
    measure nginx "$NGINX_PORT" /getdata "$c"
    measure node_exporter "$NODE_PORT" /metrics "$c"
done
measure_ab agent "$AGENT_PORT" /getdata
measure_ab nginx "$NGINX_PORT" /getdata
stop_pid "$NGINX_PID"
stop_pid "$NODE_PID"
stop_pid "$AGENT_PID"

ms() { awk -v us="$1" 'BEGIN {printf "%.2f", us / 1000}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.0f%%", 100 * a / b; else print "-"}'; }

echo
echo "## Machine"
echo
echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "- nproc: $(nproc); CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -1); kernel: $(uname -r)"
echo "- load average before the load runs: $LOADAVG_BEFORE"
[ -n "${QUORVANE_BENCH_NETNS:-}" ] && echo "- run in a private network namespace of its own (loopback only)"
echo "- agent measured: $AGENT"
echo "- commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet 2>/dev/null || echo ' (with local changes)')"
echo "- response sizes: agent ${BYTES[agent]} B, nginx ${BYTES[nginx]} B, node_exporter ${BYTES[node_exporter]} B (header included)"
echo
echo "## New connection per request, ${DURATION} s per cell"
echo
echo "| c | agent req/s | agent p50 / p99 ms | nginx req/s | nginx p50 / p99 ms | node_exporter req/s | node_exporter p50 / p99 ms | agent/nginx | agent/node_exporter |"
echo "|---|---|---|---|---|---|---|---|---|"
for c in 1 2 8; do
    echo "| $c | ${RPS[agent,$c]} | $(ms "${P50[agent,$c]}") / $(ms "${P99[agent,$c]}") | ${RPS[nginx,$c]} | $(ms "${P50[nginx,$c]}") / $(ms "${P99[nginx,$c]}") | ${RPS[node_exporter,$c]} | $(ms "${P50[node_exporter,$c]}") / $(ms "${P99[node_exporter,$c]}") | $(ratio "${RPS[agent,$c]}" "${RPS[nginx,$c]}") | $(ratio "${RPS[agent,$c]}" "${RPS[node_exporter,$c]}") |"
done
echo
echo "### c=8 with both clients; CPU per served request"
echo
echo "| client | agent req/s | agent p99 ms | agent CPU µs per request | nginx req/s | nginx p99 ms | nginx CPU µs per request | agent/nginx |"
echo "|---|---|---|---|---|---|---|---|"
echo "| bench/LoadClient.cpp | ${RPS[agent,8]} | $(ms "${P99[agent,8]}") | ${CPU_US[agent,8]} | ${RPS[nginx,8]} | $(ms "${P99[nginx,8]}") | ${CPU_US[nginx,8]} | $(ratio "${RPS[agent,8]}" "${RPS[nginx,8]}") |"
echo "| ab -c 8 (failed connects, receives: agent ${AB_FAILED[agent]:-?}, nginx ${AB_FAILED[nginx]:-?}) | ${AB_RPS[agent]:-?} | ${AB_P99[agent]:-?} | ${AB_CPU_US[agent]:-?} | ${AB_RPS[nginx]:-?} | ${AB_P99[nginx]:-?} | ${AB_CPU_US[nginx]:-?} | $(ratio "${AB_RPS[agent]:-0}" "${AB_RPS[nginx]:-0}") |"
echo
echo "CPU per served request: utime + stime from /proc/PID/stat over the cell, of the agent process and of nginx's workers together (node_exporter at c=8 with the bench client: ${CPU_US[node_exporter,8]} µs)."

# The chart beside docs/performance.md. Log scales: node_exporter serves a page 30 times the size.
{
    echo "# c agent_rps nginx_rps node_rps agent_p99_ms nginx_p99_ms node_p99_ms"
    for c in 1 2 8; do
        echo "$c ${RPS[agent,$c]} ${RPS[nginx,$c]} ${RPS[node_exporter,$c]} $(ms "${P99[agent,$c]}") $(ms "${P99[nginx,$c]}") $(ms "${P99[node_exporter,$c]}")"
    done
} >"$WORK/chart.dat"
gnuplot <<GNUPLOT
set terminal pngcairo noenhanced size 1000,420 font ",10"
set output "$CHART"
set multiplot layout 1,2 title "New connection per request, ${DURATION} s per cell ($(date -u '+%Y-%m-%d'), load average before: $LOADAVG_BEFORE)"
set logscale xy
set xtics ("1" 1, "2" 2, "8" 8)
set xrange [0.8:10]
set xlabel "concurrent connections"
set grid
set key top left
set title "requests per second"
plot "$WORK/chart.dat" using 1:2 with linespoints lw 2 title "agent", \
     "" using 1:3 with linespoints lw 2 title "nginx (same bytes)", \
     "" using 1:4 with linespoints lw 2 title "node_exporter"
set title "p99 latency (ms)"
plot "$WORK/chart.dat" using 1:5 with linespoints lw 2 title "agent", \
     "" using 1:6 with linespoints lw 2 title "nginx (same bytes)", \
     "" using 1:7 with linespoints lw 2 title "node_exporter"
unset multiplot
GNUPLOT
echo
echo "Chart of req/s and p99 by concurrency: $CHART"

# ---------------------------------------------------------------------------------------------
echo "Google Benchmark ..." >&2
"$REPORT_BENCH" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null >"$WORK/gbench.csv"
echo
echo "## In process (Google Benchmark, median of 3)"
echo
echo "| benchmark | wall µs | CPU µs | document bytes |"
echo "|---|---|---|---|"
awk -F, 'NR > 1 && $1 ~ /_median"?$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    printf "| %s | %.2f | %.2f | %s |\n", name, $3, $4, ($11 == "" ? "-" : $11)
}' "$WORK/gbench.csv"

# ---------------------------------------------------------------------------------------------
echo "Start-up ..." >&2
wait_for_agent_port
STARTUP=$("$LOAD" startup --agent "$AGENT" --port "$AGENT_PORT" --runs 5)

echo "Resources: $SOAK_REQUESTS requests, then $IDLE_PERIODS idle refresh periods ..." >&2
start_agent
RSS_START=$(rss_kb "$AGENT_PID")
ANON_START=$(rss_kb "$AGENT_PID" RssAnon)
FILE_START=$(rss_kb "$AGENT_PID" RssFile)
SOAK=$("$LOAD" load --port "$AGENT_PORT" --path /getdata --concurrency 8 \
    --requests "$SOAK_REQUESTS") || true
RSS_AFTER=$(rss_kb "$AGENT_PID")
ANON_AFTER=$(rss_kb "$AGENT_PID" RssAnon)
PSS_AFTER=$(awk '/^Pss:/ {print $2}' "/proc/$AGENT_PID/smaps_rollup" 2>/dev/null || echo "?")
HWM=$(awk '/^VmHWM:/ {print $2}' "/proc/$AGENT_PID/status")
sleep 1
UC0=$(refresh_count)
T0=$(ticks "$AGENT_PID")
threads_ns "$AGENT_PID" >"$WORK/threads0"
sleep $((IDLE_PERIODS * 5))
T1=$(ticks "$AGENT_PID")
threads_ns "$AGENT_PID" >"$WORK/threads1"
# Per thread over the idle periods: CPU (schedstat) and voluntary wake-ups (status); a thread
# that exists at one end only is counted from zero.
THREADS_IDLE=$(join -a 2 -e 0 -o 0,1.2,1.3,2.2,2.3 "$WORK/threads0" "$WORK/threads1" |
    awk '{printf "%s %.0f %d\n", $1, $4 - $2, $5 - $3}' | sort -k3,3nr)
UC1=$(refresh_count)
REFRESHES=$((UC1 - UC0))
stop_pid "$AGENT_PID"

echo
echo "## Resources (agent, Release build)"
echo
echo "| figure | value |"
echo "|---|---|"
echo "| resident memory after start (first report served) | $RSS_START kB ($FILE_START kB mapped library and executable pages, $ANON_START kB private) |"
echo "| resident memory after $(field ok "$SOAK") more requests (c=8, drops $(field drops "$SOAK"), errors $(field errors "$SOAK")) | $RSS_AFTER kB (peak $HWM kB) |"
echo "| private (anonymous) part after those requests; proportional set size | $ANON_AFTER kB; PSS $PSS_AFTER kB |"
echo "| growth over those requests | $((RSS_AFTER - RSS_START)) kB |"
echo "$THREADS_IDLE" | awk -v n="$IDLE_PERIODS" -v r="$REFRESHES" -v t="$((T1 - T0))" -v hz="$(getconf CLK_TCK)" '
    {cpu += $2; wakes += $3; count++; if ($3 > 0 || $2 > 0) lines = lines sprintf("%s%.1f (%.0f µs)", sep, $3 / n, $2 / n / 1000); if ($3 > 0 || $2 > 0) sep = ", "}
    END {
        printf "| idle, all %d threads, per 5 s period (%d periods, %d refreshes) | %.0f µs CPU (utime+stime ticks: %.0f µs), %.1f voluntary wake-ups |\n", count, n, r, cpu / n / 1000, t * 1e6 / hz / n, wakes / n
        printf "| of which, per thread that ran: wake-ups (CPU) per period | %s |\n", lines
    }'
echo "| process start to first complete report (5 runs) | median $(field first_report_ms_median "$STARTUP") ms, max $(field first_report_ms_max "$STARTUP") ms |"

# ---------------------------------------------------------------------------------------------
if [ "$SLOW_CLIENTS" = 1 ]; then
    slow_clients
fi
if [ "$FAIR_SHARE" = 1 ]; then
    fair_share
fi
