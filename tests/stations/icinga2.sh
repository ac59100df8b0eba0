#!/usr/bin/env bash
# check_quorvane and its station definitions against the real engines from Debian's packages:
#   - the plugin on its own: every failure UNKNOWN with its reason (refused, silent, trickling,
#     not 200, cut off, not XML, wrong root, a missing attribute, a wrong option);
#   - Nagios 4 verifies a configuration built on stations/nagios/quorvane.cfg (nagios4 -v), and
#     each of its command lines, expanded as Nagios expands them, runs;
#   - Icinga 2 with stations/icinga2/quorvane.conf: the five services on the live agent and on
#     the golden document served as a second agent (two disks, one of them 2^64 - 1 bytes), read
#     through the REST API: states and perfdata against the reports, thresholds firing, and every
#     service UNKNOWN once the agent is stopped;
#   - Icinga 2 with stations/icinga2/quorvane-services.conf over a fleet of 20 agents
#     (tests/support/fleet.sh): every applied service OK with the CheckCommand's default thresholds
#     and perfdata equal to the report; one agent stopped makes its host's services unreachable
#     through the dependency on its inventory service, and no other host's;
#   - the plugin against misbehaving servers: deep, wide, wrapped and out-of-range bodies are
#     UNKNOWN with the reason, within bounded memory (peak RSS printed).
# Everything runs in private network, mount and PID namespaces with the agent: loopback only,
# every wait bounded, every daemon stopped on exit; Icinga 2 runs as the nagios user in a
# directory of its own.
#   tests/stations/icinga2.sh [AGENT PLUGIN]   both default to build/, built first
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)

if [ "${QUORVANE_ICINGA_INSIDE:-}" != 1 ]; then
    scripts/deps.sh socat time icinga2-bin icinga2-common nagios4-core php8.2-cli libxml2-utils jq bc
    if [ $# -eq 0 ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build build --target quorvane-agent check_quorvane -j2 >/dev/null
        set -- build/quorvane-agent build/plugin/check_quorvane
    fi
    echo "== Icinga 2 $(dpkg-query -W -f='${Version}' icinga2-bin), Nagios $(dpkg-query -W -f='${Version}' nagios4-core)"
    # At the time limit the shell gets SIGTERM and its exit trap stops the daemons; the PID
    # namespace ends whatever is left.
    exec timeout -k 30 330 unshare --net --mount --propagation private --pid --fork --mount-proc \
        --kill-child=TERM env QUORVANE_ICINGA_INSIDE=1 "$0" "$(realpath "$1")" "$(realpath "$2")"
fi

agent=$1
plugin_build=$2
. tests/support/checks.sh
. tests/support/fleet.sh
fleet_size=20
started=$SECONDS
ip link set lo up

tmp=$(mktemp -d /tmp/quorvane-icinga.XXXXXX)
chmod 755 "$tmp"
daemon_logs=$tmp
cleanup() {
    stop_daemons
    fleet_stop
    if [ "$failures" -gt 0 ] && [ -f "$tmp/icinga/log/icinga2.log" ]; then
        echo "--- icinga2.log (last lines)"
        tail -n 20 "$tmp/icinga/log/icinga2.log"
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "stopped by a signal (time limit?)"; trap "" TERM INT; exit 1' TERM INT



# The plugin where the nagios user may run it, as a station installs it.
mkdir -p "$tmp/plugins"
install -m 755 "$plugin_build" "$tmp/plugins/check_quorvane"
plugin=$tmp/plugins/check_quorvane
golden=tests/golden/populated_report.xml
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; } # file expression

# --- the fleet; its first agent is "the agent", also reached at 127.0.0.1:5782 through a
# forwarder, stopped with it; its CPU average and latest sample taken every second; the golden
# document on 5783
fleet_started=$SECONDS
if ! fleet_start "$fleet_size" "$agent"; then
    fail "a fleet of $fleet_size agents serves its reports"
    exit 1
fi
echo "     $fleet_size agents at $(fleet_address 1) to $(fleet_address "$fleet_size") serve, $((SECONDS - fleet_started)) s after the first started"
start_daemon agent socat TCP4-LISTEN:5782,bind=127.0.0.1,fork,reuseaddr "TCP4:$(fleet_address 1):5782"
report_url=http://127.0.0.1:5782/getdata
if ! wait_until 20 curl -sf --max-time 2 -o /dev/null "$report_url"; then
    fail "the agent serves its report"
    exit 1
fi
sampler() {
    while :; do
        if curl -s --max-time 2 -o "$tmp/sample.xml" "$report_url" && grep -q '</root>' "$tmp/sample.xml"; then
            echo "$(date +%s) $(xpath "$tmp/sample.xml" 'string(/root/cpu-usage/@average)') $(
                xpath "$tmp/sample.xml" 'string(/root/cpu-usage)' | sed 's/.*,//')" >>"$tmp/cpu-samples"
            cp "$tmp/sample.xml" "$tmp/latest.xml"
        fi
        sleep 1
    done
}
sampler &
daemons+=($!)
mkdir -p "$tmp/golden"
cp "$golden" "$tmp/golden/getdata"
start_daemon golden-server php -S 127.0.0.1:5783 -t "$tmp/golden"

