#!/usr/bin/env bash
# A fixed disk whose statfs hangs must not freeze the agent. The disk is a FUSE file system on a
# loop device (fuseblk, as ntfs-3g is on a real disk): the agent lists it as a fixed disk, so its
# refresh calls statvfs on it, which then blocks for as long as the daemon likes.
# Checks: both disks show the size and free space df -B1 shows (the FUSE disk's fragment size
# differs from its block size); while statfs hangs, reports keep coming within the deadline and
# refreshes go on; the hung disk keeps its last figures and the other disk stays exact; once it
# answers again its new figures show; SIGTERM while a refresh waits on it ends the agent at once
# with exit 0.
# Runs as root in its own mount and network namespaces; bounded in time.
# Usage: tests/reliability/hung-mount.sh [AGENT]   (default build/quorvane-agent)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
agent=$(realpath "${1:-$here/../../build/quorvane-agent}")

if [ -z "${QUORVANE_HUNG_MOUNT_NS:-}" ]; then
    "$here/../../scripts/deps.sh" python3-fusepy fuse3 e2fsprogs iproute2 util-linux
    exec env QUORVANE_HUNG_MOUNT_NS=1 timeout -k 5 150 unshare -m -n "$0" "$agent"
fi
. "$here/../support/checks.sh"
. "$here/hung-support.sh"

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
WAIT_INTERVAL=0.1

# The disks: a FUSE file system on one loop device, ext4 on another.
truncate -s 8M "$work/fuse.img"
truncate -s 16M "$work/fixed.img"
mkfs.ext4 -q "$work/fixed.img"
fuse_dev=$(losetup -f --show "$work/fuse.img")
fixed_dev=$(losetup -f --show "$work/fixed.img")
mount "$fixed_dev" "$work/fixed"
/usr/bin/python3 "$here/hanging_fuse.py" "$work/hung" "$control" blkdev "fsname=$fuse_dev" \
    >"$work/fuse.log" 2>&1 &
fuse_pid=$!
fuse_mounted() { grep -q " $work/hung .* - fuseblk " /proc/self/mountinfo; }
wait_until 10 fuse_mounted || { cat "$work/fuse.log"; exit 1; }
# What the agent must show for a mount, as df shows it.
expected() { # mount point, file system type
    local size avail
    read -r size avail < <(df -B1 --output=size,avail "$1" | tail -n 1)
    echo "available=\"$avail\" device_name=\"$1\" drive_type=\"3\" file_system=\"$2\" size=\"$size\""
}
fixed_expected=$(expected "$work/fixed" ext4)
hung_expected=$(expected "$work/hung" fuseblk)

"$agent" >"$work/agent.log" 2>&1 &
agent_pid=$!
wait_until 10 served || true
check "the FUSE disk shows the figures df -B1 shows: $hung_expected" grep -qF "$hung_expected" "$work/report"
check "the ext4 disk shows the figures df -B1 shows" grep -qF "$fixed_expected" "$work/report"

# statfs hangs from the next refresh on.
touch "$control/hang"
hung_call() { [ "$(entered)" -ge 1 ]; }
check "the agent calls statfs on the FUSE disk" wait_until 15 hung_call
uc_first="" uc_last="" latencies=() failed=0 lost=0 changed=0
end=$(($(now_ms) + 12000))
while [ "$(now_ms)" -lt "$end" ]; do
    out=$(report "$work/report") || true
    code=${out%% *} seconds=${out#* }
    latencies+=("$seconds")
    if [ "$code" != 200 ]; then
        failed=$((failed + 1))
        continue
    fi
    uc=$(sed -n 's/.* uc="\([0-9]*\)".*/\1/p' "$work/report")
    uc_first=${uc_first:-$uc}
    uc_last=$uc
    grep -qF "$hung_expected" "$work/report" || lost=$((lost + 1))
    grep -qF "$fixed_expected" "$work/report" || changed=$((changed + 1))
    sleep 0.2
done
sorted=$(printf '%s\n' "${latencies[@]}" | sort -n)
max=$(tail -1 <<<"$sorted")
median=$(sed -n "$(((${#latencies[@]} + 1) / 2))p" <<<"$sorted")
echo "     reports while statfs hangs: ${#latencies[@]} in 12 s, median ${median} s, max ${max} s, refreshes ${uc_first:-?} -> ${uc_last:-?}"
check "every report is served while statfs hangs ($failed not)" [ "$failed" -eq 0 ]
check "no report takes 2 s (max ${max} s; deadline 1 s)" awk -v m="$max" 'BEGIN { exit !(m < 2.0) }'
refreshed() { [ -n "$uc_last" ] && [ "$uc_last" -ge $((uc_first + 2)) ]; }
check "refreshes go on while statfs hangs" refreshed
check "the hung disk keeps its last figures ($lost reports not)" [ "$lost" -eq 0 ]
check "the ext4 disk stays exact while the other hangs ($changed reports not)" [ "$changed" -eq 0 ]
check "the stuck mount is not asked again ($(entered) hung calls)" [ "$(entered)" -eq 1 ]

# It answers again: the next refreshes show its new figures.
echo 300 >"$control/avail"
rm "$control/hang"
recovered_expected=$(expected "$work/hung" fuseblk)
recovered() { report "$work/report" >/dev/null && grep -qF "$recovered_expected" "$work/report"; }
check "the FUSE disk's new figures differ from its old ones" [ "$recovered_expected" != "$hung_expected" ]
check "the FUSE disk's new figures show after it answers again" wait_until 15 recovered

# SIGTERM while a refresh waits for the hung statfs.
touch "$control/hang"
second_hung_call() { [ "$(entered)" -ge 2 ]; }
WAIT_INTERVAL=0.02 wait_until 8 second_hung_call || fail "no second hung call"
stop_agent 10
echo "     SIGTERM to exit while a refresh waits on the hung statfs: ${stop_ms} ms, exit $status"
check "the stop takes less than 1 s (${stop_ms} ms)" [ "$stop_ms" -lt 1000 ]
check "exit code 0 after SIGTERM ($status)" [ "$status" -eq 0 ]
checks_summary
