// statvfs with a deadline. On a hung file system (a dead disk, a FUSE daemon that stopped
// answering, a block device whose I/O never completes) statvfs blocks in the kernel for as long
// as that lasts, and a refresh must not block with it. The calls run on a worker thread; a call
// that misses its deadline is left to finish on its own thread, and its path is not asked again
// until it has, so stuck calls never pile up threads.
#pragma once

#include <sys/statvfs.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::linuxsource {

struct StatvfsAnswer {
    enum class Outcome {
        Answered,  // statvfs returned 0
        Failed,    // statvfs returned an error
        Late,      // no answer in time, an earlier call on the path is still running, or stopped
    };
    Outcome outcome = Outcome::Failed;
    // Answered: this call's result. Late: the latest result the path had, if it ever had one,
    // so that a disk that stops answering keeps its last figures instead of dropping to 0.
    std::optional<struct statvfs> stats;
};

class BoundedStatvfs {
  public:
    using Call = std::function<int(const char* path, struct statvfs* stats)>;

    BoundedStatvfs(Call call, std::chrono::milliseconds perPath,
                   std::chrono::milliseconds perRound);
    // Calls still stuck keep running on their own threads, which touch only state they share.
    ~BoundedStatvfs();

    BoundedStatvfs(const BoundedStatvfs&) = delete;
    BoundedStatvfs& operator=(const BoundedStatvfs&) = delete;

    // The paths of one refresh, answered in order: at most `perPath` of waiting for each, and
    // `perRound` for all of them together (paths not reached in time are Late, without a call).
    std::vector<StatvfsAnswer> query(const std::vector<std::string>& paths);

    // Ends a waiting query at once; every later query answers Late without calling. For the
    // stop of the process, which must not wait for a hung file system.
    void stop();

    struct Shared;  // what the worker threads share; only BoundedStatvfs.cpp knows it

  private:
    std::shared_ptr<Shared> shared_;
    std::mutex roundMutex_;  // one query at a time
};

// The agent's own: statvfs in a helper process (see StatvfsHelper.h), 1 s per mount and 2 s per
// refresh.
BoundedStatvfs& systemStatvfs();

}  // namespace quorvane::linuxsource
