#!/usr/bin/env bash
# Runs the cross-built Windows agent under Wine and checks what it serves and how it ends.
#   tests/windows/wine-checks.sh BUILD_DIR EXPECTED_VERSION
# BUILD_DIR holds quorvane-agent.exe and set-termination-event.exe. Headless; uses a fresh
# WINEPREFIX and port 5782 on 127.0.0.1 only; every wait is bounded.
set -uo pipefail

build_dir=$(cd "$1" && pwd)
expected_version=$2
agent="$build_dir/quorvane-agent.exe"
helper="$build_dir/set-termination-event.exe"
schema=$(cd "$(dirname "$0")/../../stations" && pwd)/quorvane-report.xsd

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/quorvane-wine.XXXXXX)
export WINEDEBUG=-all
logs=$(mktemp -d /tmp/quorvane-wine-logs.XXXXXX)

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$logs"
}
trap cleanup EXIT

. "$(cd "$(dirname "$0")/../support" && pwd)/checks.sh"
. "$(cd "$(dirname "$0")" && pwd)/wine-support.sh"

report_of() { report_served "$logs/report.xml"; }

wait_for_exit() { # pid seconds -> sets exit_code (or 124 after killing it)
    local pid=$1 deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        if [ $SECONDS -ge $deadline ]; then
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            exit_code=124
            return
        fi
        sleep 0.2
    done
    wait "$pid"
    exit_code=$?
}

start_agent() { # log name
    wine "$agent" >"$logs/$1.log" 2>&1 </dev/null &
    agent_pid=$!
}

validate_report() {
    xmllint --noout --schema "$schema" "$logs/report.xml" 2>&1 | grep -v ' validates$' | sed 's/^/     /'
    return "${PIPESTATUS[0]}"
}

attr() { # element attribute -> value from the last report
    grep -o "<$1 [^>]*" "$logs/report.xml" | head -n 1 | grep -o " $2=\"[^\"]*\"" | sed 's/^[^"]*"//; s/"$//'
}

# What Wine's own WMI reports, through its wmic (UTF-16 output): the host's SMBIOS values where
# the host has them (/sys/class/dmi/id), else Wine's placeholders.
wine_wmi_value() { # class property
    timeout 60 wine wmic "$1" get "$2" 2>/dev/null </dev/null | iconv -f UTF-16 -t UTF-8 2>/dev/null |
        tr -d '\r' | sed -n '2s/ *$//p'
}

echo "== Wine $(wine --version 2>/dev/null) in $WINEPREFIX"
timeout 120 wineboot -i >/dev/null 2>&1 </dev/null
# The session that created the prefix keeps a service manager that fails its first request for a
# new service ("Could not get handle to service"): let that session end, then start a fresh one.
timeout 60 wineserver -w >/dev/null 2>&1 </dev/null
wineserver -p 300 >/dev/null 2>&1 </dev/null
wine_bios_vendor=$(wine_wmi_value bios manufacturer)
if ! port_free; then
    echo "port 5782 is in use; cannot run the Wine checks"
    exit 1
fi

echo "== 1. the report over HTTP"
start_agent first
if wait_until 60 report_of; then
    pass "GET /getdata answers 200 with a complete report"
    sleep 5.5 # at least one timer refresh after the first one
    wait_until 10 report_of
    check "BIOS manufacturer as Wine's WMI reports it (\"$wine_bios_vendor\")" \
        [ -n "$wine_bios_vendor" -a "$(attr bios manufacturer)" = "$wine_bios_vendor" ]
    check "computer system has a name and a manufacturer" \
        [ -n "$(attr computer name)" -a -n "$(attr computer manufacturer)" ]
    check "one processor with cores and logical processors" \
        [ "$(grep -c '<processor ' "$logs/report.xml")" -eq 1 -a "$(attr processor number_of_cores)" -gt 0 \
        -a "$(attr processor number_of_logical_processors)" -gt 0 ]
    c_drive=$(grep -o '<storage [^>]*device_name="C:"[^>]*' "$logs/report.xml")
    c_size=$(echo "$c_drive" | grep -o ' size="[0-9]*"' | grep -o '[0-9]*')
    c_free=$(echo "$c_drive" | grep -o ' available="[0-9]*"' | grep -o '[0-9]*')
    check "drive C: is a fixed disk with size and free space" \
        [ -n "$c_drive" -a "${c_size:-0}" -gt 0 -a "${c_free:-0}" -gt 0 ] \
        && echo "$c_drive" | grep -q 'drive_type="3"'
    check "memory from GlobalMemoryStatusEx" [ "$(attr memory total_physical)" -gt 0 ]
    check "agent_version is the build's version ($expected_version)" \
        [ "$(attr root agent_version)" = "$expected_version" ]
    check "agent_description, agent_copyright and agent_edition from the version resource" \
        [ "$(attr root agent_description)" = "Quorvane Agent version $expected_version" \
        -a -n "$(attr root agent_copyright)" -a "$(attr root agent_copyright)" != "(unknown)" \
        -a -n "$(attr root agent_edition)" ]
    # Wine has neither the processor-time class nor the System performance object.
    history=$(grep -o '<cpu-usage[^<]*' "$logs/report.xml")
    check "without processor counters the history stays at 0" \
        [ "$history" = "<cpu-usage average=\"0\">$(printf '0,%.0s' $(seq 179))0" ]
    check "without performance data the uptime is 0" grep -q '">0</uptime>' "$logs/report.xml"
    check "refreshes are counted" [ "$(attr root uc)" -ge 2 ]
    if command -v xmllint >/dev/null; then
        check "the report validates against the published schema" validate_report
    fi