# --- the plugin's failures, against a server that answers whatever the file "case" names
cat >"$tmp/router.php" <<'EOF'
<?php
$golden = file_get_contents(getenv('QUORVANE_GOLDEN'));
switch (trim(file_get_contents(getenv('QUORVANE_CASE')))) {
case 'not-found': http_response_code(404); echo "<html>NOT FOUND</html>"; break;
case 'cut-off': header('Content-Type: text/xml'); echo substr($golden, 0, intdiv(strlen($golden), 2)); break;
case 'not-xml': echo "Quorvane\n"; break;
case 'wrong-root': header('Content-Type: text/xml'); echo str_replace(['<root ', '</root>'], ['<report ', '</report>'], $golden); break;
case 'no-total': header('Content-Type: text/xml'); echo preg_replace('/ total_physical="[0-9]*"/', '', $golden); break;
case 'silent': sleep(20); break;
case 'deep': header('Content-Type: text/xml'); echo '<root>', str_repeat('<a>', 1300000); break;
case 'wide': header('Content-Type: text/xml'); echo '<root>', str_repeat('<a/>', 900000), '</root>'; break;
case 'wrapped': header('Content-Type: text/xml'); echo str_replace('average="29"', 'average="4294967295"', $golden); break;
case 'load-101': header('Content-Type: text/xml'); echo str_replace('memory_load="37"', 'memory_load="101"', $golden); break;
}
EOF
echo silent >"$tmp/case"
start_daemon failure-server env QUORVANE_GOLDEN="$repo/$golden" QUORVANE_CASE="$tmp/case" \
    php -S 127.0.0.1:5784 "$tmp/router.php"
