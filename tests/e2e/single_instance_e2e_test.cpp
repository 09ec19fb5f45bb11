// A second start of the program, in real processes: against this program (the running instance of
// the test's own folders), against running instances played by the test, and many starts at once
// in folders of their own. Each started program runs from a program folder of its own, where it
// writes its log.
#include "app/application.h"
#include "app/window.h"

#include "program_folder_layout.h"
#include "row_name.h"
#include "test_files.h"
#include "wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using test_support::waitFor;

const char kServerName[] = "Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}";
const int kRunMs = 60000;

// The program's files laid out in a folder of the test's own.
class ProgramFolder {
public:
    ProgramFolder() { m_ok = m_dir.isValid() && test_support::layOutProgramFolder(m_dir.path()); }
    bool ok() const { return m_ok; }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString log() const { return QString::fromUtf8(test_support::readFile(path("app.log"))); }

    // Starts the program from this folder.
    std::unique_ptr<QProcess> start(const QProcessEnvironment& environment) const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(m_dir.path());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(path("stderr.txt"));
        process->start(path("Brontivex"), QStringList());
        return process;
    }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

bool ended(QProcess& process, int ms = kRunMs)
{
    return waitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
}

void stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

// Folders of their own for started programs (runtime, temporary and home folders below root):
// they meet each other, but neither this program nor any other run.
class OwnFolders {
public:
    OwnFolders()
    {
        m_ok = m_root.isValid() && QDir().mkpath(path("run")) && QDir().mkpath(path("tmp")) && QDir().mkpath(path("home"))
            && QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool ok() const { return m_ok; }
    QString path(const QString& name) const { return m_root.filePath(name); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", path("run"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("HOME", path("home"));
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.remove(name);
        return env;
    }
    // The address of the single-instance server of programs started with environment().
    QString serverAddress() const
    {
        const QString socketName = instanceSocketName(kServerName);
        return instanceFolderIn({path("run"), QString(), QString(), QString()}, socketName) + "/" + socketName;
    }
    // Paths below the root that the page engine's profile would have made.
    QStringList engineFiles() const
    {
        QStringList found;
        QDirIterator it(m_root.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            if (p.contains("QtWebEngine") || QFileInfo(p).fileName() == "Cache")
                found << p;
        }
        return found;
    }

private:
    // Short, so that the server's address fits below "run" whatever the temporary folder is.
    QTemporaryDir m_root{test_support::shortTempBase() + "/tm-own-XXXXXX"};
    bool m_ok = false;
};

QString pidLine(qint64 pid)
{
    return "Application Info: show command response received, pid = " + QString::number(pid)
        + ", activating and quiting..";
}

const char kFalseDisconnect[] = "Application Error: socket disconnected before command response received, quiting..";

// This program is the running instance; a second start of it brings its window out of the tray.
TEST(SecondStart, BringsTheRunningWindowForwardAndEnds)
{
    Window* window = nullptr;
    ASSERT_TRUE(waitFor([&] { return (window = appMainWindow()) && window->isVisible(); }, kRunMs));
    // In the tray, minimised.
    window->hide();
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(waitFor([&] { return window->isHidden() && window->isMinimized(); }));

    ProgramFolder program;
    ASSERT_TRUE(program.ok());
    // The same folders as this program's: the started program finds this one's server.
    auto second = program.start(QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(ended(*second)) << program.log().toStdString();
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(program.log().contains(pidLine(QCoreApplication::applicationPid()))) << program.log().toStdString();
    EXPECT_FALSE(program.log().contains(kFalseDisconnect));
    EXPECT_FALSE(program.log().contains("mainwindow show!"));
    EXPECT_TRUE(waitFor([&] { return window->isVisible() && !window->isMinimized(); }));
}

// A running instance played by the test: what it answers to the request, and what the second
// start must have logged by the time it has ended.
struct RunningInstanceCase {
    const char* name;
    enum Reply { Nothing, Bytes, HangUp } reply;
    const char* bytes;
    std::vector<const char*> logged;
    std::vector<const char*> notLogged;
};

void PrintTo(const RunningInstanceCase& c, std::ostream* os) { *os << c.name; }

class SecondStartAgainst : public ::testing::TestWithParam<RunningInstanceCase> {
};

TEST_P(SecondStartAgainst, EndsWithoutTouchingThePageEngine)
{
    const RunningInstanceCase& c = GetParam();
    OwnFolders folders;
    ASSERT_TRUE(folders.ok());
    ProgramFolder program;
    ASSERT_TRUE(program.ok());
    QLocalServer running;
    ASSERT_TRUE(running.listen(folders.serverAddress())) << running.errorString().toStdString();
    QByteArray received;
    QObject::connect(&running, &QLocalServer::newConnection, [&] {
        QLocalSocket* client = running.nextPendingConnection();
        QObject::connect(client, &QLocalSocket::readyRead, [&, client] {
            received += client->readAll();
            if (!received.endsWith(';'))
                return;
            if (c.reply == RunningInstanceCase::Bytes)
                client->write(c.bytes);
            else if (c.reply == RunningInstanceCase::HangUp)
                client->disconnectFromServer();
        });
    });

    auto second = program.start(folders.environment());
    ASSERT_TRUE(ended(*second)) << program.log().toStdString();
    const QString log = program.log();
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(received, QByteArray("CMD:show;"));
    for (const char* line : {"Application Info: connecting local socket to Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}..",
                             "Application Info: socket connected, this is not the first application instance, sending "
                             "show command..",
                             "Application Info: writing commands CMD:show;",
                             "Application Info: show command written, waiting response.."})
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.toStdString();
    for (const char* line : c.logged)
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.toStdString();
    for (const char* line : c.notLogged)
        EXPECT_FALSE(log.contains(line)) << line << "\n" << log.toStdString();
    EXPECT_FALSE(log.contains("mainwindow show!"));
    // It made no browser: the page engine's profile, its cache and its files below the home folder
    // do not exist.
    EXPECT_TRUE(folders.engineFiles().isEmpty()) << folders.engineFiles().join(", ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    RunningInstances, SecondStartAgainst,
    ::testing::Values(
        RunningInstanceCase{"NeverAnswers",
                            RunningInstanceCase::Nothing,
                            "",
                            {"Application Error: no response to the show command in 5 seconds, quiting.."},
                            {kFalseDisconnect, "show command response received"}},
        RunningInstanceCase{"AnswersWithMoreThanTheReply",
                            RunningInstanceCase::Bytes,
                            "hello;RES:4242;RES:4242;",
                            {"Application Info: show command response received, pid = 4242, activating and quiting.."},
                            {kFalseDisconnect, "no response"}},
        RunningInstanceCase{"HangsUp",
                            RunningInstanceCase::HangUp,
                            "",
                            // The connection breaks: an error (1, the peer closed it), then the end.
                            {"Application Error: could not write show command, error 1, quiting..", kFalseDisconnect},
                            {"show command response received", "no response"}}), test_support::RowName());

// Many starts at the same moment: one of them becomes the running instance.
TEST(SecondStart, SimultaneousStartsLeaveOneRunningInstance)
{
    const int kStarts = 5;
    OwnFolders folders;
    ASSERT_TRUE(folders.ok());
    std::vector<std::unique_ptr<ProgramFolder>> programs;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < kStarts; ++i) {
        programs.push_back(std::make_unique<ProgramFolder>());
        ASSERT_TRUE(programs.back()->ok());
    }
    // The decision to become the running instance waits while the test holds it: once every start
    // is on its way there, they all contend for it at once.
    QLockFile decision(folders.serverAddress() + ".lock");
    ASSERT_TRUE(decision.lock());
    for (int i = 0; i < kStarts; ++i)
        processes.push_back(programs[size_t(i)]->start(folders.environment()));
    EXPECT_TRUE(waitFor([&] {
        for (auto& program : programs)
            if (!program->log().contains("Application Info: connecting local socket to "))
                return false;
        return true;
    }, kRunMs));
    decision.unlock();
    auto running = [&] {
        int n = 0;
        for (auto& p : processes)
            n += p->state() != QProcess::NotRunning;
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return running() <= 1; }, kRunMs));
    ASSERT_EQ(running(), 1);

