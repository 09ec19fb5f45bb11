// Entry of the engine tests: the runtime starts before the application exists and stops after
// it is gone, as in the program.
#include "engine_test_env.h"
#include "process_folders.h"

#include "app/application.h"
#include "app/system_tray.h"
#include "app/window.h"
#include "cefclient/client_handler.h"

#include "include/cef_app.h"
#include "cef_extras/qt_backend.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

class EngineApplication : public Application {
public:
    using Application::Application;
    using Application::registerInstance;
};

EngineApplication* g_app = nullptr;
int g_reachableDuringEnd = -1; // -1: not watched
} // namespace

namespace engine_test {

Application* application() { return g_app; }

void registerApplication() { g_app->registerInstance(); }

void watchWindowEnd(Window* window)
{
    g_reachableDuringEnd = 0;
    // The tray icon goes early in the window's destruction, while the window is still whole.
    QObject::connect(window->tray(), &QObject::destroyed, [] { g_reachableDuringEnd = appMainWindow() != nullptr; });
}

} // namespace engine_test

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    // A temporary folder of this process: the single-instance server and the private folder of
    // the unpacked pages live below it, apart from every other process.
    const std::string tmp = test_support::useFreshProcessFolders("tm-engine");
    if (tmp.empty())
        return 2;
    ::testing::InitGoogleTest(&argc, argv);

    cefqt::InstallBackend();
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.cache_path) = tmp + "/Cache";
    CefInitialize(args, settings, nullptr, nullptr);
    g_handler = new ClientHandler;

    int rc;
    {
        EngineApplication app(argc, argv);
        g_app = &app;
        rc = RUN_ALL_TESTS();
        g_app = nullptr;
    }
    if (g_reachableDuringEnd == 1) {
        std::fprintf(stderr, "the main window was still reachable when its destruction began\n");
        rc = 1;
    }
    CefShutdown();
    g_handler = nullptr;
    QDir(QString::fromStdString(tmp)).removeRecursively();
    return rc;
}
