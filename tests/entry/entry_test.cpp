// The program's entry: the runtime's settings, the sub-process switch, the order of start and
// shut-down, the updater hand-off and a runtime that does not start.
#include "app/application.h"
#include "app/program_entry.h"
#include "app/pswindow.h"
#include "cefclient/client_handler.h"
#include "update/updater.h"

#include "cef_extras/closure_task.h"
#include "cef_extras/logging.h"
#include "cef_test/cef_test_host.h"
#include "own_process.h"
#include "row_name.h"
#include "test_files.h"

#include "include/cef_app.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string text(const cef_string_t& s) { return CefString(&s).ToString(); }

bool runtimeRunning() { return cef_extras::PostTask(TID_UI, [] {}); }

// An application that runs its event loop where none should run ends it after a generous bound,
// with a code no test expects.
bool g_boundEventLoops = false;
void boundEventLoop()
{
    if (g_boundEventLoops)
        QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
}
Q_COREAPP_STARTUP_FUNCTION(boundEventLoop)

struct Language {
    const char* name;
    unsigned short langId;
    const char* locale;
};

void PrintTo(const Language& row, std::ostream* os) { *os << row.name; }

class RuntimeLocale : public ::testing::TestWithParam<Language> {};

TEST_P(RuntimeLocale, FromTheLanguage)
{
    EXPECT_EQ(text(runtimeSettings(GetParam().langId, "/tmp/x").locale), GetParam().locale)
        << std::hex << GetParam().langId;
}

INSTANTIATE_TEST_SUITE_P(RuntimeSettings, RuntimeLocale,
    ::testing::Values(Language{"EnglishUnitedStates", 0x0409, "en"}, Language{"EnglishUnitedKingdom", 0x0809, "en"},
        Language{"EnglishAustralia", 0x0C09, "en"}, Language{"ChineseSimplified", 0x0804, "zh"},
        Language{"ChineseTraditional", 0x0404, "zh"}, Language{"German", 0x0407, "zh"},
        Language{"Neutral", 0x0000, "zh"}, Language{"EnglishWithAnUnknownRegion", 0x0908, "zh"}),
    test_support::RowName());

TEST(RuntimeSettings, CacheInThePrivateFolderAndTheProgramsOwnValues)
{
    const CefSettings s = runtimeSettings(0x0409, "/tmp/tarquilmervane-1000");
    EXPECT_EQ(text(s.cache_path), "/tmp/tarquilmervane-1000/Cache");
    EXPECT_EQ(text(s.user_agent), "TarquilMervane");
    EXPECT_EQ(text(s.product_version), "2.1");
    EXPECT_EQ(text(s.log_file), "app.log");
    EXPECT_EQ(s.background_color, 0xFF222529u);
    EXPECT_EQ(std::vector<int>({s.no_sandbox, s.multi_threaded_message_loop, s.persist_session_cookies}),
              std::vector<int>({1, 1, 1}));
    // Everything else keeps its zero default.
    EXPECT_EQ(std::vector<int>({s.single_process, s.windowless_rendering_enabled, s.command_line_args_disabled,
                                s.log_severity, s.pack_loading_disabled, s.remote_debugging_port,
                                s.uncaught_exception_stack_size, s.context_safety_implementation,
                                s.ignore_certificate_errors}),
              std::vector<int>(9, 0));
    for (const cef_string_t* empty : {&s.browser_subprocess_path, &s.javascript_flags, &s.resources_dir_path,
                                      &s.locales_dir_path, &s.accept_language_list})
        EXPECT_EQ(text(*empty), "");
}

// Steps that record what the entry asked for.
struct Recorder {
    std::vector<std::string> calls;
    int exitCode = 0;
    bool askForUpdater = false;
    bool runtimeRunningAtUpdater = false;

    ProgramSteps steps()
    {
        ProgramSteps s;
        s.installBackend = [this] { calls.push_back(runtimeRunning() ? "backend after start" : "backend"); };
        s.runApplication = [this](int&, char**, int code) {
            calls.push_back("application(" + std::to_string(code) + ")");
            EXPECT_TRUE(runtimeRunning());
            EXPECT_TRUE(g_handler);
            if (askForUpdater)
                g_runUpdaterOnExit = 1;
            return exitCode;
        };
        s.execUpdater = [this] {
            calls.push_back("updater");
            runtimeRunningAtUpdater = runtimeRunning();
        };
        return s;
    }
};

class EntryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        g_handler = nullptr;
        g_runUpdaterOnExit = 0;
    }
    int run(std::vector<std::string> args)
    {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        return programMain(int(args.size()), argv.data(), recorder.steps());
    }
    Recorder recorder;
};

TEST_F(EntryTest, ARuntimeSubProcessReturnsBeforeAnythingIsMade)
{
    cef_test::TestHost host;
    EXPECT_EQ(run({"Brontivex", "--type=renderer"}), 0);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(QCoreApplication::instance());
    EXPECT_FALSE(g_handler);
    EXPECT_FALSE(runtimeRunning());
}

TEST_F(EntryTest, TheBrowserProcessStartsRunsAndShutsDownInOrder)
{
    const struct {
        bool updater;
        int exitCode;
        std::vector<std::string> calls;
    } cases[] = {
        {false, 0, {"backend", "application(-1)"}},
        {true, 3, {"backend", "application(-1)", "updater"}},
    };
    for (const auto& c : cases) {
        cef_test::TestHost host;
        recorder = Recorder();
        recorder.askForUpdater = c.updater;
        recorder.exitCode = c.exitCode;
        EXPECT_EQ(run({"Brontivex"}), c.exitCode);
        EXPECT_EQ(recorder.calls, c.calls);
        // The updater starts only once the runtime has shut down.
        EXPECT_FALSE(recorder.runtimeRunningAtUpdater);
        EXPECT_FALSE(runtimeRunning());
        // The one handler serves the program's scheme and stays until the process ends.
        ASSERT_TRUE(g_handler);
        EXPECT_EQ(host.RegisteredSchemes(), (std::vector<std::pair<std::string, std::string>>{{"velmora", "settings"}}));
        g_handler = nullptr;
        g_runUpdaterOnExit = 0;
    }
}

TEST_F(EntryTest, ARuntimeThatDoesNotStartIsLoggedAndTheProgramGoesOn)
{
    cef_test::TestHost host;
    ASSERT_TRUE(cef_test::StartRuntime()); // a runtime that is already running refuses to start again
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath("app.log");
    cef_logging::SetLogDestination(log.toStdString(), LOGSEVERITY_INFO);
    EXPECT_EQ(run({"Brontivex"}), 0);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"backend after start", "application(-1)"}));
    const QByteArray written = test_support::readFile(log);
    EXPECT_TRUE(written.contains(":ERROR:")) << written.constData();
    EXPECT_TRUE(written.contains("runtime did not start")) << written.constData();
    cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
}

// A quit asked for before the application runs: no init and no event loop, and the code passed in
// is the answer.
TEST(RunApplication, AQuitAskedForEarlierSkipsInitAndTheEventLoop)
{
    // A process quits once.
    if (test_support::ranInOwnProcess())
        return;
    setQuitRequested();
    g_boundEventLoops = true;
    int argc = 1;
    char name[] = "Brontivex";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(runApplication(argc, argv, -5), -5);
    EXPECT_TRUE(exeDirPath().isEmpty()); // init sets it
    EXPECT_FALSE(QCoreApplication::instance());
    g_boundEventLoops = false;
}

} // namespace
