// The program's own input without a windowing system: the cursor it moves, and posts to handles
// that name no window.
#include "windows.h"
#include "win32sim/input_injection.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(InputInjection, ACursorMovedOnAnyThreadIsReportedAtOnceOnEveryThread)
{
    std::thread([] {
        EXPECT_TRUE(SetCursorPos(-40, 1200));
        POINT there;
        ASSERT_TRUE(GetCursorPos(&there));
        EXPECT_EQ(there.x, -40);
        EXPECT_EQ(there.y, 1200);
    }).join();
    POINT here;
    ASSERT_TRUE(GetCursorPos(&here));
    EXPECT_EQ(here.x, -40);
    EXPECT_EQ(here.y, 1200);
    EXPECT_TRUE(SetCursorPos(7, 8));
    std::thread([] {
        POINT there;
        ASSERT_TRUE(GetCursorPos(&there));
        EXPECT_EQ(there.x, 7);
        EXPECT_EQ(there.y, 8);
    }).join();
}

TEST(InputInjection, NothingIsPostedToAHandleOfNoWindow)
{
    win32sim::clearPostedMessages();
    EXPECT_EQ(WindowFromPoint(POINT{10, 10}), HWND(0));
    for (HWND hwnd : {HWND(0), HWND(0x7fff0001)}) {
        SetLastError(0);
        EXPECT_FALSE(PostMessageW(hwnd, WM_CHAR, 'a', 0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    }
    EXPECT_TRUE(win32sim::postedMessages().empty());
}

} // namespace
