#include "frameless_window.h"
#include "wait.h"

#include "app/info_dlg.h"
#include "app/window_shadows.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

using frameless_test::ShadowedWindowTest;

// No window manager takes the move or resize here, so the windows follow the mouse themselves.
class XDisplayTest : public ShadowedWindowTest {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("DISPLAY"))
            GTEST_SKIP() << "no X display";
        ShadowedWindowTest::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }
    void TearDown() override
    {
        if (main)
            ShadowedWindowTest::TearDown();
    }
};

TEST_F(XDisplayTest, DraggingTheRightStripWidensTheMainWindow)
{
    const QRect before = main->geometry();
    drag(strip(PsWindowShadows::Right), QPoint(g_shadows.edge() / 2, before.height() / 2), QPoint(70, 0));
    EXPECT_TRUE(test_support::waitFor([&] { return main->width() == before.width() + 70; }, 10000))
        << main->width();
    EXPECT_EQ(main->pos(), before.topLeft());
    EXPECT_EQ(main->height(), before.height());
    EXPECT_TRUE(test_support::waitFor([&] { return stripsFollow(); }, 10000));
}

TEST_F(XDisplayTest, DraggingTheDialogsBackgroundMovesIt)
{
    infoDlg dlg;
    dlg.move(60, 50);
    dlg.show();
    ASSERT_TRUE(test_support::waitFor([&] { return dlg.isVisible() && dlg.pos() == QPoint(60, 50); }, 10000));
    drag(&dlg, QPoint(300, 30), QPoint(25, 15));
    EXPECT_TRUE(test_support::waitFor([&] { return dlg.pos() == QPoint(85, 65); }, 10000))
        << dlg.pos().x() << "," << dlg.pos().y();
}

} // namespace
