#!/usr/bin/env bash
# Checks the Debian packages the way an operator meets them: lintian; the unit (systemd-analyze
# verify and security); install; the installed agent, started as the unit starts it, serving a
# complete report; the installed check plugin reading it, and its CheckCommand found by Icinga 2;
# the installed exporter, started as its unit starts it (ARGS from /etc/default), probing the
# agent; the init script starting and stopping the agent without systemd; the service under
# systemd, booted in a container (an overlay of this machine): its own user, the BIOS serial, back
# after SIGHUP; removal and purge leaving no file of the packages behind.
#   tests/packaging/deb-checks.sh dist/quorvane-agent_VERSION_ARCH.deb \
#       [dist/monitoring-plugins-quorvane_VERSION_ARCH.deb] \
#       [dist/prometheus-quorvane-exporter_VERSION_ARCH.deb]
# Needs root and a machine without the packages installed. There is no systemd as PID 1 here, so
# the agent is first started by hand (the unit's ExecStart, without any capability), in a network
# namespace of its own, talking to its own loopback only; the container has a private network.
set -uo pipefail

deb=$(realpath "$1")
plugin_deb=${2:+$(realpath "$2")}
exporter_deb=${3:+$(realpath "$3")}
cd "$(dirname "$0")/../.."
scripts/deps.sh lintian systemd systemd-container man-db iproute2 \
    ${plugin_deb:+icinga2-bin icinga2-common} >/dev/null

package=quorvane-agent
plugin_package=monitoring-plugins-quorvane
packages=("$package")
debs=("$deb")
if [ -n "$plugin_deb" ]; then
    packages+=("$plugin_package")
    debs+=("$plugin_deb")
fi
exporter_package=prometheus-quorvane-exporter
if [ -n "$exporter_deb" ]; then
    packages+=("$exporter_package")
    debs+=("$exporter_deb")
fi
exporter=/usr/bin/$exporter_package
exporter_unit=/lib/systemd/system/$exporter_package.service
exporter_default=/etc/default/$exporter_package
unit=/lib/systemd/system/$package.service
plugin=/usr/lib/nagios/plugins/check_quorvane
logs=$(mktemp -d /tmp/quorvane-deb-checks.XXXXXX)
installed=no

cleanup() {
    if [ "$installed" = yes ]; then
        dpkg -P "${packages[@]}" >/dev/null 2>&1
    fi
    rm -rf "$logs"
}
trap cleanup EXIT

. tests/support/checks.sh

for name in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "ok installed"; then
        echo "$name is installed already; these checks install and purge it, so remove it first"
        exit 1
    fi
done

for file in "${debs[@]}"; do
    echo "== $(basename "$file"): $(stat -c %s "$file") bytes"
    dpkg-deb -c "$file" | awk '{ print "     " $1, $3, $6 }'
done

echo "== lintian $(lintian --version | awk '{ print $2 }')"
lintian --pedantic --fail-on error,warning "${debs[@]}" >"$logs/lintian.log" 2>&1
code=$?
grep -v "running with root privileges" "$logs/lintian.log" | sed 's/^/     /'
check "lintian: no errors and no warnings (exit $code)" [ "$code" -eq 0 ]

echo "== install"
DEBIAN_FRONTEND=noninteractive dpkg -i "${debs[@]}" >"$logs/install.log" 2>&1
code=$?
[ "$code" -eq 0 ] && installed=yes
check "dpkg -i exits 0 (got $code)" [ "$code" -eq 0 ] || sed 's/^/     /' "$logs/install.log"
dpkg -L "${packages[@]}" >"$logs/files" 2>/dev/null
dpkg-query -W -f='${Conffiles}\n' "${packages[@]}" 2>/dev/null | awk 'NF { print $1 }' >"$logs/conffiles"
# dh_compress compresses README.Debian only when it is large enough to gain from it.
readme=$(ls /usr/share/doc/$package/README.Debian* 2>/dev/null | head -n 1)
for file in /usr/sbin/$package $unit /usr/share/doc/$package/copyright "${readme:-README.Debian}" \
    /usr/share/man/man8/$package.8.gz; do
    check "installed: $file" [ -s "$file" ]
