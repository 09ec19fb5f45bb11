// The update dialog: its widgets, texts and geometry, its buttons, its hit test, and "开始升级"
// starting the stand-in updater and quitting the program, or telling that it could not be started.
#include "mouse_drag.h"
#include "own_process.h"
#include "stub_program.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "app/application.h"
#include "update/update_dialog.h"
#include "update/updater.h"

#include "cef_extras/logging.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

void setUpdateTexts(const QString& version, const QString& description)
{
    g_updateVersion = version;
    g_updateDescription = description;
}

TEST(UpdateDialog, WidgetsTextsAndGeometry)
{
    TestApplication::get();
    setUpdateTexts("V2.2.0", "First paragraph.\nSecond one.\n\nFourth.");
    updateDlg dialog;
    setUpdateTexts("later", "later"); // an open dialog keeps what it was built with

    EXPECT_EQ(dialog.objectName(), "updateDlg");
    EXPECT_EQ(dialog.size(), QSize(375, 304));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.windowFlags() & ~Qt::WindowType_Mask, Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.testAttribute(Qt::WA_TranslucentBackground));
    // The icon's resource does not exist: nothing to show.
    EXPECT_TRUE(dialog.windowIcon().pixmap(32).isNull());
    EXPECT_FALSE(dialog.parent());

    const struct {
        const char* name;
        const char* className;
        const QWidget* parent;
        QPoint pos;
        QSize fixedSize; // empty: not fixed
        QString text;
    } widgets[] = {
        {"btn_closeSetuper", "QPushButton", &dialog, {350, 5}, {15, 15}, ""},
        {"lb_text", "QLabel", &dialog, {10, 110}, {}, "V2.2.0"},
        {"pageFirst", "QFrame", dialog.stackedWidget, {0, 0}, {580, 310}, ""},
        {"cancelButton", "QPushButton", dialog.firstPage, {155, 210}, {}, "下次提醒"},
        {"uninstallButton", "QPushButton", dialog.firstPage, {260, 210}, {}, "开始升级"},
        {"textEdit", "QTextEdit", dialog.firstPage, {2, 100}, {345, 100}, ""},
    };
    for (const auto& w : widgets) {
        const QWidget* widget = dialog.findChild<QWidget*>(w.name);
        ASSERT_TRUE(widget) << w.name;
        EXPECT_STREQ(widget->metaObject()->className(), w.className) << w.name;
        EXPECT_EQ(widget->parentWidget(), w.parent) << w.name;
        EXPECT_EQ(widget->pos(), w.pos) << w.name;
        if (!w.fixedSize.isEmpty()) {
            EXPECT_EQ(widget->minimumSize(), w.fixedSize) << w.name;
            EXPECT_EQ(widget->maximumSize(), w.fixedSize) << w.name;
        }
        if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            EXPECT_EQ(button->text(), w.text) << w.name;
        }
    }
    EXPECT_EQ(dialog.closeButton->objectName(), "btn_closeSetuper");
    EXPECT_EQ(dialog.cancelButton->objectName(), "cancelButton");
    EXPECT_EQ(dialog.startButton->objectName(), "uninstallButton");
    EXPECT_EQ(dialog.versionLabel->geometry(), QRect(10, 110, 140, 20));
    EXPECT_EQ(dialog.versionLabel->text(), "V2.2.0");
    EXPECT_EQ(dialog.versionLabel->alignment(), Qt::AlignCenter);
    EXPECT_EQ(dialog.stackedWidget->parentWidget(), &dialog);
    EXPECT_EQ(dialog.stackedWidget->pos(), QPoint(10, 50));
    EXPECT_EQ(dialog.stackedWidget->minimumSize(), QSize(355, 284));
    EXPECT_EQ(dialog.stackedWidget->maximumSize(), QSize(355, 284));
    EXPECT_EQ(dialog.stackedWidget->contentsMargins(), QMargins());
    EXPECT_EQ(dialog.stackedWidget->count(), 1);
    EXPECT_EQ(dialog.stackedWidget->currentWidget(), dialog.firstPage);
    EXPECT_EQ(dialog.firstPage->contentsMargins(), QMargins());

    // The release notes: read-only plain text, a gap of 10 below every paragraph.
    const auto* notes = dialog.findChild<QTextEdit*>("textEdit");
    ASSERT_TRUE(notes);
    EXPECT_TRUE(notes->isReadOnly());
    EXPECT_EQ(notes->toPlainText(), "First paragraph.\nSecond one.\n\nFourth.");
    int paragraphs = 0;
    for (QTextBlock b = notes->document()->begin(); b.isValid(); b = b.next(), ++paragraphs)
        EXPECT_EQ(b.blockFormat().bottomMargin(), 10) << paragraphs;
    EXPECT_EQ(paragraphs, 4);

    EXPECT_EQ(dialog.borderWidth, 10);
    EXPECT_FALSE(dialog.resizable);
    EXPECT_FALSE(dialog.downloadLook);
}

