// The crash-dump set-up: every crash happens in a child process (core dumps off) whose dumps go
// to a temporary folder and whose reporter is a script that records how it was started.
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "app/breakpad_qt.h"

#include "crashdump_control/handlers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using test_support::waitFor;

// A dump as its format describes it.
struct Dump {
    int signal = -1;
    int code = 0;
    quint64 address = 0;
    qint64 process = 0;
    qint64 thread = 0;
    quint64 pc = 0;
    QList<quint64> frames;
};

// Reads a dump strictly: every line in its place, the end line last.
bool parseDump(const QByteArray& bytes, Dump* dump)
{
    const QList<QByteArray> lines = bytes.split('\n');
    int i = 0;
    auto next = [&]() -> QByteArray { return i < lines.size() ? lines[i++] : QByteArray(); };
    auto value = [&](const char* key, bool* ok) -> QByteArray {
        const QByteArray line = next();
        const QByteArray prefix = QByteArray(key) + ' ';
        *ok = *ok && line.startsWith(prefix);
        return line.mid(prefix.size());
    };
    auto address = [](const QByteArray& text, bool* ok) {
        *ok = *ok && text.size() == 2 + 2 * int(sizeof(void*)) && text.startsWith("0x");
        bool parsed = false;
        const quint64 v = text.mid(2).toULongLong(&parsed, 16);
        *ok = *ok && parsed;
        return v;
    };
    bool ok = next() == "crash-dump 1";
    bool n = true;
    dump->signal = value("signal", &ok).toInt(&n);
    ok = ok && n;
    dump->code = value("code", &ok).toInt(&n);
    ok = ok && n;
    dump->address = address(value("address", &ok), &ok);
    dump->process = value("process", &ok).toLongLong(&n);
    ok = ok && n;
    dump->thread = value("thread", &ok).toLongLong(&n);
    ok = ok && n;
    dump->pc = address(value("pc", &ok), &ok);
    const int frames = value("frames", &ok).toInt(&n);
    ok = ok && n && frames >= 0 && frames <= 64;
    for (int f = 0; ok && f < frames; ++f)
        dump->frames << address(next(), &ok);
    return ok && next() == "end" && next().isEmpty() && i == lines.size();
}