else
    fail "GET /getdata answers 200 with a complete report"
    clean_log "$logs/first.log"
fi

echo "== 2. the target getdata, HEAD, a silent client and a station behind slow ones"
notfound=$(curl -s --max-time 10 --request-target getdata -w ' %{http_code}' "$url/")
check "getdata receives the 404 page" \
    [ "$notfound" = "<html><head><title>Quorvane Agent</title></head><body>NOT FOUND<br /></body></html> 404" ]
head_response=$(curl -s --max-time 10 -I "$url/getdata" | tr -d '\r')
check "HEAD is answered with Connection: Close" \
    bash -c "echo '$head_response' | grep -q '^HTTP/1.1 200 OK' && echo '$head_response' | grep -qx 'Connection: Close'"
# A connection that never sends its request head is closed without a response after 5 s.
silent_start=$SECONDS
silent_answer=$(timeout 20 bash -c 'exec 3<>/dev/tcp/127.0.0.1/5782 && cat <&3 | wc -c' 2>/dev/null)
silent_seconds=$((SECONDS - silent_start))
check "a silent connection is closed without a response by the request-head deadline (${silent_seconds} s)" \
    [ "$silent_answer" = 0 -a "$silent_seconds" -ge 4 -a "$silent_seconds" -le 10 ]
# A POST whose body is still coming after the response (the agent reads no body): the client
# reads the whole report and the end of the stream, not a reset that throws the report away.
streamed_post() {
    trap '' PIPE
    local piece i
    piece=$(printf 'b%.0s' $(seq 1000))
    exec 3<>/dev/tcp/127.0.0.1/5782 || return 1
    printf 'POST /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5000\r\n\r\n' >&3 || return 1
    for i in 1 2 3 4 5; do
        sleep 0.1
        printf '%s' "$piece" >&3 || return 1
    done
    timeout 10 cat <&3 >"$logs/post.txt" || return 1
    exec 3>&-
    head -n 1 "$logs/post.txt" | grep -q '^HTTP/1.1 200 OK' && [ "$(tail -c 8 "$logs/post.txt")" = "</root>" ]
}
posts_whole=0
for _ in 1 2 3; do
    (streamed_post) 2>/dev/null && posts_whole=$((posts_whole + 1))
done
check "a POST whose body comes in 5 pieces 100 ms apart reads the whole report $posts_whole of 3 times" \
    [ "$posts_whole" -eq 3 ]
