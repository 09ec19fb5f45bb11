// The updater launch: the arguments as one Windows command line and back through the shell layer to
// a stand-in program, the shell's results and the failure log of the launch at exit.
#include "stub_program.h"
#include "test_app.h"
#include "test_files.h"

#include "app/application.h"
#include "update/updater.h"

#include "cef_extras/logging.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using test_support::StubRun;
using test_support::waitForStubRun;

const WCHAR* wide(const QString& s) { return reinterpret_cast<const WCHAR*>(s.utf16()); }

// A program folder holding the stand-in "Updater", and a working folder per launch.
class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication::get();
        oldExe = exeDirPath();
        oldApp = appDirPath();
        exeDirPath() = program.path() + "/";
        ASSERT_TRUE(test_support::writeStubProgram(program.path() + "/Updater"));
    }
    void TearDown() override
    {
        exeDirPath() = oldExe;
        setAppDirPath(oldApp);
        elevateUpdater() = false;
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    }
    QString logText() const { return QString::fromUtf8(test_support::readFile(log.path() + "/app.log")); }
    void logToFile() { cef_logging::SetLogDestination((log.path() + "/app.log").toStdString(), LOGSEVERITY_INFO); }

    QTemporaryDir program, log;
    QString oldExe, oldApp;
};

