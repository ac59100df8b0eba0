#!/usr/bin/env bash
# Checks the Windows installer under Wine: its tables, install (file, service, restart actions,
# dependency on WMI, firewall rule, event source, Add/Remove Programs entry, the report), a second
# install of the same package, a repair after the rule was deleted, the upgrade to a later build,
# uninstall; upgrades that give no properties keeping the choices of the install (the rule's
# scope, no rule, the folder); a FIREWALL value it refuses; an install whose rule fails.
# Wine's installer removes the old version of an upgrade as an install of its own, committed at
# once, wherever RemoveExistingProducts stands, so the rollback of a failed upgrade to the old
# version (Windows, with the removal inside the transaction) cannot be shown here: the tables show
# where the removal stands.
#   tests/packaging/msi-checks.sh MSI VERSION NEXT_MSI NEXT_VERSION NETSH_STUB
# NEXT_MSI is a build of the same release with a higher fourth version part; NETSH_STUB is the
# cross-built tests/windows/NetshStub.cpp. Headless; a fresh WINEPREFIX of its own; port 5782 on
# 127.0.0.1 only; every wait is bounded.
set -uo pipefail

msi=$(realpath "$1")
expected_version=$2
next_msi=$(realpath "$3")
next_version=$4
netsh_stub=$(realpath "$5")
cd "$(dirname "$0")/../.."
scripts/deps.sh wine wine64 msitools >/dev/null

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/quorvane-msi-wine.XXXXXX)
export WINEDEBUG=-all
logs=$(mktemp -d /tmp/quorvane-msi-logs.XXXXXX)
service=quorvane-agent
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
installed_exe="$WINEPREFIX/drive_c/Program Files/Quorvane/quorvane-agent.exe"
# The folder an administrator chose instead (INSTALLDIR).
chosen_dir='C:\Tools\QV\'
chosen_exe="$WINEPREFIX/drive_c/Tools/QV/quorvane-agent.exe"
choices_key='HKLM\Software\Quorvane\Agent'
event_source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\quorvane-agent'
system32="$WINEPREFIX/drive_c/windows/system32"

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$logs"
}
trap cleanup EXIT

. tests/support/checks.sh
. tests/windows/wine-support.sh

msiexec() { # log name, msiexec arguments... -> exit code in $code
    local name=$1
    shift
    timeout 300 wine msiexec "$@" /qn /l*v "$(windows_path "$logs/$name.log")" </dev/null >/dev/null 2>&1
    code=$?
    echo "     \$ msiexec $* /qn -> exit $code"
}

# Products registered with this package's name (one line per Uninstall entry).
registrations() {
    timeout 60 wine reg query "$uninstall_key" /s </dev/null 2>/dev/null | tr -d '\r' |
        grep -c "DisplayName *REG_SZ *Quorvane Agent$"
}
registered_version() {
    timeout 60 wine reg query "$uninstall_key" /s </dev/null 2>/dev/null | tr -d '\r' |
        awk '/^HKEY_/ { if (ours) print version; ours = 0; version = "" }
             /DisplayName *REG_SZ *Quorvane Agent$/ { ours = 1 }
             /DisplayVersion/ { version = $3 }
             END { if (ours) print version }'
}

# The firewall as the stand-in netsh keeps it: one rule a line, its arguments joined by " | ".
rules() { tr -d '\r' <"$system32/netsh-rules.txt" 2>/dev/null; }
rule_count() { rules | grep -c .; }
show_rules() { rules | sed 's/^/     rule: /'; }
netsh_calls() { tr -d '\r' <"$system32/netsh-calls.txt" 2>/dev/null | grep -c .; }
program='C:\Program Files\Quorvane\quorvane-agent.exe'
rule_for() { # remote addresses [program]
    echo "name=Quorvane Agent | dir=in | action=allow | protocol=TCP | localport=5782 | program=${2:-$program} | profile=any | remoteip=$1"
}
# One value of a registry key, as reg query shows it: "TYPE DATA".
reg_value() { # key name
    timeout 60 wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n { $1 = ""; sub(/^ +/, ""); print }'
}
# The values of our Uninstall entry, one "NAME TYPE DATA" a line.
uninstall_entry() {
    timeout 60 wine reg query "$uninstall_key" /s </dev/null 2>/dev/null | tr -d '\r' |
        awk '/^HKEY_/ { if (ours) print block; ours = 0; block = "" }
             /DisplayName *REG_SZ *Quorvane Agent$/ { ours = 1 }
             /^ / { block = block $0 "\n" }
             END { if (ours) print block }'
}

