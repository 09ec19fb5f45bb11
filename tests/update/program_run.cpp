// The program's own run with UpgradeUrl pointing at the local test server: its entry, its application
// and main window in the page engine, the start-up check, and the launch of the stand-in updater at
// exit. The test puts this executable into a program folder of its own (Resources/conf.xml, the
// device libraries, the stand-in "Updater") and runs it there as the program; once the program has
// ended, the cases read what the server and the updater saw.
#include "http_test_server.h"
#include "program_folder_layout.h"
#include "stub_program.h"
#include "test_files.h"

#include "app/application.h"
#include "app/program_entry.h"
#include "app/window.h"
#include "update/updater.h"

#include "cef_extras/qt_backend.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char kRunAsProgram[] = "TM_UPDATE_PROGRAM_RUN";
const char kAnswer[] = R"({"code":0,"ret":{"type":"1","cnumber":"2.2","description":"notes",)"
                       R"("package":"http://127.0.0.1/new version.zip","deployment":"a \"b\" \\"}})";

// ---- the program ----------------------------------------------------------------------------

// The program's application step, quitting through the main window as the user would once the
// update answer has arranged the updater.
int runProgram(int& argc, char** argv, int code)
{
    Application app(argc, argv);
    if (isQuitRequested())
        return code;
    app.init();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!g_runUpdaterOnExit || !appMainWindow())
            return;
        poll.stop();
        appMainWindow()->oncloseApp();
    });
    poll.start(10);
    QTimer::singleShot(120000, [] { quitApplication(); });
    return app.exec();
}

// ---- the test -------------------------------------------------------------------------------

struct Seen {
    int exitCode = -1;
    QString output;
    QList<test_support::RecordedRequest> requests;
    test_support::StubRun updater;
    QString folder;
};
Seen* g_seen = nullptr;

void runTheProgram(Seen* seen)
{
    test_support::HttpTestServer server;
    server.route("/api/system/upgrade", test_support::HttpReply::json(kAnswer));
    QTemporaryDir program, temp;
    seen->folder = program.path();
    const QString exe = program.path() + "/TarquilMervane";
    test_support::ProgramFolderLayout layout;
    layout.self = "TarquilMervane";
    layout.linked = QStringList{"libvq.dll", "Hexlane.dll"};
    layout.resources.clear();
    if (!test_support::layOutProgramFolder(program.path(), layout)
        || !test_support::writeFile(program.path() + "/Resources/conf.xml",
                                    "<root><client Name=\"TarquilMervane\" ClientSize=\"800,600\" Version=\"2.1.3\" UpgradeUrl=\""
                                        + server.url().toUtf8()
                                        + "\" LoadPath=\"velmora://settings/local/client/main/index.html\"/></root>")
        || !test_support::writeStubProgram(program.path() + "/Updater"))
        return;

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kRunAsProgram, "1");
    // Temporary and runtime folders of its own: no other program run answers its first-instance check.
    env.insert("TMPDIR", temp.path());
    env.insert("XDG_RUNTIME_DIR", temp.path());
    env.remove("VQSIM_DEVICES");
    env.remove("VQSIM_STATE");
    if (!env.contains("DISPLAY"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.setWorkingDirectory(program.path());
    run.start(exe, QStringList());
    if (run.waitForFinished(180000) && run.exitStatus() == QProcess::NormalExit)
        seen->exitCode = run.exitCode();
    else
        run.kill();
    seen->output = QString::fromLocal8Bit(run.readAll());
    seen->requests = server.requests();
    seen->updater = test_support::waitForStubRun(program.path());
}

TEST(ProgramRun, TheStartSendsTheCheckToTheConfiguredService)
{
    ASSERT_EQ(g_seen->exitCode, 0) << g_seen->output.toStdString();
    ASSERT_EQ(g_seen->requests.size(), 1);
    const test_support::RecordedRequest& r = g_seen->requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/api/system/upgrade?fwversion=&noencrypt=1&version=2.1.3");
    EXPECT_EQ(r.header("User-Agent"), "Agent name goes here");
    EXPECT_TRUE(r.body.isEmpty());
}

TEST(ProgramRun, TheUpdaterStartsAtExitWithTheSilentSwitch)
{
    ASSERT_EQ(g_seen->exitCode, 0) << g_seen->output.toStdString();
    ASSERT_TRUE(g_seen->updater.ran);
    EXPECT_EQ(g_seen->updater.arguments,
              (QStringList{"--update=TarquilMervane", "--down=http://127.0.0.1/new version.zip", "--deployment=a \"b\" \\",
                           "--version=", "--SilentUpgrade"}));
    EXPECT_EQ(g_seen->updater.workingFolder, g_seen->folder);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kRunAsProgram))
        return programMain(argc, argv, {cefqt::InstallBackend, runProgram, psExecUpdater});

    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    Seen seen;
    g_seen = &seen;
    if (!::testing::GTEST_FLAG(list_tests))
        runTheProgram(&seen);
    return RUN_ALL_TESTS();
}