done
entries=$(zcat /usr/share/doc/$package/changelog.gz 2>/dev/null | grep -c '^  \* ')
check "the changelog is the release's own ($entries entries), not a generated line" [ "$entries" -gt 1 ]
check "the service is enabled for boot" [ -L /etc/systemd/system/multi-user.target.wants/$package.service ]
if [ -n "$plugin_deb" ]; then
    check "installed: $plugin, executable" [ -x "$plugin" ]
    for file in /usr/share/icinga2/include/plugins-contrib.d/quorvane.conf \
        /etc/nagios-plugins/config/quorvane.cfg /usr/share/man/man8/check_quorvane.8.gz; do
        check "installed: $file" [ -s "$file" ]
    done
    check "the Nagios command file is a conffile" grep -qx /etc/nagios-plugins/config/quorvane.cfg "$logs/conffiles"
    version=$("$plugin" --version)
    check "check_quorvane --version: $version (the package's $(dpkg-query -W -f='${Version}' "$plugin_package"))" \
        [ "$version" = "check_quorvane $(dpkg-query -W -f='${Version}' "$plugin_package")" ]
    # Icinga 2 finds the CheckCommand among the contributed command definitions, as a station
    # that includes <plugins-contrib> does; its own directories stay untouched.
    mkdir -p "$logs/icinga"
    cat >"$logs/icinga/icinga2.conf" <<EOF
include "/etc/icinga2/constants.conf"
include <itl>
include <plugins>
include <plugins-contrib>
object Host "windows-host" { address = "127.0.0.1"; check_command = "dummy" }
object Service "storage" { host_name = "windows-host"; check_command = "quorvane"; vars.quorvane_mode = "storage" }
EOF
    # As root, validating without dropping to the nagios user, which could not write here.
    icinga_paths=(-DConfiguration.RunAsUser=root -DConfiguration.RunAsGroup=root)
    for setting in DataDir LogDir CacheDir SpoolDir InitRunDir; do
        icinga_paths+=("-DConfiguration.$setting=$logs/icinga")
    done
    icinga2 daemon -C -c "$logs/icinga/icinga2.conf" "${icinga_paths[@]}" >"$logs/icinga.log" 2>&1
    code=$?
    check "Icinga 2 loads the installed CheckCommand from plugins-contrib.d (exit $code)" [ "$code" -eq 0 ]
    grep -E "critical|warning" "$logs/icinga.log" | sed 's/^/     /' || true
fi

if [ -n "$exporter_deb" ]; then
    check "installed: $exporter, executable" [ -x "$exporter" ]
    for file in "$exporter_unit" "$exporter_default" /usr/share/man/man1/$exporter_package.1.gz; do
        check "installed: $file" [ -s "$file" ]
    done
    check "$exporter_default is a conffile" grep -qx "$exporter_default" "$logs/conffiles"
    check "the exporter's service is enabled for boot" \
        [ -L /etc/systemd/system/multi-user.target.wants/$exporter_package.service ]
    version=$("$exporter" --version)
    check "$exporter_package --version: $version (the package's $(dpkg-query -W -f='${Version}' "$exporter_package"))" \
        [ "$version" = "quorvane-exporter $(dpkg-query -W -f='${Version}' "$exporter_package")" ]
fi

# A unit as systemd reads it, and its sandbox.
unit_checks() { # unit exposure-limit
    local exposure
    systemd-analyze verify "$1" >"$logs/verify.log" 2>&1
    code=$?
    sed 's/^/     /' "$logs/verify.log"
    check "$(basename "$1"): systemd-analyze verify is clean (exit $code)" [ "$code" -eq 0 -a ! -s "$logs/verify.log" ]
    systemd-analyze security --offline=yes --no-pager "$1" >"$logs/security.log" 2>&1
    grep -e '✗' -e 'exposure level' "$logs/security.log" | sed 's/^/     /'
    exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$logs/security.log")
    check "$(basename "$1"): exposure ${exposure:-unknown} is at most $2" \
        awk -v e="${exposure:-99}" -v limit="$2" 'BEGIN { exit !(e <= limit) }'
}
echo "== the units"
unit_checks "$unit" 4.9
[ -z "$exporter_deb" ] || unit_checks "$exporter_unit" 2.0

