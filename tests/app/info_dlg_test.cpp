#include "frameless_window.h"
#include "mouse_drag.h"
#include "test_app.h"
#include "wait.h"

#include "app/info_dlg.h"
#include "app/shadow_windows.h"
#include "windows.h"

#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

// The style sheet lives in the program's library like the images.
static void initStyleResources() { Q_INIT_RESOURCE(qss); }

namespace {

using frameless_test::settle;
using frameless_test::ShadowedWindowTest;

class InfoDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        dlg.reset(new infoDlg);
        dlg->move(100, 80);
        dlg->show();
        ASSERT_TRUE(test_support::waitFor([&] { return dlg->isVisible() && dlg->pos() == QPoint(100, 80); }));
    }
    void TearDown() override
    {
        dlg.reset();
        settle();
    }
    template <class T>
    T* child(const char* name) const
    {
        return dlg->findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<infoDlg> dlg;
};

TEST_F(InfoDlgTest, Widgets)
{
    EXPECT_EQ(dlg->objectName(), QStringLiteral("updateDlg"));
    // Frameless and nothing else; a window without a parent is a window of its own.
    EXPECT_EQ(dlg->windowFlags(), Qt::Window | Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(dlg->size(), QSize(600, 380));
    EXPECT_TRUE(dlg->windowIcon().pixmap(16, 16).isNull()); // its file is in no resource
    EXPECT_EQ(dlg->contentsMargins(), QMargins(10, 10, 10, 10));
    auto* stack = dlg->findChild<QStackedWidget*>();
    ASSERT_NE(stack, nullptr);
    EXPECT_TRUE(stack->objectName().isEmpty());
    EXPECT_EQ(stack->geometry(), QRect(10, 60, 580, 310));
    EXPECT_EQ(stack->currentWidget(), child<QWidget>("pageInfo"));
    EXPECT_EQ(child<QPushButton>("btn_closeSetuper")->geometry(), QRect(562, 20, 18, 18));
    EXPECT_EQ(child<QLabel>("lb_info")->pos(), QPoint(180, 70));
    EXPECT_EQ(child<QLabel>("lb_info")->text(), QStringLiteral("   当前未检测到设备"));
    EXPECT_EQ(child<QPushButton>("pb_ok")->pos(), QPoint(240, 190));
    EXPECT_EQ(child<QPushButton>("pb_ok")->text(), QStringLiteral("确定"));
}

TEST_F(InfoDlgTest, BothButtonsReject)
{
    for (const char* name : {"btn_closeSetuper", "pb_ok"}) {
        dlg->open();
        dlg->setResult(QDialog::Accepted);
        QSignalSpy finished(dlg.get(), &QDialog::finished);
        QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton);
        ASSERT_EQ(finished.count(), 1) << name;
        EXPECT_EQ(finished.at(0).at(0).toInt(), int(QDialog::Rejected)) << name;
        EXPECT_EQ(dlg->result(), int(QDialog::Rejected)) << name;
        EXPECT_FALSE(dlg->isVisible()) << name;
    }
}

// A press drags the dialog over its background and its page, but not over a button or the label,
// which passes its presses on to the dialog.
TEST_F(InfoDlgTest, WherePressingDrags)
{
    struct Case {
        const char* label;
        QPoint at; // in the dialog
        bool drags;
    } cases[] = {
        {"shadow margin", {4, 4}, true},
        {"header", {300, 30}, true},
        {"empty page", {40, 100}, true},
        {"page's last pixel", {589, 369}, true},
        {"label", {10 + 180 + 20, 60 + 70 + 5}, false},
        {"OK button", {10 + 240 + 10, 60 + 190 + 10}, false},
        {"close button", {562 + 9, 20 + 9}, false},
    };
    const HWND hwnd = static_cast<HWND>(dlg->winId());
    for (const Case& c : cases) {
        const QPoint global = dlg->mapToGlobal(c.at);
        EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(global.x(), global.y())),
            c.drags ? HTCAPTION : HTCLIENT)
            << c.label;

        const QPoint start = dlg->pos();
        test_support::dragWithLeftButton(dlg.get(), c.at, QPoint(30, 20));
        if (c.drags) {
            EXPECT_TRUE(test_support::waitFor([&] { return dlg->pos() == start + QPoint(30, 20); }, 10000))
                << c.label;
        }
        settle();
        EXPECT_EQ(dlg->pos(), start + (c.drags ? QPoint(30, 20) : QPoint())) << c.label;
        if (!dlg->isVisible())
            dlg->show(); // the close button closed it
    }
}

// With the program's style sheet the translucent windows keep their own pictures: no solid
// background of the global rules covers the dialog's shadow or the shadow strips.
class StyledWindowsTest : public ShadowedWindowTest {
protected:
    void SetUp() override
    {
        ShadowedWindowTest::SetUp();
        initStyleResources();
        QFile style(QStringLiteral(":/qss/qssmain"));
        ASSERT_TRUE(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
    }
    void TearDown() override
    {
        qApp->setStyleSheet(QString());
        ShadowedWindowTest::TearDown();
    }
};

TEST_F(StyledWindowsTest, TranslucentWindowsKeepTheirPictures)
{
    infoDlg dlg;
    dlg.show();
    settle();
    const QImage shot = dlg.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage picture = QImage(QStringLiteral(":/image/background")).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(599, 379)), 0);
    EXPECT_LT(qAlpha(shot.pixel(5, 190)), 255);
    // Over the page and around the label the panel of the picture shows.
    for (const QPoint& p : {QPoint(40, 100), QPoint(300, 300), QPoint(589, 369), QPoint(10 + 180 + 1, 60 + 70 + 1)})
        EXPECT_EQ(shot.pixel(p), picture.pixel(p)) << p.x() << "," << p.y();

    for (int i = 0; i < 4; ++i) {
        const QImage strip = g_shadows.window(i)->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage& bitmap = g_shadows.bitmap(i);
        for (int r = 0; r < strip.height(); ++r)
            for (int c = 0; c < strip.width(); ++c)
                ASSERT_EQ(reinterpret_cast<const QRgb*>(strip.constScanLine(r))[c],
                    reinterpret_cast<const QRgb*>(bitmap.constScanLine(r))[c])
                    << i << " at " << c << "," << r;
    }
}

} // namespace