report_of() { report_served "$logs/report.xml"; }

# Wine's StopServices asks the service to stop but does not wait until it has (Windows waits up
# to 30 s): a repair or upgrade then fails to start it again while it still stops, and an
# uninstall finds the executable still running and leaves it. So the service is stopped first.
stop_service() {
    timeout 60 wine net stop "$service" </dev/null >/dev/null 2>&1
    wait_until 60 service_in_state "$service" STOPPED
}

# Nothing of the product left: file, folder, service, registration, firewall rule, remembered
# choices, event source.
check_nothing_left() { # what was removed [executable]
    check "$1: the executable and its folder are gone" [ ! -e "$(dirname "${2:-$installed_exe}")" ]
    timeout 60 wine reg query "$choices_key" </dev/null >/dev/null 2>&1
    check "$1: the remembered choices are gone" [ $? -ne 0 ]
    timeout 60 wine reg query "$event_source_key" </dev/null >/dev/null 2>&1
    check "$1: the event source is gone" [ $? -ne 0 ]
    timeout 60 wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" </dev/null >/dev/null 2>&1
    check "$1: the service key is gone" [ $? -ne 0 ]
    count=$(registrations)
    check "$1: no product registered (got $count)" [ "$count" -eq 0 ]
    count=$(rule_count)
    check "$1: no firewall rule left (got $count)" [ "$count" -eq 0 ]
}

# One row of a table as msiinfo exports it (tab-separated), found by its first column.
msi_row() { msiinfo export "$1" "$2" | tr -d '\r' | awk -F'\t' -v key="$3" '$1 == key'; }

echo "== $(basename "$msi"): $(stat -c %s "$msi") bytes; Wine $(wine --version 2>/dev/null)"

echo "== the tables wixl wrote, with what scripts/package.sh added"
service_row=$(msi_row "$msi" ServiceInstall AgentService)
restart_row=$(msi_row "$msi" CustomAction ConfigureServiceRestart)
for row in "$service_row" "$restart_row" "$(msi_row "$msi" CustomAction ConfigureServiceRestartOnErrorExit)" \
    "$(msi_row "$msi" CustomAction AddFirewallRule)" "$(msi_row "$msi" CustomAction RemoveFirewallRule)" \
    "$(msi_row "$msi" Property SecureCustomProperties)" "$(msi_row "$msi" Error 1722)" \
    "$(msiinfo export "$msi" LaunchCondition | tr -d '\r' | grep '^FIREWALL=')"; do
    echo "     ${row//$'\t'/ | }"
done
check "the service depends on Winmgmt" [ "$(echo "$service_row" | cut -f8)" = 'Winmgmt[~][~]' ]
# 3122: an executable named by a property (50), in the install script (0x400), with the
# installer's own rights (0x800), its failure failing the install.
check "restart 5 s after each failure, the count reset after a day, by sc in the install script" \
    [ "$restart_row" = "$(printf 'ConfigureServiceRestart\t3122\tQuorvaneSc\t%s\t' \
        'failure quorvane-agent reset= 86400 actions= restart/5000/restart/5000/restart/5000')" ]
sequence=$(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | sort -t$'\t' -k3 -n | cut -f1 |
    grep -x -e InstallServices -e ConfigureServiceRestart -e StartServices | tr '\n' ' ')
check "sc runs between InstallServices and StartServices ($sequence)" \
    [ "$sequence" = "InstallServices ConfigureServiceRestart StartServices " ]
check "FIREWALL, FIREWALL_REMOTEIP and INSTALLDIR are secure properties" \
    bash -c "msiinfo export '$msi' Property | grep -q 'SecureCustomProperties.*;FIREWALL;FIREWALL_REMOTEIP;INSTALLDIR'"