echo "== the installed agent, started as the unit starts it"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -n bash -c '
    ip link set lo up
    setpriv --bounding-set=-all --inh-caps=-all --no-new-privs $1 >"$2/agent.log" 2>&1 &
    agent=$!
    for _ in $(seq 100); do
        if curl -s --max-time 5 -o "$2/report.xml" http://127.0.0.1:5782/getdata &&
            grep -q "</root>" "$2/report.xml"; then
            break
        fi
        sleep 0.1
    done
    if [ -x "$3" ]; then
        "$3" -H 127.0.0.1 -m storage >"$2/plugin.out" 2>&1
        echo $? >>"$2/plugin.out"
    fi
    if [ -n "$4" ]; then
        # The unit: its ExecStart with ARGS from the defaults file, without any capability.
        ARGS=""
        . /etc/default/prometheus-quorvane-exporter
        setpriv --bounding-set=-all --inh-caps=-all --no-new-privs $4 $ARGS >"$2/exporter.log" 2>&1 &
        exporter=$!
        for _ in $(seq 50); do
            curl -s --max-time 5 -o "$2/probe.txt" "http://127.0.0.1:15782/probe?target=127.0.0.1" && break
            sleep 0.1
        done
        kill -TERM "$exporter"
        wait "$exporter"
        echo $? >"$2/exporter-exit"
    fi
    kill -TERM "$agent"
    wait "$agent"
    echo $? >"$2/exit"
' checks "$exec_start" "$logs" "${plugin_deb:+$plugin}" \
    "${exporter_deb:+$(sed -n 's/^ExecStart=//; s/ \$ARGS$//p' "$exporter_unit")}"
report=$logs/report.xml
attr() { grep -o "<$1 [^>]*" "$report" | head -n 1 | grep -o " $2=\"[^\"]*\"" | sed 's/^[^"]*"//; s/"$//'; }
if [ -s "$report" ] && grep -q '</root>' "$report"; then
    pass "$exec_start serves the report on port 5782"
    check "report: os named from os-release" [ -n "$(attr os name)" -a "$(attr os name)" != "Unknown" ]
    check "report: processors with cores" [ "$(attr processor number_of_cores)" -gt 0 ]
    check "report: memory" [ "$(attr memory total_physical)" -gt 0 ]
    check "report: at least one fixed disk with a size" [ "$(attr storage size)" -gt 0 ]
    check "report: uptime" grep -q '">[1-9][0-9]*</uptime>' "$report"
else
    fail "$exec_start serves the report on port 5782"
    sed 's/^/     /' "$logs/agent.log"
fi
check "SIGTERM (systemd's stop) ends the agent with 0 (got $(cat "$logs/exit"))" [ "$(cat "$logs/exit")" = 0 ]
if [ -n "$plugin_deb" ]; then
    check "the installed plugin reads the installed agent: $(head -n 1 "$logs/plugin.out" | cut -c1-100)" \
        grep -qE "^QUORVANE STORAGE (OK|WARNING|CRITICAL) - " "$logs/plugin.out"
fi

if [ -n "$exporter_deb" ]; then
    check "the installed exporter probes the installed agent: quorvane_up 1" grep -qx "quorvane_up 1" "$logs/probe.txt" ||
        sed 's/^/     /' "$logs/exporter.log"
    check "SIGTERM ends the exporter with 0 (got $(cat "$logs/exporter-exit"))" [ "$(cat "$logs/exporter-exit")" = 0 ]
fi

