#include "frameless_window.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "app/pswindow.h"
#include "app/shadow_windows.h"
#include "win32sim/messages.h"
#include "windows.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMargins>
#include <QSignalSpy>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using frameless_test::RecordingWindow;
using frameless_test::settle;
using test_support::RowName;

// The application's native event filters, as the platform calls them for one message.
bool filter(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, long* result)
{
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    return QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &m, result);
}

const int kRegistered = [] {
    qRegisterMetaType<Qt::WindowState>();
    return 0;
}();

class FramelessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get()->psInstallEventFilter();
        win32sim::setMonitors({{RECT{0, 0, 1920, 1080}, RECT{0, 0, 1920, 1040}}});
        main = new RecordingWindow;
        main->resize(1000, 700);
        main->winId();
        main->psInitFrameless();
        main->psInitSize();
        hwnd = main->psHwnd();
    }
    void TearDown() override
    {
        PsApplication::psSetMainWindow(nullptr);
        delete main;
        settle();
        win32sim::setMonitors({});
        win32sim::clearSentMessages();
        startMinimized() = false;
    }
    LPARAM screenPoint(int x, int y) const
    {
        const QRect g = main->frameGeometry();
        return MAKELPARAM(g.x() + x, g.y() + y);
    }

    RecordingWindow* main = nullptr;
    HWND hwnd = 0;
};

TEST_F(FramelessTest, InitFramelessKeepsTheNativeHandleAndRegisters)
{
    EXPECT_NE(hwnd, 0u);
    EXPECT_EQ(hwnd, static_cast<HWND>(main->winId()));
    EXPECT_EQ(PsApplication::psMainWindow(), main);
    const Qt::WindowFlags f = main->windowFlags();
    EXPECT_TRUE(f & Qt::FramelessWindowHint);
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Window);
    EXPECT_EQ(static_cast<int>(f), 0xC801);
    EXPECT_EQ(main->minimumSize(), QSize(500, 300));
    EXPECT_FALSE(main->psShown());

    // Without a native window nothing changes, and the registered main window stays.
    PsMainWindow bare;
    bare.psInitFrameless();
    EXPECT_EQ(bare.psHwnd(), 0u);
    EXPECT_FALSE(bare.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(PsApplication::psMainWindow(), main);
    g_hitTestOffsetX = 7;
    bare.psUpdateMargins();
    EXPECT_EQ(g_hitTestOffsetX, 7);
    g_hitTestOffsetX = 0;
}

// A point of the window, by its width and height, and the zone it lies in.
struct Zone {
    const char* name;
    bool maximised;
    QPoint (*at)(int w, int h);
    int zone;
};

void PrintTo(const Zone& row, std::ostream* os) { *os << row.name; }

class HitTestZones : public FramelessTest, public ::testing::WithParamInterface<Zone> {};

TEST_P(HitTestZones, OfAPoint)
{
    const Zone& c = GetParam();
    if (c.maximised)
        main->setWindowState(Qt::WindowMaximized);
    const QPoint p = c.at(main->width(), main->height());
    EXPECT_EQ(main->hitTest(p), c.zone) << p.x() << "," << p.y();
}

