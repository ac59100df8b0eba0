#!/usr/bin/env bash
# A fixed disk whose statfs hangs must not freeze the agent. The disk is a FUSE file system on a
# loop device (fuseblk, as ntfs-3g is on a real disk): the agent lists it as a fixed disk, so its
# refresh calls statvfs on it, which then blocks for as long as the daemon likes.
# Checks: while statfs hangs, reports keep coming within the deadline and refreshes go on; the
# hung disk keeps its last figures and the other disk stays exact; once it answers again its new
# figures show; SIGTERM while a refresh waits on it ends the agent at once with exit 0.
# Runs as root in its own mount and network namespaces; bounded in time.
# Usage: tests/reliability/hung-mount.sh [AGENT]   (default build/quorvane-agent)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
agent=$(realpath "${1:-$here/../../build/quorvane-agent}")

if [ -z "${QUORVANE_HUNG_MOUNT_NS:-}" ]; then
    "$here/../../scripts/deps.sh" python3-fusepy fuse3 e2fsprogs iproute2 util-linux
    exec env QUORVANE_HUNG_MOUNT_NS=1 timeout -k 5 150 unshare -m -n "$0" "$agent"
fi

mount --make-rprivate /
ip link set lo up
work=$(mktemp -d /tmp/quorvane-hung-XXXXXX)
control=$work/control
mkdir -p "$control" "$work/hung" "$work/fixed"
agent_pid="" fuse_pid="" fuse_dev="" fixed_dev=""
cleanup() {
    set +e
    rm -f "$control/hang"
    [ -n "$agent_pid" ] && kill -KILL "$agent_pid" 2>/dev/null
    mountpoint -q "$work/hung" && umount -l "$work/hung"
    [ -n "$fuse_pid" ] && kill "$fuse_pid" 2>/dev/null && wait "$fuse_pid" 2>/dev/null
    mountpoint -q "$work/fixed" && umount "$work/fixed"
    [ -n "$fuse_dev" ] && losetup -d "$fuse_dev"
    [ -n "$fixed_dev" ] && losetup -d "$fixed_dev"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The disks: a FUSE file system on one loop device, ext4 on another.
truncate -s 8M "$work/fuse.img"
truncate -s 16M "$work/fixed.img"
mkfs.ext4 -q "$work/fixed.img"
fuse_dev=$(losetup -f --show "$work/fuse.img")
fixed_dev=$(losetup -f --show "$work/fixed.img")
mount "$fixed_dev" "$work/fixed"
/usr/bin/python3 "$here/slow_statfs.py" "$work/hung" "$control" blkdev "fsname=$fuse_dev" \
    >"$work/fuse.log" 2>&1 &
fuse_pid=$!
for _ in $(seq 100); do
    grep -q " $work/hung .* - fuseblk " /proc/self/mountinfo && break
    sleep 0.1
done
grep -q " $work/hung .* - fuseblk " /proc/self/mountinfo || { cat "$work/fuse.log"; exit 1; }
read -r blocks avail unit < <(stat -f -c '%b %a %S' "$work/fixed")
fixed_expected="available=\"$((avail * unit))\" device_name=\"$work/fixed\" drive_type=\"3\" file_system=\"ext4\" size=\"$((blocks * unit))\""
hung_expected="available=\"1638400\" device_name=\"$work/hung\" drive_type=\"3\" file_system=\"fuseblk\" size=\"4096000\""

"$agent" >"$work/agent.log" 2>&1 &
agent_pid=$!
report() { curl -s --max-time "${2:-10}" -o "$1" -w '%{http_code} %{time_total}' http://127.0.0.1:5782/getdata; }
for _ in $(seq 100); do
    report "$work/report" 1 >/dev/null || true
    grep -q '<root ' "$work/report" 2>/dev/null && break
    sleep 0.1
done
grep -qF "$hung_expected" "$work/report" || fail "the FUSE disk is not listed as expected: $(grep storage "$work/report")"
grep -qF "$fixed_expected" "$work/report" || fail "the ext4 disk is not listed as expected"

# statfs hangs from the next refresh on.
touch "$control/hang"
for _ in $(seq 150); do
    [ -s "$control/entered" ] && break
    sleep 0.1
done
[ -s "$control/entered" ] || fail "the agent never called statfs on the FUSE disk"
uc_first="" uc_last="" latencies=()
end=$(($(now_ms) + 12000))
while [ "$(now_ms)" -lt "$end" ]; do
    out=$(report "$work/report") || true
    code=${out%% *} seconds=${out#* }
    latencies+=("$seconds")
    if [ "$code" != 200 ]; then
        fail "no report while statfs hangs (status $code after $seconds s)"
        continue
    fi
    uc=$(sed -n 's/.* uc="\([0-9]*\)".*/\1/p' "$work/report")
    uc_first=${uc_first:-$uc}
    uc_last=$uc
    grep -qF "$hung_expected" "$work/report" || fail "the hung disk lost its last figures"
    grep -qF "$fixed_expected" "$work/report" || fail "the ext4 disk changed while the other hung"
    sleep 0.2
done
sorted=$(printf '%s\n' "${latencies[@]}" | sort -n)
max=$(tail -1 <<<"$sorted")
median=$(sed -n "$(((${#latencies[@]} + 1) / 2))p" <<<"$sorted")
echo "reports while statfs hangs: ${#latencies[@]} in 12 s, median ${median} s, max ${max} s, refreshes ${uc_first:-?} -> ${uc_last:-?}"
awk -v m="$max" 'BEGIN { exit !(m < 2.0) }' || fail "a report took ${max} s (deadline 1 s)"
[ -n "$uc_last" ] && [ "$uc_last" -ge $((uc_first + 2)) ] || fail "refreshes stopped while statfs hangs"
[ "$(wc -l <"$control/entered")" -eq 1 ] || fail "the stuck mount was asked again: $(wc -l <"$control/entered") hung calls"

# It answers again: the next refreshes show its new figures.
echo 300 >"$control/avail"
rm "$control/hang"
recovered=""
for _ in $(seq 60); do
    report "$work/report" >/dev/null || true
    grep -qF "available=\"1228800\" device_name=\"$work/hung\"" "$work/report" && { recovered=1; break; }
    sleep 0.25
done
[ -n "$recovered" ] || fail "the FUSE disk's new figures never showed after it answered again"

# SIGTERM while a refresh waits for the hung statfs.
touch "$control/hang"
for _ in $(seq 400); do
    [ "$(wc -l <"$control/entered")" -ge 2 ] && break
    sleep 0.02
done
[ "$(wc -l <"$control/entered")" -ge 2 ] || fail "no second hung call"
start=$(now_ms)
kill -TERM "$agent_pid"
ended=""
for _ in $(seq 200); do
    kill -0 "$agent_pid" 2>/dev/null || { ended=1; break; }
    sleep 0.05
done
stop_ms=$(($(now_ms) - start))
if [ -z "$ended" ]; then
    fail "the agent still runs ${stop_ms} ms after SIGTERM"
    rm -f "$control/hang"
fi
set +e
wait "$agent_pid"
status=$?
set -e
echo "SIGTERM to exit while a refresh waits on the hung statfs: $(($(now_ms) - start)) ms, exit $status"
agent_pid=""
[ "$stop_ms" -lt 1000 ] || fail "stop took ${stop_ms} ms"
[ "$status" -eq 0 ] || fail "exit code $status after SIGTERM"

[ "$failures" -eq 0 ] && echo "hung mount: all checks passed"
exit $((failures > 0))
