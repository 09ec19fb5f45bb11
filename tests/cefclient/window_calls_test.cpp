// The Win32 window calls the browser bridge makes, on offscreen Qt windows: the root ancestor,
// window position, visibility and placement, deferred positions, calls from another thread, and
// the documents folder.
#include "temporary_home.h"
#include "test_app.h"
#include "wait.h"

#include "windows.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QCursor>
#include <QWidget>

#include <thread>

namespace {

class WindowCallsTest : public ::testing::Test {
protected:
    WindowCallsTest()
    {
        TestApplication::get();
        top = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        top->setGeometry(100, 80, 400, 300);
        child = new QWidget(top.get());
        child->setAttribute(Qt::WA_NativeWindow);
        child->setGeometry(10, 10, 50, 40);
        top->show();
    }
    static RECT Rect(HWND h)
    {
        RECT r{};
        GetWindowRect(h, &r);
        return r;
    }
    static std::vector<LONG> Box(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

    std::unique_ptr<QWidget> top;
    QWidget* child = nullptr;
};

TEST_F(WindowCallsTest, TheRootAncestorIsTheTopLevelWindow)
{
    QWidget* grandChild = new QWidget(child);
    grandChild->setAttribute(Qt::WA_NativeWindow);
    EXPECT_EQ(GetAncestor(grandChild->winId(), GA_ROOT), top->winId());
    EXPECT_EQ(GetAncestor(child->winId(), GA_ROOT), top->winId());
    EXPECT_EQ(GetAncestor(top->winId(), GA_ROOT), top->winId());
    SetLastError(0);
    EXPECT_EQ(GetAncestor(0x7fff0001, GA_ROOT), 0u);
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_EQ(GetAncestor(child->winId(), 1), 0u); // only GA_ROOT
}

TEST_F(WindowCallsTest, SetWindowPosMovesAndSizesAsGetWindowRectMeasures)
{
    struct Case {
        UINT flags;
        std::vector<LONG> expected; // left, top, width, height
    };
    const Case cases[] = {
        {SWP_NOZORDER, {30, 40, 640, 480}},
        {SWP_NOZORDER | SWP_NOMOVE, {100, 80, 640, 480}},
        {SWP_NOZORDER | SWP_NOSIZE, {30, 40, 400, 300}},
    };
    for (const Case& c : cases) {
        top->setGeometry(100, 80, 400, 300);
        EXPECT_TRUE(SetWindowPos(top->winId(), 0, 30, 40, 640, 480, c.flags));
        EXPECT_EQ(Box(Rect(top->winId())), c.expected) << c.flags;
    }
    // A child moves within its parent.
    EXPECT_TRUE(SetWindowPos(child->winId(), 0, 5, 6, 70, 80, SWP_NOZORDER));
    EXPECT_EQ(child->geometry(), QRect(5, 6, 70, 80));
    // A framed window: the size given is the frame's.
    QWidget framed;
    framed.setGeometry(50, 50, 200, 100);
    framed.show();
    EXPECT_TRUE(SetWindowPos(framed.winId(), 0, 60, 70, 300, 200, SWP_NOZORDER));
    EXPECT_EQ(Box(Rect(framed.winId())), std::vector<LONG>({60, 70, 300, 200}));
    EXPECT_TRUE(SetWindowPos(top->winId(), 0, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW));
    EXPECT_FALSE(top->isVisible());
    EXPECT_FALSE(SetWindowPos(0x7fff0001, 0, 0, 0, 10, 10, 0));
}

TEST_F(WindowCallsTest, ShowWindowChangesTheStateAndAnswersTheFormerVisibility)
{
    EXPECT_TRUE(ShowWindow(top->winId(), SW_MINIMIZE));
    EXPECT_TRUE(top->isMinimized());
    EXPECT_TRUE(ShowWindow(top->winId(), SW_RESTORE));
    EXPECT_FALSE(top->isMinimized());
    EXPECT_TRUE(ShowWindow(top->winId(), SW_SHOWMAXIMIZED));
    EXPECT_TRUE(top->isMaximized());
    EXPECT_TRUE(ShowWindow(top->winId(), SW_HIDE));
    EXPECT_FALSE(top->isVisible());
    EXPECT_FALSE(ShowWindow(top->winId(), SW_SHOWNORMAL));
    EXPECT_TRUE(top->isVisible());
    EXPECT_FALSE(top->isMaximized());
}

TEST_F(WindowCallsTest, APlacementSetWhileMaximisedIsWhereTheWindowIsRestored)
{
    WINDOWPLACEMENT p{};
    p.length = sizeof(p);
    ASSERT_TRUE(GetWindowPlacement(top->winId(), &p));
    p.showCmd = SW_SHOWMAXIMIZED;
    p.rcNormalPosition = RECT{20, 30, 520, 430};
    ASSERT_TRUE(SetWindowPlacement(top->winId(), &p));
    EXPECT_TRUE(top->isMaximized());
    WINDOWPLACEMENT read{};
    read.length = sizeof(read);
    ASSERT_TRUE(GetWindowPlacement(top->winId(), &read));
    EXPECT_EQ(read.showCmd, UINT(SW_SHOWMAXIMIZED));
    EXPECT_EQ(Box(read.rcNormalPosition), std::vector<LONG>({20, 30, 500, 400}));
    ShowWindow(top->winId(), SW_RESTORE);
    EXPECT_EQ(top->geometry(), QRect(20, 30, 500, 400));
    EXPECT_FALSE(SetWindowPlacement(top->winId(), nullptr));
}

TEST_F(WindowCallsTest, DeferredPositionsAreCarriedOutTogether)
{
    QWidget other(nullptr, Qt::Window | Qt::FramelessWindowHint);
    other.setGeometry(0, 0, 100, 100);
    other.show();
    HDWP list = BeginDeferWindowPos(1);
    ASSERT_NE(list, nullptr);
    list = DeferWindowPos(list, top->winId(), 0, 1, 2, 300, 200, SWP_NOZORDER);
    list = DeferWindowPos(list, other.winId(), 0, 3, 4, 150, 120, SWP_NOZORDER); // more than announced
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(top->geometry(), QRect(100, 80, 400, 300)); // nothing happens before the end
    EXPECT_TRUE(EndDeferWindowPos(list));
    EXPECT_EQ(top->geometry(), QRect(1, 2, 300, 200));
    EXPECT_EQ(other.geometry(), QRect(3, 4, 150, 120));

    // A window that does not exist ends the list (freed).
    list = BeginDeferWindowPos(2);
    EXPECT_EQ(DeferWindowPos(list, 0x7fff0001, 0, 0, 0, 10, 10, 0), nullptr);
    EXPECT_EQ(BeginDeferWindowPos(-1), nullptr);
    EXPECT_FALSE(EndDeferWindowPos(nullptr));
    EXPECT_EQ(DeferWindowPos(nullptr, top->winId(), 0, 0, 0, 10, 10, 0), nullptr);
}

TEST_F(WindowCallsTest, CallsFromAnotherThreadActOnTheGuiThread)
{
    std::atomic<bool> done{false};
    HWND root = 0;
    BOOL moved = FALSE;
    std::thread caller([&] {
        root = GetAncestor(child->winId(), GA_ROOT);
        moved = SetWindowPos(root, 0, 11, 12, 210, 110, SWP_NOZORDER);
        done = true;
    });
    EXPECT_TRUE(test_support::waitFor([&] { return done.load(); }, 10000));
    caller.join();
    EXPECT_EQ(root, top->winId());
    EXPECT_TRUE(moved);
    EXPECT_EQ(top->geometry(), QRect(11, 12, 210, 110));
}

TEST(ShellFolders, TheDocumentsFolderIsMadeOnlyWhenAskedTo)
{
    test_support::TemporaryHome home;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);

    WCHAR path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(0, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path), E_FAIL);
    EXPECT_FALSE(QFileInfo::exists(documents));
    EXPECT_EQ(SHGetFolderPathW(0, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    EXPECT_EQ(QString::fromUtf16(path), QDir::toNativeSeparators(documents));
    EXPECT_TRUE(QFileInfo(documents).isDir());
    EXPECT_EQ(SHGetFolderPathW(0, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    EXPECT_EQ(SHGetFolderPathW(0, 0x001a, nullptr, SHGFP_TYPE_CURRENT, path), E_INVALIDARG); // another folder
    EXPECT_EQ(SHGetFolderPathW(0, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, nullptr), E_INVALIDARG);

}

TEST(CursorPosition, NeedsSomewhereToWriteIt)
{
    TestApplication::get();
    EXPECT_FALSE(GetCursorPos(nullptr));
    QCursor::setPos(17, 23);
    POINT p{};
    EXPECT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 17);
    EXPECT_EQ(p.y, 23);
}

} // namespace