sequence=$(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | sort -t$'\t' -k3 -n | cut -f1 |
    grep -x -e InstallInitialize -e RemoveExistingProducts -e InstallFiles | tr '\n' ' ')
check "the old version is removed inside the installation transaction ($sequence)" \
    [ "$sequence" = "InstallInitialize RemoveExistingProducts InstallFiles " ]
# 32769: normal error control (1) with msidbServiceInstallErrorControlVital (0x8000).
check "the service is vital: ErrorControl $(echo "$service_row" | cut -f6)" \
    [ "$(echo "$service_row" | cut -f6)" = 32769 ]
file_row=$(msi_row "$msi" File AgentExe)
check "the File table carries the executable's version: ${file_row//$'\t'/ | }" \
    [ "$(echo "$file_row" | cut -f5)" = "$expected_version" ]
searches=$(msiinfo export "$msi" AppSearch | tr -d '\r' | tail -n +4 | cut -f1 | sort | tr '\n' ' ')
check "the install reads the remembered choices back: $searches" \
    [ "$searches" = "FIREWALL FIREWALL_REMOTEIP QUORVANE_REMEMBERED_INSTALLDIR " ]

timeout 120 wineboot -i >/dev/null 2>&1 </dev/null
# Restart the prefix once after its creation: a service the installer registers in the first
# session is not found by Wine's service manager when the installer then starts it.
wineserver -k >/dev/null 2>&1
wineserver -p 300 >/dev/null 2>&1 </dev/null
# Wine's netsh accepts everything and does nothing: the stand-in keeps the rules instead.
cp "$netsh_stub" "$system32/netsh.exe"
timeout 60 wine reg add 'HKCU\Software\Wine\DllOverrides' /v netsh.exe /d native /f </dev/null >/dev/null 2>&1
if ! port_free; then
    echo "port 5782 is in use; cannot run the installer checks"
    exit 1
fi
winmsi=$(windows_path "$msi")
winnext=$(windows_path "$next_msi")

echo "== install"
msiexec install /i "$winmsi"
check "msiexec /i exits 0" [ "$code" -eq 0 ]
check "quorvane-agent.exe in Program Files\\Quorvane" [ -s "$installed_exe" ]
service_key "$service" "$logs/service.reg"
sed -e 's/^/     /' "$logs/service.reg"
check "service registered for automatic start" grep -q "Start *REG_DWORD *0x2" "$logs/service.reg"
check "service in its own process" grep -q "Type *REG_DWORD *0x10" "$logs/service.reg"
check "service runs as LocalSystem" grep -q "ObjectName *REG_SZ *LocalSystem" "$logs/service.reg"
check "service runs the installed executable" \
    grep -q 'ImagePath *REG_SZ *C:\\Program Files\\Quorvane\\quorvane-agent.exe' "$logs/service.reg"
check "service depends on Winmgmt" grep -qx " *DependOnService *REG_MULTI_SZ *Winmgmt" "$logs/service.reg"
# Wine keeps no failure actions (its sc failure only logs them): that sc ran and succeeded is
# what can be seen.
check "sc set the restart actions in the install script" \
    [ "$(grep -c 'Action ended .*: ConfigureServiceRestart. Return value 1.' "$logs/install.log")" -eq 2 ]
count=$(registrations)
check "one product registered (got $count)" [ "$count" -eq 1 ]
show_rules
check "one firewall rule: inbound TCP 5782 for the installed executable, every profile and address" \
    [ "$(rules)" = "$(rule_for any)" ]
check "the installer started the service" wait_until 60 service_in_state "$service" RUNNING
if wait_until 60 report_of; then
    pass "the service serves the report"
    check "served by this version ($expected_version)" \
        grep -q " agent_version=\"$expected_version\"" "$logs/report.xml"
else
    fail "the service serves the report"
fi
uninstall_entry >"$logs/arp.txt"
grep -E "NoModify|URLInfoAbout|HelpLink|InstallLocation" "$logs/arp.txt" | sed 's/^ */     /'
check "Add/Remove Programs: no Change button, the links, the install location" \
    [ "$(grep -cE -e 'NoModify +REG_DWORD +0x1$' -e 'URLInfoAbout +REG_SZ +https?://' -e 'HelpLink +REG_SZ +https?://' \
        -e 'InstallLocation +REG_SZ +C:\\Program Files\\Quorvane\\$' "$logs/arp.txt")" = 4 ]