INSTANTIATE_TEST_SUITE_P(FramelessTest, HitTestZones,
    ::testing::Values(Zone{"Inside", false, [](int, int) { return QPoint(10, 10); }, PsHitInside},
        Zone{"TopLeftPixel", false, [](int, int) { return QPoint(0, 0); }, PsHitInside},
        Zone{"BottomRightPixel", false, [](int w, int h) { return QPoint(w - 1, h - 1); }, PsHitInside},
        Zone{"Left", false, [](int, int) { return QPoint(-1, 10); }, PsHitLeft},
        Zone{"Top", false, [](int, int) { return QPoint(10, -1); }, PsHitTop},
        Zone{"TopLeft", false, [](int, int) { return QPoint(-1, -1); }, PsHitTopLeft},
        Zone{"TopRight", false, [](int w, int) { return QPoint(w, -1); }, PsHitTopRight},
        Zone{"Right", false, [](int w, int) { return QPoint(w, 10); }, PsHitRight},
        Zone{"BottomRight", false, [](int w, int h) { return QPoint(w, h); }, PsHitBottomRight},
        Zone{"Bottom", false, [](int, int h) { return QPoint(10, h); }, PsHitBottom},
        Zone{"BottomLeft", false, [](int, int h) { return QPoint(-1, h); }, PsHitBottomLeft},
        Zone{"MaximisedLeft", true, [](int, int) { return QPoint(-1, 10); }, PsHitOutside},
        Zone{"MaximisedTop", true, [](int, int) { return QPoint(10, -1); }, PsHitOutside},
        Zone{"MaximisedBottomRight", true, [](int w, int h) { return QPoint(w, h); }, PsHitOutside},
        Zone{"MaximisedInside", true, [](int, int) { return QPoint(10, 10); }, PsHitInside},
        Zone{"MaximisedBottomRightPixel", true, [](int w, int h) { return QPoint(w - 1, h - 1); }, PsHitInside}),
    RowName());

struct ZoneAnswer {
    const char* name;
    int zone;
    LRESULT answer;
};

void PrintTo(const ZoneAnswer& row, std::ostream* os) { *os << row.name; }

class HitTestAnswer : public ::testing::TestWithParam<ZoneAnswer> {};

TEST_P(HitTestAnswer, OfAZone)
{
    EXPECT_EQ(psHitTestAnswer(GetParam().zone), GetParam().answer) << GetParam().zone;
}

INSTANTIATE_TEST_SUITE_P(FramelessTest, HitTestAnswer,
    ::testing::Values(ZoneAnswer{"Zero", 0, HTTRANSPARENT}, ZoneAnswer{"Inside", 1, HTCLIENT},
        ZoneAnswer{"Two", 2, HTTRANSPARENT}, ZoneAnswer{"Top", 5, HTTOP}, ZoneAnswer{"TopRight", 6, HTTOPRIGHT},
        ZoneAnswer{"Right", 7, HTRIGHT}, ZoneAnswer{"BottomRight", 8, HTBOTTOMRIGHT}, ZoneAnswer{"Bottom", 9, HTBOTTOM},
        ZoneAnswer{"BottomLeft", 10, HTBOTTOMLEFT}, ZoneAnswer{"Left", 11, HTLEFT},
        ZoneAnswer{"TopLeft", 12, HTTOPLEFT}, ZoneAnswer{"BeyondTheZones", 13, HTTRANSPARENT},
        ZoneAnswer{"Negative", -1, HTTRANSPARENT}),
    RowName());

// A message through the application's filters: whether it is handled and the result it leaves
// (the slot starts at 1234). A hit test's lParam 1 is a point left of the window, 0 its middle;
// a lParam of -1 is a window position record.
struct Message {
    const char* name;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool handled;
    long result;
};

void PrintTo(const Message& row, std::ostream* os) { *os << row.name; }

class MessageTable : public FramelessTest, public ::testing::WithParamInterface<Message> {};

TEST_P(MessageTable, HandledAndItsResult)
{
    const Message& c = GetParam();
    main->show();
    settle();
    WINDOWPOS pos{hwnd, 0, 1, 2, 1000, 700, 0};
    LPARAM lParam = c.lParam == -1 ? reinterpret_cast<LPARAM>(&pos) : c.lParam;
    if (c.msg == WM_NCHITTEST)
        lParam = c.lParam ? screenPoint(-1, 10) : screenPoint(main->width() / 2, main->height() / 2);
    long result = 1234;
    EXPECT_EQ(filter(hwnd, c.msg, c.wParam, lParam, &result), c.handled);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(main->windowState(), Qt::WindowNoState);
    EXPECT_TRUE(main->isVisible());
}

