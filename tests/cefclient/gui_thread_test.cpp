// Handing work to the GUI thread and waiting for it to take up what was handed over.
#include "test_app.h"
#include "wait.h"

#include "cefclient/gui_thread.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <thread>

namespace {

class GuiThreadTest : public ::testing::Test {
protected:
    GuiThreadTest() { TestApplication::get(); }
};

TEST_F(GuiThreadTest, WaitingReturnsOnceWhatWasPostedBeforeHasRun)
{
    std::atomic<bool> ran{false}, waited{false}, answer{false}, ranWhenAnswered{false};
    std::thread worker([&] {
        cefclient::PostToGuiThread([&] { ran = true; });
        answer = cefclient::WaitForGuiThread(10000);
        ranWhenAnswered = ran.load();
        waited = true;
    });
    EXPECT_TRUE(test_support::waitFor([&] { return waited.load(); }));
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_TRUE(ranWhenAnswered);
}

// A GUI thread that does not turn its event loop (here: it waits for the waiting thread) keeps
// the wait no longer than its bound.
TEST_F(GuiThreadTest, ABusyGuiThreadKeepsTheWaitNoLongerThanItsBound)
{
    bool answer = true;
    qint64 elapsed = 0;
    std::thread worker([&] {
        QElapsedTimer timer;
        timer.start();
        answer = cefclient::WaitForGuiThread(50);
        elapsed = timer.elapsed();
    });
    worker.join();
    EXPECT_FALSE(answer);
    EXPECT_GE(elapsed, 45);
    EXPECT_LT(elapsed, 5000);
    // What was posted for the wait runs later without harm.
    test_support::waitFor([] { return false; }, 100);
}

TEST_F(GuiThreadTest, OnTheGuiThreadThereIsNothingToWaitFor)
{
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(cefclient::WaitForGuiThread(5000));
    EXPECT_LT(timer.elapsed(), 1000);
}

} // namespace