echo "== without systemd: the init script"
# Straight, not through invoke-rc.d, whose policy may forbid starting services here.
init_script=/etc/init.d/$package
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -n bash -c '
    ip link set lo up
    "$1" start >"$2/init-start.log" 2>&1
    echo $? >"$2/init-start.code"
    for _ in $(seq 50); do
        curl -s --max-time 5 -o "$2/init-report.xml" http://127.0.0.1:5782/getdata &&
            grep -q "</root>" "$2/init-report.xml" && break
        sleep 0.2
    done
    pid=$(cat /run/quorvane-agent.pid 2>/dev/null)
    grep -E "^(Uid|CapBnd|NoNewPrivs):" "/proc/$pid/status" >"$2/init-status" 2>/dev/null
    "$1" status >/dev/null 2>&1
    echo $? >"$2/init-running.code"
    "$1" stop >"$2/init-stop.log" 2>&1
    echo $? >"$2/init-stop.code"
    # A zombie is gone too: whoever inherits it here may not reap it at once.
    state=$(awk "/^State:/ { print \$2 }" "/proc/$pid/status" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ] && echo "running ($state)" >"$2/init-after-stop"
    "$1" status >/dev/null 2>&1
    echo $? >"$2/init-stopped.code"
' checks "$init_script" "$logs"
check "installed: $init_script, executable" [ -x "$init_script" ]
served=no
grep -q "</root>" "$logs/init-report.xml" 2>/dev/null && served=yes
check "$init_script start exits $(cat "$logs/init-start.code") and the agent serves the report: $served" \
    [ "$(cat "$logs/init-start.code")" = 0 -a "$served" = yes ]
sed 's/^/     /' "$logs/init-status"
check "it runs without any capability, unable to gain privileges" \
    [ "$(grep -cx -e "CapBnd:.*0000000000000000" -e "NoNewPrivs:.*1" "$logs/init-status")" = 2 ]
init_stopped=yes
[ "$(cat "$logs/init-stop.code")" = 0 ] && [ ! -e "$logs/init-after-stop" ] &&
    [ ! -e /run/quorvane-agent.pid ] || init_stopped=no
check "status says running (0), then stopped (3) after $init_script stop (exit $(cat "$logs/init-stop.code"); gone: $init_stopped)" \
    [ "$(cat "$logs/init-running.code"):$(cat "$logs/init-stopped.code"):$init_stopped" = 0:3:yes ]

echo "== under systemd: the service in a container booted from an overlay of this machine"
# The unit's PrivateUsers= needs a user namespace, which the kernel refuses to a chrooted process:
# in a chroot (a debootstrapped root, say) the service cannot start, whatever the package does.
if ! unshare --user true 2>/dev/null; then
    echo "skip - no user namespace can be created here (a chroot?): the service's PrivateUsers= cannot be set up"
