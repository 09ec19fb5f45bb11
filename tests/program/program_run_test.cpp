// The program as a user runs it: the executable, its libraries, Resources/ and a page package laid
// out in a folder of the test's own, started as a child process with a temporary folder and a home
// of its own, and ended from outside: by a signal, by losing its display, or by its own headless
// run.
#include "packer.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

using test_support::readFile;
using test_support::writeFile;

const int kStartMs = 90000;
const char kStartPage[] = "velmora://settings/local/client/main/index.html";

// Polls until done() holds; false after ms.
bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// A program folder below a temporary folder: the executable and the simulated device libraries
// (linked or copied from the build), Resources/ with the build's key table, and the conf.xml and
// page package that a test gives.
class ProgramFolder {
public:
    ProgramFolder()
    {
        const QString build = QCoreApplication::applicationDirPath();
        ok = root.isValid() && QDir().mkpath(dir()) && QDir().mkpath(root.path() + "/tmp")
            && QDir().mkpath(root.path() + "/home");
        for (const char* name : {"Brontivex", "libvq.dll", "Hexlane.dll"})
            ok = ok && place(build + "/" + name, dir() + "/" + name);
        ok = ok && writeFile(dir() + "/Resources/define.xml", readFile(build + "/Resources/define.xml"));
    }
    ~ProgramFolder() { stop(); }

    QString dir() const { return root.path() + "/program"; }
    QString path(const QString& relative) const { return dir() + "/" + relative; }

    void conf(const QString& attributes)
    {
        ASSERT_TRUE(writeFile(path("Resources/conf.xml"), ("<root><client " + attributes + "/></root>").toUtf8()));
    }
    void pages(const QList<packer::Entry>& entries)
    {
        const QByteArray package = packer::packEntries(entries);
        ASSERT_FALSE(package.isEmpty());
        ASSERT_TRUE(writeFile(path("skn.dat"), package));
    }

    // Starts the program with the extra environment; false when it did not start.
    bool start(const QStringList& environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", root.path() + "/tmp");
        env.insert("HOME", root.path() + "/home");
        env.insert("XDG_RUNTIME_DIR", root.path() + "/tmp");
        env.remove("VQSIM_DEVICES");
        env.remove("VQSIM_STATE");
        env.remove("TM_SCREENSHOT");
        if (!env.contains("QT_QPA_PLATFORM") && !env.contains("DISPLAY"))
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
        for (const QString& e : environment)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir());
        process.setProgram(path("Brontivex"));
        process.start();
        return process.waitForStarted(10000);
    }
    QString log() const { return QString::fromUtf8(readFile(path("app.log"))); }
    bool waitForLog(const QString& text, int ms = kStartMs) const
    {
        return waitUntil([&] { return log().contains(text); }, ms);
    }
    bool waitForEnd(int ms = 60000) { return process.waitForFinished(ms); }
    // Ended of itself with this exit code, not by a signal.
    bool endedWith(int code) const
    {
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == code;
    }
    QString standardError() { return QString::fromLocal8Bit(process.readAllStandardError()); }

    QTemporaryDir root;
    QProcess process;
    bool ok = false;

private:
    static bool place(const QString& from, const QString& to)
    {
        // The program finds its folder from its own file: a link would lead back to the build.
        return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || QFile::copy(from, to);
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(10000);
    }
};

// A start page that changes a page file as soon as it runs.
const char kChangingPage[] = R"(<!DOCTYPE html><html><head><title>changing</title></head><body><script>
cefQuery({request: JSON.stringify({FuncName: "ModifyFileFromStr", FilePath: "data/settings.xml",
                                   ContentStr: "<settings><key value=\"changed\"/></settings>"})});
</script></body></html>)";

// SIGTERM (a kill, the session's end) and SIGHUP (its terminal gone) quit the program the normal
// way: the page file it changed is written back, and it ends with code 0.
class QuitSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(QuitSignalTest, QuitsThroughTheNormalPathAndWritesThePageFilesBack)
{
    ProgramFolder program;
    ASSERT_TRUE(program.ok);
    program.conf(QString("Name=\"T\" ClientSize=\"800,600\" LoadPath=\"%1\" CloseFunc=\"hide\"").arg(kStartPage));
    program.pages({{"template/main/index.html", kChangingPage}});
    const QString settings = program.path("data/settings.xml");
    ASSERT_TRUE(writeFile(settings, "<settings><key value=\"before\"/></settings>\n"));

