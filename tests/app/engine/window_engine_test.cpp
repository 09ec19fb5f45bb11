// The program's start in the real page engine: the single-instance check finds no running
// instance, the main window unpacks the pages, shows the start page and hides to the tray on close.
// Each case starts the program as a fresh process does (it quits, or it listens on the instance
// name), so each runs in a process of its own.
#include "engine_test_env.h"
#include "own_process.h"
#include "test_files.h"
#include "wait.h"

#include "app/application.h"
#include "app/breakpad_qt.h"
#include "app/private_temp.h"
#include "app/system_tray.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/qcefwebview.h"
#include "update/update_check.h"
#include "win32sim/device_notify.h"

#include "cefqt/engine.h"
#include "crashdump_control/handlers.h"
#include "packer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Sees the main window's first show and whether its tray icon was shown by then.
class ShowWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* window = qobject_cast<Window*>(watched)) {
                if (++shows == 1)
                    trayShownAtFirstShow = window->tray() && window->tray()->isVisible();
            }
        }
        return false;
    }
    int shows = 0;
    bool trayShownAtFirstShow = false;
};

const char kPage[] = R"(<!DOCTYPE html><html><head><title>start</title></head>
<body><p>Tarquil</p><script>history.replaceState(null, "", "#shown");</script></body></html>)";
const char kServerName[] = "Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}";

// A program folder whose package holds kPage, named as the start page; answers the page's URL.
QString writeProgramFolder(const QString& folder)
{
    const QByteArray package = packer::packEntries({{"template/main/index.html", kPage}});
    const QString startPage = QUrl::fromLocalFile(privateTempPath() + "/template/main/index.html").toString();
    const bool written = !package.isEmpty() && test_support::writeFile(folder + "/skn.dat", package)
        && test_support::writeFile(folder + "/Resources/conf.xml",
                                   ("<root><client Name=\"Tarquil\" ClientSize=\"800,600\" LoadPath=\"" + startPage
                                    + "\" CloseFunc=\"tray\" Version=\"2.1.7\"/></root>")
                                       .toUtf8());
    return written ? startPage : QString();
}

// The address of the page shown by the main browser, "" while there is none.
QString shownUrl()
{
    CefRefPtr<CefBrowser> browser = g_handler->GetBrowser();
    return browser ? QString::fromStdString(browser->GetMainFrame()->GetURL().ToString()) : QString();
}

TEST(WindowInTheEngine, StartsWithTheUnpackedPagesAndHidesToTheTrayOnClose)
{
    if (test_support::ranInOwnProcess())
        return;
    Application* app = engine_test::application();
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    const QString startPage = writeProgramFolder(program.path());
    ASSERT_FALSE(startPage.isEmpty());
    const QString page = privateTempPath() + "/template/main/index.html";

    // What the single-instance check does when no running instance answers, in this test's
    // program folder.
    engine_test::registerApplication();
    setAppDirPath(program.path() + "/");
    const int registrations = win32sim::deviceNotificationCount();
    ShowWatcher firstShow;
    app->installEventFilter(&firstShow);
    app->startApp();
    app->removeEventFilter(&firstShow);
    // The window is registered for USB arrivals and removals, and its tray icon is there when it is
    // first shown.
    EXPECT_EQ(win32sim::deviceNotificationCount(), registrations + 1);
    EXPECT_EQ(firstShow.shows, 1);
    EXPECT_TRUE(firstShow.trayShownAtFirstShow);
    // The check for a newer version asks with the configuration's version.
    ASSERT_TRUE(app->updateCheck());
    EXPECT_EQ(app->updateCheck()->version, "2.1.7");

    bool hidden = false, ranOn = false;
    QTimer::singleShot(0, [&] {
        Window* window = appMainWindow();
        ASSERT_TRUE(window);
        EXPECT_EQ(test_support::readFile(page), QByteArray(kPage));
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), "Tarquil");
        EXPECT_EQ(window->minimumSize(), QSize(500, 300));
        EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
        ASSERT_TRUE(window->tray());
        EXPECT_TRUE(app->updateCheck());
        // The present keyboards and mice are known from the start.
        EXPECT_EQ(app->inputDevices().keys, (QStringList{"1A2C0E24", "1A2C0E30"}));
        // The page engine shows the unpacked start page, whose script has run.
        ASSERT_TRUE(test_support::waitFor([&] { return shownUrl() == startPage + "#shown"; }))
            << shownUrl().toStdString();
        EXPECT_EQ(g_handler->GetMainWindowHandle(), static_cast<HWND>(window->winId()));

        // Closing hides the window; the program goes on.
        window->close();
        hidden = window->isHidden();
        QTimer::singleShot(50, [&, window] {
            ranOn = !isQuitRequested();
            window->tray()->contextMenu()->actions().last()->trigger();
        });
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(ranOn);
    EXPECT_TRUE(isQuitRequested());
    // The window stays until the application goes.
    EXPECT_TRUE(appMainWindow());
    engine_test::watchWindowEnd(appMainWindow());
}

