#include "BoundedCall.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this many helpers stuck at once nothing more is asked: each is a process.
constexpr std::size_t kMaxStuckHelpers = 8;
constexpr std::size_t kMaxIdleHelpers = 1;

template <typename Result>
struct Response {
    std::int32_t result;
    std::int32_t error;
    Result value;
};

// The helper's whole life: one path per message in, one Response per message out, until the
// agent closes its end. A fork of a threaded process, so system calls only.
template <typename Result>
[[noreturn]] void serve(int fd, typename BoundedCall<Result>::Call call) {
    static_assert(std::is_trivially_copyable_v<Result>, "the helper sends its results as bytes");
    char path[PATH_MAX];
    for (;;) {
        const ssize_t length = ::recv(fd, path, sizeof path - 1, 0);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            _exit(0);
        }
        path[length] = '\0';
        Response<Result> response;
        std::memset(&response, 0, sizeof response);
        if (call(path, &response.value) != 0) {
            response.result = -1;
            response.error = errno;
        }
        while (::send(fd, &response, sizeof response, MSG_NOSIGNAL) < 0) {
            if (errno != EINTR) {
                _exit(0);
            }
        }
    }
}

// statvfs from the bare system call, so that the helper surely takes no lock of the C library.
int bareStatvfs(const char* path, struct statvfs* stats) {
    struct statfs fs;
    if (::statfs(path, &fs) != 0) {
        return -1;
    }
    std::memset(stats, 0, sizeof *stats);
    stats->f_bsize = static_cast<unsigned long>(fs.f_bsize);
    stats->f_frsize = static_cast<unsigned long>(fs.f_frsize);
    stats->f_blocks = fs.f_blocks;
    stats->f_bfree = fs.f_bfree;
    stats->f_bavail = fs.f_bavail;
    stats->f_files = fs.f_files;
    stats->f_ffree = fs.f_ffree;
    stats->f_favail = fs.f_ffree;
    stats->f_namemax = static_cast<unsigned long>(fs.f_namelen);
    return 0;
}

int bareReadFile(const char* path, SmallFile* file) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    std::size_t length = 0;
    while (length < SmallFile::kCapacity) {
        const ssize_t got = ::read(fd, file->text + length, SmallFile::kCapacity - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    ::close(fd);
    file->length = static_cast<std::uint32_t>(length);
    return 0;
}

}  // namespace

template <typename Result>
BoundedCall<Result>::BoundedCall(Call call, std::chrono::milliseconds perPath,
                                 std::chrono::milliseconds perRound)
    : call_(call),
      perPath_(perPath),
      perRound_(perRound),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

template <typename Result>
BoundedCall<Result>::~BoundedCall() {
    for (Helper& helper : idle_) {
        endHelper(helper);
    }
    for (Helper& helper : stuck_) {
        endHelper(helper);
    }
    for (const int pid : ended_) {
        ::waitpid(pid, nullptr, WNOHANG);
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

template <typename Result>
void BoundedCall<Result>::stop() {
    stopped_ = true;
    const std::uint64_t one = 1;
    if (stopFd_ >= 0 && ::write(stopFd_, &one, sizeof one) < 0) {
        // Nothing waits that could miss it: a query checks stopped_ before it waits.
    }
}

template <typename Result>
bool BoundedCall<Result>::startHelper(Helper& helper) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // First of all: the helper ends with the agent, even stopped or stuck in a call, where
        // it would never read the end of its input. An agent already gone is no longer the
        // parent. (The signal comes when the thread that started the helper ends: the refresh
        // thread, which lives as long as the agent.)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            _exit(0);
        }
        // Nothing of the agent's stays open here, least of all its listening socket.
        const unsigned keep = static_cast<unsigned>(fds[1]);
        if (keep > 0) {
            ::close_range(0, keep - 1, 0);
        }
        ::close_range(keep + 1, ~0u, 0);
        serve<Result>(fds[1], call_);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    helper = Helper();
    helper.pid = pid;
    helper.fd = fds[0];
    return true;
}

// The helper reads the end of its input and leaves; one stuck in a call leaves after it. It is
// reaped by a later query.
template <typename Result>
void BoundedCall<Result>::endHelper(Helper& helper) {
    ::close(helper.fd);
    ended_.push_back(helper.pid);
    helper = Helper();
}

template <typename Result>
typename BoundedCall<Result>::Received BoundedCall<Result>::receive(Helper& helper,
                                                                    BoundedAnswer<Result>& answer) {
    Response<Result> response;
    const ssize_t length = ::recv(helper.fd, &response, sizeof response, MSG_DONTWAIT);
    if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Received::Nothing;
    }
    if (length != static_cast<ssize_t>(sizeof response) || helper.awaiting.empty()) {
        return Received::Ended;
    }
    const std::string path = helper.awaiting.front();
    helper.awaiting.pop_front();
    answer = BoundedAnswer<Result>();
    if (response.result == 0) {
        answer.outcome = BoundedOutcome::Answered;
        answer.result = response.value;
        latest_[path] = response.value;
    }
    return Received::Answer;
}