# Wine publishes the product's icon as ProductIcon (Windows shows it as DisplayIcon).
icon=$(timeout 60 wine reg query 'HKLM\Software\Classes\Installer\Products' /s </dev/null 2>/dev/null |
    tr -d '\r' | awk '$1 == "ProductIcon" { print $3 }')
icon_file="$WINEPREFIX/drive_c/${icon#C:\\}"
icon_ok=no
[ -n "$icon" ] && [ -s "${icon_file//\\//}" ] && icon_ok=yes
check "the product's icon is published: $icon" [ "$icon_ok" = yes ]
check "the choices are remembered: Firewall $(reg_value "$choices_key" Firewall), FirewallRemoteIp $(reg_value "$choices_key" FirewallRemoteIp)" \
    [ "$(reg_value "$choices_key" Firewall)|$(reg_value "$choices_key" FirewallRemoteIp)" = "REG_SZ 1|REG_SZ any" ]
message_file=$(reg_value "$event_source_key" EventMessageFile)
check "an event source for the agent, its messages in the executable: $message_file" \
    [ "$message_file" = "REG_SZ $program" ]

echo "== stop and start as a service"
timeout 60 wine net stop "$service" </dev/null >"$logs/netstop.log" 2>&1
check "net stop stops it" wait_until 60 service_in_state "$service" STOPPED
# Wine's service manager sometimes answers "database locked" right after a change: retry.
for _ in 1 2 3; do
    timeout 60 wine net start "$service" </dev/null >"$logs/netstart.log" 2>&1
    wait_until 30 service_in_state "$service" RUNNING && break
    sleep 5
done
check "net start starts it again and it serves the report" wait_until 60 report_of

echo "== a second install of the same package"
stop_service
msiexec again /i "$winmsi"
check "msiexec /i again exits 0" [ "$code" -eq 0 ]
count=$(registrations)
check "one product registered, not two (got $count)" [ "$count" -eq 1 ]
copies=$(find "$WINEPREFIX/drive_c" -iname quorvane-agent.exe | wc -l)
check "one copy of the executable (got $copies)" [ "$copies" -eq 1 ]
count=$(rule_count)
check "one firewall rule, not two (got $count)" [ "$count" -eq 1 ]
check "the service runs again and serves the report" wait_until 60 report_of

echo "== repair after the rule was deleted by hand"
: >"$system32/netsh-rules.txt"
# As a deployment tool repairs (Wine's msiexec /f does not take a package).
msiexec repair /i "$winmsi" REINSTALL=ALL REINSTALLMODE=vomus
check "msiexec /i REINSTALL=ALL exits 0" [ "$code" -eq 0 ]
show_rules
check "exactly one firewall rule again, as installed" [ "$(rules)" = "$(rule_for any)" ]
check "the service runs again and serves the report" wait_until 60 report_of

echo "== upgrade to $next_version, the rule scoped to the stations (the command line wins)"
stop_service
msiexec upgrade /i "$winnext" FIREWALL_REMOTEIP=10.0.0.5,10.1.0.0/16
check "msiexec /i of $next_version exits 0" [ "$code" -eq 0 ]
count=$(registrations)
version=$(registered_version)
check "one product registered, $next_version (got $count: $version)" [ "$count" -eq 1 -a "$version" = "$next_version" ]
show_rules
check "exactly one firewall rule, for the stations' addresses" \
    [ "$(rules)" = "$(rule_for 10.0.0.5,10.1.0.0/16)" ]
if wait_until 60 report_of; then
    check "the service runs the new executable ($next_version)" \
        grep -q " agent_version=\"$next_version\"" "$logs/report.xml"
else
    fail "the service runs the new executable and serves the report"
fi

echo "== uninstall"
stop_service
msiexec uninstall /x "$winnext"
check "msiexec /x exits 0" [ "$code" -eq 0 ]
check_nothing_left "uninstall"