INSTANTIATE_TEST_SUITE_P(FramelessTest, MessageTable,
    ::testing::Values(Message{"HitTestInside", WM_NCHITTEST, 0, 0, true, HTCLIENT},
        Message{"HitTestLeftOfTheWindow", WM_NCHITTEST, 0, 1, true, HTLEFT},
        Message{"NcPaint", WM_NCPAINT, 1, 0, false, 1234},
        Message{"NcActivate", WM_NCACTIVATE, TRUE, 0, true, TRUE},
        Message{"SizeMaxShow", WM_SIZE, SIZE_MAXSHOW, 0, false, 1234},
        Message{"SizeMaxHide", WM_SIZE, SIZE_MAXHIDE, 0, false, 1234},
        Message{"SizeRestored", WM_SIZE, SIZE_RESTORED, MAKELPARAM(1000, 700), false, 1234},
        Message{"Move", WM_MOVE, 0, MAKELPARAM(5, 5), false, 1234},
        Message{"Activate", WM_ACTIVATE, WA_ACTIVE, 0, false, 1234},
        Message{"Deactivate", WM_ACTIVATE, WA_INACTIVE, 0, false, 1234},
        Message{"Show", WM_SHOWWINDOW, TRUE, 0, false, 1234},
        Message{"Hide", WM_SHOWWINDOW, FALSE, 0, false, 1234},
        Message{"ClickActivate", WM_ACTIVATE, WA_CLICKACTIVE, 0, false, 1234},
        Message{"NcLeftButtonDown", WM_NCLBUTTONDOWN, HTCAPTION, 0, false, 1234},
        Message{"NcRightButtonDown", WM_NCRBUTTONDOWN, HTCAPTION, 0, false, 1234},
        Message{"PosChanging", WM_WINDOWPOSCHANGING, 0, -1, false, 1234},
        Message{"PosChanged", WM_WINDOWPOSCHANGED, 0, -1, false, 1234},
        Message{"AcceleratorCommand", WM_COMMAND, MAKEWPARAM(SC_MINIMIZE, 1), 0, false, 1234},
        Message{"MenuCommandCode", WM_COMMAND, MAKEWPARAM(SC_MOUSEMENU, 0), 0, true, 1234},
        Message{"UnknownCommandCode", WM_COMMAND, MAKEWPARAM(0x1234, 0), 0, true, 1234},
        Message{"SystemCommand", WM_SYSCOMMAND, SC_MINIMIZE, 0, false, 1234},
        Message{"Close", WM_CLOSE, 0, 0, false, 1234}),
    RowName());

// Every point of the window answers HTCLIENT through the full send path.
TEST_F(FramelessTest, EveryPointOfTheWindowIsClientArea)
{
    main->show();
    settle();
    for (const QPoint& p : {QPoint(0, 0), QPoint(999, 0), QPoint(0, 699), QPoint(999, 699), QPoint(500, 1)})
        EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, screenPoint(p.x(), p.y())), HTCLIENT);
}

