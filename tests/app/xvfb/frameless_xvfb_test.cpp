// The frameless main window and its shadows on a real X server (the xcb platform), moved by the
// real pointer through xdotool. The run says whether a window manager is running
// (TM_TEST_WINDOW_MANAGER=1): each case holds with one and without one.
#include "frameless_window.h"
#include "row_name.h"
#include "wait.h"

#include "app/info_dlg.h"
#include "app/shadow_windows.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using frameless_test::ShadowedWindowTest;
using frameless_test::stripAround;

bool windowManagerExpected() { return qgetenv("TM_TEST_WINDOW_MANAGER") == "1"; }

// A connection of the test's own to the display, to read what the X server holds.
class XServer {
public:
    XServer()
    {
        int screen = 0;
        m_c = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(m_c))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        if (it.rem)
            m_root = it.data->root;
    }
    ~XServer() { xcb_disconnect(m_c); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool valid() const { return m_root != 0; }

    // A window manager names its check window on the root window.
    bool windowManagerRunning() const
    {
        const char name[] = "_NET_SUPPORTING_WM_CHECK";
        xcb_intern_atom_reply_t* atom
            = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 1, sizeof(name) - 1, name), nullptr);
        if (!atom)
            return false;
        const xcb_atom_t check = atom->atom;
        free(atom);
        if (check == XCB_ATOM_NONE)
            return false;
        xcb_get_property_reply_t* prop = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, m_root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
        const bool present = prop && xcb_get_property_value_length(prop) == 4;
        free(prop);
        return present;
    }

    // The root's children from the bottom of the stack to its top.
    std::vector<xcb_window_t> stack() const
    {
        std::vector<xcb_window_t> out;
        if (xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr)) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            out.assign(children, children + xcb_query_tree_children_length(tree));
            free(tree);
        }
        return out;
    }

    // The child of the root that holds window: itself, or the frame a window manager put it in.
    xcb_window_t topOf(xcb_window_t window) const
    {
        for (int depth = 0; depth < 16; ++depth) {
            xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, window), nullptr);
            if (!tree)
                return 0;
            const xcb_window_t parent = tree->parent;
            free(tree);
            if (parent == m_root || parent == 0)
                return window;
            window = parent;
        }
        return 0;
    }

    // The place of window in the stack (higher is nearer the top); -1 when it is not there.
    int level(WId window) const
    {
        const xcb_window_t top = topOf(xcb_window_t(window));
        const std::vector<xcb_window_t> s = stack();
        for (size_t i = 0; i < s.size(); ++i)
            if (s[i] == top)
                return int(i);
        return -1;
    }

    // The child of the root under a screen point, as the X server has the windows now.
    xcb_window_t at(const QPoint& p) const
    {
        xcb_translate_coordinates_reply_t* r = xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, m_root, m_root, int16_t(p.x()), int16_t(p.y())), nullptr);
        const xcb_window_t child = r ? r->child : 0;
        free(r);
        return child;
    }

    // The inside of a window on the screen as the X server has it now; empty while it is not viewable
    // (it or a window that holds it unmapped).
    QRect placeOf(xcb_window_t window) const
    {
        xcb_get_window_attributes_reply_t* a
            = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr);
        const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        free(a);
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
        xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
            m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr);
        const QRect place = viewable && g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
        free(g);
        free(t);
        return place;
    }

    // A window's id and place as the X server has them now (its parent's coordinates).
    std::string describe(xcb_window_t window) const
    {
        std::string out = QString("0x%1").arg(window, 0, 16).toStdString();
        if (xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr)) {
            out += QString(" at %1,%2 %3x%4").arg(g->x).arg(g->y).arg(g->width).arg(g->height).toStdString();
            free(g);
        }
        return out;
    }

    // The mapped children of the root that hold a screen point, from the top of the stack down.
    std::string windowsAt(const QPoint& p) const
    {
        std::string out;
        const std::vector<xcb_window_t> s = stack();
        for (auto it = s.rbegin(); it != s.rend(); ++it) {
            xcb_get_window_attributes_reply_t* a
                = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, *it), nullptr);
            const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            free(a);
            xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, *it), nullptr);
            const bool holds = g && QRect(g->x, g->y, g->width, g->height).contains(p);
            free(g);
            if (viewable && holds)
                out += describe(*it) + "; ";
        }
        return out;
    }

    void raise(WId window)
    {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(m_c, topOf(xcb_window_t(window)), XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_flush(m_c);
    }

private:
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
};

QString number(int n) { return QString::number(n); }

