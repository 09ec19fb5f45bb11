// Low-level hooks: installation, the chain, the thread a procedure runs on, the cursor an event
// moves; and, on an X11 desktop, the real pointer's buttons.
#include "windows.h"
#include "win32sim/faults.h"
#include "win32sim/handles.h"
#include "win32sim/input_hooks.h"

#include "wait.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Seen {
    int hook;
    WPARAM message;
    MSLLHOOKSTRUCT mouse;
    KBDLLHOOKSTRUCT key;
    POINT cursor;
    std::thread::id thread;
};

std::mutex g_lock;
std::vector<Seen> g_seen;
LRESULT g_firstAnswer = -1; // -1: pass the event on

std::vector<Seen> seen()
{
    std::lock_guard<std::mutex> g(g_lock);
    return g_seen;
}

template <int Id>
LRESULT CALLBACK mouseProc(int code, WPARAM wParam, LPARAM lParam)
{
    Seen s{Id, wParam, *reinterpret_cast<MSLLHOOKSTRUCT*>(lParam), {}, {}, std::this_thread::get_id()};
    GetCursorPos(&s.cursor);
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_seen.push_back(s);
    }
    if (Id == 1 && g_firstAnswer >= 0)
        return g_firstAnswer;
    return CallNextHookEx(nullptr, code, wParam, lParam) + Id * 10;
}

LRESULT CALLBACK keyProc(int code, WPARAM wParam, LPARAM lParam)
{
    Seen s{3, wParam, {}, *reinterpret_cast<KBDLLHOOKSTRUCT*>(lParam), {}, std::this_thread::get_id()};
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_seen.push_back(s);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HHOOK install(int id, HOOKPROC proc) { return SetWindowsHookExW(id, proc, GetModuleHandleW(nullptr), 0); }

class HookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_seen.clear();
        g_firstAnswer = -1;
    }
    void TearDown() override
    {
        EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);
        EXPECT_EQ(win32sim::installedHooks(WH_KEYBOARD_LL), 0);
    }
};

TEST_F(HookTest, OnlyGlobalLowLevelHooksWithAModuleAreInstalled)
{
    struct Case {
        const char* name;
        int id;
        HOOKPROC proc;
        HINSTANCE module;
        DWORD thread;
        DWORD error;
    } cases[] = {
        {"keyboard hook of one thread", 2, &mouseProc<1>, GetModuleHandleW(nullptr), 0, ERROR_INVALID_HOOK_FILTER},
        {"no procedure", WH_MOUSE_LL, nullptr, GetModuleHandleW(nullptr), 0, ERROR_INVALID_FILTER_PROC},
        {"one thread", WH_MOUSE_LL, &mouseProc<1>, GetModuleHandleW(nullptr), 7, ERROR_GLOBAL_ONLY_HOOK},
        {"no module", WH_KEYBOARD_LL, &keyProc, nullptr, 0, ERROR_HOOK_NEEDS_HMOD},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetWindowsHookExW(c.id, c.proc, c.module, c.thread), nullptr) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_EQ(GetModuleHandleW(u"other.dll"), nullptr);
    win32sim::failNextCall("SetWindowsHookExW", ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_EQ(install(WH_MOUSE_LL, &mouseProc<1>), nullptr);
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);
}

TEST_F(HookTest, TheNewestHookSeesAnEventFirstAndPassesItOn)
{
    HHOOK older = install(WH_MOUSE_LL, &mouseProc<2>);
    HHOOK newer = install(WH_MOUSE_LL, &mouseProc<1>);
    HHOOK keys = install(WH_KEYBOARD_LL, &keyProc);
    ASSERT_TRUE(older && newer && keys);
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 2);

    // Each passes it on; the answers come back through the chain (2's 20, then 1's 10 added).
    EXPECT_TRUE(win32sim::injectMouseEvent(WM_LBUTTONUP, POINT{100, 200}, 0, LLMHF_INJECTED));
    std::vector<Seen> s = seen();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].hook, 1);
    EXPECT_EQ(s[1].hook, 2);
    EXPECT_EQ(s[0].message, WPARAM(WM_LBUTTONUP));
    EXPECT_EQ(s[0].mouse.pt.x, 100);
    EXPECT_EQ(s[0].mouse.pt.y, 200);
    EXPECT_EQ(s[0].mouse.flags, DWORD(LLMHF_INJECTED));
    // The event has moved the cursor before the hooks see it.
    EXPECT_EQ(s[0].cursor.x, 100);
    EXPECT_EQ(s[0].cursor.y, 200);
    POINT now;
    ASSERT_TRUE(GetCursorPos(&now));
    EXPECT_EQ(now.x, 100);

    // A hook that answers without passing it on swallows it; the older one never sees it.
    g_firstAnswer = 1;
    EXPECT_TRUE(win32sim::injectMouseEvent(WM_MOUSEWHEEL, POINT{-300, 5}, DWORD(WHEEL_DELTA) << 16));
    ASSERT_EQ(seen().size(), 3u);
    EXPECT_EQ(seen()[2].mouse.pt.x, -300); // a monitor left of the primary one
    EXPECT_EQ(HIWORD(seen()[2].mouse.mouseData), WHEEL_DELTA);
    g_firstAnswer = -1;

    // Keyboard events reach the keyboard hook alone.
    EXPECT_FALSE(win32sim::injectKeyEvent(WM_KEYDOWN, 0x41, 0x1E, LLKHF_EXTENDED));
    ASSERT_EQ(seen().size(), 4u);
    EXPECT_EQ(seen()[3].hook, 3);
    EXPECT_EQ(seen()[3].key.scanCode, 0x1Eu);
    EXPECT_EQ(seen()[3].key.flags, DWORD(LLKHF_EXTENDED));

    // Removed, a hook is gone for good: its handle is never given out again, and a second removal
    // fails harmlessly.
    EXPECT_TRUE(UnhookWindowsHookEx(newer));
    EXPECT_FALSE(UnhookWindowsHookEx(newer));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HOOK_HANDLE));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(older))); // not a file
    EXPECT_TRUE(win32sim::injectMouseEvent(WM_RBUTTONDOWN, POINT{1, 2}));
    EXPECT_EQ(seen().back().hook, 2);
    HHOOK again = install(WH_MOUSE_LL, &mouseProc<1>);
    EXPECT_NE(again, newer);
    EXPECT_TRUE(UnhookWindowsHookEx(again));
    EXPECT_TRUE(UnhookWindowsHookEx(older));
    EXPECT_TRUE(UnhookWindowsHookEx(keys));
    EXPECT_FALSE(win32sim::injectMouseEvent(WM_LBUTTONDOWN, POINT{3, 4}));
    EXPECT_EQ(CallNextHookEx(nullptr, 0, 0, 0), 0); // outside a hook procedure
}