TEST_F(FramelessTest, CalcSizeKeepsTheWholeRectangleAsClientArea)
{
    main->show();
    settle();
    RECT proposed{100, 100, 1100, 800};
    RECT r = proposed;
    long result = 99;
    EXPECT_TRUE(filter(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&r), &result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(r.left, proposed.left);
    EXPECT_EQ(r.bottom, proposed.bottom);

    // Maximised: the rectangle becomes the work area of the monitor nearest to its centre.
    win32sim::setMonitors({{RECT{0, 0, 1920, 1080}, RECT{0, 0, 1920, 1040}},
        {RECT{1920, 0, 3840, 1200}, RECT{1980, 0, 3840, 1200}}});
    main->setWindowState(Qt::WindowMaximized);
    NCCALCSIZE_PARAMS params{};
    params.rgrc[0] = RECT{1912, -8, 3848, 1208};
    result = 99;
    EXPECT_TRUE(filter(hwnd, WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params), &result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(params.rgrc[0].left, 1980);
    EXPECT_EQ(params.rgrc[0].right, 3840);
    EXPECT_EQ(params.rgrc[0].bottom, 1200);
    RECT single{-8, -8, 1928, 1088};
    EXPECT_TRUE(filter(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&single), &result));
    EXPECT_EQ(single.bottom, 1040);
    EXPECT_EQ(single.left, 0);
}

TEST_F(FramelessTest, MaximisedOffsetsFollowTheWorkArea)
{
    main->show();
    settle();
    win32sim::setMonitors({{RECT{-50, -60, 1920, 1080}, RECT{-40, -30, 1920, 1040}}});
    main->setWindowState(Qt::WindowMaximized);
    settle();
    // Only SIZE_RESTORED, SIZE_MINIMIZED and SIZE_MAXIMIZED update the margins.
    for (WPARAM other : {WPARAM(SIZE_MAXSHOW), WPARAM(SIZE_MAXHIDE)}) {
        g_hitTestOffsetX = g_hitTestOffsetY = 0;
        EXPECT_FALSE(filter(hwnd, WM_SIZE, other, 0, nullptr));
        EXPECT_EQ(g_hitTestOffsetX, 0) << other;
        EXPECT_EQ(g_hitTestOffsetY, 0) << other;
    }
    filter(hwnd, WM_SIZE, SIZE_MAXIMIZED, 0, nullptr);
    const QRect g = main->frameGeometry();
    EXPECT_EQ(g_hitTestOffsetX, g.x() + 40);
    EXPECT_EQ(g_hitTestOffsetY, g.y() + 30);
    const QMargins m = main->windowHandle()->property("WindowsCustomMargins").value<QMargins>();
    EXPECT_EQ(m.left(), -(g.x() + 40));
    EXPECT_EQ(m.top(), -(g.y() + 30));
    EXPECT_EQ(m.right(), g.right() + 1 - 1920);
    EXPECT_EQ(m.bottom(), g.bottom() + 1 - 1040);

    // The hit test measures from the work area's corner: a point 20 pixels inside the right edge lies
    // 40 - 20 pixels beyond the window.
    ASSERT_EQ(g_hitTestOffsetX, 40);
    long result = 0;
    filter(hwnd, WM_NCHITTEST, 0, MAKELPARAM(g.right() - 19, g.y() + 5), &result);
    EXPECT_EQ(result, HTTRANSPARENT);
    filter(hwnd, WM_NCHITTEST, 0, MAKELPARAM(g.x() + 5, g.y() + 5), &result);
    EXPECT_EQ(result, HTCLIENT);
    main->setWindowState(Qt::WindowNoState);
    settle();
    filter(hwnd, WM_SIZE, SIZE_RESTORED, 0, nullptr);
    EXPECT_EQ(g_hitTestOffsetX, 0);
    EXPECT_EQ(g_hitTestOffsetY, 0);
    EXPECT_EQ(main->windowHandle()->property("WindowsCustomMargins").value<QMargins>(), QMargins());
}

TEST_F(FramelessTest, SizeMessagesAnnounceTheState)
{
    main->show();
    settle();
    QSignalSpy spy(main->windowHandle(), &QWindow::windowStateChanged);
    EXPECT_FALSE(filter(hwnd, WM_SIZE, SIZE_RESTORED, 0, nullptr));
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(filter(hwnd, WM_SIZE, SIZE_MINIMIZED, 0, nullptr));
    EXPECT_FALSE(filter(hwnd, WM_SIZE, SIZE_MAXIMIZED, 0, nullptr));
    EXPECT_FALSE(filter(hwnd, WM_SIZE, SIZE_MAXHIDE, 0, nullptr));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).value<Qt::WindowState>(), Qt::WindowMinimized);
    EXPECT_EQ(spy.at(1).at(0).value<Qt::WindowState>(), Qt::WindowMaximized);

    main->setWindowState(Qt::WindowMaximized);
    settle();
    spy.clear();
    EXPECT_FALSE(filter(hwnd, WM_SIZE, SIZE_RESTORED, 0, nullptr));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<Qt::WindowState>(), Qt::WindowNoState);
}