# Twelve clients that send a request head a byte a second and connect again once the deadline
# cuts them hold no connection thread: a station polling meanwhile is served every time.
slow_client() {
    trap '' PIPE
    local head='GET /getdata HTTP/1.1'$'\r\n''X-Pad: aaaaaaaaaaaaaaaaaaaa' i
    while [ ! -e "$logs/stop-slow" ]; do
        exec 3<>/dev/tcp/127.0.0.1/5782 2>/dev/null || { sleep 0.2; continue; }
        for ((i = 0; i < ${#head}; i++)); do
            [ -e "$logs/stop-slow" ] && break
            printf '%s' "${head:i:1}" >&3 2>/dev/null || break
            sleep 1
        done
        exec 3>&-
    done
}
slow_pids=()
for _ in $(seq 12); do
    slow_client &
    slow_pids+=($!)
done
sleep 7 # past the first deadline: the slow clients are reconnecting by now
station_served=0
for _ in $(seq 10); do
    curl -s --max-time 2 -o "$logs/station.xml" "$url/getdata" && grep -q '</root>' "$logs/station.xml" &&
        station_served=$((station_served + 1))
    sleep 0.5
done
touch "$logs/stop-slow"
for pid in "${slow_pids[@]}"; do
    timeout 5 tail --pid="$pid" -f /dev/null || kill "$pid" 2>/dev/null
done
check "a station behind 12 reconnecting slow clients is served $station_served of 10 times" \
    [ "$station_served" -eq 10 ]

echo "== 4. a second instance while the port is taken"
timeout 60 wine "$agent" >"$logs/second.log" 2>&1 </dev/null
code=$?
check "second instance exits 70 (got $code)" [ "$code" -eq 70 ]
clean_log "$logs/second.log" | sed 's/^/     /'

echo "== 3. termination"
timeout 60 wine "$helper" quorvane-agent.exe >"$logs/helper.log" 2>&1 </dev/null
clean_log "$logs/helper.log" | sed 's/^/     /'
wait_for_exit "$agent_pid" 30
check "setting POCOTRM<pid> ends the agent with 0 (got $exit_code)" [ "$exit_code" -eq 0 ]

start_agent sigint
if wait_until 60 report_of; then
    kill -INT "$agent_pid"
    wait_for_exit "$agent_pid" 30
    check "Ctrl+C (SIGINT) ends the agent with 0 (got $exit_code)" [ "$exit_code" -eq 0 ]
else
    fail "agent restarted for the Ctrl+C check"
    kill -KILL "$agent_pid" 2>/dev/null
fi

echo "== 5. the service"
# Wine keeps no restart actions, but its service manager names those it is given on its fixme
# channel; nor does it keep an event log, but it traces every event on its eventlog channel, errors
# as err:, warnings as warn:, information as trace:. A fresh session whose first process is the
# registration starts the service manager, and so the services it starts, with those channels and
# with the registration's log as their output. (A session started after the registration would
# start the automatic service at once.)
wineserver -k >/dev/null 2>&1 </dev/null
wineserver -p 300 >/dev/null 2>&1 </dev/null
WINEDEBUG=-all,fixme+service,+eventlog timeout 60 wine "$agent" /registerService "/displayName=Quorvane Test Agent" \
    >"$logs/register.log" 2>&1 </dev/null
code=$?
check "/registerService exits 0 (got $code)" [ "$code" -eq 0 ]
check "registration message" grep -q "The application has been successfully registered as a service" "$logs/register.log"
grep -a 'ChangeServiceConfig2W' "$logs/register.log" | sed 's/^/     /'
check "restart actions given with the failure count reset after a day (ChangeServiceConfig2)" \
    grep -q "SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 " "$logs/register.log"
service_key "quorvane-agent" "$logs/service.reg"
check "display name registered" grep -q "Quorvane Test Agent" "$logs/service.reg"
check "registered for automatic start" grep -q "Start *REG_DWORD *0x2" "$logs/service.reg"
check "own process" grep -q "Type *REG_DWORD *0x10" "$logs/service.reg"
check "depends on Winmgmt" grep -qx " *DependOnService *REG_MULTI_SZ *Winmgmt" "$logs/service.reg"
event_source='HKLM\System\CurrentControlSet\Services\EventLog\Application\quorvane-agent'
timeout 60 wine reg query "$event_source" </dev/null 2>/dev/null | tr -d '\r' | grep -v '^ *$' >"$logs/source.reg"
sed 's/^/     /' "$logs/source.reg"
check "an event source for the service, its texts in the executable" \
    grep -qiF "EventMessageFile    REG_SZ    $(windows_path "$agent")" "$logs/source.reg"
events() { grep -a ':eventlog:ReportEventW ' "$logs/register.log" | tr -d '\r'; }
event_logged() { events | grep -q -- "$1"; } # pattern

check "the service manager knows the service" wait_until 30 service_known quorvane-agent
# Wine's service manager sometimes answers "database locked" right after a registration: retry.
service_served=no
for attempt in 1 2 3; do
    timeout 60 wine net start quorvane-agent >"$logs/netstart.log" 2>&1 </dev/null
    if wait_until 30 report_of; then
        service_served=yes
        break
    fi
    clean_log "$logs/netstart.log" | sed 's/^/     /'
    sleep 5
done
if [ "$service_served" = yes ]; then
    pass "the started service serves the report"
elif grep -q "database locked" "$logs/netstart.log"; then
    echo "skip - Wine's service manager would not start the service (database locked)"
else
    fail "the started service serves the report"
fi
timeout 60 wine net stop quorvane-agent >"$logs/netstop.log" 2>&1 </dev/null
check "the service stops" grep -q "stopped successfully" "$logs/netstop.log"
# The application logger's messages, as the service wrote them to the event log.
if [ "$service_served" = yes ]; then
    check "its start is an information event" wait_until 10 event_logged \
        'trace:eventlog:ReportEventW L"The agent serves its status report on TCP port 5782\."$'
    check "its stop is an information event" wait_until 10 event_logged \
        'trace:eventlog:ReportEventW L"The agent has stopped\."$'
fi
# Started while another agent holds port 5782, the service ends with 70 and says why, as an error.
start_agent holder
if wait_until 60 report_of; then
    timeout 60 wine net start quorvane-agent >"$logs/netstart-taken.log" 2>&1 </dev/null
    check "started while the port is taken, the service writes the reason as an error event" \
        wait_until 30 event_logged 'err:eventlog:ReportEventW L".*[Aa]ddress already in use'
    check "and nothing else as an error" [ "$(events | grep -c 'err:eventlog')" -eq 1 ]
    check "and ends (stopped)" wait_until 30 service_in_state quorvane-agent STOPPED
    timeout 60 wine "$helper" quorvane-agent.exe >/dev/null 2>&1 </dev/null
    wait_for_exit "$agent_pid" 30
else
    fail "an agent holds the port for the service's start"
    kill -KILL "$agent_pid" 2>/dev/null
fi
echo "     the event log, as Wine traced it:"
events | sed 's/^/     /'

timeout 60 wine "$agent" /unregisterService >"$logs/unregister.log" 2>&1 </dev/null
code=$?
check "/unregisterService exits 0 (got $code)" [ "$code" -eq 0 ]
check "removal message" grep -q "The service has been successfully unregistered" "$logs/unregister.log"
timeout 60 wine reg query "$event_source" </dev/null >/dev/null 2>&1
check "the event source is removed with it" [ $? -ne 0 ]
timeout 60 wine "$agent" /unregisterService >"$logs/unregister2.log" 2>&1 </dev/null
code=$?
check "a second /unregisterService exits 70 (got $code)" [ "$code" -eq 70 ]

check "the service manager has forgotten the unregistered service" \
    wait_until 30 service_gone quorvane-agent

# The shortest spelling of the startup option POCO accepts.
# Wine's service manager may still answer "database locked" or "marked for deletion" for a
# moment: those two are retried, anything else fails at once.
for attempt in 1 2 3; do
    timeout 60 wine "$agent" /registerService /s=manual >"$logs/register-manual.log" 2>&1 </dev/null
    code=$?
    [ "$code" -ne 0 ] && grep -qi -e "database locked" -e "marked for deletion" \
        "$logs/register-manual.log" || break
    clean_log "$logs/register-manual.log" | sed 's/^/     /'
    sleep 2
done
check "/registerService /s=manual exits 0 (got $code)" [ "$code" -eq 0 ]
[ "$code" -eq 0 ] || clean_log "$logs/register-manual.log" | sed 's/^/     /'
service_key "quorvane-agent" "$logs/service-manual.reg"
check "registered for manual start" grep -q "Start *REG_DWORD *0x3" "$logs/service-manual.reg"
timeout 60 wine "$agent" /unregisterService >/dev/null 2>&1 </dev/null

echo "== 6. naming"
start_agent win7
if wait_until 60 report_of; then
    check "default identity: os name Windows 7" [ "$(attr os name)" = "Windows 7" ]
    check "default identity: Service Pack 1" [ "$(attr os spversion)" = "Service Pack 1" ]
fi
timeout 60 wine "$helper" quorvane-agent.exe >/dev/null 2>&1 </dev/null
wait_for_exit "$agent_pid" 30

timeout 60 winecfg -v win10 >/dev/null 2>&1 </dev/null
start_agent win10
if wait_until 60 report_of; then
    os_line=$(grep -o '<os [^/]*</os>' "$logs/report.xml")
    echo "     $os_line"
    check "win10 identity: version 10.0" [ "$(attr os version | cut -d. -f1-2)" = "10.0" ]
    check "win10 identity: os name Windows 10" [ "$(attr os name)" = "Windows 10" ]
    check "win10 identity: full name begins with Windows 10" \
        bash -c "echo '$os_line' | grep -q '>Windows 10[^<]*</os>'"
    if command -v xmllint >/dev/null; then
        check "win10 identity: the report validates against the published schema" validate_report
    fi
else
    fail "agent under the win10 identity"
fi
timeout 60 wine "$helper" quorvane-agent.exe >/dev/null 2>&1 </dev/null
wait_for_exit "$agent_pid" 30

checks_summary
