#include "frameless_window.h"
#include "row_name.h"
#include "test_app.h"
#include "wait.h"

#include "app/image_resources.h"
#include "app/pswindow.h"
#include "app/shadow_windows.h"
#include "app/window_shadows.h"
#include "win32sim/messages.h"
#include "windows.h"

#include <QImage>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace {

using frameless_test::RecordingWindow;
using frameless_test::settle;
using frameless_test::ShadowedWindowTest;
using frameless_test::stripAround;

typedef PsShadowModel Shadows;

// A model of the shipped sprite, without windows.
struct Model {
    Shadows shadows;
    explicit Model(int bitmapWidth = 1920, int bitmapHeight = 1080)
    {
        TestApplication::get();
        psInitImageResources();
        EXPECT_TRUE(shadows.buildTables(QImage(QStringLiteral(":/image/sprite"))));
        EXPECT_TRUE(shadows.createBitmaps(bitmapWidth, bitmapHeight));
    }
    // The frame around a main window at (x, y) of size (w, h).
    void place(int x, int y, int w, int h)
    {
        const QRect f = shadows.frameAround(QRect(x, y, w, h));
        shadows.placeFrame(f.x(), f.y(), f.width(), f.height());
    }
};

std::vector<int> column(const Shadows& shadows, int index, int c)
{
    std::vector<int> out;
    for (int r = 0; r < shadows.edge(); ++r)
        out.push_back(shadows.alphaAt(index, c, r));
    return out;
}

std::vector<int> row(const Shadows& shadows, int index, int r)
{
    std::vector<int> out;
    for (int c = 0; c < shadows.edge(); ++c)
        out.push_back(shadows.alphaAt(index, c, r));
    return out;
}

// The strip's shown part of a premultiplied image of it against the alpha rules, pixel by pixel:
// the first pixel that differs, or an empty text.
std::string bitmapMismatch(const Shadows& shadows, int index, const QImage& image, QRgb colour)
{
    const QSize size = shadows.stripRect(index).size();
    if (image.width() < size.width() || image.height() < size.height())
        return "bitmap shorter than the strip";
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        return "not premultiplied";
    for (int r = 0; r < size.height(); ++r) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(r));
        for (int c = 0; c < size.width(); ++c) {
            const QRgb expected = qPremultiply(qRgba(qRed(colour), qGreen(colour), qBlue(colour),
                shadows.alphaAt(index, c, r)));
            const QRgb actual = line[c];
            if (actual != expected) {
                return "strip " + std::to_string(index) + " at " + std::to_string(c) + "," + std::to_string(r)
                    + ": " + std::to_string(qAlpha(actual)) + " for " + std::to_string(qAlpha(expected));
            }
        }
    }
    return std::string();
}

TEST(ShadowModelTest, TheShippedSpriteGivesTheProfile)
{
    Model model;
    const Shadows& s = model.shadows;
    EXPECT_EQ(QImage(QStringLiteral(":/image/sprite")).size(), QSize(495, 487));
    EXPECT_EQ(s.spriteSide(), 24);
    EXPECT_EQ(s.shift(), 1);
    EXPECT_EQ(s.profile(), (std::vector<unsigned char>{1, 1, 8, 10, 13, 18, 23, 33, 44, 54, 66, 78, 95, 110}));
    EXPECT_EQ(s.edge(), 12);
    // The table's two outer rows and columns are 1, and nothing in it is below 1.
    for (int i = 0; i < 26; ++i) {
        for (int j = 0; j < 26; ++j) {
            if (i < 2 || j < 2) {
                EXPECT_EQ(s.table(i, j), 1) << i << "," << j;
            }
            EXPECT_GE(s.table(i, j), 1);
        }
    }

    // A sprite without the square gives no profile.
    Shadows none;
    EXPECT_FALSE(none.buildTables(QImage()));
    EXPECT_FALSE(none.buildTables(QImage(200, 60, QImage::Format_ARGB32)));
    EXPECT_EQ(none.edge(), 0);
}

