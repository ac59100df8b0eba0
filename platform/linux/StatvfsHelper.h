// statvfs answered by a helper process. A thread stuck in a FUSE request that its daemon has
// already read waits uninterruptibly, and a process cannot end while one of its threads does:
// SIGTERM would leave the agent running, its exit code unseen, until the daemon answers. So the
// call that can hang is made by a small child process; the agent's own thread only waits on a
// socket, which any signal ends. A helper that hangs stays with its call; the next call takes
// another one.
#pragma once

#include <sys/statvfs.h>

namespace quorvane::linuxsource {

// As statvfs; -1 with errno set when the path cannot be examined or no helper can be started.
// Safe to call from several threads at once: each call has a helper to itself.
int statvfsInHelper(const char* path, struct statvfs* stats);

}  // namespace quorvane::linuxsource
