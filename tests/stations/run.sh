#!/usr/bin/env bash
# End-to-end checks of what stations/ ships, against the real engines from Debian's packages:
#   - the report schema: golden documents, the live report, and variants the agent never writes;
#   - Zabbix 6.0 (PostgreSQL, zabbix_server, the frontend's JSON-RPC API): the template imported,
#     stations/zabbix/quorvane-discovery.py pointed at a fleet of 20 agents (tests/support/fleet.sh)
#     so that network discovery adds each as a host linked to the template; items, inventory and
#     discovered storage items compared with the first agent's reports; thresholds set low raise
#     the CPU, memory and storage problems; one agent stopped raises the no-data problem for its
#     host only; a host on the golden document served as a file (two disks, 2^64 - 1 bytes);
#   - collectd (curl_xml + write_prometheus) scraped by Prometheus: memory and disk sizes.
# Everything runs in private network, mount and PID namespaces together with the agents: loopback
# only, every wait bounded, every daemon stopped on exit.
#   tests/stations/run.sh [AGENT]      AGENT defaults to build/quorvane-agent, built first
#   QUORVANE_KEEP_LOGS=DIR             the daemons' logs are copied there before the clean-up
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)

if [ "${QUORVANE_STATIONS_INSIDE:-}" != 1 ]; then
    scripts/deps.sh socat jq libxml2-utils postgresql zabbix-server-pgsql zabbix-frontend-php \
        php8.2-cli php8.2-pgsql collectd-core libmicrohttpd12 libprotobuf-c1 prometheus
    agent=${1:-build/quorvane-agent}
    if [ -z "${1:-}" ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build build --target quorvane-agent -j2 >/dev/null
    fi
    agent=$(realpath "$agent")
    echo "== schema (golden documents and variants)"
    tests/stations/check-schema.sh
    # The namespaces end every process left behind when the script's shell ends. At the time
    # limit the shell gets SIGTERM, and its exit trap stops the daemons.
    exec timeout -k 40 480 unshare --net --mount --propagation private --pid --fork --mount-proc \
        --kill-child=TERM env QUORVANE_STATIONS_INSIDE=1 "$0" "$agent"
fi

agent=$1
. tests/support/checks.sh
. tests/support/fleet.sh
fleet_size=20
started=$SECONDS
deadline() { echo $((SECONDS + $1)); }
elapsed() { echo "$((SECONDS - started)) s"; }

ip link set lo up
# write_prometheus resolves its bind address with AI_ADDRCONFIG, which glibc answers only when
# an address besides 127.0.0.1 is configured; a second loopback address is enough.
ip addr add 127.0.0.2/8 dev lo

tmp=$(mktemp -d /tmp/quorvane-stations.XXXXXX)
chmod 755 "$tmp"
daemon_logs=$tmp
pg_data=$tmp/pg/data
pg_sock=$tmp/pg/sock
pg_port=5439

cleanup() {
    local status=$?
    # zabbix_server writes its caches to the database on the way out: PostgreSQL stops last.
    stop_daemons
    fleet_stop
    if [ -f "$pg_data/postmaster.pid" ]; then
        runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$pg_data" -m fast \
            -t 20 stop >/dev/null 2>&1 || true
    fi
    if [ "$status" -ne 0 ] || [ "$failures" -gt 0 ]; then
        for log in "$tmp"/*.log; do
            [ -f "$log" ] || continue
            echo "--- $(basename "$log") (last lines)"
            tail -n 15 "$log"
        done
    fi
    [ -z "${QUORVANE_KEEP_LOGS:-}" ] || cp "$tmp"/*.log "$QUORVANE_KEEP_LOGS"/ 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "stopped by a signal (time limit?)"; trap "" TERM INT; exit 1' TERM INT


# --- the fleet, and the first agent's reports sampled every second, to compare the stations with
mkdir -p "$tmp/samples"
fleet_started=$SECONDS
if ! fleet_start "$fleet_size" "$agent"; then
    fail "a fleet of $fleet_size agents serves its reports"
    exit 1
fi
echo "     $fleet_size agents at $(fleet_address 1) to $(fleet_address "$fleet_size") serve, $((SECONDS - fleet_started)) s after the first started"
first_agent=$(fleet_address 1)
report_url=http://$first_agent:5782/getdata
curl -s --max-time 5 -o "$tmp/live.xml" "$report_url"
if out=$(xmllint --noout --schema stations/quorvane-report.xsd "$tmp/live.xml" 2>&1); then
    pass "the live report validates against the schema"
else
    fail "the live report validates against the schema: $out"
fi
sampler() {
    while :; do
        local now
        now=$(date +%s.%N)
        # Renamed once complete, so a reader never sees half a report.
        if curl -s --max-time 2 -o "$tmp/samples/.partial" "$report_url"; then
            mv "$tmp/samples/.partial" "$tmp/samples/$now.xml"
        fi
        sleep 1
    done
}
sampler &
daemons+=($!)
# The populated golden document as a static file, for a second station host: two disks, one of
# them 2^64 - 1 bytes.
mkdir -p "$tmp/golden"
cp tests/golden/populated_report.xml "$tmp/golden/getdata"
start_daemon golden-server php -S 127.0.0.1:5783 -t "$tmp/golden"

latest_sample() {
    local files=("$tmp"/samples/*.xml)
    echo "${files[-1]}"
}

xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; } # file expression

# Values of an XPath expression over the samples taken within 7 s of a Unix time, one per line.
sampled() { # time expression
    local file stamp
    for file in "$tmp"/samples/*.xml; do
        stamp=$(basename "$file" .xml)
        stamp=${stamp%%.*}
        if [ $((stamp - $1)) -le 7 ] && [ $(($1 - stamp)) -le 7 ] && grep -q '</root>' "$file"; then
            xpath "$file" "$2"
            echo
        fi
    done
}

# Does a value lie between the least and the greatest of the values sampled around its time?
within_samples() { # value time expression [tolerance]
    sampled "$2" "$3" | awk -v v="$1" -v tol="${4:-0}" '
        NF { n++; if (n == 1 || $1 + 0 < lo) { lo = $1 + 0; los = $1 }; if (n == 1 || $1 + 0 > hi) { hi = $1 + 0; his = $1 } }
        END { if (!n) exit 1; printf "%s in [%s, %s] (%d reports)", v, los, his, n; exit !(v + 0 >= lo - tol && v + 0 <= hi + tol) }'
}

# --- collectd and Prometheus start first: they fill up while Zabbix is set up
mkdir -p "$tmp/collectd" "$tmp/prometheus"
cat >"$tmp/collectd.conf" <<EOF
Hostname "quorvane-station-test"
FQDNLookup false
Interval 2
PluginDir "/usr/lib/collectd"
TypesDB "/usr/share/collectd/types.db"
BaseDir "$tmp/collectd"
PIDFile "$tmp/collectd/collectd.pid"
LoadPlugin logfile
<Plugin logfile>
  File "$tmp/collectd-plugins.log"
  LogLevel info
</Plugin>
Include "$tmp/quorvane.conf"
Include "$tmp/quorvane-golden.conf"
Include "$repo/stations/collectd/write_prometheus.conf"
EOF
# The drop-in pointed at the first agent; its block once more for the golden document, as an
# operator adds one per agent.
sed -e "s|http://127.0.0.1:5782/getdata|$report_url|" stations/collectd/quorvane.conf >"$tmp/quorvane.conf"
sed -e 's|http://127.0.0.1:5782/getdata|http://127.0.0.1:5783/getdata|' -e 's|Host "quorvane-agent"|Host "quorvane-golden"|' \
    -e '/^LoadPlugin/d' stations/collectd/quorvane.conf >"$tmp/quorvane-golden.conf"
start_daemon collectd collectd -C "$tmp/collectd.conf" -f
sed -e 's/scrape_interval: 30s/scrape_interval: 2s/' -e "s/'collectd.example:9103'/'127.0.0.2:9103'/" \
    stations/collectd/prometheus.yml >"$tmp/prometheus.yml"
start_daemon prometheus prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/prometheus" \
    --web.listen-address=127.0.0.1:9090
collectors_started=$SECONDS
collectors_epoch=$(date +%s.%N)

# --- Zabbix: PostgreSQL in a cluster of its own, the server, the frontend under PHP's server
echo "== Zabbix $(dpkg-query -W -f='${Version}' zabbix-server-pgsql)"
mkdir -p "$pg_sock"
touch "$tmp/postgres.log"
chown -R postgres "$tmp/pg" "$tmp/postgres.log"
runuser -u postgres -- /usr/lib/postgresql/15/bin/initdb -D "$pg_data" -U postgres -A trust \
    -E UTF8 --locale=C.UTF-8 --no-sync >"$tmp/initdb.log" 2>&1
runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$pg_data" -l "$tmp/postgres.log" -w -t 60 \
    -o "-c listen_addresses='' -k $pg_sock -p $pg_port -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null
sql() { psql -X -q -v ON_ERROR_STOP=1 -h "$pg_sock" -p "$pg_port" -U postgres "$@"; }
sql -c "CREATE DATABASE zabbix ENCODING 'UTF8' TEMPLATE template0" postgres
schema_started=$SECONDS
zcat /usr/share/zabbix-server-pgsql/{schema,images,data}.sql.gz | sql -d zabbix >"$tmp/schema.log" 2>&1
echo "     database schema loaded in $((SECONDS - schema_started)) s"

cat >"$tmp/zabbix_server.conf" <<EOF
LogFile=$tmp/zabbix_server.log
LogFileSize=0
PidFile=$tmp/zabbix_server.pid
SocketDir=$tmp
DBHost=$pg_sock
DBPort=$pg_port
DBName=zabbix
DBUser=postgres
AllowRoot=1
ListenIP=127.0.0.1
ListenPort=10051
# New hosts and discovered items reach the poller's cache within a second.
CacheUpdateFrequency=1
HousekeepingFrequency=0
StartPollers=2
StartPollersUnreachable=1
StartTrappers=1
StartPingers=0
StartDiscoverers=1
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartPreprocessors=2
StartLLDProcessors=2
StartHistoryPollers=1
StartDBSyncers=1
StartReportWriters=0
Timeout=4
EOF

# The Debian frontend reads /etc/zabbix/zabbix.conf.php: this mount namespace sees a directory
# of its own there.
mkdir -p "$tmp/etc-zabbix"
cat >"$tmp/etc-zabbix/zabbix.conf.php" <<EOF
<?php
\$DB['TYPE'] = 'POSTGRESQL';
\$DB['SERVER'] = '$pg_sock';
\$DB['PORT'] = '$pg_port';
\$DB['DATABASE'] = 'zabbix';
\$DB['USER'] = 'postgres';
\$DB['PASSWORD'] = '';
\$DB['SCHEMA'] = '';
\$DB['ENCRYPTION'] = false;
\$DB['KEY_FILE'] = '';
\$DB['CERT_FILE'] = '';
\$DB['CA_FILE'] = '';
\$DB['VERIFY_HOST'] = false;
\$DB['CIPHER_LIST'] = '';
\$DB['VAULT_URL'] = '';
\$DB['VAULT_DB_PATH'] = '';
\$DB['VAULT_TOKEN'] = '';
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER = '127.0.0.1';
\$ZBX_SERVER_PORT = '10051';
\$ZBX_SERVER_NAME = 'quorvane-station-test';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
EOF
mount --bind "$tmp/etc-zabbix" /etc/zabbix
start_daemon frontend php -S 127.0.0.1:8080 -t /usr/share/zabbix
api_url=http://127.0.0.1:8080/api_jsonrpc.php
auth=""

api() { # method params-json -> the result (JSON); an API error fails the call
    local body response
    body=$(jq -nc --arg m "$1" --argjson p "$2" --arg a "$auth" \
        '{jsonrpc: "2.0", method: $m, params: $p, id: 1} + (if $a == "" then {} else {auth: $a} end)')
    # jq 1.6 succeeds on empty input, so an empty answer (the server not up yet) is refused first.
    if ! response=$(curl -s --max-time 60 -H 'Content-Type: application/json-rpc' -d "$body" "$api_url") ||
        [ -z "$response" ] || ! jq -e 'has("result")' >/dev/null 2>&1 <<<"$response"; then
        echo "     API $1: $(jq -c '.error // .' <<<"$response" 2>/dev/null || echo "$response")" >&2
        return 1
    fi
    jq -c .result <<<"$response"
}

zabbix_checks() {
    if ! wait_until 30 api apiinfo.version '[]'; then
        fail "the frontend answers the API"
        return
    fi
    echo "     API version $(api apiinfo.version '[]')"
    auth=$(api user.login '{"username": "Admin", "password": "zabbix"}' | jq -r .)

    local rules='{"groups": {"createMissing": true},
        "templates": {"createMissing": true, "updateExisting": true},
        "items": {"createMissing": true, "updateExisting": true},
        "discoveryRules": {"createMissing": true, "updateExisting": true},
        "triggers": {"createMissing": true, "updateExisting": true},
        "graphs": {"createMissing": true, "updateExisting": true},
        "templateDashboards": {"createMissing": true, "updateExisting": true}}'
    if api configuration.import "$(jq -n --rawfile source stations/zabbix/quorvane_agent.yaml \
        --argjson rules "$rules" '{format: "yaml", source: $source, rules: $rules}')" >/dev/null; then
        pass "configuration.import accepts the template"
    else
        fail "configuration.import accepts the template"
        return
    fi
    local template_id
    template_id=$(api template.get '{"filter": {"host": ["Quorvane agent by HTTP"]}, "output": ["templateid"]}' |
        jq -r '.[0].templateid')
    check "the template has its dashboard, graphs, triggers and dependency" template_complete "$template_id"
    # The template's own macros changed, as a site changes its defaults (they take precedence
    # over global ones): every host polls every 5 s and counts as not answering after 30 s
    # without a report; the thresholds are out of reach but where a host's own macros set them,
    # whatever this machine's load.
    local macro
    for macro in '{$QUORVANE.INTERVAL}=5s' '{$QUORVANE.NODATA}=30s' '{$CPU.UTIL.CRIT}=100' '{$MEMORY.UTIL.MAX}=100' \
        '{$VFS.FS.PUSED.MAX.WARN}=100' '{$VFS.FS.PUSED.MAX.CRIT}=100'; do
        api usermacro.update "$(api usermacro.get "$(jq -n --arg t "$template_id" --arg m "${macro%%=*}" \
            '{hostids: [$t], filter: {macro: [$m]}, output: ["hostmacroid"]}')" | jq --arg v "${macro#*=}" '.[0] + {value: $v}')" >/dev/null
    done

    golden_id=$(golden_host)
    # --- the fleet recipe: network discovery over the fleet's addresses adds every agent
    local range out discovery_started=$SECONDS
    range="$first_agent-$(fleet_address "$fleet_size" | cut -d. -f4)"
    if out=$(ZABBIX_PASSWORD=zabbix python3 stations/zabbix/quorvane-discovery.py --url "$api_url" \
        --range "$range" --delay 10s --names ip 2>&1); then
        pass "quorvane-discovery.py: $out"
    else
        fail "quorvane-discovery.py creates the discovery rule and action: $out"
        return
    fi
    # The server starts now: its discoverer looks for new rules only once a minute.
    start_daemon zabbix_server /usr/sbin/zabbix_server -f -c "$tmp/zabbix_server.conf"
    fleet_group=$(api hostgroup.get '{"filter": {"name": ["Quorvane agents"]}, "output": ["groupid"]}' |
        jq -r '.[0].groupid')
    fleet_hosts() {
        api host.get "$(jq -n --arg g "$fleet_group" '{groupids: [$g], output: ["host", "inventory_mode"],
            selectParentTemplates: ["host"], selectInterfaces: ["ip"], selectInventory: ["name", "os", "os_short", "serialno_a"]}')"
    }
    all_linked() {
        hosts=$(fleet_hosts) &&
            [ "$(jq '[.[] | select(any(.parentTemplates[]; .host == "Quorvane agent by HTTP"))] | length' <<<"$hosts")" = "$fleet_size" ]
    }
    if wait_until 120 all_linked; then
        pass "network discovery: all $fleet_size agents are hosts linked to the template, $((SECONDS - discovery_started)) s after the rule was made"
    else
        fail "network discovery: $(jq length <<<"${hosts:-[]}") of $fleet_size agents are hosts linked to the template within $((SECONDS - discovery_started)) s"
        return
    fi
    host_of() { jq -r --arg ip "$1" '.[] | select(.interfaces[0].ip == $ip) | .hostid' <<<"$hosts"; } # address
    local host_id
    host_id=$(host_of "$first_agent")

    # Every host's items fill; the first agent's are compared with its reports.
    local keys=(quorvane.agent.version quorvane.os.name quorvane.os.version quorvane.os.fullname
        quorvane.hostname quorvane.hw.processor quorvane.uptime quorvane.cpu.average quorvane.cpu.util
        quorvane.memory.total quorvane.memory.available quorvane.memory.load)
    local items="" all="" end complete=0 filled_started=$SECONDS
    end=$(deadline 200)
    while [ $SECONDS -lt "$end" ]; do
        all=$(api item.get "$(jq -n --arg g "$fleet_group" \
            '{groupids: [$g], output: ["hostid", "key_", "lastvalue", "lastclock", "state", "error"]}')") || all='[]'
        complete=$(jq --argjson keys "$(printf '%s\n' "${keys[@]}" | jq -R . | jq -s .)" '
            group_by(.hostid) | map(
                (map(select(.lastclock != "0")) | map(.key_)) as $have
                | select(($keys - $have | length == 0)
                    and any(.[]; (.key_ | startswith("quorvane.storage.size[")) and .lastclock != "0")
                    and any(.[]; (.key_ | startswith("quorvane.storage.pused[")) and .lastclock != "0"))) | length' <<<"$all")
        [ "$complete" = "$fleet_size" ] && break
        sleep 2
    done
    items=$(jq -c --arg h "$host_id" 'map(select(.hostid == $h))' <<<"$all")
    if [ "$complete" = "$fleet_size" ]; then
        pass "every item and discovered storage item of all $fleet_size hosts has a value, $((SECONDS - filled_started)) s after they were linked"
    else
        fail "every item and discovered storage item has a value within $((SECONDS - filled_started)) s: $complete of $fleet_size hosts"
        jq -r --argjson keys "$(printf '%s\n' "${keys[@]}" | jq -R . | jq -s .)" 'group_by(.hostid)[]
            | "     host \(.[0].hostid): \(length) items, without a value: \(map(select(.lastclock == "0" and .key_ != "quorvane.report") | "\(.key_) \(.error)") + ($keys - map(.key_)) | join(", "))"' <<<"$all"
        return
    fi
    echo "     host $(fleet_address 1) ($host_id), last values:"
    jq -r '.[] | select(.lastclock != "0") | "       \(.key_) = \(.lastvalue)"' <<<"$items"

    value() { jq -r --arg k "$1" '.[] | select(.key_ == $k) | .lastvalue' <<<"$items"; }
    clock() { jq -r --arg k "$1" '.[] | select(.key_ == $k) | .lastclock' <<<"$items"; }
    local latest
    latest=$(latest_sample)
    exact() { # key expression description
        local got want
        got=$(value "$1")
        want=$(xpath "$latest" "$2")
        if [ "$got" = "$want" ]; then pass "$3: $got"; else fail "$3: Zabbix $got, report $want"; fi
    }
    ranged() { # key expression description [tolerance]
        local note
        if note=$(within_samples "$(value "$1")" "$(clock "$1")" "$2" "${4:-0}"); then
            pass "$3: $note"
        else
            fail "$3: $note"
        fi
    }
    exact quorvane.memory.total 'string(/root/memory/@total_physical)' "memory total equals the report's"
    exact quorvane.agent.version 'string(/root/@agent_version)' "agent version equals the report's"
    exact quorvane.os.name 'string(/root/os/@name)' "OS name equals the report's"
    exact quorvane.os.version 'string(/root/os/@version)' "OS version equals the report's"
    exact quorvane.os.fullname 'string(/root/os)' "OS full name equals the report's"
    exact quorvane.hostname 'string(/root/hostname)' "system name equals the report's"
    ranged quorvane.cpu.average 'string(/root/cpu-usage/@average)' "CPU average within the reports of its time"
    ranged quorvane.memory.available 'string(/root/memory/@available_physical)' "available memory within the reports of its time"
    ranged quorvane.memory.load 'string(/root/memory/@memory_load)' "memory load within the reports of its time"
    ranged quorvane.uptime 'string(/root/uptime)' "uptime within the reports of its time" 1
    # The last minute's mean lies between the least and the greatest of the last 12 samples of
    # the reports of its time.
    local util bounds
    util=$(value quorvane.cpu.util)
    bounds=$(sampled "$(clock quorvane.cpu.util)" 'string(/root/cpu-usage)' | awk -F, '
        NF { for (i = NF > 11 ? NF - 11 : 1; i <= NF; i++) if ($i >= 0 && $i <= 100) print $i }' |
        sort -n | sed -n '1p;$p' | tr '\n' ' ')
    check "CPU utilization (the last minute) $util within the last samples of its time [${bounds% }]" \
        awk -v v="$util" -v lo="${bounds%% *}" -v hi="$(awk '{print $2}' <<<"$bounds")" \
        'BEGIN { exit !(lo != "" && v + 0 >= lo + 0 && v + 0 <= hi + 0) }'
    local inventory="" want_inventory
    want_inventory=$(jq -nc --arg os "$(xpath "$latest" 'string(/root/os)')" --arg name "$(xpath "$latest" 'string(/root/hostname)')" \
        '{inventory_mode: "1", name: $name, os: $os}')
    inventory_filled() {
        inventory=$(api host.get "$(jq -n --arg h "$host_id" '{hostids: [$h], output: ["inventory_mode"],
            selectInventory: ["name", "os"]}')" | jq -c '.[0] | {inventory_mode} + .inventory') &&
            [ "$inventory" = "$want_inventory" ]
    }
    if wait_until 30 inventory_filled; then
        pass "inventory mode automatic (the action) and filled by the template's links: $inventory"
    else
        fail "inventory mode automatic (the action) and filled by the template's links: $inventory, not $want_inventory"
    fi

    # Every disk of the report outside the discovery filter's default is discovered.
    local count device devices
    devices=$(for ((i = 1; i <= $(xpath "$latest" 'count(/root/storages/storage)'); i++)); do
        xpath "$latest" "string(/root/storages/storage[$i]/@device_name)"
        echo
    done | grep -Ev '^(/dev|/sys|/run|/proc|.+/shm$)')
    count=$(grep -c . <<<"$devices")
    while read -r device; do
        local at="/root/storages/storage[@device_name='$device']"
        exact "quorvane.storage.size[\"$device\"]" "string($at/@size)" "storage $device: size equals the report's"
        if [ -n "$(clock "quorvane.storage.available[\"$device\"]")" ]; then
            ranged "quorvane.storage.available[\"$device\"]" "string($at/@available)" \
                "storage $device: available space within the reports of its time"
            ranged "quorvane.storage.pused[\"$device\"]" "100 - 100 * number($at/@available) div number($at/@size)" \
                "storage $device: percent used within the reports of its time" 0.001
        else
            fail "storage $device: discovered"
        fi
    done <<<"$devices"
    golden_checks "$golden_id"

    # Thresholds set low on two hosts: each trigger fires where its macro is crossed and nowhere
    # else; then on the second host, with the disk critically low, a low-space warning threshold
    # crossed too stays held back by the dependency.
    local second
    second=$(host_of "$(fleet_address 2)")
    set_low() { # host macro...
        local host=$1 macro
        shift
        for macro in "$@"; do
            api usermacro.create "$(jq -n --arg h "$host" --arg m "$macro" '{hostid: $h, macro: $m, value: "-1"}')" >/dev/null
        done
    }
    set_low "$host_id" '{$CPU.UTIL.CRIT}' '{$VFS.FS.PUSED.MAX.WARN}'
    set_low "$second" '{$MEMORY.UTIL.MAX}' '{$VFS.FS.PUSED.MAX.CRIT}'
    zabbix_expected=$(jq -n --arg a "$host_id" --arg b "$second" --argjson n "$count" \
        '{($a): {cpu: 1, memory: 0, low: $n, critical: 0, nodata: 0}, ($b): {cpu: 0, memory: 1, low: 0, critical: $n, nodata: 0}}')
    local thresholds_set=$SECONDS
    if wait_until 60 firing_as_expected; then
        pass "thresholds set low: CPU and low space on $(fleet_address 1), memory and critically low space on $(fleet_address 2), nothing elsewhere, $((SECONDS - thresholds_set)) s after the macros"
        set_low "$second" '{$VFS.FS.PUSED.MAX.WARN}'
        sleep 15
        if firing_as_expected; then
            pass "the low-space warning crossed on $(fleet_address 2) too stays held back by the critical one it depends on (three polls later)"
        else
            fail "the low-space warning on $(fleet_address 2) is held back by the critical one: firing $(problems_by_host)"
        fi
    else
        fail "thresholds set low: expected $(jq -c . <<<"$zabbix_expected"), firing $(problems_by_host)"
    fi
    zabbix_ready=yes
}
template_complete() { # template id
    local got
    got=$(api template.get "$(jq -n --arg t "$1" '{templateids: [$t], output: ["host"],
        selectDashboards: "count", selectGraphs: "count", selectTriggers: "count"}')" | jq -c '.[0]')
    echo "     template: $got"
    [ "$(jq '.dashboards | tonumber' <<<"$got")" -ge 1 ] && [ "$(jq '.graphs | tonumber' <<<"$got")" -ge 2 ] &&
        [ "$(api triggerprototype.get "$(jq -n --arg t "$1" '{templateids: [$t], selectDependencies: ["description"],
            output: ["description"]}')" | jq '[.[] | select(.dependencies | length > 0)] | length')" = 1 ]
}
# A host on the populated golden document, served as a static file: two disks (XML to JSON gives
# an array, not the object of a single disk) and a size of 2^64 - 1.
golden_host() {
    local group template
    group=$(api hostgroup.get '{"filter": {"name": ["Linux servers"]}, "output": ["groupid"]}' | jq -r '.[0].groupid')
    template=$(api template.get '{"filter": {"host": ["Quorvane agent by HTTP"]}, "output": ["templateid"]}' | jq -r '.[0].templateid')
    api host.create "$(jq -n --arg t "$template" --arg g "$group" '{host: "quorvane-golden", groups: [{groupid: $g}],
        templates: [{templateid: $t}], interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
        macros: [{macro: "{$QUORVANE.PORT}", value: "5783"}]}')" | jq -r '.hostids[0]'
}
golden_checks() { # host id
    local golden=tests/golden/populated_report.xml items end wanted got golden_id=$1
    wanted=$(for ((i = 1; i <= $(xpath "$golden" 'count(/root/storages/storage)'); i++)); do
        echo "quorvane.storage.size[\"$(xpath "$golden" "string(/root/storages/storage[$i]/@device_name)")\"] $(
            xpath "$golden" "string(/root/storages/storage[$i]/@size)")"
    done)
    end=$(deadline 60)
    while :; do
        items=$(api item.get "$(jq -n --arg h "$golden_id" '{hostids: [$h], search: {key_: "quorvane.storage.size"},
            output: ["key_", "lastvalue", "lastclock"]}')") || items='[]'
        got=$(jq -r '.[] | select(.lastclock != "0") | "\(.key_) \(.lastvalue)"' <<<"$items" | sort)
        if [ "$got" = "$(sort <<<"$wanted")" ] || [ $SECONDS -ge "$end" ]; then
            break
        fi
        sleep 2
    done
    if [ "$got" = "$(sort <<<"$wanted")" ]; then
        pass "golden document: both disks discovered, sizes exact: $(tr '\n' ' ' <<<"$got")"
    else
        fail "golden document: disks and sizes: Zabbix '$(tr '\n' ' ' <<<"$got")', document '$(tr '\n' ' ' <<<"$wanted")'"
    fi
}
# The problems of the fleet's hosts, by host id: how many triggers of each kind fire.
problems_by_host() {
    api trigger.get "$(jq -n --arg g "$fleet_group" '{groupids: [$g], output: ["description", "value"],
        selectHosts: ["hostid"], filter: {value: 1}}')" | jq -c 'map({host: .hosts[0].hostid, kind: (.description |
            if test("High CPU") then "cpu" elif test("High memory") then "memory"
            elif test("critically low") then "critical" elif test("Disk space is low") then "low"
            elif test("not answering") then "nodata" else . end)})
        | group_by(.host) | map({key: .[0].host, value: (group_by(.kind) | map({key: .[0].kind, value: length}) | from_entries)})
        | from_entries'
}
# Do the problems match $zabbix_expected exactly (kinds with 0 left out, hosts without any too)?
firing_as_expected() {
    [ "$(problems_by_host | jq -S -c .)" = "$(jq -S -c 'map_values(with_entries(select(.value > 0))) | with_entries(select(.value != {}))' <<<"$zabbix_expected")" ]
}
fleet_group=""
hosts='[]'
zabbix_expected='{}'
zabbix_ready=no
zabbix_checks

# --- Prometheus: the values collectd took from the report, through write_prometheus
echo "== collectd $(dpkg-query -W -f='${Version}' collectd-core) and Prometheus $(dpkg-query -W -f='${Version}' prometheus)"
promql() { # query -> "labels value" lines
    curl -s --max-time 10 --get --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query |
        jq -r '.data.result[] | "\(.metric.quorvane // "") \(.value[1])"'
}
prometheus_has_memory() { [ -n "$(promql 'collectd_quorvane_memory{type="total"}')" ]; }
prometheus_checks() {
    local latest count device instance size got end
    if wait_until 60 prometheus_has_memory; then
        pass "Prometheus has the agent's memory, $((SECONDS - collectors_started)) s after collectd and Prometheus started"
    else
        fail "Prometheus has the agent's memory within $((SECONDS - collectors_started)) s"
        return
    fi
    # The samples carry collectd's own times: the first one tells how soon the value arrived.
    local first
    first=$(curl -s --max-time 10 --get --data-urlencode 'query=collectd_quorvane_memory{type="total"}[10m]' \
        http://127.0.0.1:9090/api/v1/query | jq -r '.data.result[0].values[0][0]')
    echo "     first sample taken $(awk -v a="$first" -v b="$collectors_epoch" 'BEGIN { printf "%.1f", a - b }') s after collectd started"
    latest=$(latest_sample)
    got=$(promql 'collectd_quorvane_memory{type="total",instance="quorvane-agent"}' | awk '{print $2}')
    size=$(xpath "$latest" 'string(/root/memory/@total_physical)')
    if [ "$got" = "$size" ]; then pass "memory total equals the report's: $got"; else fail "memory total: Prometheus $got, report $size"; fi
    count=$(xpath "$latest" 'count(/root/storages/storage)')
    for ((i = 1; i <= count; i++)); do
        device=$(xpath "$latest" "string(/root/storages/storage[$i]/@device_name)")
        size=$(xpath "$latest" "string(/root/storages/storage[$i]/@size)")
        # collectd writes a mount point as its instance as df does: / is "root", other slashes
        # are dropped at the start and become "_" inside.
        instance=$device
        if [ "$instance" = / ]; then instance=root; else instance=${instance#/}; instance=${instance//\//_}; fi
        got=$(promql "collectd_quorvane_bytes{type=\"size\",quorvane=\"$instance\"}" | awk '{print $2}')
        if [ "$got" = "$size" ]; then
            pass "storage $device ($instance): size equals the report's: $got"
        else
            fail "storage $device ($instance): size: Prometheus '$got', report $size"
        fi
    done
    # write_prometheus prints 15 significant digits, so 2^64 - 1 arrives rounded.
    local golden=tests/golden/populated_report.xml sizes="" expected=""
    for ((i = 1; i <= $(xpath "$golden" 'count(/root/storages/storage)'); i++)); do
        expected+="$(xpath "$golden" "string(/root/storages/storage[$i]/@device_name)") $(
            printf '%.15g' "$(xpath "$golden" "string(/root/storages/storage[$i]/@size)")") "
    done
    for _ in 1 2 3 4 5; do
        sizes=$(promql 'collectd_quorvane_bytes{type="size",instance="quorvane-golden"}' | sort |
            while read -r device value; do printf '%s %.15g ' "$device" "$value"; done)
        [ "$sizes" = "$expected" ] && break
        sleep 2
    done
    if [ "$sizes" = "$expected" ]; then
        pass "golden document: both disks, sizes to write_prometheus's 15 digits: $sizes"
    else
        fail "golden document: disks and sizes: Prometheus '$sizes', document '$expected'"
    fi
    echo "     series: $(promql '{__name__=~"collectd_quorvane_.*"}' | wc -l)"
}
prometheus_checks

# --- last, one agent stops: Zabbix must notice, for its host only
if [ $zabbix_ready = yes ]; then
    stopped_agent=$((fleet_size / 2))
    fleet_stop_agent "$stopped_agent"
    stopped=$SECONDS
    zabbix_cpu=$(cpu_seconds zabbix_server) postgres_cpu=$(cpu_seconds postgres)
    stopped_host=$(host_of "$(fleet_address "$stopped_agent")")
    zabbix_expected=$(jq -c --arg h "$stopped_host" '.[$h] = ((.[$h] // {}) + {nodata: 1})' <<<"$zabbix_expected")
    if wait_until 100 firing_as_expected; then
        pass "agent $(fleet_address "$stopped_agent") stopped: the not-answering problem for its host only, $((SECONDS - stopped)) s later (no-data period 30 s)"
        window=$((SECONDS - stopped))
        echo "     over those $window s, for $((fleet_size - 1)) agents polled every 5 s and the golden host: zabbix_server $(cpu_per_agent_minute "$zabbix_cpu" "$(cpu_seconds zabbix_server)" "$window" "$fleet_size") and PostgreSQL $(cpu_per_agent_minute "$postgres_cpu" "$(cpu_seconds postgres)" "$window" "$fleet_size") of CPU per agent per minute"
    else
        fail "agent $(fleet_address "$stopped_agent") stopped: expected $(jq -c . <<<"$zabbix_expected"), firing $(problems_by_host) after $((SECONDS - stopped)) s"
    fi
fi

echo "     stage inside the namespace: $(elapsed)"
checks_summary
