// The cursor's position on every thread: a thread other than the GUI thread reads where the
// pointer is at that moment, while the GUI thread runs no event loop, as the vendor library's
// thread does when it reports a mouse movement.
#include "windows.h"
#include "win32sim/cursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPoint>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <thread>

namespace {

// The process's application: on the X display when TM_TEST_PLATFORM asks for it and there is one,
// else offscreen.
QGuiApplication* application()
{
    static QGuiApplication* app = [] {
        if (qgetenv("TM_TEST_PLATFORM") == "xcb" && qEnvironmentVariableIsSet("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "xcb");
        else
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    return app;
}

bool onX() { return QGuiApplication::platformName() == "xcb"; }

// Another client of the X server, as the user's mouse is to the program.
class XUser {
public:
    XUser()
    {
        int screen = 0;
        m_c = xcb_connect(nullptr, &screen);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        m_root = it.rem ? it.data->root : 0;
    }
    ~XUser() { xcb_disconnect(m_c); }
    bool valid() const { return !xcb_connection_has_error(m_c) && m_root; }
    // Moves the server's pointer; returns once the server has done it.
    void move(const QPoint& p)
    {
        xcb_warp_pointer(m_c, XCB_NONE, m_root, 0, 0, 0, 0, int16_t(p.x()), int16_t(p.y()));
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }

private:
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
};

QPoint readOnAnotherThread()
{
    POINT seen{-1, -1};
    std::thread([&] { EXPECT_TRUE(GetCursorPos(&seen)); }).join();
    return QPoint(seen.x, seen.y);
}

QPoint readHere()
{
    POINT seen{-1, -1};
    EXPECT_TRUE(GetCursorPos(&seen));
    return QPoint(seen.x, seen.y);
}

// Inside the screen xvfb-run makes (1280 x 1024).
const QPoint kPlaces[] = {{120, 80}, {7, 300}, {600, 2}, {321, 479}};

TEST(CursorPosition, AMoveOfThePointerReachesEveryThreadAtOnce)
{
    application();
    if (!onX())
        GTEST_SKIP() << "no X display";
    XUser user;
    ASSERT_TRUE(user.valid());
    for (const QPoint& p : kPlaces) {
        user.move(p);
        EXPECT_EQ(readOnAnotherThread(), p);
        EXPECT_EQ(readHere(), p);
        EXPECT_EQ(QCursor::pos(), p);
    }
}

TEST(CursorPosition, AMoveThroughTheLayerReachesEveryThreadAndQtAtOnce)
{
    application();
    for (const QPoint& p : kPlaces) {
        std::thread([&] { win32sim::moveCursor(p.x(), p.y()); }).join();
        EXPECT_EQ(readOnAnotherThread(), p);
        // The GUI thread has not had a turn: Qt may not have been told yet, the position holds.
        EXPECT_EQ(readHere(), p);
        QCoreApplication::processEvents();
        EXPECT_EQ(QCursor::pos(), p);
        EXPECT_EQ(readOnAnotherThread(), p);
    }
    // Moved on the GUI thread itself.
    win32sim::moveCursor(33, 44);
    EXPECT_EQ(readOnAnotherThread(), QPoint(33, 44));
    EXPECT_EQ(QCursor::pos(), QPoint(33, 44));
}

TEST(CursorPosition, NeedsSomewhereToWriteIt)
{
    application();
    EXPECT_FALSE(GetCursorPos(nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

} // namespace
