// File-system calls with a deadline. On a hung file system (a dead disk, a FUSE daemon that
// stopped answering, an NFS server that went away) statvfs, stat and read block in the kernel for
// as long as that lasts, and a refresh must not block with them. Nor may the agent's own threads
// make the calls: a thread whose FUSE request the daemon has already read waits
// uninterruptibly, and a process cannot end while one of its threads does, so SIGTERM would
// leave the agent running until the daemon answers. The calls are therefore made by a small
// helper process; the refresh only waits, bounded, on its socket. A helper stuck in a call is
// left with it, and that path is not asked again until the call has returned, so stuck calls
// never pile up. A helper ends with the agent, whatever state it is in.
#pragma once

#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

enum class BoundedOutcome {
    Answered,  // the call returned 0
    Failed,    // the call returned an error
    Late,      // no answer in time, an earlier call on the path is still running, or stopped
};

template <typename Result>
struct BoundedAnswer {
    BoundedOutcome outcome = BoundedOutcome::Failed;
    // Answered: this call's result. Late: the latest result the path had, if it ever had one,
    // so that a disk that stops answering keeps its last figures instead of dropping to 0.
    std::optional<Result> result;
};

// Result: a trivially copyable record, sent whole from the helper.
template <typename Result>
class BoundedCall {
  public:
    // Runs in the helper process, a fork of this threaded one: system calls only, no locks.
    using Call = int (*)(const char* path, Result* result);

    BoundedCall(Call call, std::chrono::milliseconds perPath, std::chrono::milliseconds perRound);
    // Idle helpers end; stuck ones end when their call returns, or with the agent.
    ~BoundedCall();

    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;

    // The paths of one refresh, answered in order: at most `perPath` of waiting for each, and
    // `perRound` for all of them together (paths not reached in time are Late, without a call).
    // One query at a time; never throws.
    std::vector<BoundedAnswer<Result>> query(const std::vector<std::string>& paths);

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
    Received receive(Helper& helper, BoundedAnswer<Result>& answer);
    void collectStuck();
    BoundedAnswer<Result> lateAnswer(const std::string& path) const;

    const Call call_;
    const std::chrono::milliseconds perPath_;
    const std::chrono::milliseconds perRound_;
    const int stopFd_;  // readable once stop() was called
    std::atomic<bool> stopped_{false};

    std::mutex mutex_;  // one query at a time
    std::vector<Helper> idle_;
    std::vector<Helper> stuck_;         // each still owes the answers in its `awaiting`
    std::set<std::string> stuckPaths_;  // the first awaited path of each stuck helper
    std::map<std::string, Result> latest_;
    std::vector<int> ended_;  // helpers told to end, not yet reaped
};

using BoundedStatvfs = BoundedCall<struct statvfs>;
using StatvfsAnswer = BoundedAnswer<struct statvfs>;

// The start of a small file, read whole: far more than any configuration file of a few lines.
struct SmallFile {
    static constexpr std::size_t kCapacity = 4 * 1024;
    std::uint32_t length;  // bytes read, at most kCapacity; a longer file is cut there
    char text[kCapacity];
};
using BoundedFileRead = BoundedCall<SmallFile>;
using FileReadAnswer = BoundedAnswer<SmallFile>;

// The agent's own, each 1 s per path and 2 s per round: statvfs, and reading a small file.
BoundedStatvfs& systemStatvfs();
BoundedFileRead& systemFileReads();

}  // namespace quorvane