TEST(ShadowModelTest, StripsAroundAWindow)
{
    Model model;
    model.place(100, 100, 1000, 700);
    const Shadows& s = model.shadows;
    EXPECT_EQ(s.frame(), QRect(88, 88, 1024, 724));
    EXPECT_EQ(s.stripRect(Shadows::Top), QRect(100, 88, 1000, 12));
    EXPECT_EQ(s.stripRect(Shadows::Bottom), QRect(100, 800, 1000, 12));
    EXPECT_EQ(s.stripRect(Shadows::Right), QRect(1100, 88, 12, 724));
    EXPECT_EQ(s.stripRect(Shadows::Left), QRect(88, 88, 12, 724));
}

struct HitCode {
    const char* name;
    int index;
    int cy;
    int code;
};

void PrintTo(const HitCode& row, std::ostream* os) { *os << row.name; }

class ShadowHitCodes : public ::testing::TestWithParam<HitCode> {};

TEST_P(ShadowHitCodes, HitCodesAlongTheStrips)
{
    Model model;
    model.place(100, 100, 1000, 700);
    const Shadows& s = model.shadows;
    EXPECT_EQ(s.hitCode(GetParam().index, GetParam().cy, s.edge()), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Zones, ShadowHitCodes,
                         ::testing::Values(HitCode{"RightAtTheTop", Shadows::Right, 88, HTTOPRIGHT},
                                           HitCode{"RightAtTheTopsEnd", Shadows::Right, 99, HTTOPRIGHT},
                                           HitCode{"RightAtTheSidesStart", Shadows::Right, 100, HTRIGHT},
                                           HitCode{"RightAtTheSidesEnd", Shadows::Right, 799, HTRIGHT},
                                           HitCode{"RightAtTheBottomsStart", Shadows::Right, 800, HTBOTTOMRIGHT},
                                           HitCode{"RightAtTheBottom", Shadows::Right, 811, HTBOTTOMRIGHT},
                                           HitCode{"LeftAtTheTopsEnd", Shadows::Left, 99, HTTOPLEFT},
                                           HitCode{"LeftAtTheSidesStart", Shadows::Left, 100, HTLEFT},
                                           HitCode{"LeftAtTheSidesEnd", Shadows::Left, 799, HTLEFT},
                                           HitCode{"LeftAtTheBottomsStart", Shadows::Left, 800, HTBOTTOMLEFT},
                                           HitCode{"Top", Shadows::Top, 88, HTTOP},
                                           HitCode{"Bottom", Shadows::Bottom, 811, HTBOTTOM}),
                         test_support::RowName());

TEST(ShadowModelTest, AlphaAcrossTheStrips)
{
    Model model;
    model.place(100, 100, 1000, 700);
    const Shadows& s = model.shadows;
    // The middles, from the outer edge or from the window as listed; they are not symmetric.
    EXPECT_EQ(column(s, Shadows::Top, 500), (std::vector<int>{1, 1, 8, 10, 13, 18, 23, 33, 44, 54, 66, 78}));
    EXPECT_EQ(column(s, Shadows::Bottom, 500), (std::vector<int>{110, 95, 78, 66, 54, 44, 33, 23, 18, 13, 10, 8}));
    EXPECT_EQ(row(s, Shadows::Right, 362), (std::vector<int>{95, 78, 66, 54, 44, 33, 23, 18, 13, 10, 8, 1}));
    EXPECT_EQ(row(s, Shadows::Left, 362), (std::vector<int>{1, 8, 10, 13, 18, 23, 33, 44, 54, 66, 78, 95}));

    // The two outer rows of the top strip and the outer column of the side strips are A[0], at
    // both ends and in between.
    const int a0 = s.profile()[0];
    for (int c = 0; c < 1000; ++c)
        for (int r : {0, 1})
            ASSERT_EQ(s.alphaAt(Shadows::Top, c, r), a0) << c << "," << r;
    for (int r = 0; r < 724; ++r) {
        ASSERT_EQ(s.alphaAt(Shadows::Right, 11, r), a0) << r;
        ASSERT_EQ(s.alphaAt(Shadows::Left, 0, r), a0) << r;
    }
    // The ends follow the sprite's corner: the strips' ends mirror each other.
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 13; ++c)
            ASSERT_EQ(s.alphaAt(Shadows::Top, c, r), s.alphaAt(Shadows::Top, 999 - c, r)) << c << "," << r;
    for (int c = 0; c < 12; ++c)
        for (int r = 2; r < 26; ++r)
            ASSERT_EQ(s.alphaAt(Shadows::Right, c, r), s.alphaAt(Shadows::Right, c, 723 - r + 2)) << c << "," << r;
}