std::string describe(const QRect& r)
{
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Presses the left button at a screen point, moves the pointer by delta in two steps and releases it.
// The program handles the events while the pointer moves, as a window manager that takes the drag
// needs it to.
bool pointerDrag(const QPoint& at, const QPoint& delta)
{
    const QPoint half = at + delta / 2, end = at + delta;
    QProcess xdotool;
    xdotool.start("xdotool", {"mousemove", number(at.x()), number(at.y()), "sleep", "0.2", "mousedown",
                                         "1", "sleep", "0.2", "mousemove", number(half.x()), number(half.y()),
                                         "sleep", "0.2", "mousemove", number(end.x()), number(end.y()), "sleep",
                                         "0.3", "mouseup", "1", "sleep", "0.2"});
    return test_support::waitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 20000)
        && xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

QStringList g_qtWarnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_qtWarnings << text;
    fprintf(stderr, "%s\n", qPrintable(text));
}

class XDisplayTest : public ShadowedWindowTest {
protected:
    void SetUp() override
    {
        g_qtWarnings.clear();
        m_previousHandler = qInstallMessageHandler(recordWarning);
        TestApplication::get();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty());
        ASSERT_TRUE(x.valid());
        if (windowManagerExpected())
            ASSERT_TRUE(test_support::waitFor([&] { return x.windowManagerRunning(); }, 20000));
        else
            ASSERT_FALSE(x.windowManagerRunning());
        ShadowedWindowTest::SetUp();
        QApplication::setActiveWindow(main);
        main->activateWindow();
        frameless_test::settle();
    }
    void TearDown() override
    {
        if (main)
            ShadowedWindowTest::TearDown();
        qInstallMessageHandler(m_previousHandler);
    }
    QSize initialSize() const override { return QSize(1000, 700); }

    QtMessageHandler m_previousHandler = nullptr;

    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    // The main window's frame as the X server has it once the window manager has framed the window
    // where the program has it; empty until then. The toolkit's frame is not used: it may take the
    // frame's margins from a frame still being made, and keep them until the window next moves.
    QRect frameOnTheServer() const
    {
        const xcb_window_t window = xcb_window_t(main->winId());
        const QRect inside = x.placeOf(window), frame = x.placeOf(x.topOf(window));
        return !inside.isEmpty() && frame.contains(inside) && main->geometry() == inside ? frame : QRect();
    }

    // Every strip shown around the main window's frame, by the program and on the X server.
    bool stripsFollowOnTheServer() const
    {
        const QRect frame = frameOnTheServer();
        if (frame.isEmpty())
            return false;
        for (int i = 0; i < 4; ++i) {
            const QRect place = stripAround(i, frame);
            if (!strip(i)->isVisible() || strip(i)->geometry() != place
                || x.placeOf(xcb_window_t(strip(i)->winId())) != place)
                return false;
        }
        return true;
    }

    // The main window's frame and each window's place as the program and the X server have them.
    std::string places() const
    {
        const auto both = [&](QWidget* w, const QRect& r) {
            return describe(r) + " (on the server " + describe(x.placeOf(xcb_window_t(w->winId()))) + ")"
                + (w->isVisible() ? "" : " hidden");
        };
        std::string out = "main " + describe(main->frameGeometry()) + " (on the server "
            + describe(x.placeOf(x.topOf(xcb_window_t(main->winId())))) + ") inside " + both(main, main->geometry());
        for (int i = 0; i < 4; ++i)
            out += "; strip " + std::to_string(i) + " " + both(strip(i), strip(i)->geometry());
        return out;
    }

    XServer x;
};

// A drag of one strip with the real pointer: where it is pressed (the strip's middle, or the lower
// end of the right strip for the corner), by how much, and what the main window becomes.
struct DragCase {
    const char* name;
    int strip;
    bool corner;
    QPoint delta;
    QMargins change; // of the left, top, right and bottom edges
};

class StripDragTest : public XDisplayTest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(StripDragTest, TheEdgeMovesByThePointersDistance)
{
    const DragCase& c = GetParam();
    // The places are read once the window manager has framed the window and placed the strips.
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollowOnTheServer(); }, 10000)) << places();
    const QRect before = frameOnTheServer();
    const QRect s = strip(c.strip)->geometry();
    const QPoint at = c.corner ? QPoint(s.center().x(), s.bottom() - g_shadows.edge() / 2) : s.center();
    ASSERT_TRUE(available().contains(at));
    // The strip is the window that the X server has at the point, no other over it.
    ASSERT_TRUE(test_support::waitFor([&] { return x.at(at) == x.topOf(strip(c.strip)->winId()); }, 10000))
        << "at " << at.x() << "," << at.y() << ": " << x.windowsAt(at) << "the strip's "
        << x.describe(x.topOf(strip(c.strip)->winId())) << ", the main window's "
        << x.describe(x.topOf(main->winId()));
    ASSERT_TRUE(pointerDrag(at, c.delta));
    const QRect expected(QPoint(before.left() + c.change.left(), before.top() + c.change.top()),
        QPoint(before.right() + c.change.right(), before.bottom() + c.change.bottom()));
    EXPECT_TRUE(test_support::waitFor([&] { return frameOnTheServer() == expected; }, 10000)) << places();
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollowOnTheServer(); }, 10000)) << places();
}