    ASSERT_TRUE(program.start());
    // The change is logged when the page makes it; the file keeps its old text until the quit.
    ASSERT_TRUE(program.waitForLog("value=\"changed\"")) << program.log().toStdString();
    EXPECT_TRUE(readFile(settings).contains("before"));

    ASSERT_EQ(::kill(pid_t(program.process.processId()), GetParam()), 0);
    ASSERT_TRUE(program.waitForEnd());
    EXPECT_TRUE(program.endedWith(0)) << "exit status " << program.process.exitStatus() << ", code "
                                      << program.process.exitCode();
    EXPECT_TRUE(readFile(settings).contains("value=\"changed\"")) << readFile(settings).constData();
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignalTest, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Term" : "Hangup");
                         });

// The headless run (TM_SCREENSHOT) shows the start page, saves its picture and quits.
class HeadlessRunTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(program.ok); }
    void run()
    {
        ASSERT_TRUE(program.start({"TM_SCREENSHOT=" + shot}));
        ASSERT_TRUE(program.waitForEnd(kStartMs));
        err = program.standardError();
    }
    ProgramFolder program;
    const QString shot = program.root.path() + "/start-page.png";
    QString err;
};

TEST_F(HeadlessRunTest, AWindowSizeFarBeyondTheScreenGivesAWindowThatFitsIt)
{
    program.conf(QString("Name=\"T\" ClientSize=\"200000,200000\" LoadPath=\"%1\"").arg(kStartPage));
    program.pages({{"template/main/index.html", "<!DOCTYPE html><html><body><p>start</p></body></html>"}});
    run();
    EXPECT_TRUE(program.endedWith(0)) << err.toStdString();
    const QImage picture(shot);
    ASSERT_FALSE(picture.isNull()) << err.toStdString();
    EXPECT_LE(picture.width(), 4096);
    EXPECT_LE(picture.height(), 4096);
}

TEST_F(HeadlessRunTest, ARefusedPackageIsSaidOnStandardErrorAndInTheLog)
{
    program.conf(QString("Name=\"T\" ClientSize=\"800,600\" LoadPath=\"%1\"").arg(kStartPage));
    QByteArray package = packer::packEntries({{"template/main/index.html", "<p>start</p>"}});
    package.chop(1);
    ASSERT_TRUE(writeFile(program.path("skn.dat"), package));
    run();
    EXPECT_TRUE(program.endedWith(0)) << err.toStdString();
    const QString said = "The pages cannot be read: the page package " + program.path("skn.dat") + " was refused";
    EXPECT_TRUE(err.contains(said)) << err.toStdString();
    EXPECT_TRUE(program.log().contains(said)) << program.log().toStdString();
}

// The X server going away ends the program through exit(); it ends with the code it was given,
// not with an abort.
TEST(DisplayLossTest, TheProgramEndsWithoutAnAbortWhenItsDisplayGoes)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty())
        GTEST_SKIP() << "no Xvfb";
    ProgramFolder program;
    ASSERT_TRUE(program.ok);
    program.conf(QString("Name=\"T\" ClientSize=\"800,600\" LoadPath=\"%1\"").arg(kStartPage));
    program.pages({{"template/main/index.html", "<!DOCTYPE html><html><body><p>start</p></body></html>"}});

    QProcess server;
    server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForStarted(10000));
    QByteArray display;
    ASSERT_TRUE(waitUntil([&] {
        server.waitForReadyRead(100);
        display += server.readAllStandardOutput();
        return display.contains('\n');
    }, 30000));
    ASSERT_TRUE(program.start({"DISPLAY=:" + QString::fromLatin1(display.trimmed()), "QT_QPA_PLATFORM=xcb"}));
    ASSERT_TRUE(program.waitForLog("mainwindow show!")) << program.log().toStdString();

    server.terminate();
    ASSERT_TRUE(server.waitForFinished(30000));
    ASSERT_TRUE(program.waitForEnd());
    const QString err = program.standardError();
    EXPECT_EQ(program.process.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_FALSE(err.contains("terminate called")) << err.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