    QProcess* first = nullptr;
    int firsts = 0;
    for (int i = 0; i < kStarts; ++i) {
        const QString log = programs[size_t(i)]->log();
        if (log.contains("starting server and app.."))
            ++firsts;
        if (processes[size_t(i)]->state() != QProcess::NotRunning)
            first = processes[size_t(i)].get();
    }
    EXPECT_EQ(firsts, 1);
    ASSERT_TRUE(first);
    for (int i = 0; i < kStarts; ++i) {
        QProcess* p = processes[size_t(i)].get();
        if (p == first)
            continue;
        const QString log = programs[size_t(i)]->log();
        EXPECT_EQ(p->exitCode(), 0) << log.toStdString();
        // Each one asked the running instance; on a loaded machine the answer may come too late.
        EXPECT_TRUE(log.contains(pidLine(first->processId())) || log.contains("no response to the show command"))
            << log.toStdString();
    }
    stop(*first);
}

// Without a runtime folder and with a temporary folder too long for a socket's address, the guard
// still holds: the server lies in the home folder, and a second start finds the first.
TEST(SecondStart, FindsTheFirstWithoutARuntimeFolderAndWithALongTemporaryFolder)
{
    OwnFolders folders;
    ASSERT_TRUE(folders.ok());
    const QString longTemp = folders.path("tmp/" + QString(100, 't'));
    ASSERT_TRUE(QDir().mkpath(longTemp));
    QProcessEnvironment env = folders.environment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", longTemp);
    const QString socketName = instanceSocketName(kServerName);
    const QString address =
        instanceFolderIn({QString(), longTemp, folders.path("home"), QString()}, socketName) + "/" + socketName;
    ASSERT_TRUE(address.startsWith(folders.path("home") + "/")) << address.toStdString();

    ProgramFolder firstFolder, secondFolder;
    ASSERT_TRUE(firstFolder.ok() && secondFolder.ok());
    auto first = firstFolder.start(env);
    ASSERT_TRUE(waitFor([&] { return firstFolder.log().contains("mainwindow show!"); }, kRunMs))
        << firstFolder.log().toStdString();
    EXPECT_FALSE(firstFolder.log().contains("no private folder")) << firstFolder.log().toStdString();
    auto second = secondFolder.start(env);
    ASSERT_TRUE(ended(*second)) << secondFolder.log().toStdString();
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(secondFolder.log().contains(pidLine(first->processId()))) << secondFolder.log().toStdString();
    EXPECT_FALSE(secondFolder.log().contains("mainwindow show!"));
    stop(*first);
}

