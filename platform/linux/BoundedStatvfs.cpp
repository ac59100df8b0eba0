#include "BoundedStatvfs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "StatvfsHelper.h"

namespace quorvane::linuxsource {

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this many calls stuck at once nothing more is asked: each holds a thread.
constexpr std::size_t kMaxStuckCalls = 8;

}  // namespace

// Everything the worker threads touch. They hold it by shared pointer, so a thread stuck in the
// kernel stays harmless after the owner is gone, even while the process exits.
struct BoundedStatvfs::Shared {
    Shared(Call call, std::chrono::milliseconds perPath, std::chrono::milliseconds perRound)
        : call(std::move(call)), perPath(perPath), perRound(perRound) {}

    const Call call;
    const std::chrono::milliseconds perPath;
    const std::chrono::milliseconds perRound;

    std::mutex mutex;
    std::condition_variable wake;  // a job for the worker, or its end
    std::condition_variable done;  // the job is answered
    bool stopped = false;
    bool closed = false;

    // The one worker that takes jobs; a worker whose number is no longer this one has been given
    // up and ends when its call returns.
    std::uint64_t liveWorker = 0;
    bool liveWorkerRunning = false;

    // The job: paths answered in order, from `next` on; `started` is when the current one began.
    std::vector<std::string> paths;
    std::vector<StatvfsAnswer> answers;
    std::size_t next = 0;
    Clock::time_point started;
    bool pending = false;  // posted, not yet taken
    bool finished = false;

    std::set<std::string> stuck;  // paths whose call missed its deadline and has not returned
    std::map<std::string, struct statvfs> latest;
};

namespace {

void work(const std::shared_ptr<BoundedStatvfs::Shared>& shared, std::uint64_t id);

}  // namespace

BoundedStatvfs::BoundedStatvfs(Call call, std::chrono::milliseconds perPath,
                               std::chrono::milliseconds perRound)
    : shared_(std::make_shared<Shared>(std::move(call), perPath, perRound)) {}

BoundedStatvfs::~BoundedStatvfs() {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closed = true;
    shared_->wake.notify_all();
}

void BoundedStatvfs::stop() {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopped = true;
    shared_->done.notify_all();
}

namespace {

StatvfsAnswer lateAnswer(const BoundedStatvfs::Shared& shared, const std::string& path) {
    StatvfsAnswer answer;
    answer.outcome = StatvfsAnswer::Outcome::Late;
    const auto latest = shared.latest.find(path);
    if (latest != shared.latest.end()) {
        answer.stats = latest->second;
    }
    return answer;
}

void work(const std::shared_ptr<BoundedStatvfs::Shared>& shared, std::uint64_t id) {
    BoundedStatvfs::Shared& s = *shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.closed || s.liveWorker != id || s.pending; });
        if (s.closed || s.liveWorker != id) {
            return;
        }
        s.pending = false;
        while (s.next < s.paths.size()) {
            const std::string path = s.paths[s.next];
            s.started = Clock::now();
            lock.unlock();
            struct statvfs stats {};
            const int result = s.call(path.c_str(), &stats);
            lock.lock();
            if (result == 0) {
                s.latest[path] = stats;
            }
            if (s.liveWorker != id) {
                // Given up while in the call: the path may be asked again.
                s.stuck.erase(path);
                return;
            }
            StatvfsAnswer& answer = s.answers[s.next];
            answer.outcome =
                result == 0 ? StatvfsAnswer::Outcome::Answered : StatvfsAnswer::Outcome::Failed;
            if (result == 0) {
                answer.stats = stats;
            }
            ++s.next;
        }
        s.finished = true;
        s.done.notify_all();
    }
}

}  // namespace

std::vector<StatvfsAnswer> BoundedStatvfs::query(const std::vector<std::string>& paths) {
    const std::lock_guard<std::mutex> round(roundMutex_);
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    const Clock::time_point roundEnd = Clock::now() + s.perRound;

    // Remember only the paths still asked about (and those stuck, whose calls may yet return).
    for (auto it = s.latest.begin(); it != s.latest.end();) {
        const bool asked = std::find(paths.begin(), paths.end(), it->first) != paths.end();
        it = asked || s.stuck.count(it->first) != 0 ? std::next(it) : s.latest.erase(it);
    }

    std::vector<StatvfsAnswer> answers(paths.size());
    std::vector<std::size_t> toAsk;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (s.stopped || s.stuck.count(paths[i]) != 0) {
            answers[i] = lateAnswer(s, paths[i]);
        } else {
            toAsk.push_back(i);
        }
    }

    std::size_t first = 0;  // into toAsk
    while (first < toAsk.size()) {
        if (s.stopped || Clock::now() >= roundEnd || s.stuck.size() >= kMaxStuckCalls) {
            break;
        }
        if (!s.liveWorkerRunning) {
            try {
                std::thread(work, shared_, s.liveWorker).detach();
            } catch (const std::system_error&) {
                break;
            }
            s.liveWorkerRunning = true;
        }
        s.paths.clear();
        for (std::size_t k = first; k < toAsk.size(); ++k) {
            s.paths.push_back(paths[toAsk[k]]);
        }
        s.answers.assign(s.paths.size(), StatvfsAnswer());
        s.next = 0;
        s.started = Clock::now();
        s.pending = true;
        s.finished = false;
        s.wake.notify_all();

        while (!s.finished && !s.stopped) {
            const Clock::time_point deadline = std::min(s.started + s.perPath, roundEnd);
            if (Clock::now() >= deadline) {
                break;
            }
            s.done.wait_until(lock, deadline);
        }
        for (std::size_t k = 0; k < s.next; ++k) {
            answers[toAsk[first + k]] = s.answers[k];
        }
        if (s.finished) {
            first = toAsk.size();
            break;
        }
        // The current call missed its deadline (or the process stops): give up this worker.
        // Its path counts as stuck until the call returns; the rest go to a new worker.
        if (!s.pending) {
            const std::string& path = s.paths[s.next];
            s.stuck.insert(path);
            answers[toAsk[first + s.next]] = lateAnswer(s, path);
        }
        first += s.next + (s.pending ? 0 : 1);
        s.pending = false;
        ++s.liveWorker;
        s.liveWorkerRunning = false;
        s.wake.notify_all();
    }
    for (std::size_t k = first; k < toAsk.size(); ++k) {
        answers[toAsk[k]] = lateAnswer(s, paths[toAsk[k]]);
    }
    return answers;
}

BoundedStatvfs& systemStatvfs() {
    static BoundedStatvfs instance(statvfsInHelper, std::chrono::milliseconds(1000),
                                   std::chrono::milliseconds(2000));
    return instance;
}

}  // namespace quorvane::linuxsource
