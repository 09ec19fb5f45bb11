// The program as a user runs it: the executable, its libraries, Resources/ and a page package laid
// out in a folder of the test's own, started as a child process with a temporary folder and a home
// of its own, and ended from outside: by a signal, by losing its display, or by its own headless
// run. Pages of another origin come from a web server of the test's own on 127.0.0.1.
#include "packer.h"
#include "program_folder_layout.h"
#include "row_name.h"
#include "test_files.h"
#include "wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

using test_support::readFile;
using test_support::writeFile;

const int kStartMs = 90000;
const char kStartPage[] = "velmora://settings/local/client/main/index.html";

// The program's process, leading a process group of its own as a program started from a terminal
// does: the terminal's signals (Ctrl+C) reach the whole group.
class ProgramProcess : public QProcess {
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

// A program folder below a temporary folder: the executable and the simulated device libraries
// from the build, Resources/ with the build's key table, and the conf.xml and page package that a
// test gives.
class ProgramFolder {
public:
    ProgramFolder()
    {
        // The libraries are copies, which a page might try to replace.
        test_support::ProgramFolderLayout layout;
        layout.linked = QStringList{"Brontivex"};
        layout.copied = QStringList{"libvq.dll", "Hexlane.dll"};
        layout.resources = QStringList{"define.xml"};
        ok = root.isValid() && QDir().mkpath(root.path() + "/tmp") && QDir().mkpath(root.path() + "/home")
            && test_support::layOutProgramFolder(dir(), layout);
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
        return test_support::waitFor([&] { return log().contains(text); }, ms);
    }
    bool waitForEnd(int ms = 60000) { return process.waitForFinished(ms); }
    // Ended of itself with this exit code, not by a signal.
    bool endedWith(int code) const
    {
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == code;
    }
    QString standardError() { return QString::fromLocal8Bit(process.readAllStandardError()); }

    QTemporaryDir root;
    ProgramProcess process;
    bool ok = false;

private:
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

// SIGTERM (a kill, the session's end), SIGHUP (its terminal gone) and SIGINT (Ctrl+C in its
// terminal, which reaches the whole process group, the browser's processes too) quit the program
// the normal way: the page file it changed is written back, and it ends with code 0.
struct QuitSignal {
    const char* name;
    int signal;
    bool toTheGroup;
};

void PrintTo(const QuitSignal& q, std::ostream* os) { *os << q.name; }

class QuitSignalTest : public ::testing::TestWithParam<QuitSignal> {};

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

