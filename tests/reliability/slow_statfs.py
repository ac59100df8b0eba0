#!/usr/bin/env python3
# A FUSE file system whose statfs hangs while the file CONTROL/hang exists, as it does on a dead
# disk or under a stuck FUSE daemon. Each hang that begins adds a line to CONTROL/entered; the
# free blocks are read from CONTROL/avail (400 of 1000 blocks of 4096 bytes unless given).
# Usage: slow_statfs.py MOUNTPOINT CONTROL [mount options, e.g. blkdev fsname=/dev/loop0]
import errno, os, stat, sys, time

try:
    from fuse import FUSE, Operations
except ImportError:  # Debian's python3-fusepy
    from fusepy import FUSE, Operations

mountpoint, control = sys.argv[1], sys.argv[2]


class SlowStatfs(Operations):
    def getattr(self, path, fh=None):
        if path != "/":
            raise OSError(errno.ENOENT, path)
        return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)

    def readdir(self, path, fh):
        return [".", ".."]

    def statfs(self, path):
        hang = os.path.join(control, "hang")
        if os.path.exists(hang):
            with open(os.path.join(control, "entered"), "a") as log:
                log.write("%f\n" % time.time())
            limit = time.time() + 120  # never forever
            while os.path.exists(hang) and time.time() < limit:
                time.sleep(0.05)
        try:
            with open(os.path.join(control, "avail")) as f:
                avail = int(f.read())
        except (OSError, ValueError):
            avail = 400
        return dict(f_bsize=4096, f_frsize=4096, f_blocks=1000, f_bfree=avail, f_bavail=avail)


options = dict(o.split("=", 1) if "=" in o else (o, True) for o in sys.argv[3:])
FUSE(SlowStatfs(), mountpoint, foreground=True, **options)