TEST(UpdateDialog, CloseAndLaterRejectAndTheProgramGoesOn)
{
    TestApplication::get();
    const std::function<void(updateDlg&)> ways[] = {
        [](updateDlg& d) { d.closeButton->click(); },
        [](updateDlg& d) { d.cancelButton->click(); },
        [](updateDlg& d) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&d, &esc);
        },
        [](updateDlg& d) { d.on_pb_ok_clicked(); },
    };
    for (const auto& way : ways) {
        updateDlg dialog;
        QTimer::singleShot(0, &dialog, [&] { way(dialog); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_FALSE(isQuitRequested());
    EXPECT_EQ(g_runUpdaterOnExit, 0);
}

TEST(UpdateDialog, HitTestOfTheBackgroundAndTheChildren)
{
    TestApplication::get();
    updateDlg dialog;
    dialog.move(300, 200);
    dialog.show();
    const HWND hwnd = HWND(dialog.winId());
    auto hit = [&](int x, int y) {
        const QPoint screen = dialog.pos() + QPoint(x, y);
        return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(screen.x(), screen.y()));
    };
    const struct {
        int x, y;
        LRESULT fixed; // as built: never resizable
        LRESULT resizable;
    } points[] = {
        {5, 30, HTCAPTION, HTLEFT}, // background
        {200, 20, HTCAPTION, HTCAPTION},
        {200, 3, HTCAPTION, HTTOP},
        {371, 150, HTCAPTION, HTRIGHT},
        {3, 3, HTCAPTION, HTTOPLEFT},
        {371, 3, HTCAPTION, HTTOPRIGHT},
        {3, 300, HTCAPTION, HTBOTTOMLEFT},
        {371, 300, HTCAPTION, HTBOTTOMRIGHT},
        {0, 150, HTCAPTION, HTCAPTION}, // the zones do not include the edge itself
        {30, 70, HTCAPTION, HTCAPTION}, // the page's empty part
        {200, 300, HTCAPTION, HTBOTTOM},
        {357, 12, HTCLIENT, HTCLIENT}, // the close button: left to the toolkit
        {20, 115, HTCLIENT, HTCLIENT}, // the version label, over the page
        {22, 160, HTCLIENT, HTCLIENT}, // the release notes
        {170, 265, HTCLIENT, HTCLIENT}, // "下次提醒"
        {275, 265, HTCLIENT, HTCLIENT}, // "开始升级"
    };
    for (const auto& p : points)
        EXPECT_EQ(hit(p.x, p.y), p.fixed) << p.x << "," << p.y;
    dialog.resizable = true;
    for (const auto& p : points)
        EXPECT_EQ(hit(p.x, p.y), p.resizable) << p.x << "," << p.y;
    // Maximised, the edges move nothing.
    dialog.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(hit(5, 30), HTCAPTION);
    EXPECT_EQ(hit(371, 300), HTCAPTION);

    // Other messages are the toolkit's.
    EXPECT_EQ(SendMessageW(hwnd, WM_NCACTIVATE, 0, 0), TRUE);
}

// A press over the background or the page's empty part drags the dialog; one over a child does not.
TEST(UpdateDialog, PressingTheBackgroundDragsIt)
{
    TestApplication::get();
    updateDlg dialog;
    dialog.move(300, 200);
    dialog.show();
    ASSERT_TRUE(test_support::waitFor([&] { return dialog.isVisible() && dialog.pos() == QPoint(300, 200); }));
    const struct {
        const char* label;
        QPoint at;
        bool drags;
    } cases[] = {
        {"background", {200, 20}, true},
        {"page's empty part", {30, 70}, true},
        {"release notes", {22, 160}, false},
        {"later button", {170, 265}, false},
    };
    for (const auto& c : cases) {
        const QPoint start = dialog.pos();
        test_support::dragWithLeftButton(&dialog, c.at, QPoint(25, 15));
        if (c.drags) {
            EXPECT_TRUE(test_support::waitFor([&] { return dialog.pos() == start + QPoint(25, 15); }, 10000))
                << c.label;
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(dialog.pos(), start + (c.drags ? QPoint(25, 15) : QPoint())) << c.label;
        if (!dialog.isVisible())
            dialog.show(); // "下次提醒" closed it
    }
}

// "开始升级" inside the event loop, as the program runs it: the dialog's modal run and the loop end.
class StartUpgrade : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        oldExe = exeDirPath();
        oldApp = appDirPath();
        exeDirPath() = program.path() + "/";
        setAppDirPath(work.path() + "/");
        cef_logging::SetLogDestination((log.path() + "/app.log").toStdString(), LOGSEVERITY_INFO);
    }
    void TearDown() override
    {
        exeDirPath() = oldExe;
        setAppDirPath(oldApp);
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    }
    // Runs the dialog in the event loop and clicks "开始升级"; true when both loops ended.
    bool startUpgrade()
    {
        updateDlg dialog;
        dialog.setInfo(QJsonObject{{"package", "http://h/new version.zip"}, {"deployment", "x \"y\""}, {"type", "0"}}, "fw 1");
        bool ended = false;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, dialog.startButton, &QPushButton::click);
            dialog.exec();
            ended = !dialog.isVisible();
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        guard.start(60000);
        return QCoreApplication::exec() == 0 && ended;
    }
    QString logText() const { return QString::fromUtf8(test_support::readFile(log.path() + "/app.log")); }

    QTemporaryDir program, work, log;
    QString oldExe, oldApp;
};