// The event loop of a worker thread; its hook ends it once it has seen an event.
thread_local QEventLoop* t_loop = nullptr;

LRESULT CALLBACK endingProc(int code, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = mouseProc<1>(code, wParam, lParam);
    t_loop->quit();
    return result;
}

TEST_F(HookTest, AProcedureRunsOnTheThreadThatInstalledIt)
{
    // Installed on the GUI thread, fed from another thread: it runs here, through the event loop.
    HHOOK hook = install(WH_MOUSE_LL, &mouseProc<2>);
    std::thread other([] { EXPECT_FALSE(win32sim::injectMouseEvent(WM_MBUTTONDOWN, POINT{7, 8})); });
    other.join();
    EXPECT_TRUE(seen().empty());
    ASSERT_TRUE(test_support::waitFor([] { return seen().size() == 1; }));
    EXPECT_EQ(seen()[0].thread, std::this_thread::get_id());
    EXPECT_EQ(seen()[0].mouse.pt.x, 7);
    EXPECT_TRUE(UnhookWindowsHookEx(hook));

    // Installed on a worker thread that runs an event loop, fed from here.
    std::promise<std::thread::id> installed;
    std::thread worker([&] {
        QEventLoop loop;
        t_loop = &loop;
        HHOOK own = install(WH_MOUSE_LL, &endingProc);
        installed.set_value(std::this_thread::get_id());
        loop.exec();
        EXPECT_TRUE(UnhookWindowsHookEx(own));
    });
    const std::thread::id workerId = installed.get_future().get();
    EXPECT_FALSE(win32sim::injectMouseEvent(WM_LBUTTONDOWN, POINT{9, 9}));
    worker.join();
    ASSERT_EQ(seen().size(), 2u);
    EXPECT_EQ(seen()[1].thread, workerId);
    EXPECT_EQ(seen()[1].mouse.pt.x, 9);
}

// Real clicks on the X server the test runs on (platform xcb), made with xdotool.
TEST(RealPointer, ButtonsAnywhereOnTheScreenReachTheMouseHooks)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || QGuiApplication::platformName() != "xcb"
        || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs the xcb platform and xdotool";
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_seen.clear();
    }
    HHOOK hook = install(WH_MOUSE_LL, &mouseProc<2>);
    ASSERT_TRUE(hook);
    ASSERT_TRUE(win32sim::realPointerFeedRunning());
    // One click at a time, as a hand makes them: the position is where the pointer is when the
    // event is read.
    const struct {
        QStringList args;
        size_t events;
    } clicks[] = {{{"mousemove", "30", "40", "click", "1"}, 2},
                  {{"mousemove", "700", "500", "click", "3"}, 4},
                  {{"click", "4"}, 5},
                  {{"click", "9"}, 7}};
    for (const auto& click : clicks) {
        ASSERT_EQ(QProcess::execute("xdotool", click.args), 0);
        ASSERT_TRUE(test_support::waitFor([&] { return seen().size() >= click.events; })) << seen().size();
    }
    const std::vector<UINT> expected = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP,
                                        WM_MOUSEWHEEL,  WM_XBUTTONDOWN, WM_XBUTTONUP};
    const std::vector<Seen> s = seen();
    ASSERT_EQ(s.size(), expected.size());
    for (size_t i = 0; i < s.size(); ++i)
        EXPECT_EQ(s[i].message, WPARAM(expected[i])) << i;
    EXPECT_EQ(s[1].mouse.pt.x, 30);
    EXPECT_EQ(s[1].mouse.pt.y, 40);
    EXPECT_EQ(s[1].cursor.x, 30);
    EXPECT_EQ(s[3].mouse.pt.x, 700);
    EXPECT_EQ(s[3].mouse.pt.y, 500);
    EXPECT_EQ(short(HIWORD(s[4].mouse.mouseData)), WHEEL_DELTA);
    EXPECT_EQ(HIWORD(s[5].mouse.mouseData), XBUTTON2);
    EXPECT_TRUE(UnhookWindowsHookEx(hook));
}

} // namespace
