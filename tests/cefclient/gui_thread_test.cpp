// Handing work to the GUI thread from another thread.
#include "test_app.h"
#include "wait.h"

#include "qt_extras/gui_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class GuiThreadTest : public ::testing::Test {
protected:
    GuiThreadTest() { TestApplication::get(); }
};

// The posted work runs on the GUI thread in the order it was posted, and sees what the posting
// thread wrote before it posted (plain data: the thread checker watches this hand-off).
TEST_F(GuiThreadTest, PostedWorkRunsOnTheGuiThreadInOrder)
{
    std::vector<int> written(3, 0);
    std::vector<int> seen;
    std::atomic<bool> offGuiThread{false};
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            written[size_t(i)] = 10 + i;
            qt_extras::PostToGuiThread([&, i] {
                if (!qt_extras::OnGuiThread())
                    offGuiThread = true;
                seen.push_back(written[size_t(i)]);
                ++ran;
            });
        }
    });
    // Joined only afterwards: the join would order the two threads by itself.
    const bool allRan = test_support::waitFor([&] { return ran.load() == 3; });
    worker.join();
    ASSERT_TRUE(allRan);
    EXPECT_FALSE(offGuiThread);
    EXPECT_EQ(seen, (std::vector<int>{10, 11, 12}));
}

} // namespace
