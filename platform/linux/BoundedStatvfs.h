// statvfs with a deadline. On a hung file system (a dead disk, a FUSE daemon that stopped
// answering) statvfs blocks in the kernel for as long as that lasts, and a refresh must not block
// with it. Nor may the agent's own threads make the call: a thread whose FUSE request the daemon
// has already read waits uninterruptibly, and a process cannot end while one of its threads
// does, so SIGTERM would leave the agent running until the daemon answers. The calls are
// therefore made by a small helper process; the refresh only waits, bounded, on its socket. A
// helper stuck in a call is left with it, and that path is not asked again until the call has
// returned, so stuck calls never pile up.
#pragma once

#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

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
    // Runs in the helper process, a fork of this threaded one: system calls only, no locks.
    using Call = int (*)(const char* path, struct statvfs* stats);

    BoundedStatvfs(Call call, std::chrono::milliseconds perPath,
                   std::chrono::milliseconds perRound);
    // Idle helpers end; stuck ones end when their call returns.
    ~BoundedStatvfs();

    BoundedStatvfs(const BoundedStatvfs&) = delete;
    BoundedStatvfs& operator=(const BoundedStatvfs&) = delete;

    // The paths of one refresh, answered in order: at most `perPath` of waiting for each, and
    // `perRound` for all of them together (paths not reached in time are Late, without a call).
    // One query at a time; never throws.
    std::vector<StatvfsAnswer> query(const std::vector<std::string>& paths);

    // From any thread: ends a waiting query at once, and every later query answers Late without
    // calling. For the stop of the process, which must not wait for a hung file system.
    void stop();

  private:
    struct Helper {
        int pid = -1;
        int fd = -1;
        std::deque<std::string> awaiting;  // paths sent, not yet answered, in order
    };

    bool startHelper(Helper& helper);
    void endHelper(Helper& helper);
    enum class Received { Answer, Nothing, Ended };
    Received receive(Helper& helper, StatvfsAnswer& answer);
    void collectStuck();
    StatvfsAnswer lateAnswer(const std::string& path) const;

    const Call call_;
    const std::chrono::milliseconds perPath_;
    const std::chrono::milliseconds perRound_;
    const int stopFd_;  // readable once stop() was called
    std::atomic<bool> stopped_{false};

    std::mutex mutex_;  // one query at a time
    std::vector<Helper> idle_;
    std::vector<Helper> stuck_;         // each still owes the answers in its `awaiting`
    std::set<std::string> stuckPaths_;  // the first awaited path of each stuck helper
    std::map<std::string, struct statvfs> latest_;
    std::vector<int> ended_;  // helpers told to end, not yet reaped
};

// The agent's own: statvfs in a helper process, 1 s per mount and 2 s per refresh.
BoundedStatvfs& systemStatvfs();

}  // namespace quorvane
