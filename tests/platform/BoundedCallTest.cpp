#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "BoundedCall.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Outcome = BoundedOutcome;

// The fake runs in the helper process, so it is steered by files beside each path: PATH.blocks
// holds its block count (no file: the call fails), while PATH.hang exists the call blocks (as
// statvfs does on a dead disk) after creating PATH.entered, and PATH.calls grows by one byte per
// call. System calls only, as the helper requires.
bool controlName(char* name, const char* path, const char* suffix) {
    if (std::strlen(path) + std::strlen(suffix) >= PATH_MAX) {
        return false;
    }
    std::strcpy(name, path);
    std::strcat(name, suffix);
    return true;
}

int fakeStatvfs(const char* path, struct statvfs* stats) {
    char name[PATH_MAX];
    if (controlName(name, path, ".calls")) {
        const int fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT, 0600);
        if (fd >= 0 && ::write(fd, "x", 1) == 1) {
            ::close(fd);
        }
    }
    if (controlName(name, path, ".hang") && ::access(name, F_OK) == 0) {
        char entered[PATH_MAX];
        if (controlName(entered, path, ".entered")) {
            ::close(::open(entered, O_WRONLY | O_CREAT, 0600));
        }
        for (int waited = 0; waited < 60000 && ::access(name, F_OK) == 0; ++waited) {
            ::usleep(1000);  // released by the test, at the latest after a minute
        }
    }
    char digits[32] = {};
    const int fd = controlName(name, path, ".blocks") ? ::open(name, O_RDONLY) : -1;
    if (fd < 0 || ::read(fd, digits, sizeof digits - 1) <= 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        errno = ENOENT;
        return -1;
    }
    ::close(fd);
    std::memset(stats, 0, sizeof *stats);
    stats->f_blocks = std::strtoul(digits, nullptr, 10);
    return 0;
}

class FakeTree {
  public:
    FakeTree() {
        char pattern[] = "/tmp/quorvane-statvfs-XXXXXX";
        root_ = ::mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~FakeTree() {
        releaseAll();
        std::error_code ignored;  // a helper may still be writing in it
        std::filesystem::remove_all(root_, ignored);
    }
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    void set(const std::string& name, unsigned long blocks) {
        std::ofstream(path(name) + ".blocks") << blocks;
    }
    void hang(const std::string& name) { std::ofstream(path(name) + ".hang").flush(); }
    void release(const std::string& name) { std::filesystem::remove(path(name) + ".hang"); }
    void releaseAll() {
        for (const auto& entry : std::filesystem::directory_iterator(root_)) {
            if (entry.path().extension() == ".hang") {
                std::filesystem::remove(entry.path());
            }
        }
    }
    int calls(const std::string& name) const {
        std::error_code error;
        const auto size = std::filesystem::file_size(path(name) + ".calls", error);
        return error ? 0 : static_cast<int>(size);
    }
    // Bounded, so that a fault fails the test instead of hanging it.
    bool waitUntilEntered(const std::string& name) const {
        for (int i = 0; i < 10000; ++i) {
            if (std::filesystem::exists(path(name) + ".entered")) {
                return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

  private:
    std::string root_;
};

unsigned long blocksOf(const StatvfsAnswer& answer) {
    return answer.result ? answer.result->f_blocks : 0;
}

TEST(BoundedCallTest, HungPathIsLateWithItsLastFiguresAndNotAskedAgainUntilItReturns) {
    FakeTree tree;
    BoundedStatvfs bounded(fakeStatvfs, 500ms, 1h);
    const std::string a = tree.path("a"), b = tree.path("b"), c = tree.path("c");
    tree.set("a", 1);
    tree.set("b", 2);
    tree.set("c", 3);

    auto answers = bounded.query({a, b, c, tree.path("gone")});
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[1].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[1]), 2u);
    EXPECT_EQ(answers[3].outcome, Outcome::Failed);
    EXPECT_FALSE(answers[3].result.has_value());

    // The paths after the hung one are still asked, and answer their new figures.
    tree.hang("b");
    tree.set("a", 11);
    tree.set("c", 33);
    answers = bounded.query({a, b, c});
    EXPECT_EQ(answers[0].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[0]), 11u);
    EXPECT_EQ(answers[1].outcome, Outcome::Late);
    EXPECT_EQ(blocksOf(answers[1]), 2u);
    EXPECT_EQ(answers[2].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[2]), 33u);

    for (int round = 0; round < 3; ++round) {
        answers = bounded.query({a, b, c});
        EXPECT_EQ(answers[1].outcome, Outcome::Late);
        EXPECT_EQ(blocksOf(answers[1]), 2u);
        EXPECT_EQ(answers[2].outcome, Outcome::Answered);
    }
    EXPECT_EQ(tree.calls("b"), 2);  // no second call stuck beside the first

    tree.set("b", 22);
    tree.release("b");
    answers = bounded.query({b});
    for (int i = 0; i < 10000 && answers[0].outcome != Outcome::Answered; ++i) {
        std::this_thread::sleep_for(1ms);
        answers = bounded.query({b});
    }
    EXPECT_EQ(answers[0].outcome, Outcome::Answered);
    EXPECT_EQ(blocksOf(answers[0]), 22u);
    EXPECT_EQ(tree.calls("b"), 3);
}