    const pid_t pid = pid_t(program.process.processId());
    ASSERT_EQ(::kill(GetParam().toTheGroup ? -pid : pid, GetParam().signal), 0);
    ASSERT_TRUE(program.waitForEnd());
    EXPECT_TRUE(program.endedWith(0)) << "exit status " << program.process.exitStatus() << ", code "
                                      << program.process.exitCode();
    EXPECT_TRUE(readFile(settings).contains("value=\"changed\"")) << readFile(settings).constData();
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignalTest,
                         ::testing::Values(QuitSignal{"Term", SIGTERM, false}, QuitSignal{"Hangup", SIGHUP, false},
                                           QuitSignal{"CtrlCInTheTerminal", SIGINT, true}), test_support::RowName());

// A web server on 127.0.0.1 for pages of another origin: it serves one page and records what the
// pages report to it ("GET /answer?name=text").
class PageServer : public QObject {
public:
    explicit PageServer(const QByteArray& page)
        : m_page(page)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }
    QString origin() const { return QString("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    QMap<QString, QString> reports;

private:
    void answer(QTcpSocket* socket)
    {
        m_request += socket->readAll();
        if (!m_request.contains("\r\n\r\n"))
            return;
        const QUrl url(origin() + QString::fromLatin1(m_request.split(' ').value(1)));
        m_request.clear();
        QByteArray body;
        QByteArray type = "text/plain";
        if (url.path() == "/answer") {
            for (const auto& item : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
                reports.insert(item.first, item.second);
        } else {
            body = m_page;
            type = "text/html";
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
                      + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_page;
    QByteArray m_request;
};

// Reports a query's answer to the page server as "S:<text>" or "F:<code>:<text>"; each step's
// promise holds once its report has reached the server.
const char kAskScript[] = R"(
function report(name, text) {
  return new Promise(function (done) {
    var beacon = new Image();
    beacon.onload = beacon.onerror = done;
    beacon.src = ORIGIN + '/answer?' + name + '=' + encodeURIComponent(text);
  });
}
function ask(name, request) {
  return new Promise(function (done) {
    cefQuery({request: typeof request === 'string' ? request : JSON.stringify(request),
              onSuccess: function (a) { report(name, 'S:' + a).then(done); },
              onFailure: function (c, m) { report(name, 'F:' + c + ':' + m).then(done); }});
  });
})";

// A page of another origin, opened as a popup by the program's own start page, has no command
// run: its query to rewrite a page file, the write-back and a window request all fail, and the
// file stays as it was. The program's own page changes only XML files. The popup and the login
// page ask for 200000 pixels a side and get windows that fit the screen.
TEST(ForeignPagesTest, APageOfAnotherOriginRunsNoCommandInTheProgram)
{
    const QByteArray foreign = QByteArray("<!DOCTYPE html><html><body><script>") + kAskScript + R"(
ask('foreign-modify', {FuncName: 'ModifyFileFromStr', FilePath: 'data/settings.xml',
                       ContentStr: '<settings><key value="foreign"/></settings>'});
ask('foreign-save', {FuncName: 'savexml'});
ask('foreign-move', 'MoveWindow:0,0,300,300');
</script></body></html>)";
    PageServer server(QByteArray(foreign).replace("ORIGIN + ", ""));
    ProgramFolder program;
    ASSERT_TRUE(program.ok);
    program.conf(QString("Name=\"T\" ClientSize=\"800,600\" LoadPath=\"%1\" CloseFunc=\"hide\"").arg(kStartPage));
    const QByteArray start = QByteArray("<!DOCTYPE html><html><body><script>var ORIGIN = '") + server.origin().toLatin1()
        + "';" + kAskScript + R"(
if (location.search === '?login') {
  report('login-size', window.innerWidth + 'x' + window.innerHeight);
} else {
  ask('own-library', {FuncName: 'ModifyFileFromStr', FilePath: 'libvq.dll', ContentStr: '<library/>'})
    .then(function () { return ask('own-xml', {FuncName: 'ModifyFileFromStr', FilePath: 'data/own.xml', ContentStr: '<own/>'}); })
    .then(function () { return ask('own-save', {FuncName: 'savexml'}); })
    .then(function () {
      cefQuery({request: JSON.stringify({FuncName: 'OpenView', Url: ORIGIN + '/foreign.html', width: 200000, height: 200000})});
      cefQuery({request: JSON.stringify({FuncName: 'LoginMain', Url: location.href + '?login', width: 200000, height: 200000})});
    });
}
</script></body></html>)";
    program.pages({{"template/main/index.html", start}});
    const QString settings = program.path("data/settings.xml");
    const QByteArray before = "<settings><key value=\"before\"/></settings>\n";
    ASSERT_TRUE(writeFile(settings, before));
    const QByteArray library = readFile(program.path("libvq.dll"));

    ASSERT_TRUE(program.start());
    const QStringList expected = {"foreign-modify", "foreign-save", "foreign-move", "own-library", "own-xml",
                                  "own-save", "login-size"};
    const bool reported = test_support::waitFor([&] {
        for (const QString& name : expected)
            if (!server.reports.contains(name))
                return false;
        return true;
    }, kStartMs);
    EXPECT_TRUE(reported) << QStringList(server.reports.keys()).join(',').toStdString();
    EXPECT_EQ(server.reports.value("foreign-modify"), "F:0:page not allowed");
    EXPECT_EQ(server.reports.value("foreign-save"), "F:0:page not allowed");
    EXPECT_EQ(server.reports.value("foreign-move"), "F:0:page not allowed");
    EXPECT_EQ(server.reports.value("own-library"), "F:0:ModifyFileFromStr failed: the file is no XML file");
    EXPECT_EQ(server.reports.value("own-xml"), "S:ModifyFileFromStr success");
    EXPECT_EQ(server.reports.value("own-save"), "S:save xml success");
    const QStringList size = server.reports.value("login-size").split('x');
    ASSERT_EQ(size.size(), 2) << server.reports.value("login-size").toStdString();
    EXPECT_GT(size[0].toInt(), 0);
    EXPECT_LE(size[0].toInt(), 4096);
    EXPECT_LE(size[1].toInt(), 4096);

    // Quitting writes back what the program's own page changed, and nothing else.
    ASSERT_EQ(::kill(pid_t(program.process.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForEnd());
    EXPECT_TRUE(program.endedWith(0)) << program.standardError().toStdString();
    EXPECT_TRUE(readFile(settings) == before) << readFile(settings).constData();
    EXPECT_TRUE(readFile(program.path("libvq.dll")) == library) << "the library was replaced";
    EXPECT_TRUE(readFile(program.path("data/own.xml")).contains("<own />"));
}

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
    ASSERT_TRUE(test_support::waitFor([&] {
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
