// The update dialog: its widgets, texts and geometry, its buttons, its hit test, and "开始升级"
// starting the stand-in updater and quitting the program, or telling that it could not be started.
#include "mouse_drag.h"
#include "own_process.h"
#include "row_name.h"
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

using test_support::RowName;

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

// A child widget of the dialog as built: its class, parent, place, fixed size and button text.
struct Child {
    const char* name;
    const char* objectName;
    const char* className;
    enum Parent { Dialog, Stack, FirstPage } parent;
    QPoint pos;
    QSize fixedSize; // empty: not fixed
    const char* text;
};

void PrintTo(const Child& row, std::ostream* os) { *os << row.name; }

class UpdateDialogChild : public ::testing::TestWithParam<Child> {};

TEST_P(UpdateDialogChild, IsPlacedAsBuilt)
{
    TestApplication::get();
    setUpdateTexts("V2.2.0", "notes");
    updateDlg dialog;
    const Child& w = GetParam();
    const QWidget* parents[] = {&dialog, dialog.stackedWidget, dialog.firstPage};
    const QWidget* widget = dialog.findChild<QWidget*>(w.objectName);
    ASSERT_TRUE(widget);
    EXPECT_STREQ(widget->metaObject()->className(), w.className);
    EXPECT_EQ(widget->parentWidget(), parents[w.parent]);
    EXPECT_EQ(widget->pos(), w.pos);
    if (!w.fixedSize.isEmpty()) {
        EXPECT_EQ(widget->minimumSize(), w.fixedSize);
        EXPECT_EQ(widget->maximumSize(), w.fixedSize);
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        EXPECT_EQ(button->text(), QString(w.text));
    }
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, UpdateDialogChild,
    ::testing::Values(Child{"CloseButton", "btn_closeSetuper", "QPushButton", Child::Dialog, {350, 5}, {15, 15}, ""},
        Child{"VersionLabel", "lb_text", "QLabel", Child::Dialog, {10, 110}, {}, "V2.2.0"},
        Child{"FirstPage", "pageFirst", "QFrame", Child::Stack, {0, 0}, {580, 310}, ""},
        Child{"LaterButton", "cancelButton", "QPushButton", Child::FirstPage, {155, 210}, {}, "下次提醒"},
        Child{"StartButton", "uninstallButton", "QPushButton", Child::FirstPage, {260, 210}, {}, "开始升级"},
        Child{"ReleaseNotes", "textEdit", "QTextEdit", Child::FirstPage, {2, 100}, {345, 100}, ""}),
    RowName());

struct Rejection {
    const char* name;
    void (*reject)(updateDlg&);
};

void PrintTo(const Rejection& row, std::ostream* os) { *os << row.name; }

class UpdateDialogRejected : public ::testing::TestWithParam<Rejection> {};

TEST_P(UpdateDialogRejected, AndTheProgramGoesOn)
{
    TestApplication::get();
    updateDlg dialog;
    QTimer::singleShot(0, &dialog, [&] { GetParam().reject(dialog); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(isQuitRequested());
    EXPECT_EQ(g_runUpdaterOnExit, 0);
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, UpdateDialogRejected,
    ::testing::Values(Rejection{"ByTheCloseButton", [](updateDlg& d) { d.closeButton->click(); }},
        Rejection{"ByTheLaterButton", [](updateDlg& d) { d.cancelButton->click(); }},
        Rejection{"ByEscape",
                  [](updateDlg& d) {
                      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                      QCoreApplication::sendEvent(&d, &esc);
                  }},
        Rejection{"ByTheOkSlot", [](updateDlg& d) { d.on_pb_ok_clicked(); }}),
    RowName());

// Where a point of the dialog hits, as built (never resizable) and once resizable.
struct Hit {
    const char* name;
    int x, y;
    LRESULT fixed;
    LRESULT resizable;
};

void PrintTo(const Hit& row, std::ostream* os) { *os << row.name; }

// The dialog shown at (300, 200), and where a point of it hits.
class UpdateDialogShown : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.move(300, 200);
        dialog.show();
    }
    LRESULT hit(int x, int y)
    {
        const QPoint screen = dialog.pos() + QPoint(x, y);
        return SendMessageW(HWND(dialog.winId()), WM_NCHITTEST, 0, MAKELPARAM(screen.x(), screen.y()));
    }
    TestApplication* app = TestApplication::get();
    updateDlg dialog;
};

