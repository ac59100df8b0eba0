#!/usr/bin/env bash
# An /etc/os-release that hangs (it points into /usr, and /usr may be on an NFS server that went
# away) must not freeze the reports or the stop. A FUSE file whose getattr, open and read block
# on demand is bound over /etc/os-release in a private mount namespace.
# Checks: the report names the system after the file; while it hangs, 10 of 10 reports come
# within 3 s, refreshes go on and the names stay as last read; once it answers again its new
# names show; with the file hung and the agent's helper processes stopped (SIGSTOP), SIGTERM ends
# the agent within 3 s with exit 0, and no helper outlives it (the one stuck in the hung call
# ends as soon as the call returns).
# Runs as root in its own mount and network namespaces; bounded in time.
# Usage: tests/reliability/hung-os-release.sh [AGENT]   (default build/quorvane-agent)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
agent=$(realpath "${1:-$here/../../build/quorvane-agent}")

if [ -z "${QUORVANE_HUNG_OS_RELEASE_NS:-}" ]; then
    "$here/../../scripts/deps.sh" python3-fusepy fuse3 iproute2 util-linux
    exec env QUORVANE_HUNG_OS_RELEASE_NS=1 timeout -k 5 200 unshare -m -n "$0" "$agent"
fi
. "$here/../support/checks.sh"
. "$here/hung-support.sh"

mount --make-rprivate /
ip link set lo up
work=$(mktemp -d /tmp/quorvane-hung-os-release-XXXXXX)
control=$work/control
mkdir -p "$control" "$work/fuse"
agent_pid="" fuse_pid="" helpers=""
cleanup() {
    set +e
    rm -f "$control/hang"
    for pid in $helpers; do kill -KILL "$pid" 2>/dev/null; done
    [ -n "$agent_pid" ] && kill -KILL "$agent_pid" 2>/dev/null
    mountpoint -q /etc/os-release && umount -l /etc/os-release
    mountpoint -q "$work/fuse" && umount -l "$work/fuse"
    [ -n "$fuse_pid" ] && kill "$fuse_pid" 2>/dev/null && wait "$fuse_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
WAIT_INTERVAL=0.1

printf 'NAME="Hangbian"\nVERSION_ID=7\nPRETTY_NAME="Hangbian 7 (stuck)"\n' >"$control/content"
/usr/bin/python3 "$here/hanging_fuse.py" "$work/fuse" "$control" >"$work/fuse.log" 2>&1 &
fuse_pid=$!
fuse_file() { [ -f "$work/fuse/file" ]; }
wait_until 10 fuse_file || { cat "$work/fuse.log"; exit 1; }
# /etc/os-release is usually a link into /usr/lib: the mount lands on what it points to.
mount --bind "$work/fuse/file" /etc/os-release
grep -q Hangbian /etc/os-release

"$agent" >"$work/agent.log" 2>&1 &
agent_pid=$!
named() { grep -qF "name=\"$1\"" "$work/report" && grep -qF ">$2</os>" "$work/report"; }
wait_until 10 served || true
check "the report names the system after the file" named "Hangbian 7" "Hangbian 7 (stuck)"

touch "$control/hang"
# Ten reports a second apart while the file hangs.
uc_first="" uc_last="" latencies=() late=0 failed=0 renamed=0
for _ in $(seq 10); do
    out=$(report "$work/report" 5) || true
    code=${out%% *} seconds=${out#* }
    latencies+=("$seconds")
    awk -v s="$seconds" 'BEGIN { exit !(s < 3.0) }' || late=$((late + 1))
    if [ "$code" != 200 ]; then
        failed=$((failed + 1))
    else
        uc=$(sed -n 's/.* uc="\([0-9]*\)".*/\1/p' "$work/report")
        uc_first=${uc_first:-$uc}
        uc_last=$uc
        named "Hangbian 7" "Hangbian 7 (stuck)" || renamed=$((renamed + 1))
    fi
    sleep 1
done
echo "     reports while os-release hangs: ${latencies[*]} s; refreshes ${uc_first:-?} -> ${uc_last:-?}; $(entered) hung calls"
hung_call() { [ "$(entered)" -ge 1 ]; }
check "the file hung while the reports were taken" hung_call
check "10 of 10 reports within 3 s ($late not)" [ "$late" -eq 0 ]
check "every report is served ($failed not)" [ "$failed" -eq 0 ]
refreshed() { [ -n "$uc_last" ] && [ "$uc_last" -ge $((uc_first + 1)) ]; }
check "refreshes go on while os-release hangs" refreshed
check "the names stay as last read ($renamed reports not)" [ "$renamed" -eq 0 ]

# It answers again, with new names.
printf 'NAME=Unstuck\nVERSION_ID=8\nPRETTY_NAME="Unstuck 8"\n' >"$control/content"
rm "$control/hang"
renamed() { report "$work/report" >/dev/null && named "Unstuck 8" "Unstuck 8"; }
check "the new names show once the file answers again" wait_until 15 renamed

# SIGTERM with the file hung, a report asked for, and every helper of the agent stopped.
calls=$(entered)
touch "$control/hang"
report "$work/last-report" 30 >/dev/null &
hung_again() { [ "$(entered)" -gt "$calls" ]; }
wait_until 10 hung_again || true
helpers=$(cat /proc/"$agent_pid"/task/*/children 2>/dev/null || true)
for pid in $helpers; do kill -STOP "$pid" 2>/dev/null || true; done
echo "     helpers stopped: $(echo $helpers)"
check "the agent has helper processes to stop" [ -n "$helpers" ]
stop_agent 40
helper_states() {
    local pid
    for pid in $helpers; do
        [ ! -e "/proc/$pid" ] || echo "$pid:$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)"
    done | tr '\n' ' '
}
# Gone, or a zombie its new parent has not reaped yet; with `stuck`, a helper still waiting in the
# hung call (D) may stay too, since nothing ends a process there.
helpers_gone() { # [stuck]
    local pid state
    for pid in $helpers; do
        state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || continue
        [ "$state" = Z ] || { [ -n "${1:-}" ] && [ "$state" = D ]; } || return 1
    done
}
WAIT_INTERVAL=0.05 wait_until 3 helpers_gone stuck || true
echo "     SIGTERM to exit with os-release hung: ${stop_ms} ms, exit $status; helpers left: $(helper_states)"
check "the stop takes less than 3 s (${stop_ms} ms)" [ "$stop_ms" -lt 3000 ]
check "exit code 0 after SIGTERM ($status)" [ "$status" -eq 0 ]
check "no helper outlives the agent but the one in the hung call" helpers_gone stuck
rm -f "$control/hang"
WAIT_INTERVAL=0.05 wait_until 3 helpers_gone || true
check "that one ends once the call returns ($(helper_states))" helpers_gone
checks_summary