void coreDumpsOff()
{
    const struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

volatile uintptr_t g_badAddress = 16;

void segfault() { *reinterpret_cast<volatile int*>(g_badAddress) = 1; }

class CrashDumps : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        ASSERT_TRUE(root.isValid());
        dumps = root.filePath("dumps");
        ASSERT_TRUE(QDir().mkpath(dumps));
        // A folder and a name with spaces: started as one program with one argument.
        reporter = root.filePath("crash reporter/report er");
        recorded = root.filePath("crash reporter/args");
        ASSERT_TRUE(writeReporter(reporter));
    }

    // A reporter that writes the number of its arguments and each argument, one a line.
    static bool writeReporter(const QString& path)
    {
        const QString out = QFileInfo(path).path() + "/args";
        const QByteArray script = "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > '"
            + QFile::encodeName(out) + ".part' && mv '" + QFile::encodeName(out) + ".part' '"
            + QFile::encodeName(out) + "'\n";
        return test_support::writeFile(path, script)
            && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The dumps in the folder; every file there must be one.
    QStringList dumpFiles(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    // The one dump in the folder, read.
    void expectOneDump(const QString& folder, int signal, Dump* dump = nullptr) const
    {
        const QStringList files = dumpFiles(folder);
        ASSERT_EQ(files.size(), 1) << files.join(", ").toStdString();
        EXPECT_TRUE(QRegularExpression("^[0-9a-f-]{36}\\.dmp$").match(files[0]).hasMatch()) << files[0].toStdString();
        Dump parsed;
        const QByteArray bytes = test_support::readFile(folder + "/" + files[0]);
        ASSERT_TRUE(parseDump(bytes, &parsed)) << bytes.constData();
        EXPECT_EQ(parsed.signal, signal);
        EXPECT_GT(parsed.process, 0);
        EXPECT_GT(parsed.thread, 0);
        EXPECT_FALSE(parsed.frames.isEmpty());
        if (dump)
            *dump = parsed;
    }

    // What the reporter was started with, once it has written it.
    QStringList reporterArguments() const
    {
        waitFor([&] { return QFileInfo::exists(recorded); }, 20000);
        QStringList lines = QString::fromUtf8(test_support::readFile(recorded)).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir root;
    QString dumps, reporter, recorded;
};

// In a child process: the crash handler for the dumps folder with the reporter, then the crash.
void crashWith(const QString& dumps, const QString& reporter, const std::function<void()>& crash)
{
    coreDumpsOff();
    BreakpadQt::instance()->setDumpPath(dumps);
    if (!reporter.isEmpty())
        BreakpadQt::instance()->setReporter(reporter);
    crash();
    std::_Exit(3); // the crash did not end the process
}

struct CrashCase {
    const char* name;
    int signal;
    void (*crash)();
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.name; }

class CrashSignals : public CrashDumps, public ::testing::WithParamInterface<CrashCase> {
};

TEST_P(CrashSignals, LeaveOneDumpAndStartTheReporterWithItsPath)
{
    const CrashCase& c = GetParam();
    EXPECT_EXIT(crashWith(dumps, reporter, c.crash), ::testing::KilledBySignal(c.signal), "");
    Dump dump;
    expectOneDump(dumps, c.signal, &dump);
    // The reporter: one argument, the dump's absolute path.
    const QStringList args = reporterArguments();
    ASSERT_EQ(args.size(), 2) << args.join("|").toStdString();
    EXPECT_EQ(args[0], "1");
    EXPECT_EQ(args[1], dumps + "/" + dumpFiles(dumps).value(0));
    if (c.signal == SIGSEGV) {
        EXPECT_EQ(dump.address, quint64(g_badAddress));
        EXPECT_EQ(dump.code, SEGV_MAPERR);
    }
    // The process's one thread crashed: its id is the process id.
    EXPECT_EQ(dump.thread, dump.process);
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashSignals,
    ::testing::Values(CrashCase{"SegmentationFault", SIGSEGV, segfault}, CrashCase{"Abort", SIGABRT, [] { std::abort(); }},
                      CrashCase{"SentBusError", SIGBUS, [] { raise(SIGBUS); }},
                      CrashCase{"SentIllegalInstruction", SIGILL, [] { raise(SIGILL); }},
                      CrashCase{"SentArithmeticError", SIGFPE, [] { raise(SIGFPE); }}), test_support::RowName());

TEST_F(CrashDumps, TwoThreadsCrashingAtOnceLeaveOneDump)
{
    auto twoThreads = [] {
        std::atomic<int> ready{0};
        auto crashTogether = [&] {
            ++ready;
            while (ready.load() < 2) {
            }
            segfault();
        };
        std::thread a(crashTogether), b(crashTogether);
        a.join();
        b.join();
    };
    EXPECT_EXIT(crashWith(dumps, reporter, twoThreads), ::testing::KilledBySignal(SIGSEGV), "");
    Dump dump;
    expectOneDump(dumps, SIGSEGV, &dump);
    EXPECT_NE(dump.thread, dump.process); // one of the two threads, not the main one
    EXPECT_EQ(reporterArguments().value(0), "1");
}

TEST_F(CrashDumps, AMissingReporterIsReportedAndTheDumpStays)
{
    EXPECT_EXIT(crashWith(dumps, root.filePath("no such reporter"), segfault), ::testing::KilledBySignal(SIGSEGV),
                "CreateProcess failed \\(2\\)\\.");
    expectOneDump(dumps, SIGSEGV);
}

// The Qt debug lines of a child process, kept for it to check.
QStringList g_debugLines;

void keepDebugLines()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        g_debugLines << text;
        std::fprintf(stderr, "[%s]\n", qPrintable(text));
    });
}

// A "CrashReporter" in the working folder is never what runs: the name means the program folder's.
TEST_F(CrashDumps, TheReporterNameIsLookedUpInTheProgramFolderOnly)
{
    const QString planted = root.filePath("cwd/CrashReporter");
    ASSERT_TRUE(writeReporter(planted));
    const QString expected = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/CrashReporter.exe");
    ASSERT_FALSE(QFileInfo::exists(expected));
    EXPECT_EXIT(
        {
            QDir::setCurrent(QFileInfo(planted).path());
            keepDebugLines();
            coreDumpsOff();
            BreakpadQt::instance()->setDumpPath(dumps);
            if (g_debugLines != QStringList{"BreakpadQt: setReporter: CrashReporter -> " + expected})
                std::_Exit(4);
            // An absolute path is taken as it is, without a line.
            BreakpadQt::instance()->setReporter(reporter);
            BreakpadQt::instance()->setReporter("CrashReporter");
            if (g_debugLines.size() != 2)
                std::_Exit(5);
            segfault();
        },
        ::testing::KilledBySignal(SIGSEGV), "CreateProcess failed \\(2\\)\\.");
    expectOneDump(dumps, SIGSEGV);
    EXPECT_FALSE(QFileInfo::exists(root.filePath("cwd/args")));
    EXPECT_FALSE(QFileInfo::exists(recorded));
}