TEST_F(FramelessTest, CommandsChangeTheWindow)
{
    main->show();
    settle();
    // Queued commands carry no result slot.
    EXPECT_TRUE(win32sim::dispatchQueuedMessage(hwnd, WM_COMMAND, MAKEWPARAM(SC_MINIMIZE, 0), 0));
    EXPECT_TRUE(main->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(win32sim::dispatchQueuedMessage(hwnd, WM_COMMAND, MAKEWPARAM(SC_RESTORE, 0), 0));
    EXPECT_EQ(main->windowState(), Qt::WindowNoState);
    EXPECT_TRUE(win32sim::dispatchQueuedMessage(hwnd, WM_COMMAND, MAKEWPARAM(SC_MAXIMIZE, 0), 0));
    EXPECT_TRUE(main->windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(win32sim::dispatchQueuedMessage(hwnd, WM_COMMAND, MAKEWPARAM(SC_CLOSE, 1), 0));
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(win32sim::dispatchQueuedMessage(hwnd, WM_COMMAND, MAKEWPARAM(SC_CLOSE, 0), 0));
    EXPECT_FALSE(main->isVisible());
}

TEST_F(FramelessTest, RightButtonUpOpensTheSystemMenu)
{
    win32sim::clearSentMessages();
    const LPARAM at = MAKELPARAM(321, 123);
    EXPECT_TRUE(win32sim::dispatchQueuedMessage(hwnd, WM_NCRBUTTONUP, HTCAPTION, at));
    const auto sent = win32sim::sentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].hwnd, hwnd);
    EXPECT_EQ(sent[0].message, static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(sent[0].wParam, static_cast<WPARAM>(SC_MOUSEMENU));
    EXPECT_EQ(sent[0].lParam, at);
}

TEST_F(FramelessTest, OnlyTheMainWindowsMessagesAreHandled)
{
    QWidget other;
    other.resize(300, 200);
    const HWND otherHwnd = static_cast<HWND>(other.winId());
    for (HWND h : {otherHwnd, HWND(0), HWND(0x7FFFFF)}) {
        long result = 55;
        EXPECT_FALSE(filter(h, WM_NCHITTEST, 0, 0, &result));
        EXPECT_FALSE(filter(h, WM_NCCALCSIZE, 0, 0, &result));
        EXPECT_FALSE(filter(h, WM_COMMAND, MAKEWPARAM(SC_CLOSE, 0), 0, &result));
        EXPECT_EQ(result, 55);
    }
    // A main window whose native window does not exist yet handles nothing.
    PsMainWindow notCreated;
    PsApplication::psSetMainWindow(&notCreated);
    long result = 55;
    EXPECT_FALSE(filter(0, WM_NCHITTEST, 0, 0, &result));
    EXPECT_FALSE(filter(hwnd, WM_NCHITTEST, 0, 0, &result));
    EXPECT_EQ(result, 55);
    PsApplication::psSetMainWindow(main);
}

// The first show puts the whole window inside the work area of its monitor: centred where it fits,
// each side cut to the area's where it does not.
struct FirstShowCase {
    const char* name;
    RECT work;
    QSize size;
    QRect expected;
};

void PrintTo(const FirstShowCase& row, std::ostream* os) { *os << row.name; }

class FirstShowPlacementTest : public FramelessTest, public ::testing::WithParamInterface<FirstShowCase> {};

TEST_P(FirstShowPlacementTest, ThePlaceIsInsideTheWorkArea)
{
    const FirstShowCase& c = GetParam();
    win32sim::setMonitors({{RECT{0, 0, c.work.right, c.work.bottom}, c.work}});
    main->resize(c.size);
    main->psFirstShow();
    settle();
    EXPECT_TRUE(main->psShown());
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(main->psFirstShowPlace(c.size), c.expected);
    // The test platform trims a window larger than its own screen by a few pixels: the shown window
    // is checked to lie inside the place.
    const QRect work(c.work.left, c.work.top, c.work.right - c.work.left, c.work.bottom - c.work.top);
    if (work.contains(c.expected)) {
        EXPECT_TRUE(c.expected.contains(main->frameGeometry())) << main->x() << "," << main->y() << " "
                                                             << main->width() << "x" << main->height();
    }
    EXPECT_FALSE(g_shadowsDisabled);
}

INSTANTIATE_TEST_SUITE_P(Areas, FirstShowPlacementTest,
    ::testing::Values(
        FirstShowCase{"FullHdCentred", RECT{0, 0, 1920, 1080}, QSize(1000, 700), QRect(460, 190, 1000, 700)},
        FirstShowCase{"BelowATopPanel", RECT{0, 40, 1920, 1080}, QSize(1000, 700), QRect(460, 210, 1000, 700)},
        FirstShowCase{"SmallScreenCentred", RECT{0, 0, 1280, 720}, QSize(1000, 700), QRect(140, 10, 1000, 700)},
        FirstShowCase{"TallerThanTheArea", RECT{100, 100, 1380, 820}, QSize(1000, 900), QRect(240, 100, 1000, 720)},
        FirstShowCase{"LargerThanTheArea", RECT{100, 130, 1380, 820}, QSize(1600, 1000),
            QRect(100, 130, 1280, 690)},
        FirstShowCase{"AreaBelowTheLeastSize", RECT{100, 100, 500, 300}, QSize(1000, 700),
            QRect(100, 100, 500, 300)}), RowName());

TEST_F(FramelessTest, FirstShowWithAutostartStaysHidden)
{
    startMinimized() = true;
    main->psFirstShow();
    settle();
    EXPECT_TRUE(main->psShown());
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(main->windowState() & Qt::WindowMinimized);
}

TEST_F(FramelessTest, ToolkitEventsReachTheWindowAsMessages)
{
    auto has = [&](UINT msg, WPARAM wParam, LPARAM lParam, bool checkLParam) {
        for (const MSG& m : main->received)
            if (m.hwnd == hwnd && m.message == msg && m.wParam == wParam && (!checkLParam || m.lParam == lParam))
                return true;
        return false;
    };
    main->show();
    EXPECT_TRUE(test_support::waitFor([&] { return has(WM_SHOWWINDOW, TRUE, 0, false); }));
    main->received.clear();
    main->move(40, 50);
    EXPECT_TRUE(test_support::waitFor(
        [&] { return has(WM_MOVE, 0, MAKELPARAM(main->geometry().x(), main->geometry().y()), true); }));
    main->received.clear();
    main->resize(900, 640);
    EXPECT_TRUE(test_support::waitFor([&] { return has(WM_SIZE, SIZE_RESTORED, MAKELPARAM(900, 640), true); }));
    main->received.clear();
    main->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(test_support::waitFor([&] { return has(WM_SIZE, SIZE_MINIMIZED, 0, false); }));
    main->received.clear();
    main->hide();
    EXPECT_TRUE(test_support::waitFor([&] { return has(WM_SHOWWINDOW, FALSE, 0, false); }));

    // Messages sent to the window reach its handler after the filter passed them on.
    main->received.clear();
    SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(1, 2));
    EXPECT_TRUE(has(WM_MOVE, 0, MAKELPARAM(1, 2), true));
}