// An instance that was killed leaves its server's file behind; the next start is not kept from
// becoming the running instance.
TEST(SecondStart, AServerFileLeftBehindDoesNotKeepTheNextStartFromRunning)
{
    OwnFolders folders;
    ASSERT_TRUE(folders.ok());
    ProgramFolder program;
    ASSERT_TRUE(program.ok());
    const QString address = folders.serverAddress();
    {
        // Bound and never listened on, closed without removing the file.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(address);
        ASSERT_LT(size_t(name.size()), sizeof addr.sun_path);
        std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
        ASSERT_TRUE(QFileInfo::exists(address));
    }

    auto process = program.start(folders.environment());
    // It answers on the same address, with its own process id.
    QByteArray answer;
    const QByteArray expected = "RES:" + QByteArray::number(process->processId()) + ";";
    EXPECT_TRUE(waitFor([&] {
        QLocalSocket probe;
        probe.connectToServer(address);
        if (!probe.waitForConnected(1000))
            return process->state() == QProcess::NotRunning;
        probe.write("CMD:hide;");
        probe.flush();
        answer.clear();
        while (!answer.endsWith(';') && probe.waitForReadyRead(5000))
            answer += probe.readAll();
        return true;
    }, kRunMs));
    EXPECT_EQ(answer, expected) << program.log().toStdString();
    EXPECT_TRUE(program.log().contains("Application Info: socket connect error 0, starting server and app.."))
        << program.log().toStdString();
    stop(*process);
}

// Nothing answers, and the address cannot be listened on (a folder holds it): the start ends
// without a window instead of running unguarded.
TEST(SecondStart, AnAddressThatCannotBeListenedOnEndsTheStart)
{
    OwnFolders folders;
    ASSERT_TRUE(folders.ok());
    ProgramFolder program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(QDir().mkpath(folders.serverAddress() + "/taken"));
    auto process = program.start(folders.environment());
    ASSERT_TRUE(ended(*process)) << program.log().toStdString();
    const QString log = program.log();
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_TRUE(log.contains("Application Error: failed to start listening to "
                             "Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3} server, error "))
        << log.toStdString();
    EXPECT_FALSE(log.contains("mainwindow show!"));
    EXPECT_TRUE(QFileInfo(folders.serverAddress() + "/taken").isDir());
}

} // namespace
