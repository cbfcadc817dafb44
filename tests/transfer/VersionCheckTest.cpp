#include "VersionCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

class VersionCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNewVersionHook([this] { ++calls; });
    }
    void TearDown() override { SetNewVersionHook({}); }

    std::atomic<int> calls{0};
};

TEST_F(VersionCheckTest, OnlyTheExactProgramVersionStaysQuiet) {
    const std::pair<std::string, int> cases[] = {
        {"v.0.2", 0},
        {"", 1},
        {"v.0.1", 1},
        {" v.0.2", 1},
        {"v.0.2 ", 1},
        {"V.0.2", 1},
        {"v.0.20", 1},
        {"v.0.2\r\n", 1},
        {"v.0.1", 1}, // nothing is remembered: the same value notifies again
        {std::string("v.0.2\0x", 7), 1},
    };
    int expected = 0;
    for (const auto& [value, notices] : cases) {
        SCOPED_TRACE("value \"" + value + "\"");
        CheckServerVersion(value);
        expected += notices;
        EXPECT_EQ(calls, expected);
    }
}

TEST_F(VersionCheckTest, NoHookInstalledIsHarmless) {
    SetNewVersionHook({});
    CheckServerVersion("v.0.1");
    NotifyNewVersion();
    EXPECT_EQ(calls, 0);
}

TEST_F(VersionCheckTest, TheHookRunsOnTheCallingThreadAndMayReplaceItself) {
    std::thread::id seen;
    int second = 0;
    SetNewVersionHook([&] {
        seen = std::this_thread::get_id();
        SetNewVersionHook([&second] { ++second; }); // from inside the hook: no deadlock
    });
    std::thread worker([] { CheckServerVersion("v.0.3"); });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(seen, workerId);
    EXPECT_EQ(second, 0);
    NotifyNewVersion();
    EXPECT_EQ(second, 1);
}

TEST_F(VersionCheckTest, ABlockingHookDoesNotBlockInstallingAnother) {
    // The transfer thread waits in the hook for the user's answer; meanwhile the UI thread must
    // still be able to install another hook and use it.
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    SetNewVersionHook([&] {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    std::thread worker([] { CheckServerVersion("v.9"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    SetNewVersionHook([this] { ++calls; });
    CheckServerVersion("v.9");
    EXPECT_EQ(calls, 1);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    worker.join();
}

TEST_F(VersionCheckTest, ConcurrentChecksAndInstallsAreSafe) {
    std::atomic<bool> stop{false};
    std::thread installer([&] {
        while (!stop) {
            SetNewVersionHook([this] { ++calls; });
            SetNewVersionHook({});
        }
    });
    for (int i = 0; i < 20000; ++i) {
        CheckServerVersion(i % 2 == 0 ? "v.0.2" : "v.0.1");
    }
    stop = true;
    installer.join();
    EXPECT_LE(calls, 10000);
}

} // namespace
