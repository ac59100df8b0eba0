#!/usr/bin/env bash
# Checks the Windows installer under Wine: install, the file and the service it registers, the
# service serving the report, a second install of the same package, and uninstall.
#   tests/packaging/msi-checks.sh dist/quorvane-agent-VERSION-x64.msi EXPECTED_VERSION
# Headless; a fresh WINEPREFIX of its own; port 5782 on 127.0.0.1 only; every wait is bounded.
set -uo pipefail

msi=$(realpath "$1")
expected_version=$2
cd "$(dirname "$0")/../.."
scripts/deps.sh wine wine64 >/dev/null

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/quorvane-msi-wine.XXXXXX)
export WINEDEBUG=-all
logs=$(mktemp -d /tmp/quorvane-msi-logs.XXXXXX)
url=http://127.0.0.1:5782
service=quorvane-agent
service_key="HKLM\\System\\CurrentControlSet\\Services\\$service"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
installed_exe="$WINEPREFIX/drive_c/Program Files/Quorvane/quorvane-agent.exe"

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$logs"
}
trap cleanup EXIT

. tests/support/checks.sh

# Wine maps / to drive Z:.
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

msiexec() { # log name, msiexec arguments... -> exit code in $code
    local name=$1
    shift
    timeout 300 wine msiexec "$@" /qn /l*v "$(windows_path "$logs/$name.log")" </dev/null >/dev/null 2>&1
    code=$?
    echo "     \$ msiexec $* /qn -> exit $code"
}

wait_for_report() { # seconds
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -lt $deadline ]; do
        if curl -s --max-time 5 -o "$logs/report.xml" "$url/getdata" 2>/dev/null &&
            grep -q '</root>' "$logs/report.xml"; then
            return 0
        fi
        sleep 0.5
    done
    return 1
}

service_state() { timeout 60 wine sc query "$service" </dev/null 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }

wait_for_state() { # state seconds
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        [ "$(service_state)" = "$1" ] && return 0
        sleep 0.5
    done
    return 1
}

port_free() { ! curl -s --max-time 2 -o /dev/null "$url/" 2>/dev/null; }

# Products registered with this package's name (one line per Uninstall entry).
registrations() {
    timeout 60 wine reg query "$uninstall_key" /s </dev/null 2>/dev/null | tr -d '\r' |
        grep -c "DisplayName *REG_SZ *Quorvane Agent$"
}

echo "== $(basename "$msi"): $(stat -c %s "$msi") bytes; Wine $(wine --version 2>/dev/null)"
timeout 120 wineboot -i >/dev/null 2>&1 </dev/null
# Restart the prefix once after its creation: a service the installer registers in the first
# session is not found by Wine's service manager when the installer then starts it.
wineserver -k >/dev/null 2>&1
wineserver -p 300 >/dev/null 2>&1 </dev/null
if ! port_free; then
    echo "port 5782 is in use; cannot run the installer checks"
    exit 1
fi
winmsi=$(windows_path "$msi")

echo "== install"
msiexec install /i "$winmsi"
check "msiexec /i exits 0" [ "$code" -eq 0 ]
check "quorvane-agent.exe in Program Files\\Quorvane" [ -s "$installed_exe" ]
timeout 60 wine reg query "$service_key" </dev/null >"$logs/service.reg" 2>&1
sed -e 's/^/     /' -e 's/\r$//' "$logs/service.reg" | grep -v '^ *$'
check "service registered for automatic start" grep -q "Start *REG_DWORD *0x2" "$logs/service.reg"
check "service in its own process" grep -q "Type *REG_DWORD *0x10" "$logs/service.reg"
check "service runs as LocalSystem" grep -q "ObjectName *REG_SZ *LocalSystem" "$logs/service.reg"
check "service runs the installed executable" \
    grep -q 'ImagePath *REG_SZ *C:\\Program Files\\Quorvane\\quorvane-agent.exe' "$logs/service.reg"
count=$(registrations)
check "one product registered (got $count)" [ "$count" -eq 1 ]
check "the installer started the service" wait_for_state RUNNING 60
if wait_for_report 60; then
    pass "the service serves the report"
    check "served by this version ($expected_version)" \
        grep -q " agent_version=\"$expected_version\"" "$logs/report.xml"
else
    fail "the service serves the report"
fi

echo "== stop and start as a service"
timeout 60 wine net stop "$service" </dev/null >"$logs/netstop.log" 2>&1
check "net stop stops it" wait_for_state STOPPED 60
# Wine's service manager sometimes answers "database locked" right after a change: retry.
for _ in 1 2 3; do
    timeout 60 wine net start "$service" </dev/null >"$logs/netstart.log" 2>&1
    wait_for_state RUNNING 30 && break
    sleep 5
done
check "net start starts it again and it serves the report" wait_for_report 60

# Wine's StopServices asks the service to stop but does not wait until it has (Windows waits up
# to 30 s): a repair then fails to start it again while it still stops, and an uninstall finds
# the executable still running and leaves it. So the service is stopped before each.
stop_service() {
    timeout 60 wine net stop "$service" </dev/null >/dev/null 2>&1
    wait_for_state STOPPED 60
}

echo "== a second install of the same package"
stop_service
msiexec again /i "$winmsi"
check "msiexec /i again exits 0" [ "$code" -eq 0 ]
count=$(registrations)
check "one product registered, not two (got $count)" [ "$count" -eq 1 ]
copies=$(find "$WINEPREFIX/drive_c" -iname quorvane-agent.exe | wc -l)
check "one copy of the executable (got $copies)" [ "$copies" -eq 1 ]
check "the service runs again and serves the report" wait_for_report 60

echo "== uninstall"
stop_service
msiexec uninstall /x "$winmsi"
check "msiexec /x exits 0" [ "$code" -eq 0 ]
check "the executable is gone" [ ! -e "$installed_exe" ]
check "the Quorvane folder is gone" [ ! -e "$(dirname "$installed_exe")" ]
timeout 60 wine reg query "$service_key" </dev/null >/dev/null 2>&1
check "the service key is gone" [ $? -ne 0 ]
count=$(registrations)
check "no product registered (got $count)" [ "$count" -eq 0 ]

checks_summary