// Quitting happens once per process, so each case runs in a child of its own.
class FramelessQuitTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Exits 10 when a quit was requested, 20 otherwise.
[[noreturn]] void exitWithQuitState() { std::_Exit(isQuitRequested() ? 10 : 20); }

RecordingWindow* makeMain()
{
    TestApplication::get()->psInstallEventFilter();
    auto* w = new RecordingWindow;
    w->winId();
    w->psInitFrameless();
    return w;
}

TEST_F(FramelessQuitTest, EndSessionIsIgnoredBeforeTheMainWindowExists)
{
    EXPECT_EXIT(
        {
            TestApplication::get()->psInstallEventFilter();
            long r = 0;
            filter(0, WM_ENDSESSION, TRUE, 0, &r);
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(20), "");
}

TEST_F(FramelessQuitTest, EndSessionQuitsWhateverItsWindowAndWParam)
{
    for (WPARAM w : {WPARAM(TRUE), WPARAM(FALSE)}) {
        EXPECT_EXIT(
            {
                makeMain();
                long r = 0;
                EXPECT_FALSE(filter(0x12345, WM_ENDSESSION, w, 0, &r));
                exitWithQuitState();
            },
            ::testing::ExitedWithCode(10), "");
    }
}

TEST_F(FramelessQuitTest, OtherNativeEventsAreNotReadAsMessages)
{
    EXPECT_EXIT(
        {
            RecordingWindow* main = makeMain();
            MSG m{};
            m.hwnd = main->psHwnd();
            m.message = WM_ENDSESSION;
            long r = 0;
            QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &m, &r);
            m.message = WM_DESTROY;
            QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &m, &r);
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(20), "");
}