// The bitmaps carry the rules' pixels for every frame, however it got there: repaints of only the
// changed span, shrinking, and growth past twice the bitmap's length.
TEST(ShadowModelTest, BitmapsFollowEveryFrame)
{
    Model model(600, 400);
    Shadows& s = model.shadows;
    const QRect windows[] = {
        {100, 100, 1000, 700}, // beyond the bitmaps: they grow
        {100, 100, 520, 320},  // shrinks
        {50, 40, 700, 500},    // grows within the bitmaps
        {0, 0, 5000, 3300},    // more than twice the bitmaps at once
        {0, 0, 4990, 3290},
        {10, 10, 20, 20},      // below the least frame
        {10, 10, 1500, 900},
    };
    for (const QRect& window : windows) {
        model.place(window.x(), window.y(), window.width(), window.height());
        SCOPED_TRACE(std::to_string(window.width()) + "x" + std::to_string(window.height()));
        EXPECT_GE(s.bitmapWidth(), s.frame().width());
        EXPECT_GE(s.bitmapHeight(), s.frame().height());
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(bitmapMismatch(s, i, s.bitmap(i), qRgb(0, 0, 0)), "");
    }
    // The least frame is 2S + 2s each way.
    model.place(10, 10, 20, 20);
    EXPECT_EQ(s.frame().size(), QSize(50, 50));

    // The colour goes into every pixel painted later.
    Shadows coloured;
    coloured.buildTables(QImage(QStringLiteral(":/image/sprite")));
    coloured.setColor(QColor(200, 100, 50));
    coloured.createBitmaps(800, 600);
    coloured.placeFrame(0, 0, 400, 300);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bitmapMismatch(coloured, i, coloured.bitmap(i), qRgb(200, 100, 50)), "");
}

TEST(ShadowModelTest, OnlyWhatChangedIsRepaintedOrMoved)
{
    Model model;
    Shadows& s = model.shadows;
    typedef std::array<Shadows::StripAction, 4> Actions;
    const Shadows::StripAction K = Shadows::Keep, V = Shadows::Move, P = Shadows::Place;
    struct Case {
        const char* label;
        QRect frame;
        Actions actions; // top, right, bottom, left
    } cases[] = {
        {"first", {0, 0, 800, 600}, {P, P, P, P}},
        {"same", {0, 0, 800, 600}, {K, K, K, K}},
        {"moved", {30, 40, 800, 600}, {V, V, V, V}},
        {"wider", {30, 40, 900, 600}, {P, V, P, K}},
        {"taller", {30, 40, 900, 650}, {K, P, V, P}},
        {"moved and taller", {0, 0, 900, 700}, {V, P, V, P}},
        {"both", {0, 0, 1000, 800}, {P, P, P, P}},
    };
    for (const Case& c : cases) {
        const Actions actions = s.placeFrame(c.frame.x(), c.frame.y(), c.frame.width(), c.frame.height());
        EXPECT_EQ(actions, c.actions) << c.label;
        EXPECT_EQ(s.frame(), c.frame) << c.label;
    }
}

// ---- The windows

class ShadowWindowsTest : public ShadowedWindowTest {};

