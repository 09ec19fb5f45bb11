// The update check of the application with its main window: the dialog centred on the window, and
// "开始升级" starting the updater, writing the changed page files back and quitting.
#include "http_test_server.h"
#include "own_process.h"
#include "stub_program.h"
#include "window_fixture.h"

#include "app/application.h"
#include "app/window.h"
#include "update/update_check.h"
#include "update/update_dialog.h"
#include "update/updater.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using test_support::HttpReply;

class UpdateWindowTest : public test_support::WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        server = std::make_unique<test_support::HttpTestServer>();
        oldExe = exeDirPath();
        exeDirPath() = program.path() + "/";
        ASSERT_TRUE(test_support::writeStubProgram(program.path() + "/Updater"));
    }
    void TearDown() override
    {
        exeDirPath() = oldExe;
        WindowFixture::TearDown();
        server.reset();
    }

    std::unique_ptr<test_support::HttpTestServer> server;
    QTemporaryDir program;
    QString oldExe;
};

TEST_F(UpdateWindowTest, TheDialogOverTheWindowStartsTheUpdaterAndQuitsWithTheWriteBack)
{
    // A quit happens once a process.
    if (test_support::ranInOwnProcess())
        return;
    ASSERT_FALSE(isQuitRequested());
    server->route("/api/system/upgrade",
                 HttpReply::json(R"({"code":0,"ret":{"type":"0","cnumber":"2.2","description":"notes",)"
                                 R"("package":"http://h/new version.zip","deployment":"full"}})"));
    openWindow("<client Name=\"Tarquil\" LoadPath=\"" + QString(test_support::startPage()) + "\" Version=\"2.1\" UpgradeUrl=\""
               + server->url() + "\"/>");
    window->move(100, 80);
    ASSERT_EQ(window->modifyCachedFile(path("a.xml"), "<a/>"), PageFileCache::Result::Ok);
    ASSERT_EQ(window->modifyCachedFile(path("a.xml"), "<b/>"), PageFileCache::Result::Ok);

    // The dialog runs modally in the event loop, as at start-up; it is clicked once it shows.
    QPoint shownAt;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        UpdateCheck* check = app->updateCheck();
        if (!check || !check->dialog || !check->dialog->isVisible())
            return;
        poll.stop();
        shownAt = check->dialog->pos();
        check->dialog->startButton->click();
    });
    QTimer::singleShot(0, [&] {
        app->checkUpdate(0);
        poll.start(5);
    });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);

    ASSERT_EQ(server->requests().size(), 1);
    EXPECT_EQ(server->requests()[0].target, "/api/system/upgrade?fwversion=&noencrypt=1&version=2.1");
    EXPECT_EQ(shownAt, centredOn(window->pos(), window->size(), QSize(375, 304)));
    EXPECT_EQ(g_updateVersion, "2.2");
    EXPECT_TRUE(isQuitRequested());
    EXPECT_EQ(g_runUpdaterOnExit, 0);
    EXPECT_EQ(test_support::readFile(path("a.xml")), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
    const test_support::StubRun run = test_support::waitForStubRun(programDir());
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.arguments, (QStringList{"--update=TarquilMervane", "--down=http://h/new version.zip",
                                          "--deployment=full", "--version="}));
    EXPECT_EQ(run.workingFolder, programDir());
}

} // namespace
