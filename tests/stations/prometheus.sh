#!/usr/bin/env bash
# quorvane-exporter and stations/prometheus/ against Prometheus from Debian's packages:
#   - promtool: the scrape configuration, the alert rules and their unit tests;
#   - a fleet of real agents (tests/support/fleet.sh, FLEET_SIZE, 50 by default), each in its own
#     namespaces, listed in a file_sd file and scraped through the exporter every 2 s with the
#     shipped relabelling: every quorvane_up is 1 and each agent's figures equal its own report;
#     one agent stopped shows quorvane_up 0 within two scrapes while the others stay 1, and its
#     QuorvaneAgentDown alert becomes pending;
#   - the populated golden document (PHP's built-in server) as one more target: its 2^64 - 1-byte
#     disk and its -1 history sample;
#   - promtool check metrics on a live probe and on the exporter's own metrics.
# Everything runs in private network, mount and PID namespaces: loopback only, every wait
# bounded, every daemon and agent stopped on exit.
#   tests/stations/prometheus.sh [AGENT EXPORTER]   both default to build/, built first
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)

if [ "${QUORVANE_PROMETHEUS_INSIDE:-}" != 1 ]; then
    scripts/deps.sh prometheus php8.2-cli socat jq libxml2-utils
    if [ $# -eq 0 ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build build --target quorvane-agent quorvane-exporter -j2 >/dev/null
        set -- build/quorvane-agent build/exporter/quorvane-exporter
    fi
    echo "== Prometheus $(dpkg-query -W -f='${Version}' prometheus) through quorvane-exporter"
    # At the time limit the shell gets SIGTERM and its exit trap stops everything; the PID
    # namespace ends whatever is left.
    exec timeout -k 30 300 unshare --net --mount --propagation private --pid --fork --mount-proc \
        --kill-child=TERM env QUORVANE_PROMETHEUS_INSIDE=1 "$0" "$(realpath "$1")" "$(realpath "$2")"
fi

agent=$1
exporter=$2
. tests/support/checks.sh
. tests/support/fleet.sh
started=$SECONDS
ip link set lo up
fleet_size=${FLEET_SIZE:-50}
interval=2

tmp=$(mktemp -d /tmp/quorvane-prometheus.XXXXXX)
daemon_logs=$tmp
cleanup() {
    stop_daemons
    fleet_stop
    if [ "$failures" -gt 0 ]; then
        for log in "$tmp"/*.log; do
            echo "--- $(basename "$log") (last lines)"
            tail -n 10 "$log"
        done
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "stopped by a signal (time limit?)"; trap "" TERM INT; exit 1' TERM INT

rules=$repo/stations/prometheus/quorvane.rules.yml
quiet() { "$@" >"$tmp/quiet.log" 2>&1 || { sed 's/^/     /' "$tmp/quiet.log"; return 1; }; }
check "promtool check rules: the shipped rules" quiet promtool check rules "$rules"
if (cd stations/prometheus && promtool test rules quorvane.rules.test.yml >/dev/null); then
    pass "promtool test rules: every case of quorvane.rules.test.yml"
else
    fail "promtool test rules: every case of quorvane.rules.test.yml"
fi

# --- the fleet, the golden document, the exporter
fleet_started=$SECONDS
if ! fleet_start "$fleet_size" "$agent"; then
    fail "a fleet of $fleet_size agents serves"
    exit 1
fi
pass "a fleet of $fleet_size agents serves, $((SECONDS - fleet_started)) s after the start"
golden=127.0.0.1:5783
mkdir -p "$tmp/golden"
cp tests/golden/populated_report.xml "$tmp/golden/getdata"
start_daemon golden-server php -S "$golden" -t "$tmp/golden"
start_daemon exporter "$exporter" --web.listen-address=127.0.0.1:15782 --log.level=info
probe_url=http://127.0.0.1:15782/probe
wait_until 10 curl -sf --max-time 2 -o /dev/null "http://127.0.0.1:15782/metrics" ||
    fail "the exporter serves"
wait_until 10 curl -sf --max-time 2 -o /dev/null "http://$golden/getdata" || true

curl -s --max-time 5 "$probe_url?target=$(fleet_address 1)" >"$tmp/probe.txt"
out=$(promtool check metrics <"$tmp/probe.txt" 2>&1) && code=0 || code=$?
check "promtool check metrics: a live probe of $(fleet_address 1), $(grep -vc '^#' "$tmp/probe.txt") samples${out:+: $out}" \
    [ "$code" -eq 0 ]
curl -s --max-time 5 "http://127.0.0.1:15782/metrics" >"$tmp/own.txt"
out=$(promtool check metrics <"$tmp/own.txt" 2>&1) && code=0 || code=$?
check "promtool check metrics: the exporter's own metrics${out:+: $out}" [ "$code" -eq 0 ]

# --- Prometheus: the shipped configuration, with the test's file_sd directory, rules and interval
mkdir -p "$tmp/sd" "$tmp/data"
{
    echo "- targets:"
    for n in $(seq "$fleet_size"); do echo "    - '$(fleet_address "$n"):5782'"; done
    echo "  labels: {kind: fleet}"
    echo "- targets: ['$golden']"
    echo "  labels: {kind: golden}"
} >"$tmp/sd/agents.yml"
sed -e "s|scrape_interval: 30s|scrape_interval: ${interval}s|" -e "s|scrape_timeout: 10s|scrape_timeout: ${interval}s|" \
    -e "s|evaluation_interval: 30s|evaluation_interval: ${interval}s|" -e "s|/etc/prometheus/quorvane.rules.yml|$rules|" \
    -e "s|/etc/prometheus/quorvane/\*.yml|$tmp/sd/*.yml|" stations/prometheus/prometheus.yml >"$tmp/prometheus.yml"
check "promtool check config: the shipped scrape configuration" quiet promtool check config "$tmp/prometheus.yml"
start_daemon prometheus prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/data" \
    --web.listen-address=127.0.0.1:9090
prometheus_started=$SECONDS

promql() { # query -> the result vector, "instance value" per line
    curl -s --max-time 10 --get --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query |
        jq -r '.data.result[] | "\(.metric.instance // "") \(.value[1])"'
}
targets=$((fleet_size + 1))
all_up() { [ "$(promql 'count(quorvane_up == 1)' | awk '{print $NF}')" = "$targets" ]; }
if wait_until 60 all_up; then
    pass "every quorvane_up is 1: $targets targets, $((SECONDS - prometheus_started)) s after Prometheus started"
else
    fail "every quorvane_up is 1 within 60 s: $(promql 'count(quorvane_up == 1)')"
    promql 'quorvane_up' | sed 's/^/     /'
    exit 1
fi
echo "     transcript: quorvane_up, first and last five of $targets"
promql 'sort_desc(quorvane_up)' | sort -V | (head -n 5; echo "     ..."; tail -n 5) | sed 's/^/       /'

# --- each agent's figures against its own report: the computer name (fleet-N, so the instance
# reaches the right agent), the memory, each disk's size, the processors' cores, the OS version
series() { promql "$1" | sort >"$tmp/$2"; }
curl -s --max-time 10 --get --data-urlencode 'query=quorvane_computer_info' http://127.0.0.1:9090/api/v1/query |
    jq -r '.data.result[] | "\(.metric.instance) \(.metric.name)"' | sort >"$tmp/names"
series 'quorvane_memory_physical_total_bytes' memory
series 'sum by (instance) (quorvane_processor_cores)' cores
curl -s --max-time 10 --get --data-urlencode 'query=quorvane_volume_size_bytes' http://127.0.0.1:9090/api/v1/query |
    jq -r '.data.result[] | "\(.metric.instance) \(.metric.volume) \(.value[1])"' | sort >"$tmp/sizes"
curl -s --max-time 10 --get --data-urlencode 'query=quorvane_os_info' http://127.0.0.1:9090/api/v1/query |
    jq -r '.data.result[] | "\(.metric.instance) \(.metric.version)"' | sort >"$tmp/versions"
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }
mismatches=0
for n in $(seq "$fleet_size"); do
    instance="$(fleet_address "$n"):5782"
    report=$tmp/report-$n.xml
    curl -s --max-time 5 -o "$report" "http://$instance/getdata"
    want="$instance fleet-$n
$instance $(xpath "$report" 'string(/root/memory/@total_physical)')
$instance $(xpath "$report" 'sum(/root/processors/processor/@number_of_cores)')
$instance $(xpath "$report" 'string(/root/os/@version)')"
    for ((i = 1; i <= $(xpath "$report" 'count(/root/storages/storage)'); i++)); do
        want+="
$instance $(xpath "$report" "string(/root/storages/storage[$i]/@device_name)") $(xpath "$report" "string(/root/storages/storage[$i]/@size)")"
    done
    got="$(grep -F "$instance " "$tmp/names")
$(grep -F "$instance " "$tmp/memory")
$(grep -F "$instance " "$tmp/cores")
$(grep -F "$instance " "$tmp/versions")
$(grep -F "$instance " "$tmp/sizes")"
    if [ "$(sort <<<"$want")" != "$(sort <<<"$got")" ]; then
        mismatches=$((mismatches + 1))
        echo "     agent $n: Prometheus" $got "; report" $want
    fi
done
check "each of the $fleet_size agents: computer name, memory, cores, OS version and every disk's size equal its report" \
    [ "$mismatches" -eq 0 ]
first="$(fleet_address 1):5782 "
echo "     e.g. $(grep -F "$first" "$tmp/names"), $(grep -F "$first" "$tmp/memory" | cut -d' ' -f2) B, disks: $(
    grep -F "$first" "$tmp/sizes" | cut -d' ' -f2- | tr '\n' ' ')"

# --- the golden document: 2^64 - 1 bytes as prometheus-cpp writes it (16 significant digits,
# 1.844674407370955e+19), the -1 sample dropped and counted, the mean of the other 41 of the 42
# samples taken, the latest sample 40 %
golden_is() { # query expected description
    local got
    got=$(promql "$1" | awk '{print $NF}')
    if awk -v a="$got" -v b="$2" 'BEGIN { exit !(a != "" && (a == b || (a - b) / b < 1e-15 && (b - a) / b < 1e-15)) }'; then
        pass "golden document: $3: $got"
    else
        fail "golden document: $3: Prometheus '$got', expected $2"
    fi
}
g="instance=\"$golden\""
golden_is "quorvane_volume_size_bytes{$g,volume=\"D:\"}" 1.844674407370955e19 "disk D: of 2^64 - 1 bytes"
golden_is "quorvane_volume_free_bytes{$g,volume=\"D:\"}" 1000 "disk D: free"
golden_is "quorvane_probe_dropped_values{$g,field=\"cpu_load_sample\"}" 1 "the -1 sample dropped and counted"
golden_is "quorvane_cpu_load_15m_samples{$g}" 41 "15-minute mean over the 41 valid samples of the 42 taken"
golden_is "quorvane_cpu_load_15m_ratio{$g}" 0.2902439024390244 "15-minute mean (1190 / 41 %)"
golden_is "quorvane_cpu_load_ratio{$g}" 0.4 "latest sample"
golden_is "quorvane_volume_free_bytes{$g,volume=\"C:\"} / quorvane_volume_size_bytes" 0.24107465791548457 \
    "free / size as written (no ignoring()), disk C:"

# --- one agent stops: quorvane_up 0 within two scrapes, the others stay 1
victim=7
victim_instance="$(fleet_address $victim):5782"
stopped_at=$(date +%s.%N)
fleet_stop_agent "$victim"
victim_down() { [ "$(promql "quorvane_up{instance=\"$victim_instance\"}" | awk '{print $2}')" = 0 ]; }
WAIT_INTERVAL=0.25 wait_until 20 victim_down || true
# The samples Prometheus took after the stop, in order: the first or the second must be 0.
after=$(curl -s --max-time 10 --get --data-urlencode "query=quorvane_up{instance=\"$victim_instance\"}[30s]" \
    http://127.0.0.1:9090/api/v1/query | jq -r --arg t "$stopped_at" \
    '.data.result[0].values[] | select(.[0] > ($t | tonumber)) | .[1]' | tr '\n' ' ')
if [[ "$after" =~ ^(0|1\ 0)\  ]]; then
    pass "agent $victim stopped: quorvane_up 0 within two scrapes (samples after the stop: $after)"
else
    fail "agent $victim stopped: quorvane_up 0 within two scrapes (samples after the stop: $after)"
fi
sleep $((3 * interval))
others=$(promql "min_over_time(quorvane_up{instance!=\"$victim_instance\"}[$((4 * interval))s])" | awk '$2 == 1' | wc -l)
check "the other $((targets - 1)) targets stayed 1 in every scrape since ($others)" [ "$others" -eq $((targets - 1)) ]
echo "     transcript: quorvane_up around the stopped agent"
promql "quorvane_up{instance=~\"$(fleet_address $((victim - 1))):5782|$victim_instance|$(fleet_address $((victim + 1))):5782\"}" |
    sort -V | sed 's/^/       /'
pending() {
    curl -s --max-time 10 --get --data-urlencode 'query=ALERTS{alertname="QuorvaneAgentDown"}' \
        http://127.0.0.1:9090/api/v1/query | jq -r '.data.result[] | "\(.metric.instance) \(.metric.alertstate)"'
}
wait_until 10 bash -c "[ -n \"\$(curl -s --max-time 5 --get --data-urlencode 'query=ALERTS{alertname=\"QuorvaneAgentDown\"}' http://127.0.0.1:9090/api/v1/query | jq -r '.data.result[]')\" ]" || true
check "QuorvaneAgentDown is pending for agent $victim alone: $(pending | tr '\n' ' ')" \
    [ "$(pending)" = "$victim_instance pending" ]
grep -m 1 "reason=refused" "$tmp/exporter.log" | sed 's/^/     exporter log: /' || fail "the exporter logs the reason"

echo "     stage inside the namespace: $((SECONDS - started)) s"
checks_summary