class UpdateDialogHitTest : public UpdateDialogShown, public ::testing::WithParamInterface<Hit> {};

TEST_P(UpdateDialogHitTest, OfTheBackgroundAndTheChildren)
{
    const Hit& p = GetParam();
    EXPECT_EQ(hit(p.x, p.y), p.fixed);
    dialog.resizable = true;
    EXPECT_EQ(hit(p.x, p.y), p.resizable);
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, UpdateDialogHitTest,
    ::testing::Values(Hit{"LeftZone", 5, 30, HTCAPTION, HTLEFT}, // background
        Hit{"Background", 200, 20, HTCAPTION, HTCAPTION},
        Hit{"TopZone", 200, 3, HTCAPTION, HTTOP},
        Hit{"RightZone", 371, 150, HTCAPTION, HTRIGHT},
        Hit{"TopLeftZone", 3, 3, HTCAPTION, HTTOPLEFT},
        Hit{"TopRightZone", 371, 3, HTCAPTION, HTTOPRIGHT},
        Hit{"BottomLeftZone", 3, 300, HTCAPTION, HTBOTTOMLEFT},
        Hit{"BottomRightZone", 371, 300, HTCAPTION, HTBOTTOMRIGHT},
        Hit{"TheEdgeItself", 0, 150, HTCAPTION, HTCAPTION}, // the zones do not include the edge itself
        Hit{"ThePagesEmptyPart", 30, 70, HTCAPTION, HTCAPTION},
        Hit{"BottomZone", 200, 300, HTCAPTION, HTBOTTOM},
        Hit{"CloseButton", 357, 12, HTCLIENT, HTCLIENT}, // left to the toolkit
        Hit{"VersionLabel", 20, 115, HTCLIENT, HTCLIENT}, // over the page
        Hit{"ReleaseNotes", 22, 160, HTCLIENT, HTCLIENT},
        Hit{"LaterButton", 170, 265, HTCLIENT, HTCLIENT}, // "下次提醒"
        Hit{"StartButton", 275, 265, HTCLIENT, HTCLIENT}), // "开始升级"
    RowName());

// Maximised, the edges move nothing; other messages are the toolkit's.
TEST_F(UpdateDialogShown, MaximisedTheEdgesMoveNothing)
{
    dialog.resizable = true;
    dialog.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(hit(5, 30), HTCAPTION);
    EXPECT_EQ(hit(371, 300), HTCAPTION);
    EXPECT_EQ(SendMessageW(HWND(dialog.winId()), WM_NCACTIVATE, 0, 0), TRUE);
}

// A press over the background or the page's empty part drags the dialog; one over a child does not.
struct Press {
    const char* name;
    QPoint at;
    bool drags;
};

void PrintTo(const Press& row, std::ostream* os) { *os << row.name; }

class UpdateDialogPress : public ::testing::TestWithParam<Press> {};

TEST_P(UpdateDialogPress, DragsOnlyOverTheBackground)
{
    TestApplication::get();
    updateDlg dialog;
    dialog.move(300, 200);
    dialog.show();
    ASSERT_TRUE(test_support::waitFor([&] { return dialog.isVisible() && dialog.pos() == QPoint(300, 200); }));
    const Press& c = GetParam();
    const QPoint start = dialog.pos();
    test_support::dragWithLeftButton(&dialog, c.at, QPoint(25, 15));
    if (c.drags) {
        EXPECT_TRUE(test_support::waitFor([&] { return dialog.pos() == start + QPoint(25, 15); }, 10000));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.pos(), start + (c.drags ? QPoint(25, 15) : QPoint()));
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, UpdateDialogPress,
    ::testing::Values(Press{"Background", {200, 20}, true}, Press{"ThePagesEmptyPart", {30, 70}, true},
        Press{"ReleaseNotes", {22, 160}, false}, Press{"LaterButton", {170, 265}, false}),
    RowName());

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