TEST(ProgramStart, InitPreparesTheProcessAndTheFirstInstanceStartsItsWindow)
{
    if (test_support::ranInOwnProcess())
        return;
    Application* app = engine_test::application();
    app->init();
    const QString dir = QCoreApplication::applicationDirPath();
    EXPECT_EQ(appDirPath(), dir + "/");
    EXPECT_EQ(exeDirPath(), dir + "/");
    EXPECT_FALSE(app->quitOnLastWindowClosed());
    EXPECT_EQ(BreakpadQt::instance()->dumpPath(), dir);
    EXPECT_EQ(appInstance(), app);
    // No instance answers: this one listens and starts, once.
    ASSERT_TRUE(test_support::waitFor([] { return appMainWindow() != nullptr; }));
    Window* window = appMainWindow();
    EXPECT_TRUE(window->isVisible());
    app->startApp();
    EXPECT_EQ(appMainWindow(), window);
    QLocalSocket probe;
    probe.connectToServer(instanceAddress(kServerName));
    EXPECT_TRUE(probe.waitForConnected(5000));
}

TEST(ProgramStart, ASecondInstanceSendsShowAndEndsWithoutAWindow)
{
    if (test_support::ranInOwnProcess())
        return;
    Application* app = engine_test::application();
    QLocalServer running;
    ASSERT_TRUE(running.listen(instanceAddress(kServerName)));
    QByteArray received;
    QObject::connect(&running, &QLocalServer::newConnection, [&] {
        QLocalSocket* client = running.nextPendingConnection();
        QObject::connect(client, &QLocalSocket::readyRead, [&, client] {
            received += client->readAll();
            if (received.endsWith(';'))
                client->disconnectFromServer();
        });
    });
    app->init();
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(received, QByteArray("CMD:show;"));
    EXPECT_TRUE(isQuitRequested());
    EXPECT_EQ(appMainWindow(), nullptr);
    // No browser was made: the page engine's profile and its folders on disk do not exist.
    EXPECT_FALSE(cefqt::HasProfile());
    EXPECT_FALSE(QFileInfo::exists(qEnvironmentVariable("TMPDIR") + "/Cache"));
}

// The page engine's start, made with the first page, leaves the crash handler in place.
TEST(CrashHandler, StaysInPlaceOnceAPageHasLoaded)
{
    Application* app = engine_test::application();
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    const QString startPage = writeProgramFolder(program.path());
    ASSERT_FALSE(startPage.isEmpty());
    BreakpadQt::instance()->setDumpPath(program.path());
    ASSERT_TRUE(crashdump_control::handlersInPlace());
    EXPECT_FALSE(cefqt::HasProfile());

    engine_test::registerApplication();
    setAppDirPath(program.path() + "/");
    app->startApp();
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(test_support::waitFor([&] { return shownUrl() == startPage + "#shown"; }))
            << shownUrl().toStdString();
        EXPECT_TRUE(cefqt::HasProfile());
        EXPECT_TRUE(crashdump_control::handlersInPlace());
        quitApplication();
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    engine_test::watchWindowEnd(appMainWindow());
}

} // namespace