TEST(CommandLine, ItemsAreQuotedOnlyWhereTheRulesNeedIt)
{
    const struct {
        QStringList items;
        const char* line;
    } cases[] = {
        {{"--update=TarquilMervane", "--version="}, "--update=TarquilMervane --version="},
        {{"a b"}, "\"a b\""},
        {{""}, "\"\""},
        {{"a\\"}, "a\\"}, // no quotes, so the backslash stays single
        {{"a b\\"}, "\"a b\\\\\""},
        {{"a\"b"}, "\"a\\\"b\""},
        {{"a\\\"b"}, "\"a\\\\\\\"b\""},
        {{"a\tb"}, "\"a\tb\""},
        {{"\\\\server\\share"}, "\\\\server\\share"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windowsCommandLine(c.items), QString::fromUtf8(c.line)) << c.line;
}

TEST_F(LaunchTest, ArgumentsArriveWholeThroughTheShell)
{
    const QStringList cases[] = {
        {"plain"},
        {"with blank", "two  blanks"},
        {"tab\there"},
        {"quote\"inside", "\"quoted\""},
        {"trailing\\", "trailing blank \\", "two\\\\"},
        {"back\\\"quote", "back\\\\\"quote", "\\\"lead"},
        {"", "a", "", ""},
        {"new\nline"},
        {"ünï €", "中文"},
        {"\\\\server\\share\\dir with blank\\"},
        {"--update=TarquilMervane", "--down=http://h/a b.zip", "--deployment=x \"y\" --evil", "--version=", "--SilentUpgrade"},
    };
    for (const QStringList& items : cases) {
        QTemporaryDir work;
        setAppDirPath(work.path() + "/");
        EXPECT_GT(launchUpdater(items), 32);
        const StubRun run = waitForStubRun(work.path());
        ASSERT_TRUE(run.ran) << windowsCommandLine(items).toStdString();
        EXPECT_EQ(run.arguments, items) << windowsCommandLine(items).toStdString();
        EXPECT_EQ(run.workingFolder, work.path());
    }
}

TEST_F(LaunchTest, TheShellSplitsParametersByTheWindowsRules)
{
    const struct {
        const char* parameters;
        QStringList arguments;
    } cases[] = {
        {"a b\tc", {"a", "b", "c"}},
        {"  a   b  ", {"a", "b"}},
        {"", {}},
        {"\"a b\" c", {"a b", "c"}},
        {"a\"b c\"d", {"ab cd"}},
        {"a\\b", {"a\\b"}},
        {"a\\\\b", {"a\\\\b"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"\"\"", {""}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"unclosed b", {"unclosed b"}},
        {"x \"\" y", {"x", "", "y"}},
    };
    for (const auto& c : cases) {
        QTemporaryDir work;
        const QString file = updaterProgramPath();
        const INT_PTR r = reinterpret_cast<INT_PTR>(
            ShellExecuteW(0, nullptr, wide(file), wide(QString::fromUtf8(c.parameters)), wide(work.path()), SW_SHOWNORMAL));
        EXPECT_GT(r, 32) << c.parameters;
        const StubRun run = waitForStubRun(work.path());
        ASSERT_TRUE(run.ran) << c.parameters;
        EXPECT_EQ(run.arguments, c.arguments) << c.parameters;
    }
}

TEST_F(LaunchTest, ShellResults)
{
    QTemporaryDir work;
    ASSERT_TRUE(test_support::writeFile(program.path() + "/text", "not a program"));
    ASSERT_TRUE(test_support::writeFile(program.path() + "/broken", "#!/no/such/interpreter\n"));
    QFile::setPermissions(program.path() + "/broken", QFile::ReadOwner | QFile::ExeOwner);
    const struct {
        const char* verb;
        QString file;
        QString dir;
        INT_PTR result;
    } cases[] = {
        {"open", updaterProgramPath(), work.path(), 42},
        {"OPEN", updaterProgramPath(), work.path(), 42},
        {"runas", updaterProgramPath(), work.path(), SE_ERR_ACCESSDENIED},
        {"print", updaterProgramPath(), work.path(), SE_ERR_NOASSOC},
        {nullptr, program.path() + "/none", work.path(), SE_ERR_FNF},
        {nullptr, QString(), work.path(), SE_ERR_FNF},
        {nullptr, updaterProgramPath(), work.path() + "/none", SE_ERR_PNF},
        {nullptr, program.path() + "/text", work.path(), SE_ERR_ACCESSDENIED},
        {nullptr, program.path(), work.path(), SE_ERR_ACCESSDENIED},
        {nullptr, program.path() + "/broken", work.path(), ERROR_BAD_FORMAT},
    };
    for (const auto& c : cases) {
        const QString verb = c.verb ? QString(c.verb) : QString();
        const INT_PTR r = reinterpret_cast<INT_PTR>(ShellExecuteW(0, c.verb ? wide(verb) : nullptr, wide(c.file), wide("x"),
                                                                  c.dir.isEmpty() ? nullptr : wide(c.dir), SW_SHOWNORMAL));
        EXPECT_EQ(r, c.result) << (c.verb ? c.verb : "") << " " << c.file.toStdString();
    }
    ASSERT_TRUE(waitForStubRun(work.path()).ran);
}

TEST_F(LaunchTest, TheLaunchAtExitUsesTheArgumentListAndLogsARefusal)
{
    QTemporaryDir work;
    setAppDirPath(work.path() + "/");
    g_updateArgList = QStringList{"--update=TarquilMervane", "--down=a b", "--deployment=", "--version=", "--SilentUpgrade"};
    g_updateArgs = updaterArgumentText(g_updateArgList);
    logToFile();
    psExecUpdater();
    const StubRun run = waitForStubRun(work.path());
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.arguments, g_updateArgList);
    EXPECT_EQ(run.workingFolder, work.path());
    EXPECT_FALSE(logText().contains("Application Error"));

    // A missing updater, and a refused elevation: one line each.
    QFile::remove(program.path() + "/Updater");
    psExecUpdater();
    ASSERT_TRUE(test_support::writeStubProgram(program.path() + "/Updater"));
    elevateUpdater() = true;
    psExecUpdater();
    const QString expected = "Application Error: failed to execute " + program.path() + "/Updater, working directory: '"
                             + work.path() + "/', result: ";
    const QStringList lines = logText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << logText().toStdString();
    EXPECT_TRUE(lines[0].endsWith(expected + "2")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(expected + "5")) << lines[1].toStdString();
}

} // namespace
