#include "VersionCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST_F(VersionCheckTest, NamedConstants) {
    EXPECT_EQ(VersionHeaderName, "ActualDFXVersion");
    EXPECT_EQ(VersionHeaderName.size(), 16u);
    EXPECT_EQ(ProgramVersion, "v.0.2");
}

TEST_F(VersionCheckTest, EqualValueNotifiesNothing) {
    CheckServerVersion("v.0.2");
    CheckServerVersion(std::string(ProgramVersion));
    EXPECT_EQ(calls, 0);
}

TEST_F(VersionCheckTest, AnyOtherValueNotifiesOncePerCall) {
    const char* values[] = {"",      "v.0.1",  " v.0.2", "v.0.2 ",   "V.0.2",
                            "v.0.3", "v.0.20", "0.2",    "v.0.2\r\n"};
    int expected = 0;
    for (const char* value : values) {
        SCOPED_TRACE(std::string("value \"") + value + "\"");
        CheckServerVersion(value);
        ++expected;
        EXPECT_EQ(calls, expected);
    }
    CheckServerVersion("v.0.1");
    CheckServerVersion("v.0.1");
    EXPECT_EQ(calls, expected + 2);
    // An embedded zero byte is a difference too.
    CheckServerVersion(std::string("v.0.2\0x", 7));
    EXPECT_EQ(calls, expected + 3);
}

TEST_F(VersionCheckTest, NoHookInstalledIsHarmless) {
    SetNewVersionHook({});
    CheckServerVersion("v.0.1");
    CheckServerVersion("");
    NotifyNewVersion();
    EXPECT_EQ(calls, 0);
}

TEST_F(VersionCheckTest, NotifyRunsTheHookOnTheCallingThread) {
    std::thread::id seen;
    SetNewVersionHook([&seen] { seen = std::this_thread::get_id(); });
    std::thread worker([] { CheckServerVersion("v.0.3"); });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(seen, workerId);
}

TEST_F(VersionCheckTest, TheHookMayReplaceItselfWithoutDeadlock) {
    int second = 0;
    SetNewVersionHook([&second] { SetNewVersionHook([&second] { ++second; }); });
    NotifyNewVersion(); // installs the second hook from inside the first
    EXPECT_EQ(second, 0);
    NotifyNewVersion();
    EXPECT_EQ(second, 1);
}

TEST_F(VersionCheckTest, ABlockingHookDoesNotBlockInstallingAnother) {
    // The worker waits in the hook (the user answering); meanwhile the UI thread can still
    // install or remove the hook.
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
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
    }
    SetNewVersionHook([this] { ++calls; }); // must not wait for the running hook
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