# An install with choices, then an upgrade that repeats none of them, as a fleet's deployment does.
upgrade_keeps() { # name, install properties...
    local name=$1
    shift
    msiexec "$name" /i "$winmsi" "$@"
    check "msiexec /i $* exits 0" [ "$code" -eq 0 ]
    check "the service serves the report" wait_until 60 report_of
    stop_service
    msiexec "$name-upgrade" /i "$winnext"
    check "a plain msiexec /i of $next_version exits 0" [ "$code" -eq 0 ]
    version=$(registered_version)
    check "one product registered, $next_version (got $(registrations): $version)" \
        [ "$(registrations)" -eq 1 -a "$version" = "$next_version" ]
    if wait_until 60 report_of; then
        check "the service runs the new executable ($next_version)" \
            grep -q " agent_version=\"$next_version\"" "$logs/report.xml"
    else
        fail "the service runs the new executable and serves the report"
    fi
    show_rules
}

echo "== install with a scope and a folder of its own, then a plain upgrade"
upgrade_keeps scoped FIREWALL_REMOTEIP=10.0.0.5 "INSTALLDIR=$chosen_dir"
check "the rule keeps its scope, for the executable in the chosen folder" \
    [ "$(rules)" = "$(rule_for 10.0.0.5 "${chosen_dir}quorvane-agent.exe")" ]
check "the executable stays in the chosen folder, not in Program Files" \
    [ -s "$chosen_exe" -a ! -e "$installed_exe" ]
service_key "$service" "$logs/service.reg"
check "the service runs it from there" grep -qF "ImagePath    REG_SZ    ${chosen_dir}quorvane-agent.exe" "$logs/service.reg"
stop_service
msiexec scoped-uninstall /x "$winnext"
check "msiexec /x exits 0" [ "$code" -eq 0 ]
check_nothing_left "uninstall from the chosen folder" "$chosen_exe"

echo "== install without the firewall rule (FIREWALL=no), then a plain upgrade"
calls=$(netsh_calls)
upgrade_keeps no-rule FIREWALL=no
added=$(tr -d '\r' <"$system32/netsh-calls.txt" 2>/dev/null | tail -n +$((calls + 1)) | grep -c ' | add | ')
check "netsh was never asked to add a rule (got $added), and there is none" [ "$added" -eq 0 -a "$(rule_count)" -eq 0 ]
stop_service
msiexec no-rule-uninstall /x "$winnext"
check "msiexec /x exits 0 with no rule to remove" [ "$code" -eq 0 ]
check_nothing_left "uninstall without a rule"

echo "== a FIREWALL value it does not know is refused"
msiexec unknown-value /i "$winmsi" FIREWALL=maybe
check "msiexec /i FIREWALL=maybe exits non-zero (got $code)" [ "$code" -ne 0 ]
# Wine's installer does not log a launch condition's message without a user interface; the message
# is the table's row (shown above).
check "the launch condition stopped it" grep -q 'Action ended .*: LaunchConditions. Return value 0.' \
    "$logs/unknown-value.log"
check "nothing was installed (got $(registrations) products)" [ "$(registrations)" -eq 0 -a ! -e "$installed_exe" ]

echo "== a firewall rule that fails fails the install"
: >"$system32/netsh-fails.txt"
msiexec refused /i "$winmsi"
rm -f "$system32/netsh-fails.txt"
check "msiexec /i exits non-zero (got $code)" [ "$code" -ne 0 ]
# Wine's installer does not write error 1722 to the log; the message is the package's own row
# (shown above).
check "the installer ran the failing rule" grep -q 'Action ended .*: AddFirewallRule. Return value 0.' \
    "$logs/refused.log"
count=$(registrations)
check "rolled back: no product registered (got $count)" [ "$count" -eq 0 ]
count=$(rule_count)
check "rolled back: no firewall rule (got $count)" [ "$count" -eq 0 ]
# The rule comes last, after the service has started; Windows stops it and waits before it
# removes the file, Wine's rollback does not wait (see stop_service) and may leave both.
if [ -e "$installed_exe" ]; then
    echo "     note: Wine's rollback left the executable of the started service behind"
fi

checks_summary
