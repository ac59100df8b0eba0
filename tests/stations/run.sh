#!/usr/bin/env bash
# End-to-end checks of what stations/ ships, against the real engines from Debian's packages:
#   - the report schema: golden documents, the live report, and variants the agent never writes;
#   - Zabbix 6.0 (PostgreSQL, zabbix_server, the frontend's JSON-RPC API): the template imported,
#     a host linked to it, items and discovered storage items compared with the agent's report,
#     a second host on the golden document served as a file (two disks, 2^64 - 1 bytes);
#   - collectd (curl_xml + write_prometheus) scraped by Prometheus: memory and disk sizes.
# Everything runs in private network, mount and PID namespaces together with the agent: loopback
# only, every wait bounded, every daemon stopped on exit.
#   tests/stations/run.sh [AGENT]      AGENT defaults to build/quorvane-agent, built first
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)

if [ "${QUORVANE_STATIONS_INSIDE:-}" != 1 ]; then
    scripts/deps.sh jq libxml2-utils postgresql zabbix-server-pgsql zabbix-frontend-php \
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
    exec timeout -k 40 290 unshare --net --mount --propagation private --pid --fork --mount-proc \
        --kill-child=TERM env QUORVANE_STATIONS_INSIDE=1 "$0" "$agent"
fi

agent=$1
. tests/support/checks.sh
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
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "stopped by a signal (time limit?)"; trap "" TERM INT; exit 1' TERM INT


# --- the agent, and its own reports sampled every second, to compare the stations with
mkdir -p "$tmp/samples"
start_daemon agent "$agent"
report_url=http://127.0.0.1:5782/getdata
if ! wait_until 20 curl -sf --max-time 2 -o /dev/null "$report_url"; then
    fail "the agent serves its report"
    exit 1