TEST_F(StartUpgrade, StartsTheUpdaterWithoutTheSilentSwitchAndQuits)
{
    // A quit happens once a process.
    if (test_support::ranInOwnProcess())
        return;
    ASSERT_FALSE(isQuitRequested());
    ASSERT_TRUE(test_support::writeStubProgram(program.path() + "/Updater"));
    ASSERT_TRUE(startUpgrade());
    EXPECT_TRUE(isQuitRequested());
    EXPECT_EQ(g_runUpdaterOnExit, 0);
    const QStringList items{"--update=TarquilMervane", "--down=http://h/new version.zip", "--deployment=x \"y\"",
                            "--version=fw 1"};
    const test_support::StubRun run = test_support::waitForStubRun(work.path());
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.arguments, items);
    EXPECT_EQ(run.workingFolder, work.path());
    const QString log = logText();
    EXPECT_TRUE(log.contains("] Application Info: executing " + program.path() + "/Updater " + items.join(' ') + "\n"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("Application Error")) << log.toStdString();
}

TEST_F(StartUpgrade, AFailedLaunchIsToldInTheDialogAndTheProgramGoesOn)
{
    // No updater in the program folder.
    updateDlg dialog;
    dialog.setInfo(QJsonObject{{"package", "http://h/p.zip"}, {"type", "0"}}, "fw 1");
    dialog.showFirstPage();
    bool told = false;
    QTimer::singleShot(0, &dialog, [&] {
        dialog.startButton->click();
        told = dialog.isVisible() && dialog.stackedWidget->currentWidget() == dialog.failurePage
            && dialog.failureLabel->isVisible() && !dialog.versionLabel->isVisible()
            && !dialog.startButton->isVisible() && dialog.failureCloseButton->isVisible()
            && dialog.failurePage->findChildren<QPushButton*>().size() == 1;
        dialog.failureCloseButton->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(told);
    EXPECT_FALSE(dialog.failureLabel->text().isEmpty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(isQuitRequested());
    EXPECT_EQ(g_runUpdaterOnExit, 0);
    // Shown again, the dialog offers the update anew.
    dialog.showFirstPage();
    EXPECT_EQ(dialog.stackedWidget->currentWidget(), dialog.firstPage);
    const QString log = logText();
    EXPECT_TRUE(log.contains("] Application Error: failed to execute " + program.path() + "/Updater, working directory: '"
                             + work.path() + "/', result: 2\n"))
        << log.toStdString();
}

} // namespace