INSTANTIATE_TEST_SUITE_P(Edges, StripDragTest,
    ::testing::Values(DragCase{"RightOut", PsWindowShadows::Right, false, {100, 0}, {0, 0, 100, 0}},
        DragCase{"RightIn", PsWindowShadows::Right, false, {-100, 0}, {0, 0, -100, 0}},
        DragCase{"BottomUp", PsWindowShadows::Bottom, false, {0, -100}, {0, 0, 0, -100}},
        DragCase{"BottomDown", PsWindowShadows::Bottom, false, {0, 80}, {0, 0, 0, 80}},
        DragCase{"LeftIn", PsWindowShadows::Left, false, {50, 0}, {50, 0, 0, 0}},
        DragCase{"TopUp", PsWindowShadows::Top, false, {0, -40}, {0, -40, 0, 0}},
        DragCase{"BottomRightCornerOut", PsWindowShadows::Right, true, {60, 40}, {0, 0, 60, 40}}),
    test_support::RowName());

TEST_F(XDisplayTest, TheFirstShowSaysNothing)
{
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
    frameless_test::settle();
    EXPECT_TRUE(g_qtWarnings.isEmpty()) << g_qtWarnings.join("\n").toStdString();
}

TEST_F(XDisplayTest, MaximiseThenRestoreGivesBackTheGeometry)
{
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollowOnTheServer(); }, 10000)) << places();
    const QRect before = frameOnTheServer();
    main->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsHidden(); }, 10000));
    if (windowManagerExpected()) {
        EXPECT_TRUE(test_support::waitFor([&] { return frameOnTheServer() == available(); }, 10000)) << places();
    }
    main->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(test_support::waitFor(
        [&] { return frameOnTheServer() == before && stripsFollowOnTheServer(); }, 10000))
        << places();
}

TEST_F(XDisplayTest, TheStripsLieBelowTheMainWindow)
{
    auto below = [&] {
        const int mainLevel = x.level(main->winId());
        for (int i = 0; i < 4; ++i) {
            const int level = x.level(strip(i)->winId());
            if (level < 0 || mainLevel < 0 || level > mainLevel)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(test_support::waitFor(below, 10000));
    // The reading sees a strip raised over the window; the main window's activation puts it back.
    x.raise(strip(PsWindowShadows::Right)->winId());
    EXPECT_TRUE(test_support::waitFor([&] { return !below(); }, 10000));
    g_shadows.update(PsWindowShadows::Activate);
    EXPECT_TRUE(test_support::waitFor(below, 10000));
}

TEST_F(XDisplayTest, DraggingTheDialogsBackgroundMovesIt)
{
    infoDlg dlg;
    dlg.move(60, 50);
    dlg.show();
    ASSERT_TRUE(test_support::waitFor([&] { return dlg.isVisible() && dlg.pos() == QPoint(60, 50); }, 10000));
    // A window manager takes the move only of a window it has mapped.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 10000));
    if (windowManagerExpected()) {
        ASSERT_TRUE(test_support::waitFor([&] { return dlg.isActiveWindow(); }, 10000));
    }
    frameless_test::settle();
    ASSERT_TRUE(pointerDrag(dlg.mapToGlobal(QPoint(300, 30)), QPoint(25, 15)));
    EXPECT_TRUE(test_support::waitFor([&] { return dlg.pos() == QPoint(85, 65); }, 10000))
        << dlg.pos().x() << "," << dlg.pos().y();
}

// The first show on the screen of the run, for a window that fits and for one larger than the
// screen (as a configured size may ask).
class FirstShowTest : public XDisplayTest, public ::testing::WithParamInterface<QSize> {
protected:
    QSize initialSize() const override { return GetParam(); }
};

TEST_P(FirstShowTest, TheWholeWindowIsInsideTheAvailableArea)
{
    const QRect area = available();
    const QSize size = GetParam().boundedTo(area.size());
    const QRect expected(
        area.topLeft() + QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size);
    // A window manager confirms the place a moment after the show.
    EXPECT_TRUE(test_support::waitFor([&] { return frameOnTheServer() == expected; }, 10000)) << places();
    EXPECT_TRUE(area.contains(frameOnTheServer()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FirstShowTest, ::testing::Values(QSize(1000, 700), QSize(2400, 1500)),
    [](const ::testing::TestParamInfo<QSize>& info) {
        return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
    });

} // namespace