TEST_F(ShadowWindowsTest, StripsFollowTheMainWindow)
{
    EXPECT_FALSE(g_shadows.isHidden());
    EXPECT_EQ(g_shadowEdge, g_shadows.edge());
    for (int i = 0; i < 4; ++i) {
        const Qt::WindowFlags f = strip(i)->windowFlags();
        EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Tool) << i;
        EXPECT_TRUE(f & Qt::FramelessWindowHint);
        EXPECT_TRUE(f & Qt::WindowDoesNotAcceptFocus);
        EXPECT_TRUE(strip(i)->testAttribute(Qt::WA_TranslucentBackground));
        EXPECT_TRUE(strip(i)->testAttribute(Qt::WA_ShowWithoutActivating));
    }

    main->move(140, 120);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000)) << "move";
    main->resize(900, 560);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000)) << "resize";
    main->setGeometry(60, 70, 700, 450);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000)) << "move and resize";

    main->hide();
    EXPECT_TRUE(test_support::waitFor([&] { return stripsHidden(); }, 10000)) << "hide";
    main->show();
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000)) << "show";

    main->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsHidden(); }, 10000)) << "maximise";
    EXPECT_TRUE(g_shadows.isHidden());
    main->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow() && main->size() == QSize(700, 450); }, 10000))
        << "restore";

    main->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(test_support::waitFor([&] { return stripsHidden(); }, 10000)) << "minimise";
}

