#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "BoundedStatvfs.h"
#include "StatvfsHelper.h"

namespace quorvane::linuxsource {
namespace {

using namespace std::chrono_literals;
using Outcome = StatvfsAnswer::Outcome;

// File systems by path: each answers its block count, fails when it has none, and blocks while
// it is hung, as statvfs does on a dead disk.
class FakeFileSystems {
  public:
    // The call holds the fake, which thus lives as long as a thread that may still be in it.
    static BoundedStatvfs::Call callOf(const std::shared_ptr<FakeFileSystems>& fake) {
        return
            [fake](const char* path, struct statvfs* stats) { return fake->answer(path, stats); };
    }

    void set(const std::string& path, unsigned long blocks) {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_[path] = blocks;
    }
    void hang(const std::string& path) {
        const std::lock_guard<std::mutex> lock(mutex_);
        hung_.insert(path);
    }
    void release(const std::string& path) {
        const std::lock_guard<std::mutex> lock(mutex_);
        hung_.erase(path);
        changed_.notify_all();
    }
    void releaseAll() {
        const std::lock_guard<std::mutex> lock(mutex_);
        hung_.clear();
        changed_.notify_all();
    }
    int calls(const std::string& path) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return calls_[path];
    }
    // Bounded, so that a fault fails the test instead of hanging it.
    bool waitUntilBlocked(const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return blocked_.count(path) != 0; });
    }
    bool waitUntilReturned(const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return blocked_.count(path) == 0; });
    }

  private:
    int answer(const std::string& path, struct statvfs* stats) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++calls_[path];
        blocked_.insert(path);
        changed_.notify_all();
        changed_.wait(lock, [&] { return hung_.count(path) == 0; });
        blocked_.erase(path);
        changed_.notify_all();
        const auto blocks = blocks_.find(path);
        if (blocks == blocks_.end()) {
            return -1;
        }
        *stats = {};
        stats->f_blocks = blocks->second;
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, unsigned long> blocks_;
    std::set<std::string> hung_;
    std::multiset<std::string> blocked_;
    std::map<std::string, int> calls_;
};

unsigned long blocksOf(const StatvfsAnswer& answer) {
    return answer.stats ? answer.stats->f_blocks : 0;
}

TEST(BoundedStatvfsTest, HungPathIsLateWithItsLastFiguresAndNotAskedAgainUntilItReturns) {
    const auto fake = std::make_shared<FakeFileSystems>();
    BoundedStatvfs bounded(FakeFileSystems::callOf(fake), 50ms, 1h);
    fake->set("/a", 1);
    fake->set("/b", 2);
    fake->set("/c", 3);

    auto answers = bounded.query({"/a", "/b", "/c", "/gone"});
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[1].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[1]), 2u);
    EXPECT_EQ(answers[3].outcome, Outcome::Failed);
    EXPECT_FALSE(answers[3].stats.has_value());

    // The paths after the hung one are still asked, and answer their new figures.
    fake->hang("/b");
    fake->set("/a", 11);
    fake->set("/c", 33);
    answers = bounded.query({"/a", "/b", "/c"});
    EXPECT_EQ(answers[0].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[0]), 11u);
    EXPECT_EQ(answers[1].outcome, Outcome::Late);
    EXPECT_EQ(blocksOf(answers[1]), 2u);
    EXPECT_EQ(answers[2].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[2]), 33u);

    for (int round = 0; round < 3; ++round) {
        answers = bounded.query({"/a", "/b", "/c"});
        EXPECT_EQ(answers[1].outcome, Outcome::Late);
        EXPECT_EQ(blocksOf(answers[1]), 2u);
        EXPECT_EQ(blocksOf(answers[2]), 33u);
    }
    EXPECT_EQ(fake->calls("/b"), 2);  // no second call stuck beside the first
    EXPECT_EQ(fake->calls("/c"), 5);

    fake->set("/b", 22);
    fake->release("/b");
    ASSERT_TRUE(fake->waitUntilReturned("/b"));
    answers = bounded.query({"/b"});
    EXPECT_EQ(answers[0].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[0]), 22u);
    EXPECT_EQ(fake->calls("/b"), 3);
}

TEST(BoundedStatvfsTest, StopEndsAWaitingQueryAndLaterQueriesCallNothing) {
    const auto fake = std::make_shared<FakeFileSystems>();
    fake->set("/x", 1);
    fake->set("/y", 2);
    BoundedStatvfs bounded(FakeFileSystems::callOf(fake), 1h, 1h);
    (void)bounded.query({"/x"});
    fake->hang("/x");

    std::promise<std::vector<StatvfsAnswer>> result;
    std::thread refresh([&] { result.set_value(bounded.query({"/x", "/y"})); });
    ASSERT_TRUE(fake->waitUntilBlocked("/x"));
    bounded.stop();
    auto answered = result.get_future();
    const bool ended = answered.wait_for(10s) == std::future_status::ready;
    fake->releaseAll();  // lets a faulty query end, so the test fails instead of hanging
    refresh.join();
    ASSERT_TRUE(ended);
    const auto answers = answered.get();
    EXPECT_EQ(answers[0].outcome, Outcome::Late);
    EXPECT_EQ(blocksOf(answers[0]), 1u);
    EXPECT_EQ(answers[1].outcome, Outcome::Late);

    EXPECT_EQ(bounded.query({"/y"})[0].outcome, Outcome::Late);
    EXPECT_EQ(fake->calls("/y"), 0);
}

TEST(BoundedStatvfsTest, OneRoundWaitsNoLongerThanItsBudget) {
    const auto fake = std::make_shared<FakeFileSystems>();
    for (const char* path : {"/a", "/b", "/c", "/d"}) {
        fake->set(path, 1);
        fake->hang(path);
    }
    // Each path may take 50 ms, all together 120 ms: /c (if asked at all) is given up when the
    // round ends, and /d is never asked.
    BoundedStatvfs bounded(FakeFileSystems::callOf(fake), 50ms, 120ms);
    const auto answers = bounded.query({"/a", "/b", "/c", "/d"});
    for (const StatvfsAnswer& answer : answers) {
        EXPECT_EQ(answer.outcome, Outcome::Late);
    }
    EXPECT_EQ(fake->calls("/a"), 1);
    EXPECT_LE(fake->calls("/c"), 1);
    EXPECT_EQ(fake->calls("/d"), 0);
    fake->releaseAll();
}

// The helper process answers what statvfs answers, errors included.
TEST(StatvfsHelperTest, AnswersAsStatvfsDoes) {
    struct statvfs direct {};
    struct statvfs helped {};
    ASSERT_EQ(statvfs("/", &direct), 0);
    ASSERT_EQ(statvfsInHelper("/", &helped), 0);
    EXPECT_EQ(helped.f_blocks, direct.f_blocks);
    EXPECT_EQ(helped.f_frsize, direct.f_frsize);
    errno = 0;
    EXPECT_EQ(statvfsInHelper("/does/not/exist", &helped), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(statvfsInHelper("/", &helped), 0);  // the same helper, still serving
    EXPECT_EQ(helped.f_blocks, direct.f_blocks);
}

}  // namespace
}  // namespace quorvane::linuxsource