else
    # The installed packages are in the overlay; the container starts only the service (and what
    # every service needs), with a private network. Its writes go to a tmpfs that ends with it.
    container_root=$(mktemp -d /tmp/quorvane-container.XXXXXX)
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare -m --propagation private bash -c '
        mount -t tmpfs tmpfs "$1"
        mkdir "$1/upper" "$1/work" "$1/root"
        mount -t overlay overlay -o lowerdir=/,upperdir="$1/upper",workdir="$1/work" "$1/root"
        : >"$1/root/etc/machine-id"
        printf "[Unit]\nDescription=The agent alone\nRequires=basic.target quorvane-agent.service\nAfter=basic.target\n" \
            >"$1/root/etc/systemd/system/quorvane-checks.target"
        exec timeout 180 systemd-nspawn --quiet --keep-unit --register=no --private-network \
            -D "$1/root" -b -- --unit=quorvane-checks.target
    ' container "$container_root" >"$logs/container.log" 2>&1 </dev/null &
    container=$!
    leader=
    for _ in $(seq 100); do
        nspawn=$(pgrep -x systemd-nspawn -P "$container")
        leader=${nspawn:+$(pgrep -x systemd -P "$nspawn")}
        [ -n "$leader" ] && break
        sleep 0.2
    done
    in_container() { nsenter -t "$leader" -m -u -i -n -p -- "$@"; }
    main_pid() { in_container systemctl show -P MainPID "$package" 2>/dev/null; }
    serving() { in_container curl -s --max-time 2 -o /tmp/report.xml http://127.0.0.1:5782/getdata &&
        in_container grep -q "</root>" /tmp/report.xml; }
    if [ -n "$leader" ] && wait_until 60 serving; then
        pass "the container booted and the service serves the report"
        pid=$(main_pid)
        user=$(in_container ps -o user= -p "$pid")
        uid=$(in_container awk '/^Uid:/ { print $2 }' "/proc/$pid/status")
        check "the service runs as its own user: $user (uid $uid)" [ "${uid:-0}" != 0 ]
        serial=$(in_container sed -n 's/.*<bios [^>]*serial_number="\([^"]*\)".*/\1/p' /tmp/report.xml)
        if [ -r /sys/class/dmi/id/product_serial ]; then
            check "the report carries the BIOS serial number: $serial" \
                [ -n "$serial" -a "$serial" = "$(tr -d '\n' </sys/class/dmi/id/product_serial)" ]
        else
            # No DMI tables here: the unit's blank credential stands in, and the service started.
            credential=$(in_container od -An -c "/run/credentials/$package.service/product_serial")
            check "no BIOS serial on this machine: the credential is blank ($credential), the report's too" \
                [ "$(echo $credential)" = '\n' -a -z "$serial" ]
        fi
        in_container kill -HUP "$pid"
        hup=$SECONDS
        back() { local now; now=$(main_pid); [ -n "$now" ] && [ "$now" != 0 ] && [ "$now" != "$pid" ] && serving; }
        if wait_until 15 back; then
            pass "after kill -HUP it is back and serving within $((SECONDS - hup)) s (RestartSec=5s)"
        else
            fail "after kill -HUP it is back within 15 s: $(in_container systemctl is-active "$package")"
        fi
        in_container systemctl stop "$package"
        sleep 7
        state=$(in_container systemctl is-active "$package")
        check "systemctl stop stops it for good: $state 7 s later" [ "$state" = inactive ]
    else
        fail "the container booted and the service serves the report"
        tail -n 20 "$logs/container.log" | sed 's/^/     /'
        [ -n "$leader" ] && in_container journalctl -u "$package" --no-pager | tail -n 20 | sed 's/^/     /'
    fi
    [ -n "${nspawn:-}" ] && kill -TERM "$nspawn"
    timeout 60 tail --pid="$container" -f /dev/null || kill -KILL "$container"
    wait "$container" 2>/dev/null
    rmdir "$container_root"
fi

# Paths the packages owned that still exist must be directories other packages own as well.
leftovers() {
    while read -r path; do
        [ "$path" = "/." ] && continue
        if [ -e "$path" ] || [ -L "$path" ]; then
            if [ ! -d "$path" ] || ! dpkg-query -S "$path" >/dev/null 2>&1; then
                echo "$path"
            fi
        fi
    done <"$logs/files"
    find /etc/systemd /var/lib/systemd -name "$package.service*" -o -name "$exporter_package.service*" 2>/dev/null
    find /etc/rc?.d -name "[SK][0-9][0-9]$package" 2>/dev/null
}

echo "== removal"
dpkg -r "${packages[@]}" >"$logs/remove.log" 2>&1
code=$?
check "dpkg -r exits 0 (got $code)" [ "$code" -eq 0 ]
# Removal keeps the conffiles until the purge, as Debian's policy has it.
check "after dpkg -r no file of the packages is left but the conffiles" \
    [ -z "$(leftovers | grep -v -e '^/etc/systemd' -e '^/var/lib/systemd' -e '^/etc/rc.\.d' |
        grep -vxF -f "$logs/conffiles")" ]
dpkg -P "${packages[@]}" >"$logs/purge.log" 2>&1
code=$?
[ "$code" -eq 0 ] && installed=no
check "dpkg -P exits 0 (got $code)" [ "$code" -eq 0 ]
left=$(leftovers)
check "after dpkg -P nothing of the packages is left, nor the agent's enablement" [ -z "$left" ]
[ -z "$left" ] || echo "$left" | sed 's/^/     left: /'

checks_summary
