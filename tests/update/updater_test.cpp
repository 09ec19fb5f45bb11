// The updater launch: the arguments as one Windows command line and back through the shell layer to
// a stand-in program, the shell's results and the failure log of the launch at exit.
#include "row_name.h"
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

using test_support::RowName;
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

struct Quoting {
    const char* name;
    QStringList items;
    const char* line;
};

void PrintTo(const Quoting& row, std::ostream* os) { *os << row.name; }

class CommandLine : public ::testing::TestWithParam<Quoting> {};

TEST_P(CommandLine, ItemsAreQuotedOnlyWhereTheRulesNeedIt)
{
    EXPECT_EQ(windowsCommandLine(GetParam().items), QString::fromUtf8(GetParam().line)) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Items, CommandLine,
    ::testing::Values(Quoting{"Plain", {"--update=TarquilMervane", "--version="}, "--update=TarquilMervane --version="},
        Quoting{"Blank", {"a b"}, "\"a b\""},
        Quoting{"Empty", {""}, "\"\""},
        Quoting{"TrailingBackslash", {"a\\"}, "a\\"}, // no quotes, so the backslash stays single
        Quoting{"TrailingBackslashInQuotes", {"a b\\"}, "\"a b\\\\\""},
        Quoting{"Quote", {"a\"b"}, "\"a\\\"b\""},
        Quoting{"BackslashBeforeAQuote", {"a\\\"b"}, "\"a\\\\\\\"b\""},
        Quoting{"Tab", {"a\tb"}, "\"a\tb\""},
        Quoting{"SharePath", {"\\\\server\\share"}, "\\\\server\\share"}),
    RowName());

struct Arguments {
    const char* name;
    QStringList items;
};

void PrintTo(const Arguments& row, std::ostream* os) { *os << row.name; }

class ArgumentsThroughTheShell : public LaunchTest, public ::testing::WithParamInterface<Arguments> {};

TEST_P(ArgumentsThroughTheShell, ArriveWhole)
{
    const QStringList& items = GetParam().items;
    QTemporaryDir work;
    setAppDirPath(work.path() + "/");
    EXPECT_GT(launchUpdater(items), 32);
    const StubRun run = waitForStubRun(work.path());
    ASSERT_TRUE(run.ran) << windowsCommandLine(items).toStdString();
    EXPECT_EQ(run.arguments, items) << windowsCommandLine(items).toStdString();
    EXPECT_EQ(run.workingFolder, work.path());
}

INSTANTIATE_TEST_SUITE_P(LaunchTest, ArgumentsThroughTheShell,
    ::testing::Values(Arguments{"Plain", {"plain"}},
        Arguments{"Blanks", {"with blank", "two  blanks"}},
        Arguments{"Tab", {"tab\there"}},
        Arguments{"Quotes", {"quote\"inside", "\"quoted\""}},
        Arguments{"TrailingBackslashes", {"trailing\\", "trailing blank \\", "two\\\\"}},
        Arguments{"BackslashesBeforeQuotes", {"back\\\"quote", "back\\\\\"quote", "\\\"lead"}},
        Arguments{"EmptyOnes", {"", "a", "", ""}},
        Arguments{"LineBreak", {"new\nline"}},
        Arguments{"NonAscii", {"ünï €", "中文"}},
        Arguments{"SharePathWithABlank", {"\\\\server\\share\\dir with blank\\"}},
        Arguments{"TheUpdatersOwn",
                  {"--update=TarquilMervane", "--down=http://h/a b.zip", "--deployment=x \"y\" --evil", "--version=",
                   "--SilentUpgrade"}}),
    RowName());

struct Splitting {
    const char* name;
    const char* parameters;
    QStringList arguments;
};

void PrintTo(const Splitting& row, std::ostream* os) { *os << row.name; }

class ShellParameters : public LaunchTest, public ::testing::WithParamInterface<Splitting> {};

TEST_P(ShellParameters, SplitByTheWindowsRules)
{
    const Splitting& c = GetParam();
    QTemporaryDir work;
    const QString file = updaterProgramPath();
    const INT_PTR r = reinterpret_cast<INT_PTR>(
        ShellExecuteW(0, nullptr, wide(file), wide(QString::fromUtf8(c.parameters)), wide(work.path()), SW_SHOWNORMAL));
    EXPECT_GT(r, 32) << c.parameters;
    const StubRun run = waitForStubRun(work.path());
    ASSERT_TRUE(run.ran) << c.parameters;
    EXPECT_EQ(run.arguments, c.arguments) << c.parameters;
}