// Takes what stuck helpers have answered since; one that owes nothing more is idle again.
template <typename Result>
void BoundedCall<Result>::collectStuck() {
    std::vector<Helper> still;
    for (Helper& helper : stuck_) {
        BoundedAnswer<Result> ignored;
        Received received;
        while ((received = receive(helper, ignored)) == Received::Answer) {
        }
        if (received == Received::Ended) {
            endHelper(helper);
        } else if (helper.awaiting.empty() && idle_.size() < kMaxIdleHelpers) {
            idle_.push_back(std::move(helper));
        } else if (helper.awaiting.empty()) {
            endHelper(helper);
        } else {
            still.push_back(std::move(helper));
        }
    }
    stuck_ = std::move(still);
    stuckPaths_.clear();
    for (const Helper& helper : stuck_) {
        stuckPaths_.insert(helper.awaiting.front());
    }
    for (auto it = ended_.begin(); it != ended_.end();) {
        it = ::waitpid(*it, nullptr, WNOHANG) == 0 ? std::next(it) : ended_.erase(it);
    }
}

template <typename Result>
BoundedAnswer<Result> BoundedCall<Result>::lateAnswer(const std::string& path) const {
    BoundedAnswer<Result> answer;
    answer.outcome = BoundedOutcome::Late;
    const auto latest = latest_.find(path);
    if (latest != latest_.end()) {
        answer.result = latest->second;
    }
    return answer;
}

template <typename Result>
std::vector<BoundedAnswer<Result>> BoundedCall<Result>::query(
    const std::vector<std::string>& paths) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point roundEnd = Clock::now() + perRound_;
    collectStuck();
    // Remember only the paths still asked about, and those a stuck helper still owes.
    for (auto it = latest_.begin(); it != latest_.end();) {
        const bool asked = std::find(paths.begin(), paths.end(), it->first) != paths.end();
        it = asked || stuckPaths_.count(it->first) != 0 ? std::next(it) : latest_.erase(it);
    }

    std::vector<BoundedAnswer<Result>> answers(paths.size());
    std::vector<std::size_t> toAsk;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (stopped_ || stuckPaths_.count(paths[i]) != 0) {
            answers[i] = lateAnswer(paths[i]);
        } else if (paths[i].empty() || paths[i].size() >= PATH_MAX) {
            answers[i].outcome = BoundedOutcome::Failed;
        } else {
            toAsk.push_back(i);
        }
    }

    std::size_t next = 0;  // into toAsk: the next path without an answer
    bool startFailed = false;
    while (next < toAsk.size() && !stopped_ && Clock::now() < roundEnd &&
           stuck_.size() < kMaxStuckHelpers && !startFailed) {
        Helper helper;
        if (!idle_.empty()) {
            helper = std::move(idle_.back());
            idle_.pop_back();
        } else if (!startHelper(helper)) {
            break;
        } else {
            startFailed = true;  // a fresh helper that fails too is not replaced again
        }
        // As many paths as the socket takes at once (all, unless there are hundreds); the rest
        // follow in the next turn of the loop.
        bool sent = true;
        for (std::size_t k = next; k < toAsk.size(); ++k) {
            const std::string& path = paths[toAsk[k]];
            if (::send(helper.fd, path.data(), path.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
                static_cast<ssize_t>(path.size())) {
                sent = !helper.awaiting.empty() && (errno == EAGAIN || errno == EWOULDBLOCK);
                break;
            }
            helper.awaiting.push_back(path);
        }
        Received received = Received::Nothing;
        Clock::time_point progress = Clock::now();
        while (sent && !helper.awaiting.empty() && !stopped_) {
            BoundedAnswer<Result> answer;
            while ((received = receive(helper, answer)) == Received::Answer) {
                answers[toAsk[next++]] = answer;
                progress = Clock::now();
            }
            if (received == Received::Ended || helper.awaiting.empty()) {
                break;
            }
            const auto left = std::min(progress + perPath_, roundEnd) - Clock::now();
            if (left <= Clock::duration::zero()) {
                break;
            }
            pollfd waits[2] = {{helper.fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            ::poll(waits, 2, static_cast<int>(std::min<long long>(ms, INT_MAX)));
        }
        if (!sent || received == Received::Ended) {
            // Broken helper: what it still owes is asked of another one.
            endHelper(helper);
            continue;
        }
        if (helper.awaiting.empty()) {
            startFailed = false;
            if (idle_.size() < kMaxIdleHelpers) {
                idle_.push_back(std::move(helper));
            } else {
                endHelper(helper);
            }
            continue;
        }
        // Stuck in the call for toAsk[next]: that path waits for its answer; the ones after it
        // go to another helper. (This one calls them too once it is free; its answers only
        // refresh the latest figures.)
        answers[toAsk[next]] = lateAnswer(paths[toAsk[next]]);
        stuckPaths_.insert(helper.awaiting.front());
        stuck_.push_back(std::move(helper));
        ++next;
        startFailed = false;
    }
    for (; next < toAsk.size(); ++next) {
        answers[toAsk[next]] = lateAnswer(paths[toAsk[next]]);
    }
    return answers;
}

template class BoundedCall<struct statvfs>;
template class BoundedCall<SmallFile>;

BoundedStatvfs& systemStatvfs() {
    static BoundedStatvfs instance(bareStatvfs, std::chrono::milliseconds(1000),
                                   std::chrono::milliseconds(2000));
    return instance;
}

BoundedFileRead& systemFileReads() {
    static BoundedFileRead instance(bareReadFile, std::chrono::milliseconds(1000),
                                    std::chrono::milliseconds(2000));
    return instance;
}

}  // namespace quorvane