# PHP's built-in server sends a response when its script ends: a server that trickles the report,
# a byte every 0.25 s, is a socket of its own.
cat >"$tmp/trickle.php" <<'EOF'
<?php
$golden = file_get_contents(getenv('QUORVANE_GOLDEN'));
$server = stream_socket_server('tcp://127.0.0.1:5785');
while ($client = stream_socket_accept($server, 300)) {
    fread($client, 4096);
    fwrite($client, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n");
    for ($i = 0; $i < 80 && fwrite($client, $golden[$i]) === 1; $i++) { usleep(250000); }
    fclose($client);
}
EOF
start_daemon trickle-server env QUORVANE_GOLDEN="$repo/$golden" php "$tmp/trickle.php"
wait_until 10 curl -s --max-time 1 -o /dev/null http://127.0.0.1:5783/getdata || true
echo cut-off >"$tmp/case"
wait_until 10 curl -s --max-time 1 -o /dev/null http://127.0.0.1:5784/getdata || true

echo "== the plugin alone"
expect_unknown() { # case mode reason-pattern [plugin options...]
    local case=$1 mode=$2 pattern=$3 output code
    shift 3
    echo "$case" >"$tmp/case"
    set +e
    output=$("$plugin" -H 127.0.0.1 -p 5784 -m "$mode" "$@")
    code=$?
    set -e
    if [ "$code" = 3 ] && grep -q "^QUORVANE ${mode^^} UNKNOWN - .*$pattern" <<<"$output"; then
        pass "$case: UNKNOWN: $(head -n 1 <<<"$output")"
    else
        fail "$case: exit $code, $(head -n 1 <<<"$output") (wanted UNKNOWN matching '$pattern')"
    fi
}
expect_unknown not-found cpu "127.0.0.1:5784 answered HTTP 404"
expect_unknown cut-off memory "127.0.0.1:5784 sent no usable report: not a complete XML document"
expect_unknown not-xml cpu "127.0.0.1:5784 sent no usable report: not a complete XML document"
expect_unknown wrong-root uptime "127.0.0.1:5784 sent no usable report: the document element is report, not root"
expect_unknown no-total memory "127.0.0.1:5784 sent no usable report: the report lacks the attribute total_physical of memory"
# Bodies no agent sends: refused before they are parsed, or a figure out of its range; never
# judged, never a crash, and the memory stays within a few times the 4 MiB body limit.
for body in deep:cpu:"elements nested more than 3 deep, deeper than a report" \
    wide:memory:"more than 16384 elements, attributes and other nodes" \
    wrapped:cpu:"cpu-usage average 4294967295 is out of range (0 to 100), not judged" \
    load-101:memory:"memory memory_load 101 is out of range (0 to 100), not judged"; do
    IFS=: read -r case mode reason <<<"$body"
    echo "$case" >"$tmp/case"
    set +e
    output=$(/usr/bin/time -f %M -o "$tmp/rss" "$plugin" -H 127.0.0.1 -p 5784 -m "$mode")
    code=$?
    set -e
    rss=$(tail -n 1 "$tmp/rss")
    check "$case: exit $code, peak RSS $rss KiB: $(head -n 1 <<<"$output" | cut -c1-150)" \
        [ "$code" = 3 -a "$rss" -lt 32768 -a -n "$(grep -F "UNKNOWN - " <<<"$output" | grep -F "$reason")" ]
done
ms_since() { local now=$EPOCHREALTIME; echo $(((${now/./} - ${1/./}) / 1000)); } # start
silent_started=$EPOCHREALTIME
expect_unknown silent storage "no answer from 127.0.0.1:5784 within 2 s" -t 2
took=$(ms_since "$silent_started")
check "the silent server's check ends at its time-out (took $took ms)" [ "$took" -lt 2500 ]
# A byte every 0.25 s: no single wait reaches the time-out, the whole check does.
trickle_started=$EPOCHREALTIME
set +e
trickle=$("$plugin" -H 127.0.0.1 -p 5785 -m cpu -t 2)
trickle_code=$?
set -e
took=$(ms_since "$trickle_started")
check "trickling: UNKNOWN after $took ms: $trickle" \
    [ "$trickle_code" = 3 -a "$trickle" = "QUORVANE CPU UNKNOWN - no answer from 127.0.0.1:5785 within 2 s" \
    -a "$took" -lt 2500 ]
set +e
refused=$("$plugin" -H 127.0.0.1 -p 5790 -m inventory)
refused_code=$?
wrong=$("$plugin" -H 127.0.0.1 -m cpu -w 20:10)
wrong_code=$?
set -e
check "refused: UNKNOWN: $refused" [ "$refused_code" = 3 -a "$refused" = "QUORVANE INVENTORY UNKNOWN - connection to 127.0.0.1:5790 refused" ]
check "a wrong option: UNKNOWN with a usage line: $(head -n 1 <<<"$wrong")" \
    [ "$wrong_code" = 3 -a "$(sed -n 2p <<<"$wrong" | cut -c1-21)" = "Usage: check_quorvane" ]

# --- Nagios 4: the command definitions in a configuration it verifies, and run as it runs them
echo "== Nagios 4: nagios4 -v"
mkdir -p "$tmp/nagios"
# A copy in the test's own directory: nagios4 reads its configuration as the nagios user, who may
# not enter the clone (under /root, mode 700, on a fresh machine).
install -m 644 stations/nagios/quorvane.cfg "$tmp/nagios/quorvane.cfg"
cat >"$tmp/nagios/nagios.cfg" <<EOF
cfg_file=$tmp/nagios/quorvane.cfg
cfg_file=$tmp/nagios/objects.cfg
check_result_path=$tmp/nagios
lock_file=$tmp/nagios/nagios.lock
temp_file=$tmp/nagios/nagios.tmp
temp_path=$tmp/nagios
status_file=$tmp/nagios/status.dat
log_file=$tmp/nagios/nagios.log
nagios_user=nagios
nagios_group=nagios
illegal_macro_output_chars=\`~\$&|'"<>
EOF
chown nagios:nagios "$tmp/nagios"
cat >"$tmp/nagios/objects.cfg" <<'EOF'
define timeperiod{
	timeperiod_name	always
	alias	Always
	sunday	00:00-24:00
	monday	00:00-24:00
	tuesday	00:00-24:00
	wednesday	00:00-24:00
	thursday	00:00-24:00
	friday	00:00-24:00
	saturday	00:00-24:00
	}
define contact{
	contact_name	admin
	host_notifications_enabled	0
	service_notifications_enabled	0
	host_notification_period	always
	service_notification_period	always
	host_notification_options	n
	service_notification_options	n
	host_notification_commands	check_quorvane
	service_notification_commands	check_quorvane
	}
define host{
	host_name	windows-host
	address	127.0.0.1
	check_command	check_quorvane!inventory
	max_check_attempts	1
	check_period	always
	contacts	admin
	notification_period	always
	}
define service{
	name	quorvane-service
	host_name	windows-host
	max_check_attempts	1
	check_interval	5
	retry_interval	1
	check_period	always
	contacts	admin
	notification_period	always
	register	0
	}
define service{
	use	quorvane-service
	service_description	CPU
	check_command	check_quorvane_thresholds!cpu!80!90
	}
define service{
	use	quorvane-service
	service_description	Memory
	check_command	check_quorvane_thresholds!memory!80!90
	}
define service{
	use	quorvane-service
	service_description	Storage
	check_command	check_quorvane_storage!10:!5:!--exclude /nonexistent
	}
define service{
	use	quorvane-service
	service_description	Uptime
	check_command	check_quorvane_thresholds!uptime!3600:!600:
	}
define service{
	use	quorvane-service
	service_description	Inventory
	check_command	check_quorvane!inventory
	}
EOF
set +e
nagios4 -v "$tmp/nagios/nagios.cfg" >"$tmp/nagios-verify.log" 2>&1
code=$?
set -e
grep -E "^Total (Warnings|Errors)|^Checked [0-9]+ (services|commands)" "$tmp/nagios-verify.log" | sed 's/^/     /' || true
if [ "$code" = 0 ] && grep -qx 'Total Warnings: 0' "$tmp/nagios-verify.log"; then
    pass "nagios4 -v accepts the command definitions (exit 0, no warnings)"
else
    # The whole log: a configuration it cannot read ends it before any summary line.
    fail "nagios4 -v accepts the command definitions (exit $code, no warnings); its log:"
    sed 's/^/     /' "$tmp/nagios-verify.log"
fi
# Each service's command line as Nagios expands it: ARGn from the check_command, HOSTADDRESS,
# then through the shell, as Nagios runs a command line with quotes in it.
nagios_run() { # check_command
    local name line i
    IFS='!' read -r -a args <<<"$1"
    name=${args[0]}
    line=$(awk -v n="$name" '$1 == "command_name" { found = ($2 == n) } found && $1 == "command_line" { sub(/^[ \t]*command_line[ \t]+/, ""); print; exit }' "$tmp/nagios/quorvane.cfg")
    line=${line//\/usr\/lib\/nagios\/plugins\/check_quorvane/$plugin}
    line=${line//\$HOSTADDRESS\$/127.0.0.1}
    for ((i = 1; i < ${#args[@]}; i++)); do
        line=${line//\$ARG$i\$/${args[$i]}}
    done
    sh -c "$line"
}
while read -r command; do
    set +e
    out=$(nagios_run "$command")
    code=$?
    set -e
    # The live machine's figures decide between OK, WARNING and CRITICAL; any of them is a check
    # that ran.
    check "Nagios command $command: exit $code: $(head -n 1 <<<"$out" | cut -c1-110)" \
        grep -qE "^QUORVANE [A-Z]+ (OK|WARNING|CRITICAL) - " <<<"$out"
done < <(awk '$1 == "check_command" { sub(/^[ \t]*check_command[ \t]+/, ""); print }' "$tmp/nagios/objects.cfg" | sort -u)

# --- Icinga 2: own directory, own user, the project's CheckCommand, the REST API
echo "== Icinga 2"
ic=$tmp/icinga
mkdir -p "$ic"/{etc,data/certs,log,cache,spool,run}
# Icinga 2 runs as the nagios user, who may not read the clone: a copy, as for Nagios.
install -m 644 stations/icinga2/quorvane.conf stations/icinga2/quorvane-services.conf "$ic/etc/"
api_password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
cat >"$ic/etc/icinga2.conf" <<EOF
const NodeName = "quorvane-station"
const ZoneName = NodeName
const PluginDir = "$tmp/plugins"
object Endpoint NodeName {}
object Zone ZoneName { endpoints = [ NodeName ] }
include <itl>
include "$ic/etc/quorvane.conf"
include "$ic/etc/quorvane-services.conf"
object FileLogger "main-log" { severity = "information"; path = "$ic/log/icinga2.log" }
object CheckerComponent "checker" {}
object ApiListener "api" { bind_host = "127.0.0.1"; bind_port = 5665 }
object ApiUser "station" { password = "$api_password"; permissions = [ "objects/query/*" ] }

template Service "generic-service" {
  check_interval = 5s
  retry_interval = 5s
  max_check_attempts = 1
  enable_notifications = false
}
template Service "quorvane-service" {
  check_command = "quorvane"
  check_interval = 5s
  retry_interval = 5s
  max_check_attempts = 1
  enable_notifications = false
}
apply Service for (service => config in host.vars.quorvane_services) {
  import "quorvane-service"
  vars += config
}
const QuorvaneModes = {
  cpu = { quorvane_mode = "cpu" }
  memory = { quorvane_mode = "memory" }
  storage = { quorvane_mode = "storage" }
  uptime = { quorvane_mode = "uptime" }
  inventory = { quorvane_mode = "inventory" }
}
object Host "agent" {
  address = "127.0.0.1"
  check_command = "dummy"
  vars.quorvane_services = QuorvaneModes + {
    "cpu-warning" = { quorvane_mode = "cpu", quorvane_warning = "~:-1" }
    "cpu-critical" = { quorvane_mode = "cpu", quorvane_warning = "~:-1", quorvane_critical = "~:-1" }
    "memory-warning" = { quorvane_mode = "memory", quorvane_warning = "~:-1" }
    "memory-critical" = { quorvane_mode = "memory", quorvane_warning = "~:-1", quorvane_critical = "~:-1" }
    "storage-warning" = { quorvane_mode = "storage", quorvane_warning = "101:" }
    "storage-critical" = { quorvane_mode = "storage", quorvane_warning = "101:", quorvane_critical = "101:" }
  }
}
$(for ((n = 1; n <= fleet_size; n++)); do
    echo "object Host \"fleet-$n\" { address = \"$(fleet_address $n)\"; check_command = \"dummy\"; vars.quorvane_agent = true }"
done)
object Host "golden" {
  address = "127.0.0.1"
  check_command = "dummy"
  vars.quorvane_port = 5783
  vars.quorvane_services = QuorvaneModes + {
    // D: is full: without the default thresholds (an empty string is none) it is OK.
    storage = { quorvane_mode = "storage", quorvane_warning = "", quorvane_critical = "" }
    "storage-thresholds" = { quorvane_mode = "storage", quorvane_warning = "30:", quorvane_critical = "0.01:" }
    "storage-c" = { quorvane_mode = "storage", quorvane_include = [ "C:", "D:" ], quorvane_exclude = [ "D:" ], quorvane_warning = "30:" }
  }
}
EOF
chown -R nagios:nagios "$ic"
defines=()
for setting in ConfigDir=etc DataDir=data LogDir=log CacheDir=cache SpoolDir=spool InitRunDir=run \
    ZonesDir=etc/zones.d PidPath=run/icinga2.pid StatePath=data/icinga2.state \
    ModAttrPath=data/modified-attributes.conf ObjectsPath=cache/icinga2.debug VarsPath=cache/icinga2.vars; do
    defines+=("-DConfiguration.${setting%%=*}=$ic/${setting#*=}")
done
defines+=(-DConfiguration.RunAsUser=nagios -DConfiguration.RunAsGroup=nagios)
as_nagios() { runuser -u nagios -- "$@"; }
certs=$ic/data/certs
if ! as_nagios icinga2 pki new-ca "${defines[@]}" >"$tmp/pki.log" 2>&1 ||
    ! as_nagios icinga2 pki new-cert --cn quorvane-station --key "$certs/quorvane-station.key" \
        --csr "$certs/quorvane-station.csr" "${defines[@]}" >>"$tmp/pki.log" 2>&1 ||
    ! as_nagios icinga2 pki sign-csr --csr "$certs/quorvane-station.csr" \
        --cert "$certs/quorvane-station.crt" "${defines[@]}" >>"$tmp/pki.log" 2>&1; then
    fail "the API certificates are made"
    cat "$tmp/pki.log"
    exit 1
fi
as_nagios cp "$ic/data/ca/ca.crt" "$certs/ca.crt"
if ! as_nagios icinga2 daemon -C -c "$ic/etc/icinga2.conf" "${defines[@]}" >"$tmp/validate.log" 2>&1; then
    fail "icinga2 daemon -C accepts the configuration with the project's CheckCommand"
    grep -E "critical|warning" "$tmp/validate.log" | head -n 20
    exit 1
fi
pass "icinga2 daemon -C accepts the configuration with the project's CheckCommand"
icinga_started=$SECONDS
start_daemon icinga2 runuser -u nagios -- icinga2 daemon -c "$ic/etc/icinga2.conf" "${defines[@]}"

api() { # path [curl options...]
    local path=$1
    shift
    curl -s --max-time 10 --cacert "$certs/ca.crt" --resolve quorvane-station:5665:127.0.0.1 \
        -u "station:$api_password" -H 'Accept: application/json' "https://quorvane-station:5665/v1/$path" "$@"
}
# Every service's last result: host, service, state, output, perfdata items, start time.
results() {
    api 'objects/services?attrs=last_check_result&attrs=last_reachable' | jq -c '[.results[] | {
        host: (.name | split("!")[0]), service: (.name | split("!")[1]),
        state: .attrs.last_check_result.state, output: .attrs.last_check_result.output,
        perf: (.attrs.last_check_result.performance_data // []),
        start: .attrs.last_check_result.execution_start, reachable: .attrs.last_reachable}]'
}
all_checked() { [ "$(results | jq 'length > 0 and all(.[]; .start != null)')" = true ]; }
if wait_until 60 all_checked; then
    pass "all $(results | jq length) services have a result, $((SECONDS - icinga_started)) s after Icinga 2 started"
else
    fail "every service has a result within 60 s: $(results | jq -c '[.[] | select(.start == null) | .host + "!" + .service]')"
    exit 1
fi
snapshot=$(results)
cp "$tmp/latest.xml" "$tmp/live.xml"
echo "     transcript (host!service: state, output, perfdata; of the fleet only fleet-1):"
jq -r '.[] | select((.host | startswith("fleet-") | not) or .host == "fleet-1") | "       \(.host)!\(.service): \(.state | floor) \(.output | split("\n")[0]) | \(.perf | join(" "))"' <<<"$snapshot" | sort
state_of() { jq -r --arg h "$1" --arg s "$2" '.[] | select(.host == $h and .service == $s) | .state | floor' <<<"$snapshot"; }
output_of() { jq -r --arg h "$1" --arg s "$2" '.[] | select(.host == $h and .service == $s) | .output' <<<"$snapshot"; }
# One perfdata item's value, unit and fields: 'label'=value[UOM];warn;crit;min;max
# Icinga 2 keeps the values as the plugin wrote them and drops the quotes of a label that needs
# none.
perf_of() { # host service label
    jq -r --arg h "$1" --arg s "$2" --arg l "$3" '.[] | select(.host == $h and .service == $s) | .perf[]
        | (if startswith("'"'"'") then ("'"'"'" + $l + "'"'"'=") else ($l + "=") end) as $p
        | select(startswith($p)) | .[($p | length):]' <<<"$snapshot"
}
start_of() { jq -r --arg h "$1" --arg s "$2" '.[] | select(.host == $h and .service == $s) | .start | floor' <<<"$snapshot"; }

for host in agent golden; do
    for service in cpu memory storage uptime inventory; do
        state=$(state_of $host $service)
        check "$host!$service is OK (state $state): $(output_of $host $service | head -n 1)" [ "$state" = 0 ]
    done
done

# The live agent: memory total and disk sizes exact, the CPU average within the reports of its time.
want=$(xpath "$tmp/live.xml" 'string(/root/memory/@total_physical)')
got=$(perf_of agent memory memory_total)
check "agent memory_total equals the report's: $got" [ "$got" = "${want}B;;;0;" ]
# A report's CPU figures change every 5 s: the plugin's must lie between the least and the
# greatest of the reports taken within 7 s of its check.
within() { [ "$2" -gt 0 ] && [ -n "$1" ] && [ "$1" -ge "$3" ] && [ "$1" -le "$4" ]; } # value count low high
cpu_time=$(start_of agent cpu)
for figure in 2:cpu_average 3:cpu_latest; do
    value=$(perf_of agent cpu "${figure#*:}" | sed 's/%.*//')
    range=$(awk -v t="$cpu_time" -v f="${figure%%:*}" '$1 >= t - 7 && $1 <= t + 7 {
        if (n++ == 0) lo = hi = $f; if ($f < lo) lo = $f; if ($f > hi) hi = $f } END { if (n) print lo, hi, n }' "$tmp/cpu-samples")
    read -r lo hi n <<<"${range:-x x 0}"
    check "agent ${figure#*:} $value lies within the reports of its time [$lo, $hi] ($n reports)" \
        within "$value" "$n" "$lo" "$hi"
done
count=$(xpath "$tmp/live.xml" 'count(/root/storages/storage)')
for ((i = 1; i <= count; i++)); do
    device=$(xpath "$tmp/live.xml" "string(/root/storages/storage[$i]/@device_name)")
    size=$(xpath "$tmp/live.xml" "string(/root/storages/storage[$i]/@size)")
    got=$(perf_of agent storage "${device}_used")
    check "agent storage $device: size $size is the used bytes' maximum: $got" [ "${got##*;}" = "$size" ]
done

# The golden document: every figure exact, computed from the document.
g() { xpath "$golden" "string($1)"; }
check "golden cpu_average (with the default thresholds) and cpu_latest are the document's" \
    [ "$(perf_of golden cpu cpu_average)" = "$(g /root/cpu-usage/@average)%;80;90;0;100" -a \
    "$(perf_of golden cpu cpu_latest)" = "$(g /root/cpu-usage | tr ',' '\n' | tail -n 1)%;;;0;100" ]
total=$(g /root/memory/@total_physical)
check "golden memory_total and memory_used are the document's: $(perf_of golden memory memory_used)" \
    [ "$(perf_of golden memory memory_total)" = "${total}B;;;0;" -a \
    "$(perf_of golden memory memory_used)" = "$(bc <<<"$total - $(g /root/memory/@available_physical)")B;;;0;$total" ]
for ((i = 1; i <= $(xpath "$golden" 'count(/root/storages/storage)'); i++)); do
    device=$(g "/root/storages/storage[$i]/@device_name")
    size=$(g "/root/storages/storage[$i]/@size")
    want="$(bc <<<"$size - $(g "/root/storages/storage[$i]/@available")")B;;;0;$size"
    check "golden storage $device: ${device}_used=$want" [ "$(perf_of golden storage "${device}_used")" = "$want" ]
done
check "golden uptime is the document's" [ "$(perf_of golden uptime uptime)" = "$(g /root/uptime)s;;;0;" ]
check "golden inventory names the computer and the system" \
    grep -qF "$(g /root/computer/@name).$(g /root/computer/@domain): $(g /root/os)" <<<"$(output_of golden inventory)"

# Thresholds set where every value crosses them.
for service in cpu memory storage; do
    check "agent!$service-warning is WARNING: $(output_of agent $service-warning | head -n 1 | cut -c1-80)" \
        [ "$(state_of agent $service-warning)" = 1 ]
    check "agent!$service-critical is CRITICAL: $(output_of agent $service-critical | head -n 1 | cut -c1-80)" \
        [ "$(state_of agent $service-critical)" = 2 ]
done
check "golden!storage-thresholds is CRITICAL and names D:, the worst of two disks" \
    grep -q "^2 QUORVANE STORAGE CRITICAL - D: .*the worst of 2 disks" <<<"$(state_of golden storage-thresholds) $(output_of golden storage-thresholds)"
check "golden!storage-c: only C: (the exclude wins), WARNING below 30 % free" \
    [ "$(state_of golden storage-c)" = 1 -a "$(perf_of golden storage-c D:_free)" = "" -a -n "$(perf_of golden storage-c C:_free)" ]

# The fleet, through the shipped apply rules: every service OK under the default thresholds, the
# figures every agent shares with the first one's report (the same machine) exact.
fleet_results=$(jq -c '[.[] | select(.host | startswith("fleet-"))]' <<<"$snapshot")
check "fleet: $(jq length <<<"$fleet_results") services applied to $fleet_size hosts, all OK" \
    [ "$(jq '[.[] | select(.state == 0)] | length' <<<"$fleet_results")" = $((fleet_size * 5)) ]
total=$(xpath "$tmp/live.xml" 'string(/root/memory/@total_physical)')
check "fleet: memory_total on every host the report's, thresholds the defaults (80, 90)" \
    [ "$(jq -r '[.[] | select(.service == "quorvane-memory") | .perf[] | select(startswith("memory_total=") or startswith("memory_load="))
        | sub("^memory_load=[0-9]+%"; "load")] | unique | join(" ")' <<<"$fleet_results")" = "load;80;90;0;100 memory_total=${total}B;;;0;" ]
sizes=$(for ((i = 1; i <= $(xpath "$tmp/live.xml" 'count(/root/storages/storage)'); i++)); do
    echo "$(xpath "$tmp/live.xml" "string(/root/storages/storage[$i]/@device_name)")_used $(xpath "$tmp/live.xml" "string(/root/storages/storage[$i]/@size)")"
done | sort | tr '\n' ' ')
check "fleet: every disk's size on every host the report's ($sizes), free space thresholds 20%, 10%" \
    [ "$(jq -r '[.[] | select(.service == "quorvane-storage") | .perf | map(capture("^\u0027?(?<l>.*?)_(?<k>free|used)\u0027?=[^;]*;(?<w>[^;]*);(?<c>[^;]*);[^;]*;(?<m>.*)$"))
        | (map(select(.k == "used") | "\(.l)_used \(.m)") | sort | join(" ")) + " " + (map(select(.k == "free") | "\(.w) \(.c)") | unique | join(","))] | unique | join("|")' \
        <<<"$fleet_results")" = "${sizes}20: 10:" ]
# What Icinga 2 costs: its processes and the plugins they ran, over 30 s of the 118 services
# (100 of them on the fleet), every 5 s.
cpu_before=$(cpu_seconds icinga2)
sleep 30
cpu_after=$(cpu_seconds icinga2)
echo "     Icinga 2 CPU, plugins included: $(awk -v a="$cpu_before" -v b="$cpu_after" 'BEGIN { printf "%.2f", b - a }') s in 30 s for $((fleet_size + 2)) agents, $(cpu_per_agent_minute "$cpu_before" "$cpu_after" 30 $((fleet_size + 2))) per agent per minute (5 services every 5 s)"
# One agent of the fleet stops: its inventory service turns UNKNOWN and, through the dependency,
# its other services unreachable; every other host's stay reachable.
stopped_agent=$((fleet_size / 2))
fleet_stop_agent "$stopped_agent"
fleet_stopped=$SECONDS
dependency_followed() {
    [ "$(results | jq -c --arg h "fleet-$stopped_agent" '[.[] | select(.host | startswith("fleet-"))] |
        [(map(select(.host == $h and .service == "quorvane-inventory")) | .[0].state),
         (map(select(.host == $h and .service != "quorvane-inventory" and .reachable == false)) | length),
         (map(select(.host != $h and .reachable == false)) | length)]')" = "[3,4,0]" ]
}
if wait_until 40 dependency_followed; then
    pass "fleet-$stopped_agent stopped: its inventory UNKNOWN and its four other services unreachable, no other host's, $((SECONDS - fleet_stopped)) s later"
else
    fail "fleet-$stopped_agent stopped: its services follow the dependency: $(results | jq -c --arg h "fleet-$stopped_agent" '[.[] | select(.host == $h) | {service, state, reachable}]')"
fi
results | jq -r --arg h "fleet-$stopped_agent" '.[] | select(.host == $h) | "       \(.host)!\(.service): \(.state | floor) reachable \(.reachable) \(.output)"' | sort

# The agent stops: every one of its services turns UNKNOWN with the reason.
fleet_stop_agent 1
kill -TERM "${daemons[0]}"
wait "${daemons[0]}" 2>/dev/null || true
stopped=$(date +%s)
agent_unknown() {
    [ "$(results | jq --argjson t "$stopped" '[.[] | select(.host == "agent" and .start > $t and .state == 3
        and (.output | startswith("QUORVANE ") and endswith(" UNKNOWN - connection to 127.0.0.1:5782 refused")))] | length')" = \
        "$(results | jq '[.[] | select(.host == "agent")] | length')" ]
}
if wait_until 30 agent_unknown; then
    pass "agent stopped: all its services UNKNOWN within $(($(date +%s) - stopped)) s"
else
    fail "agent stopped: all its services UNKNOWN within 30 s"
fi
snapshot=$(results)
jq -r '.[] | select(.host == "agent") | "       \(.host)!\(.service): \(.state | floor) \(.output)"' <<<"$snapshot" | sort

echo "     stage inside the namespace: $((SECONDS - started)) s"
checks_summary
