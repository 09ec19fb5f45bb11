// The Win32 layer's input calls with the toolkit's windows and pointer: the window under a point
// and the cursor that other threads move.
#include "test_app.h"
#include "wait.h"

#include "windows.h"

#include <QCursor>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using test_support::waitFor;

TEST(WindowFromPoint, TheShownWindowMostRecentlyRaisedAtThePoint)
{
    TestApplication::get();
    QWidget lower, upper;
    lower.setGeometry(1000, 1000, 200, 200);
    upper.setGeometry(1100, 1100, 200, 200);
    lower.show();
    upper.show();
    const HWND lowerHandle = HWND(lower.winId()), upperHandle = HWND(upper.winId());
    EXPECT_EQ(WindowFromPoint(POINT{1050, 1050}), lowerHandle);
    EXPECT_EQ(WindowFromPoint(POINT{1150, 1150}), upperHandle);
    EXPECT_EQ(WindowFromPoint(POINT{1350, 1350}), HWND(0));
    // Shown again, the lower one is on top; moved, it is found where it went.
    lower.hide();
    EXPECT_EQ(WindowFromPoint(POINT{1050, 1050}), HWND(0));
    lower.show();
    EXPECT_EQ(WindowFromPoint(POINT{1150, 1150}), lowerHandle);
    lower.move(1400, 1000);
    EXPECT_EQ(WindowFromPoint(POINT{1150, 1150}), upperHandle);
    EXPECT_EQ(WindowFromPoint(POINT{1450, 1050}), lowerHandle);
    // Another thread sees the same, and a window that is gone takes no messages.
    std::thread([&] { EXPECT_EQ(WindowFromPoint(POINT{1450, 1050}), lowerHandle); }).join();
    auto gone = std::make_unique<QWidget>();
    gone->setGeometry(1000, 1400, 100, 100);
    gone->show();
    const HWND goneHandle = HWND(gone->winId());
    EXPECT_TRUE(PostMessageW(goneHandle, WM_CHAR, 'x', 0));
    gone.reset();
    EXPECT_EQ(WindowFromPoint(POINT{1050, 1450}), HWND(0));
    EXPECT_FALSE(PostMessageW(goneHandle, WM_CHAR, 'x', 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    QCoreApplication::processEvents();
}

class MarkWindow : public QWidget {
public:
    bool marked = false;

protected:
    bool nativeEvent(const QByteArray&, void* message, long*) override
    {
        marked = marked || static_cast<const MSG*>(message)->message == WM_CHAR;
        return false;
    }
};

// Until the windowing system's pointer has followed a move made on another thread, the GUI
// thread does not read its old position back.
TEST(CursorPosition, MovedOnAnotherThreadItIsWhereTheGuiThreadSeesIt)
{
    TestApplication::get();
    QCursor::setPos(10, 20);
    POINT cursor;
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 10);
    std::thread([] { SetCursorPos(321, 123); }).join();
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 321);
    EXPECT_EQ(cursor.y, 123);
    ASSERT_TRUE(waitFor([] { return QCursor::pos() == QPoint(321, 123); }));
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 321);
    EXPECT_EQ(cursor.y, 123);
    // A later move on the GUI thread is not undone by an earlier one still on its way; a message
    // posted after that one shows when it has arrived.
    MarkWindow window;
    window.show();
    std::thread([&] {
        SetCursorPos(400, 401);
        PostMessageW(HWND(window.winId()), WM_CHAR, 'm', 0);
    }).join();
    SetCursorPos(500, 501);
    ASSERT_TRUE(waitFor([&] { return window.marked; }));
    EXPECT_EQ(QCursor::pos(), QPoint(500, 501));
    ASSERT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x, 500);
}

} // namespace