TEST_F(CrashDumps, ASecondDumpFolderIsIgnored)
{
    const QString later = root.filePath("later");
    ASSERT_TRUE(QDir().mkpath(later));
    EXPECT_EXIT(
        {
            coreDumpsOff();
            BreakpadQt::instance()->setDumpPath(dumps);
            BreakpadQt::instance()->setReporter(reporter);
            BreakpadQt::instance()->setDumpPath(later);
            if (BreakpadQt::instance()->dumpPath() != dumps)
                std::_Exit(4);
            // The second call set the reporter back to the program folder's: no one is started.
            segfault();
        },
        ::testing::KilledBySignal(SIGSEGV), "CreateProcess failed \\(2\\)\\.");
    expectOneDump(dumps, SIGSEGV);
    EXPECT_TRUE(dumpFiles(later).isEmpty());
}

TEST_F(CrashDumps, ADumpOnRequestLeavesTheProcessRunning)
{
    EXPECT_EXIT(
        {
            coreDumpsOff();
            keepDebugLines();
            BreakpadQt::instance()->setDumpPath(dumps);
            BreakpadQt::instance()->setReporter(reporter);
            std::_Exit(BreakpadQt::instance()->writeMinidump() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "\\[BreakpadQt: writeMinidump\\(\\) successed\\.\\]");
    expectOneDump(dumps, 0);
    EXPECT_EQ(reporterArguments().value(1), dumps + "/" + dumpFiles(dumps).value(0));
    // Without a handler there is nothing to write with.
    EXPECT_EXIT(
        {
            keepDebugLines();
            std::_Exit(BreakpadQt::instance()->writeMinidump() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "\\[BreakpadQt: writeMinidump\\(\\) failed\\.\\]");
}

TEST_F(CrashDumps, EachDumpOnRequestHasAFileOfItsOwn)
{
    EXPECT_EXIT(
        {
            coreDumpsOff();
            BreakpadQt::instance()->setDumpPath(dumps);
            BreakpadQt::instance()->setReporter(reporter);
            const bool first = BreakpadQt::instance()->writeMinidump();
            const bool second = BreakpadQt::instance()->writeMinidump();
            std::_Exit(first && second ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    const QStringList files = dumpFiles(dumps);
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(QRegularExpression("^[0-9a-f-]{36}\\.dmp$").match(name).hasMatch());
        Dump dump;
        ASSERT_TRUE(parseDump(test_support::readFile(dumps + "/" + name), &dump));
        EXPECT_EQ(dump.signal, 0);
    }
}

// A crash that is not handled goes to the handler that was there before.
void previousHandler(int) { std::_Exit(42); }

void installPreviousHandler()
{
    struct sigaction action {};
    action.sa_handler = previousHandler;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        sigaction(sig, &action, nullptr);
}

TEST_F(CrashDumps, TheExitFlagHandsAnUnwrittenDumpToThePreviousHandler)
{
    const QString missing = root.filePath("missing");
    const struct {
        bool exitFlag;
        QString folder;
        bool toPrevious;
    } cases[] = {
        {false, missing, false}, // handled whatever happened to the dump
        {true, missing, true},
        {true, dumps, false},
    };
    for (const auto& c : cases) {
        auto run = [&] {
            coreDumpsOff();
            installPreviousHandler();
            BreakpadQt::instance()->setReporterExitFlag(c.exitFlag);
            crashWith(c.folder, reporter, segfault);
        };
        if (c.toPrevious)
            EXPECT_EXIT(run(), ::testing::ExitedWithCode(42), "") << c.exitFlag;
        else
            EXPECT_EXIT(run(), ::testing::KilledBySignal(SIGSEGV), "") << c.exitFlag;
    }
}

TEST_F(CrashDumps, DestroyingTheInstancePutsThePreviousHandlersBack)
{
    EXPECT_EXIT(
        {
            coreDumpsOff();
            installPreviousHandler();
            BreakpadQt::instance()->setDumpPath(dumps);
            if (!crashdump_control::handlersInPlace())
                std::_Exit(4);
            BreakpadQt::destroyInstance();
            if (crashdump_control::handlersInPlace())
                std::_Exit(5);
            segfault();
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_TRUE(dumpFiles(dumps).isEmpty());
}

} // namespace