fi
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
Include "$repo/stations/collectd/quorvane.conf"
Include "$tmp/quorvane-golden.conf"
Include "$repo/stations/collectd/write_prometheus.conf"
EOF
# The drop-in's block once more, for the golden document, as an operator adds one per agent.
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
StartDiscoverers=0
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartPreprocessors=1
StartLLDProcessors=1
StartHistoryPollers=1
StartDBSyncers=1
StartReportWriters=0
Timeout=4
EOF
start_daemon zabbix_server /usr/sbin/zabbix_server -f -c "$tmp/zabbix_server.conf"

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
        "triggers": {"createMissing": true, "updateExisting": true}}'
    if api configuration.import "$(jq -n --rawfile source stations/zabbix/quorvane_agent.yaml \
        --argjson rules "$rules" '{format: "yaml", source: $source, rules: $rules}')" >/dev/null; then
        pass "configuration.import accepts the template"
    else
        fail "configuration.import accepts the template"
        return
    fi
    local template_id group_id host_id
    template_id=$(api template.get '{"filter": {"host": ["Quorvane agent by HTTP"]}, "output": ["templateid"]}' |
        jq -r '.[0].templateid')
    group_id=$(api hostgroup.get '{"filter": {"name": ["Linux servers"]}, "output": ["groupid"]}' |
        jq -r '.[0].groupid')
    # The host reaches the agent through its interface address. Its macros shorten the interval
    # and the no-data period, and set thresholds every report crosses, so that each trigger
    # must fire.
    local host_created=$SECONDS
    host_id=$(api host.create "$(jq -n --arg t "$template_id" --arg g "$group_id" '{
        host: "quorvane-agent", groups: [{groupid: $g}], templates: [{templateid: $t}],
        interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
        macros: [{macro: "{$QUORVANE.INTERVAL}", value: "5s"}, {macro: "{$QUORVANE.PORT}", value: "5782"},
            {macro: "{$QUORVANE.NODATA}", value: "30s"}, {macro: "{$QUORVANE.CPU.AVG.MAX}", value: "-1"},
            {macro: "{$QUORVANE.STORAGE.PFREE.MIN}", value: "101"}]}')" |
        jq -r '.hostids[0]')
    echo "     host $host_id linked to template $template_id"
    # A second host reads the populated golden document, served as a static file: two disks
    # (XML to JSON gives an array, not the object of a single disk) and a size of 2^64 - 1.
    local golden_id
    golden_id=$(api host.create "$(jq -n --arg t "$template_id" --arg g "$group_id" '{
        host: "quorvane-golden", groups: [{groupid: $g}], templates: [{templateid: $t}],
        interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
        macros: [{macro: "{$QUORVANE.INTERVAL}", value: "5s"}, {macro: "{$QUORVANE.PORT}", value: "5783"}]}')" |
        jq -r '.hostids[0]')

    local keys=(quorvane.agent.version quorvane.os.name quorvane.os.version quorvane.os.fullname
        quorvane.uptime quorvane.cpu.average quorvane.memory.total quorvane.memory.available
        quorvane.memory.load)
    local items="" end ready=no first_memory="" first_storage=""
    end=$(deadline 120)
    while [ $SECONDS -lt "$end" ]; do
        items=$(api item.get "$(jq -n --arg h "$host_id" \
            '{hostids: [$h], output: ["key_", "lastvalue", "lastclock", "state", "error"]}')") || items='[]'
        if [ -z "$first_memory" ] && jq -e 'any(.[]; .key_ == "quorvane.memory.total" and .lastclock != "0")' \
            >/dev/null <<<"$items"; then
            first_memory=$((SECONDS - host_created))
        fi
        if [ -z "$first_storage" ] && jq -e 'any(.[]; (.key_ | startswith("quorvane.storage.size[")) and .lastclock != "0")' \
            >/dev/null <<<"$items"; then
            first_storage=$((SECONDS - host_created))
        fi
        if jq -e --argjson keys "$(printf '%s\n' "${keys[@]}" | jq -R . | jq -s .)" '
            (map(select(.lastclock != "0")) | map(.key_)) as $have
            | ($keys - $have | length == 0)
              and any(.[]; (.key_ | startswith("quorvane.storage.size[")) and .lastclock != "0")
              and any(.[]; (.key_ | startswith("quorvane.storage.pfree[")) and .lastclock != "0")' \
            >/dev/null <<<"$items"; then
            ready=yes
            break
        fi
        sleep 2
    done
    local waited=$((SECONDS - host_created))
    if [ $ready = yes ]; then
        pass "every item and the discovered storage items have values, $waited s after the host was created"
    else
        fail "every item and the discovered storage items have values within $waited s"
        jq -r '.[] | "     \(.key_) clock=\(.lastclock) state=\(.state) \(.error)"' <<<"$items"
        return
    fi
    echo "     first memory value after $first_memory s, first discovered storage value after $first_storage s; last values:"
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
    ranged quorvane.cpu.average 'string(/root/cpu-usage/@average)' "CPU average within the reports of its time"
    ranged quorvane.memory.available 'string(/root/memory/@available_physical)' "available memory within the reports of its time"
    ranged quorvane.memory.load 'string(/root/memory/@memory_load)' "memory load within the reports of its time"
    ranged quorvane.uptime 'string(/root/uptime)' "uptime within the reports of its time" 1

    # Every disk of the report is discovered, with its exact size and a low-space trigger.
    local count device
    count=$(xpath "$latest" 'count(/root/storages/storage)')
    for ((i = 1; i <= count; i++)); do
        device=$(xpath "$latest" "string(/root/storages/storage[$i]/@device_name)")
        local key="quorvane.storage.size[\"$device\"]"
        exact "$key" "string(/root/storages/storage[$i]/@size)" "storage $device: size equals the report's"
        if [ -n "$(clock "quorvane.storage.available[\"$device\"]")" ]; then
            ranged "quorvane.storage.available[\"$device\"]" "string(/root/storages/storage[@device_name='$device']/@available)" \
                "storage $device: available space within the reports of its time"
            ranged "quorvane.storage.pfree[\"$device\"]" \
                "100 * number(/root/storages/storage[@device_name='$device']/@available) div number(/root/storages/storage[@device_name='$device']/@size)" \
                "storage $device: percent free within the reports of its time" 0.001
        else
            fail "storage $device: discovered"
        fi
    done
    golden_checks "$golden_id"
    zabbix_host=$host_id
    zabbix_storages=$count
    # With the thresholds above, the CPU trigger and each storage's low-space trigger fire on
    # the values already in; the no-data trigger must not, yet.
    if wait_until 30 thresholds_crossed; then
        pass "triggers fire: high CPU and low free space on each of the $count storages"
    else
        fail "triggers fire: high CPU and low free space on each storage (low space, CPU, no data: $(triggers_firing))"
    fi
}
golden_checks() { # host id
    local golden=tests/golden/populated_report.xml items end wanted got
    wanted=$(for ((i = 1; i <= $(xpath "$golden" 'count(/root/storages/storage)'); i++)); do
        echo "quorvane.storage.size[\"$(xpath "$golden" "string(/root/storages/storage[$i]/@device_name)")\"] $(
            xpath "$golden" "string(/root/storages/storage[$i]/@size)")"
    done)
    end=$(deadline 60)
    while :; do
        items=$(api item.get "$(jq -n --arg h "$1" '{hostids: [$h], search: {key_: "quorvane.storage.size"},
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
# Number of firing low-space, high-CPU and not-answering triggers on the host.
triggers_firing() {
    api trigger.get "$(jq -n --arg h "$zabbix_host" '{hostids: [$h], output: ["description", "value"]}')" |
        jq -r '[map(select(.value == "1")) | (map(select(.description | test("Low free space"))) | length),
            (map(select(.description | test("High CPU"))) | length),
            (map(select(.description | test("not answering"))) | length)] | map(tostring) | join(" ")'
}
thresholds_crossed() { [ "$(triggers_firing)" = "$zabbix_storages 1 0" ]; }
agent_missed() { [ "$(triggers_firing | cut -d' ' -f3)" = 1 ]; }
zabbix_host=""
zabbix_storages=0
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

# --- last, the agent stops: Zabbix must notice
if [ -n "$zabbix_host" ]; then
    kill -TERM "${daemons[0]}"
    stopped=$SECONDS
    if wait_until 100 agent_missed; then
        pass "the not-answering trigger fires $((SECONDS - stopped)) s after the agent stopped (no-data period 30 s)"
    else
        fail "the not-answering trigger fires within $((SECONDS - stopped)) s after the agent stopped"
    fi
fi

echo "     stage inside the namespace: $(elapsed)"
checks_summary
