#include "test_app.h"
#include "wait.h"

#include "windows.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<MSG> g_seen;

LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    g_seen.push_back(m);
    return msg == WM_NCHITTEST ? HTCAPTION : 7;
}

// Counts the messages that reach the window's own native handler.
class CountingWidget : public QWidget {
public:
    int handled = 0;

protected:
    bool nativeEvent(const QByteArray& eventType, void*, long* result) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        ++handled;
        if (result)
            *result = 42;
        return true;
    }
};

bool seen(HWND hwnd, UINT msg)
{
    for (const MSG& m : g_seen)
        if (m.hwnd == hwnd && m.message == msg)
            return true;
    return false;
}

TEST(WindowProcedureTest, SubclassedWindowsGetTheirMessagesFirstHand)
{
    TestApplication::get();
    g_seen.clear();
    CountingWidget w;
    w.resize(200, 100);
    const HWND hwnd = static_cast<HWND>(w.winId());

    // Before: the toolkit's procedure, which reaches the window's native handler.
    const auto toolkit = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    ASSERT_NE(toolkit, nullptr);
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, 0), 42);
    EXPECT_EQ(w.handled, 1);

    const LONG_PTR previous = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(previous), toolkit);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)), &recordingProc);
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(3, 4)), HTCAPTION);
    EXPECT_EQ(SendMessageW(hwnd, WM_CLOSE, 0, 0), 7);
    EXPECT_EQ(w.handled, 1);
    EXPECT_TRUE(seen(hwnd, WM_CLOSE));
    // The previous procedure still reaches the window's own handler.
    EXPECT_EQ(CallWindowProcW(reinterpret_cast<WNDPROC>(previous), hwnd, WM_NCHITTEST, 0, 0), 42);
    EXPECT_EQ(w.handled, 2);

    // The toolkit's own events of the window become messages to the new procedure.
    w.show();
    w.move(30, 40);
    EXPECT_TRUE(test_support::waitFor([&] { return seen(hwnd, WM_MOVE) && seen(hwnd, WM_SHOWWINDOW); }));
    EXPECT_EQ(w.handled, 2);

    // Putting the toolkit's procedure back ends the subclassing.
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, previous);
    g_seen.clear();
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, 0), 42);
    EXPECT_TRUE(g_seen.empty());
}

TEST(WindowProcedureTest, AProcedureGoesWithItsWindow)
{
    TestApplication::get();
    g_seen.clear();
    HWND hwnd = 0;
    {
        QWidget w;
        hwnd = static_cast<HWND>(w.winId());
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc));
    }
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, 0), HTNOWHERE);
    EXPECT_FALSE(seen(hwnd, WM_NCHITTEST));

    struct Case {
        const char* label;
        HWND hwnd;
        int index;
        LONG_PTR value;
        DWORD error;
    } refused[] = {
        {"no window", hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc), 1400},
        {"no procedure", 0, GWLP_WNDPROC, 0, ERROR_INVALID_PARAMETER},
        {"another index", 0, GWL_STYLE, 1, ERROR_INVALID_PARAMETER},
    };
    QWidget other;
    const HWND otherHwnd = static_cast<HWND>(other.winId());
    for (Case& c : refused) {
        if (!c.hwnd)
            c.hwnd = otherHwnd;
        SetLastError(0);
        EXPECT_EQ(SetWindowLongPtrW(c.hwnd, c.index, c.value), 0) << c.label;
        EXPECT_EQ(GetLastError(), c.error) << c.label;
    }
    EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(otherHwnd, GWLP_WNDPROC)), &recordingProc);
}

TEST(WindowProcedureTest, ForegroundWindowIsActivated)
{
    TestApplication::get();
    QWidget w;
    w.resize(100, 100);
    w.show();
    QWidget child(&w);
    EXPECT_TRUE(SetForegroundWindow(static_cast<HWND>(child.winId())));
    EXPECT_TRUE(test_support::waitFor([&] { return w.isActiveWindow(); }));
    EXPECT_FALSE(SetForegroundWindow(0));
}

} // namespace
