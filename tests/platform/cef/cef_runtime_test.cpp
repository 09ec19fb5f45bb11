#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"
#include "include/cef_app.h"
#include "include/cef_command_line.h"
#include "include/cef_cookie.h"
#include "cef_test/cef_test_host.h"

#include <gtest/gtest.h>

#include <memory>

#include <QFile>
#include <QTemporaryDir>

namespace {

std::vector<char*> argvOf(std::vector<std::string>& items)
{
    std::vector<char*> v;
    for (auto& s : items)
        v.push_back(&s[0]);
    v.push_back(nullptr);
    return v;
}

TEST(CefRuntimeTest, ExecuteProcessAnswersSubProcessOnlyWithATypeSwitch)
{
    struct Case {
        std::vector<std::string> argv;
        int expected;
    } cases[] = {
        {{"prog"}, -1},
        {{"prog", "-autostart"}, -1},
        {{"prog", "--type=renderer"}, 0},
        {{"prog", "--type=gpu-process", "--lang=en"}, 0},
    };
    for (auto& c : cases) {
        std::vector<char*> argv = argvOf(c.argv);
        const CefMainArgs args(int(c.argv.size()), argv.data());
        EXPECT_EQ(CefExecuteProcess(args, nullptr, nullptr), c.expected) << c.argv.back();
    }
}

TEST(CefRuntimeTest, InitializeSeedsTheGlobalCommandLineAndRefusesASecondStart)
{
    std::vector<std::string> items{"prog", "--url=velmora://settings/x.html", "--mouse-cursor-change-disabled"};
    std::vector<char*> argv = argvOf(items);
    const CefMainArgs args(int(items.size()), argv.data());
    CefSettings settings;
    ASSERT_TRUE(CefInitialize(args, settings, nullptr, nullptr));
    EXPECT_FALSE(CefInitialize(args, settings, nullptr, nullptr));
    CefRefPtr<CefCommandLine> cl = CefCommandLine::GetGlobalCommandLine();
    EXPECT_EQ(cl->GetSwitchValue("url").ToString(), "velmora://settings/x.html");
    EXPECT_TRUE(cl->HasSwitch("mouse-cursor-change-disabled"));
    CefShutdown();
    CefShutdown(); // harmless twice
}

TEST(CefRuntimeTest, LogFileAndSeverityComeFromTheSettings)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.log");
    CefMainArgs args;
    CefSettings settings;
    CefString(&settings.log_file) = path.toStdString();
    settings.log_severity = LOGSEVERITY_WARNING;
    ASSERT_TRUE(CefInitialize(args, settings, nullptr, nullptr));
    LOG(INFO) << "filtered";
    LOG(WARNING) << "kept";
    CefShutdown();
    cef_logging::SetLogDestination("", LOGSEVERITY_DEFAULT);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_FALSE(text.contains("filtered"));
    EXPECT_TRUE(text.contains(":WARNING:cef_runtime_test.cpp("));
    EXPECT_TRUE(text.contains("kept"));
}

TEST(CefRuntimeTest, CookieManagerKeepsTheSchemes)
{
    CefRefPtr<CefCookieManager> m = CefCookieManager::GetGlobalManager();
    ASSERT_TRUE(m);
    m->SetSupportedSchemes({CefString("http"), CefString("https")});
    const auto schemes = cef_test::SupportedCookieSchemes();
    ASSERT_EQ(schemes.size(), 2u);
    EXPECT_EQ(schemes[1].ToString(), "https");
}

class SchemeApp : public CefApp {
public:
    void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) override
    {
        ++calls;
        registrar->AddCustomScheme("velmora", true, true, false);
    }
    int calls = 0;
    IMPLEMENT_REFCOUNTING(SchemeApp);
};

class RecordingBackend : public cef_test::TestHost {
public:
    void CustomSchemeAdded(const std::string& scheme, bool isStandard, bool, bool) override
    {
        added.push_back(scheme + (isStandard ? ":standard" : ""));
    }
    std::vector<std::string> added;
};

TEST(CefRuntimeTest, CustomSchemesAreRegisteredOnceAtInitialize)
{
    RecordingBackend backend;
    CefRefPtr<SchemeApp> app = new SchemeApp;
    ASSERT_TRUE(cef_test::StartRuntime(app.get()));
    cef_test::StopRuntime();
    EXPECT_EQ(app->calls, 1);
    EXPECT_EQ(backend.added, std::vector<std::string>{"velmora:standard"});
}

} // namespace

namespace {

TEST(CefRuntimeTest, MainArgsFromTheModuleHandleCarryTheProcessCommandLine)
{
    int dummy = 0;
    const CefMainArgs args(static_cast<const void*>(&dummy));
    ASSERT_GE(args.argc, 1);
    ASSERT_NE(args.argv, nullptr);
    EXPECT_NE(std::string(args.argv[0]).find("test_cef_base"), std::string::npos);
    EXPECT_EQ(args.argv[args.argc], nullptr);
}

TEST(CefRuntimeTest, ACopyOfModuleHandleArgumentsOutlivesTheOriginal)
{
    int dummy = 0;
    auto original = std::make_unique<CefMainArgs>(static_cast<const void*>(&dummy));
    const CefMainArgs copy(*original);
    CefMainArgs assigned;
    assigned = *original;
    const std::string first = original->argv[0];
    original.reset();
    for (const CefMainArgs* a : std::vector<const CefMainArgs*>{&copy, &assigned}) {
        ASSERT_EQ(a->argc, copy.argc);
        EXPECT_EQ(std::string(a->argv[0]), first);
        EXPECT_EQ(a->argv[a->argc], nullptr);
    }
    char arg0[] = "prog";
    char* argv[] = {arg0, nullptr};
    const CefMainArgs given(1, argv);
    const CefMainArgs givenCopy(given);
    EXPECT_EQ(givenCopy.argv, argv); // the caller's vector is shared, as given
}

} // namespace
