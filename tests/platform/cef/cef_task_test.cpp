#include "include/cef_task.h"
#include "cef_test/cef_test_host.h"
#include "cef_extras/closure_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class CefTaskTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(cef_test::StartRuntime()); }
    void TearDown() override { cef_test::StopRuntime(); }
};

TEST_F(CefTaskTest, TasksRunInPostingOrderOnTheirThread)
{
    const CefThreadId ids[] = {TID_UI, TID_IO, TID_RENDERER, TID_FILE};
    std::mutex m;
    std::map<int, std::vector<std::pair<int, int>>> seen; // thread -> (producer, seq)
    std::atomic<int> wrongThread{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p)
        producers.emplace_back([&, p] {
            for (int seq = 0; seq < 200; ++seq)
                for (CefThreadId id : ids)
                    cef_extras::PostTask(id, [&, id, p, seq] {
                        for (CefThreadId other : ids)
                            if (CefCurrentlyOn(other) != (other == id))
                                ++wrongThread;
                        std::lock_guard<std::mutex> l(m);
                        seen[id].push_back({p, seq});
                    });
        });
    for (auto& t : producers)
        t.join();
    ASSERT_TRUE(cef_test::WaitForIdle());
    EXPECT_EQ(wrongThread.load(), 0);
    for (CefThreadId id : ids) {
        ASSERT_EQ(seen[id].size(), 600u);
        std::map<int, int> last;
        for (const auto& e : seen[id]) {
            auto it = last.find(e.first);
            if (it != last.end()) {
                EXPECT_LT(it->second, e.second) << "thread " << id;
            }
            last[e.first] = e.second;
        }
    }
    EXPECT_FALSE(CefCurrentlyOn(TID_UI)); // the test's own thread is none of them
}

TEST_F(CefTaskTest, WaitForIdleCoversWorkHandedOnToAnotherThread)
{
    // A renderer task hands work to the UI thread, which hands it to IO (as a released context
    // reaches the browser side). Many rounds: a wait that misses the hop does so only now and then.
    std::atomic<int> arrived{0};
    for (int round = 1; round <= 1000; ++round) {
        ASSERT_TRUE(cef_extras::PostTask(TID_RENDERER, [&] {
            cef_extras::PostTask(TID_UI, [&] { cef_extras::PostTask(TID_IO, [&] { ++arrived; }); });
        }));
        ASSERT_TRUE(cef_test::WaitForIdle());
        ASSERT_EQ(arrived.load(), round);
    }
    // From a task thread: every other task, not the caller's own.
    std::atomic<int> seen{-1};
    std::atomic<bool> settled{false};
    cef_extras::PostTask(TID_FILE, [&] {
        cef_extras::PostTask(TID_RENDERER, [&] { cef_extras::PostTask(TID_UI, [&] { ++arrived; }); });
        settled = cef_test::WaitForIdle();
        seen = arrived.load();
    });
    ASSERT_TRUE(cef_test::WaitForIdle());
    EXPECT_TRUE(settled.load());
    EXPECT_EQ(seen.load(), 1001);
}

TEST_F(CefTaskTest, DelayedTaskRunsAfterQueuedOnesAndTaskRunnerMatchesThread)
{
    std::vector<int> order;
    std::mutex m;
    CefPostDelayedTask(TID_UI, cef_extras::ClosureTask([&] {
                           std::lock_guard<std::mutex> l(m);
                           order.push_back(2);
                       }),
                       20);
    cef_extras::PostTask(TID_UI, [&] {
        std::lock_guard<std::mutex> l(m);
        order.push_back(1);
    });
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard<std::mutex> l(m);
            if (order.size() == 2)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> l(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    CefRefPtr<CefTaskRunner> io = CefTaskRunner::GetForThread(TID_IO);
    EXPECT_TRUE(io->BelongsToThread(TID_IO));
    EXPECT_FALSE(io->BelongsToCurrentThread());
}

TEST(CefTaskLifecycleTest, PostsAreRefusedOutsideTheRuntimeAndQueuedTasksRunAtShutdown)
{
    EXPECT_FALSE(cef_extras::PostTask(TID_UI, [] {}));
    ASSERT_TRUE(cef_test::StartRuntime());
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i)
        cef_extras::PostTask(TID_IO, [&] { ++ran; });
    cef_test::StopRuntime();
    EXPECT_EQ(ran.load(), 50);
    EXPECT_FALSE(cef_extras::PostTask(TID_UI, [] {}));
    // The runtime can be started again.
    ASSERT_TRUE(cef_test::StartRuntime());
    EXPECT_TRUE(cef_test::WaitForThread(TID_UI));
    cef_test::StopRuntime();
}

// The process ends with exit() while the runtime runs (a lost display ends it so): the task
// threads end with it, whatever they are doing, and the process ends with the code it was given.
// Each case runs in a child process of its own.
TEST(CefTaskLifecycleTest, ExitWhileTheRuntimeRunsEndsTheProcessWithItsCode)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            cef_test::StartRuntime();
            cef_extras::PostTask(TID_IO, [] {});
            cef_test::WaitForIdle();
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    // A task thread busy past the end: it is left to the process's end.
    EXPECT_EXIT(
        {
            cef_test::StartRuntime();
            cef_extras::PostTask(TID_FILE, [] { std::this_thread::sleep_for(std::chrono::hours(1)); });
            for (int i = 0; i < 20; ++i)
                cef_extras::PostTask(TID_IO, [] {});
            std::exit(4);
        },
        ::testing::ExitedWithCode(4), "");
    // exit() from a task on one of the runtime's own threads.
    EXPECT_EXIT(
        {
            cef_test::StartRuntime();
            cef_extras::PostTask(TID_UI, [] { std::exit(5); });
            std::this_thread::sleep_for(std::chrono::hours(1));
        },
        ::testing::ExitedWithCode(5), "");
}

} // namespace