TEST(BoundedCallTest, StopEndsAWaitingQueryAndLaterQueriesCallNothing) {
    FakeTree tree;
    const std::string x = tree.path("x"), y = tree.path("y");
    tree.set("x", 1);
    tree.set("y", 2);
    BoundedStatvfs bounded(fakeStatvfs, 1h, 1h);
    (void)bounded.query({x});
    tree.hang("x");

    std::promise<std::vector<StatvfsAnswer>> result;
    std::thread refresh([&] { result.set_value(bounded.query({x, y})); });
    ASSERT_TRUE(tree.waitUntilEntered("x"));
    bounded.stop();
    auto answered = result.get_future();
    if (answered.wait_for(10s) != std::future_status::ready) {
        tree.releaseAll();  // lets the faulty query end, so the test fails instead of hanging
        refresh.join();
        FAIL() << "the query went on waiting after stop()";
    }
    refresh.join();
    const auto answers = answered.get();
    EXPECT_EQ(answers[0].outcome, Outcome::Late);
    EXPECT_EQ(blocksOf(answers[0]), 1u);
    EXPECT_EQ(answers[1].outcome, Outcome::Late);
    EXPECT_EQ(bounded.query({y})[0].outcome, Outcome::Late);
    EXPECT_EQ(tree.calls("y"), 0);
}

TEST(BoundedCallTest, OneRoundWaitsNoLongerThanItsBudget) {
    FakeTree tree;
    std::vector<std::string> paths;
    for (const char* name : {"a", "b", "c", "d"}) {
        tree.set(name, 1);
        tree.hang(name);
        paths.push_back(tree.path(name));
    }
    // Each path may take 50 ms, all together 120 ms: the third is given up when the round ends
    // (if it is reached at all), and the fourth is never called.
    BoundedStatvfs bounded(fakeStatvfs, 50ms, 120ms);
    for (const StatvfsAnswer& answer : bounded.query(paths)) {
        EXPECT_EQ(answer.outcome, Outcome::Late);
    }
    EXPECT_LE(tree.calls("a"), 1);
    EXPECT_LE(tree.calls("c"), 1);
    EXPECT_EQ(tree.calls("d"), 0);
}

// More paths than the helper's socket takes at once still all get their own answers.
TEST(BoundedCallTest, EveryPathOfALongListIsAnswered) {
    FakeTree tree;
    std::vector<std::string> paths;
    for (unsigned long i = 0; i < 1000; ++i) {
        tree.set(std::to_string(i), i + 1);
        paths.push_back(tree.path(std::to_string(i)));
    }
    BoundedStatvfs bounded(fakeStatvfs, 10s, 1h);
    const auto answers = bounded.query(paths);
    for (unsigned long i = 0; i < 1000; ++i) {
        ASSERT_EQ(answers[i].outcome, Outcome::Answered) << i;
        EXPECT_EQ(blocksOf(answers[i]), i + 1);
    }
}

// The agent's own: what statvfs answers, errors included.
TEST(BoundedCallTest, TheAgentsHelperAnswersAsStatvfsDoes) {
    struct statvfs direct {};
    ASSERT_EQ(statvfs("/", &direct), 0);
    for (int round = 0; round < 2; ++round) {  // a fresh helper, then the same one again
        const auto answers = systemStatvfs().query({"/", "/does/not/exist"});
        ASSERT_EQ(answers[0].outcome, Outcome::Answered);
        EXPECT_EQ(answers[0].result->f_blocks, direct.f_blocks);
        EXPECT_EQ(answers[0].result->f_frsize, direct.f_frsize);
        EXPECT_EQ(answers[1].outcome, Outcome::Failed);
    }
}

// A helper stopped when the agent ends would never read the end of its input: it must end with
// the agent all the same. This process adopts the orphan, so it sees how it ended.
TEST(BoundedCallTest, AStoppedHelperEndsWithTheAgent) {
    FakeTree tree;
    tree.set("a", 1);
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t agent = ::fork();
    ASSERT_GE(agent, 0);
    if (agent == 0) {
        BoundedStatvfs bounded(fakeStatvfs, 10s, 10s);
        const bool answered = bounded.query({tree.path("a")})[0].outcome == Outcome::Answered;
        // The helper now waits, idle, for the next path.
        std::ifstream children("/proc/self/task/" + std::to_string(::getpid()) + "/children");
        pid_t helper = 0;
        children >> helper;
        if (answered && helper > 0 && ::kill(helper, SIGSTOP) == 0 &&
            ::write(report[1], &helper, sizeof helper) == sizeof helper) {
            _exit(0);
        }
        _exit(1);
    }
    ::close(report[1]);
    pid_t helper = 0;
    const bool reported = ::read(report[0], &helper, sizeof helper) == sizeof helper;
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(agent, &status, 0), agent);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (reported) {
        pid_t reaped = 0;
        for (int i = 0; i < 5000 && reaped == 0; ++i) {
            reaped = ::waitpid(helper, &status, WNOHANG);
            std::this_thread::sleep_for(1ms);
        }
        if (reaped == 0) {
            ::kill(helper, SIGKILL);
            ::waitpid(helper, nullptr, 0);
        }
        EXPECT_EQ(reaped, helper) << "the stopped helper outlived the agent";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace quorvane
