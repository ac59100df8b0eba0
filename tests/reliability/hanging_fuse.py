#!/usr/bin/env python3
# A FUSE file system that hangs on demand, as one does on a dead disk, a stuck FUSE daemon or an
# NFS server that went away. While the file CONTROL/hang exists, statfs blocks, and so do getattr,
# open and read of its one file, /file; each hang that begins adds a line to CONTROL/entered.
# statfs: 1000 blocks of 1024 bytes (4096 is the block size it gives besides, so that a reader
# taking the wrong one is wrong), the free ones read from CONTROL/avail (400 unless given).
# /file holds CONTROL/content.
# Usage: hanging_fuse.py MOUNTPOINT CONTROL [mount options, e.g. blkdev fsname=/dev/loop0]
import errno, os, stat, sys, time

try:
    from fuse import FUSE, Operations
except ImportError:  # Debian's python3-fusepy
    from fusepy import FUSE, Operations

mountpoint, control = sys.argv[1], sys.argv[2]
started = time.time()


def hang_while_asked():
    hang = os.path.join(control, "hang")
    if os.path.exists(hang):
        with open(os.path.join(control, "entered"), "a") as log:
            log.write("%f\n" % time.time())
        limit = time.time() + 120  # never forever
        while os.path.exists(hang) and time.time() < limit:
            time.sleep(0.05)


def content():
    try:
        with open(os.path.join(control, "content"), "rb") as f:
            return f.read()
    except OSError:
        return b""


class HangingFuse(Operations):
    def getattr(self, path, fh=None):
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path != "/file":
            raise OSError(errno.ENOENT, path)
        hang_while_asked()
        return dict(st_mode=stat.S_IFREG | 0o644, st_nlink=1, st_size=len(content()),
                    st_mtime=started, st_ctime=started, st_atime=started)

    def readdir(self, path, fh):
        return [".", "..", "file"]

    def open(self, path, flags):
        hang_while_asked()
        return 0

    def read(self, path, size, offset, fh):
        hang_while_asked()
        return content()[offset:offset + size]

    def statfs(self, path):
        hang_while_asked()
        try:
            with open(os.path.join(control, "avail")) as f:
                avail = int(f.read())
        except (OSError, ValueError):
            avail = 400
        return dict(f_bsize=4096, f_frsize=1024, f_blocks=1000, f_bfree=avail, f_bavail=avail)


options = dict(o.split("=", 1) if "=" in o else (o, True) for o in sys.argv[3:])
# Every stat and read reaches the daemon, none is answered from the kernel's caches.
options.setdefault("attr_timeout", 0)
options.setdefault("entry_timeout", 0)
FUSE(HangingFuse(), mountpoint, foreground=True, **options)