TEST_F(FramelessQuitTest, DestroyOfTheMainWindowQuits)
{
    EXPECT_EXIT(
        {
            RecordingWindow* main = makeMain();
            long r = 0;
            filter(main->psHwnd(), WM_DESTROY, 0, 0, &r);
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(10), "");
}

TEST_F(FramelessQuitTest, DestroyingTheMainNativeWindowQuits)
{
    EXPECT_EXIT(
        {
            RecordingWindow* main = makeMain();
            main->windowHandle()->destroy();
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(10), "");
}

TEST_F(FramelessQuitTest, DeletingTheMainWindowQuits)
{
    EXPECT_EXIT(
        {
            delete makeMain();
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(10), "");
    // One without a native window never had a handle to destroy.
    EXPECT_EXIT(
        {
            TestApplication::get()->psInstallEventFilter();
            auto* pending = new PsMainWindow;
            PsApplication::psSetMainWindow(pending);
            delete pending;
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(20), "");
}

TEST_F(FramelessQuitTest, DestroyOfAnotherWindowDoesNotQuit)
{
    // Before the main window's handle is known, and after.
    EXPECT_EXIT(
        {
            TestApplication::get()->psInstallEventFilter();
            PsMainWindow pending;
            PsApplication::psSetMainWindow(&pending);
            QWidget other;
            long r = 0;
            filter(static_cast<HWND>(other.winId()), WM_DESTROY, 0, 0, &r);
            filter(0, WM_DESTROY, 0, 0, &r);
            RecordingWindow* main = makeMain();
            PsApplication::psSetMainWindow(main);
            filter(static_cast<HWND>(other.winId()), WM_DESTROY, 0, 0, &r);
            // A real destruction of another native window.
            QWidget* gone = new QWidget;
            gone->winId();
            delete gone;
            exitWithQuitState();
        },
        ::testing::ExitedWithCode(20), "");
}

struct Autostart {
    const char* name;
    std::vector<const char*> args;
    bool minimised;
};

void PrintTo(const Autostart& row, std::ostream* os) { *os << row.name; }

class AutostartTest : public ::testing::TestWithParam<Autostart> {};

TEST_P(AutostartTest, OnlyTheExactArgumentStartsMinimised)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Autostart& c = GetParam();
    EXPECT_EXIT(
        {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            static std::vector<QByteArray> storage;
            static std::vector<char*> argv;
            for (const char* a : c.args)
                storage.emplace_back(a);
            for (QByteArray& s : storage)
                argv.push_back(s.data());
            argv.push_back(nullptr);
            static int argc = static_cast<int>(c.args.size());
            new Application(argc, argv.data());
            std::_Exit(startMinimized() ? 1 : 2);
        },
        ::testing::ExitedWithCode(c.minimised ? 1 : 2), "");
}

INSTANTIATE_TEST_SUITE_P(Arguments, AutostartTest,
    ::testing::Values(Autostart{"Alone", {"prog", "-autostart"}, true},
        Autostart{"AmongOthers", {"prog", "x", "-autostart", "y"}, true},
        Autostart{"WithoutTheProgramName", {"-autostart"}, true},
        Autostart{"None", {"prog"}, false},
        Autostart{"OtherCase", {"prog", "-Autostart"}, false},
        Autostart{"TwoDashes", {"prog", "--autostart"}, false},
        Autostart{"Longer", {"prog", "-autostart2"}, false}),
    RowName());

} // namespace