TEST_F(ShadowWindowsTest, StripsShowTheModelsPixels)
{
    auto grabsMatch = [&](QRgb colour) {
        for (int i = 0; i < 4; ++i) {
            const QImage shot = strip(i)->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const std::string mismatch = bitmapMismatch(g_shadows, i, shot, colour);
            if (!mismatch.empty()) {
                ADD_FAILURE() << mismatch;
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(grabsMatch(qRgb(0, 0, 0)));
    main->resize(780, 520);
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
    EXPECT_TRUE(grabsMatch(qRgb(0, 0, 0)));

    // A colour change repaints everything in the new colour and places the strips again.
    g_shadows.setColor(QColor(40, 90, 200));
    EXPECT_TRUE(stripsFollow());
    EXPECT_TRUE(grabsMatch(qRgb(40, 90, 200)));
    g_shadows.setColor(g_activeShadowColor);
}

TEST_F(ShadowWindowsTest, WindowProcedureAnswersAndPassesOn)
{
    const QRect f = g_shadows.frame();
    const int m = g_shadows.edge();
    struct HitCase {
        int index;
        int cy;
        LRESULT code;
    } hits[] = {
        {Shadows::Right, f.y() + m - 1, HTTOPRIGHT},
        {Shadows::Right, f.y() + m, HTRIGHT},
        {Shadows::Right, f.y() + f.height() - m - 1, HTRIGHT},
        {Shadows::Right, f.y() + f.height() - m, HTBOTTOMRIGHT},
        {Shadows::Left, f.y(), HTTOPLEFT},
        {Shadows::Left, f.y() + f.height() / 2, HTLEFT},
        {Shadows::Left, f.bottom(), HTBOTTOMLEFT},
        {Shadows::Top, f.y(), HTTOP},
        {Shadows::Bottom, f.bottom(), HTBOTTOM},
    };
    for (const HitCase& c : hits)
        EXPECT_EQ(SendMessageW(stripHwnd(c.index), WM_NCHITTEST, 0, MAKELPARAM(f.x() + 5, c.cy)), c.code)
            << c.index << " at " << c.cy;

    // The non-client mouse messages reach the main window unchanged; others stay with the strip.
    const LPARAM at = MAKELPARAM(f.right() - 3, f.y() + 200);
    const UINT passed[] = {WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, WM_NCLBUTTONDBLCLK, WM_NCRBUTTONDOWN,
        WM_NCMBUTTONUP, WM_NCXBUTTONDOWN, WM_NCXBUTTONDBLCLK, WM_NCPOINTERUPDATE, WM_NCPOINTERUP, WM_NCMOUSEHOVER,
        WM_NCMOUSELEAVE};
    for (UINT msg : passed) {
        main->received.clear();
        SendMessageW(stripHwnd(Shadows::Right), msg, HTRIGHT, at);
        EXPECT_TRUE(main->hasReceived(msg, HTRIGHT, at)) << std::hex << msg;
    }
    for (UINT msg : {UINT(WM_NCACTIVATE), UINT(WM_MOVE), UINT(0x00AA), UINT(0x02A1), UINT(WM_NCHITTEST)}) {
        main->received.clear();
        SendMessageW(stripHwnd(Shadows::Right), msg, HTRIGHT, at);
        EXPECT_TRUE(main->received.empty()) << std::hex << msg;
    }

    // A right-button release on a strip opens the main window's system menu.
    win32sim::clearSentMessages();
    SendMessageW(stripHwnd(Shadows::Bottom), WM_NCRBUTTONUP, HTBOTTOM, at);
    bool menu = false;
    for (const win32sim::SentMessage& m : win32sim::sentMessages())
        menu = menu || (m.hwnd == main->psHwnd() && m.message == WM_SYSCOMMAND && m.wParam == SC_MOUSEMENU && m.lParam == at);
    EXPECT_TRUE(menu);

    // Without a main window the mouse messages get 0 and go nowhere.
    PsApplication::psSetMainWindow(nullptr);
    main->received.clear();
    EXPECT_EQ(SendMessageW(stripHwnd(Shadows::Right), WM_NCLBUTTONDOWN, HTRIGHT, at), 0);
    EXPECT_TRUE(main->received.empty());
    PsApplication::psSetMainWindow(main);

    // While disabled, the strips do the default.
    g_shadowsDisabled = true;
    EXPECT_EQ(SendMessageW(stripHwnd(Shadows::Right), WM_NCHITTEST, 0, at), HTCLIENT);
    main->received.clear();
    SendMessageW(stripHwnd(Shadows::Right), WM_NCLBUTTONDOWN, HTRIGHT, at);
    EXPECT_TRUE(main->received.empty());
    g_shadowsDisabled = false;

    // Closing a strip closes the main window; the strip itself stays.
    EXPECT_EQ(SendMessageW(stripHwnd(Shadows::Left), WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(strip(Shadows::Left) != nullptr);
}

TEST_F(ShadowWindowsTest, DraggingAStripResizesTheMainWindow)
{
    // A work area that leaves the drags room, except where a row runs into its edges.
    win32sim::setMonitors({{RECT{0, 0, 1920, 1080}, RECT{0, 40, 1000, 1000}}});
    main->setGeometry(200, 150, 600, 400);
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
    const int m = g_shadows.edge();
    struct Case {
        const char* label;
        int index;
        QPoint at; // in the strip
        QPoint delta;
        QRect result;
    } cases[] = {
        {"right edge wider", Shadows::Right, {m / 2, 200}, {60, 13}, {200, 150, 660, 400}},
        {"right edge narrower, down to the least width", Shadows::Right, {m / 2, 200}, {-400, 0},
            {200, 150, 500, 400}},
        {"bottom right corner", Shadows::Right, {m / 2, 400 + 2 * m - 2}, {40, 30}, {200, 150, 540, 430}},
        {"left edge", Shadows::Left, {m / 2, 200}, {-50, 0}, {150, 150, 590, 430}},
        {"top edge", Shadows::Top, {100, m / 2}, {9, -20}, {150, 130, 590, 450}},
        {"top left corner", Shadows::Left, {m / 2, 1}, {10, 10}, {160, 140, 580, 440}},
        {"bottom edge", Shadows::Bottom, {100, m / 2}, {0, -200}, {160, 140, 580, 300}},
        {"right edge stops at the work area's right edge", Shadows::Right, {m / 2, 100}, {500, 0},
            {160, 140, 840, 300}},
        {"top edge stops at the work area's top", Shadows::Top, {100, m / 2}, {0, -300}, {160, 40, 840, 400}},
        {"bottom edge stops at the work area's bottom", Shadows::Bottom, {100, m / 2}, {0, 900},
            {160, 40, 840, 960}},
        {"left edge stops at the work area's left edge", Shadows::Left, {m / 2, 100}, {-400, 0},
            {0, 40, 1000, 960}},
    };
    for (const Case& c : cases) {
        drag(strip(c.index), c.at, c.delta);
        EXPECT_TRUE(test_support::waitFor([&] { return main->geometry() == c.result; }, 10000))
            << c.label << ": " << main->geometry().x() << "," << main->geometry().y() << " "
            << main->width() << "x" << main->height();
        EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000)) << c.label;
    }

    // After the release the mouse moves nothing.
    const QRect before = main->geometry();
    QMouseEvent move(QEvent::MouseMove, QPoint(5, 5), strip(Shadows::Right)->mapToGlobal(QPoint(80, 5)),
        Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip(Shadows::Right), &move);
    settle();
    EXPECT_EQ(main->geometry(), before);
    win32sim::setMonitors({});
}

TEST_F(ShadowWindowsTest, CursorFollowsTheZone)
{
    const int m = g_shadows.edge();
    const int h = strip(Shadows::Right)->height();
    struct Case {
        int index;
        QPoint at;
        Qt::CursorShape shape;
    } cases[] = {
        {Shadows::Right, {m / 2, 1}, Qt::SizeBDiagCursor},
        {Shadows::Right, {m / 2, h / 2}, Qt::SizeHorCursor},
        {Shadows::Right, {m / 2, h - 1}, Qt::SizeFDiagCursor},
        {Shadows::Left, {m / 2, 1}, Qt::SizeFDiagCursor},
        {Shadows::Left, {m / 2, h - 1}, Qt::SizeBDiagCursor},
        {Shadows::Top, {50, m / 2}, Qt::SizeVerCursor},
        {Shadows::Bottom, {50, m / 2}, Qt::SizeVerCursor},
    };
    for (const Case& c : cases) {
        QWidget* s = strip(c.index);
        QMouseEvent move(QEvent::MouseMove, c.at, s->mapToGlobal(c.at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(s, &move);
        EXPECT_EQ(s->cursor().shape(), c.shape) << c.index << " at " << c.at.y();
    }
}

// Several main windows in one process, one after the other: each gets working shadows.
TEST_F(ShadowWindowsTest, ANewMainWindowGetsShadowsAgain)
{
    PsApplication::psSetMainWindow(nullptr);
    delete main;
    main = nullptr;
    settle();
    EXPECT_EQ(strip(Shadows::Top), nullptr);

    main = new RecordingWindow;
    main->resize(640, 420);
    main->winId();
    main->psInitFrameless();
    main->psInitSize();
    main->psFirstShow();
    ASSERT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
    const QRect f = g_shadows.frame();
    EXPECT_EQ(SendMessageW(stripHwnd(Shadows::Right), WM_NCHITTEST, 0, MAKELPARAM(f.right(), f.y())), HTTOPRIGHT);
    main->received.clear();
    SendMessageW(stripHwnd(Shadows::Top), WM_NCLBUTTONDOWN, HTTOP, MAKELPARAM(f.x() + 20, f.y()));
    EXPECT_TRUE(main->hasReceived(WM_NCLBUTTONDOWN, HTTOP, MAKELPARAM(f.x() + 20, f.y())));
}

} // namespace

namespace {

QStringList g_qtWarnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg && !text.contains("This plugin does not support"))
        g_qtWarnings << text;
}

// The strips take no focus: neither their first show (the test platform activates every window it
// shows) nor an activation message asks Qt to activate one.
TEST(ShadowFocusTest, TheStripsAreNeverAskedToTakeFocus)
{
    TestApplication::get()->psInstallEventFilter();
    g_qtWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    auto* main = new frameless_test::RecordingWindow;
    main->resize(600, 400);
    main->winId();
    main->psInitFrameless();
    main->psInitSize();
    main->psFirstShow();
    frameless_test::settle();
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(SetForegroundWindow(static_cast<HWND>(g_shadows.window(i)->winId()))) << i;
    for (int i = 0; i < 4; ++i)
        SendMessageW(static_cast<HWND>(g_shadows.window(i)->winId()), WM_ACTIVATE, WA_ACTIVE, 0);
    frameless_test::settle();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(g_qtWarnings.isEmpty()) << g_qtWarnings.join("\n").toStdString();
    PsApplication::psSetMainWindow(nullptr);
    delete main;
    frameless_test::settle();
}

} // namespace