INSTANTIATE_TEST_SUITE_P(LaunchTest, ShellParameters,
    ::testing::Values(Splitting{"BlankAndTab", "a b\tc", {"a", "b", "c"}},
        Splitting{"RunsOfBlanks", "  a   b  ", {"a", "b"}},
        Splitting{"None", "", {}},
        Splitting{"QuotedBlank", "\"a b\" c", {"a b", "c"}},
        Splitting{"QuotesInsideAnArgument", "a\"b c\"d", {"ab cd"}},
        Splitting{"Backslash", "a\\b", {"a\\b"}},
        Splitting{"TwoBackslashes", "a\\\\b", {"a\\\\b"}},
        Splitting{"EscapedQuote", "a\\\"b", {"a\"b"}},
        Splitting{"EscapedBackslashBeforeAQuote", "a\\\\\"b c\"", {"a\\b c"}},
        Splitting{"EscapedBackslashAndQuote", "a\\\\\\\"b", {"a\\\"b"}},
        Splitting{"EmptyQuotes", "\"\"", {""}},
        Splitting{"DoubledQuoteInQuotes", "\"a\"\"b\"", {"a\"b"}},
        Splitting{"UnclosedQuote", "\"unclosed b", {"unclosed b"}},
        Splitting{"EmptyQuotesBetween", "x \"\" y", {"x", "", "y"}}),
    RowName());

// A launch through the shell and its result. "{updater}", "{program}" and "{work}" in the file and
// the folder stand for the updater, the program folder and the launch's working folder.
struct ShellCall {
    const char* name;
    const char* verb; // null: the default
    const char* file;
    const char* dir; // "": none
    INT_PTR result;
};

void PrintTo(const ShellCall& row, std::ostream* os) { *os << row.name; }

class ShellResults : public LaunchTest, public ::testing::WithParamInterface<ShellCall> {};

TEST_P(ShellResults, OfTheLaunch)
{
    const ShellCall& c = GetParam();
    QTemporaryDir work;
    ASSERT_TRUE(test_support::writeFile(program.path() + "/text", "not a program"));
    ASSERT_TRUE(test_support::writeFile(program.path() + "/broken", "#!/no/such/interpreter\n"));
    QFile::setPermissions(program.path() + "/broken", QFile::ReadOwner | QFile::ExeOwner);
    const auto expand = [&](const char* text) {
        return QString(text).replace("{updater}", updaterProgramPath()).replace("{program}", program.path())
            .replace("{work}", work.path());
    };
    const QString verb = c.verb ? QString(c.verb) : QString();
    const QString file = expand(c.file), dir = expand(c.dir);
    const INT_PTR r = reinterpret_cast<INT_PTR>(ShellExecuteW(0, c.verb ? wide(verb) : nullptr, wide(file), wide("x"),
                                                              dir.isEmpty() ? nullptr : wide(dir), SW_SHOWNORMAL));
    EXPECT_EQ(r, c.result) << (c.verb ? c.verb : "") << " " << file.toStdString();
    if (r == 42) {
        EXPECT_TRUE(waitForStubRun(work.path()).ran);
    }
}

INSTANTIATE_TEST_SUITE_P(LaunchTest, ShellResults,
    ::testing::Values(ShellCall{"Open", "open", "{updater}", "{work}", 42},
        ShellCall{"OpenInUpperCase", "OPEN", "{updater}", "{work}", 42},
        ShellCall{"RunAs", "runas", "{updater}", "{work}", SE_ERR_ACCESSDENIED},
        ShellCall{"Print", "print", "{updater}", "{work}", SE_ERR_NOASSOC},
        ShellCall{"MissingFile", nullptr, "{program}/none", "{work}", SE_ERR_FNF},
        ShellCall{"NoFile", nullptr, "", "{work}", SE_ERR_FNF},
        ShellCall{"MissingFolder", nullptr, "{updater}", "{work}/none", SE_ERR_PNF},
        ShellCall{"NotAProgram", nullptr, "{program}/text", "{work}", SE_ERR_ACCESSDENIED},
        ShellCall{"AFolder", nullptr, "{program}", "{work}", SE_ERR_ACCESSDENIED},
        ShellCall{"BrokenInterpreter", nullptr, "{program}/broken", "{work}", ERROR_BAD_FORMAT}),
    RowName());

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
