// Entry of the layer tests: the runtime starts (with the QtWebEngine backend) before the Qt
// application exists and stops after it is gone, as in the program.
#include "layer_client.h"

#include "include/cef_app.h"
#include "cef_extras/qt_backend.h"
#include "cefqt/engine.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

CefRefPtr<test_support::RecordingApp> g_app;
CefRefPtr<test_support::SiteFactory> g_site;

namespace {

// Child-process mode of the exit test: browsers (a page without a view and a window) are
// still open when the application object goes away; then the runtime stops.
int exitWithOpenBrowsers(bool runEventLoop)
{
    CefRefPtr<test_support::RecordingClient> client = new test_support::RecordingClient;
    g_site->Put("/exit.html", "<html><body>bye</body></html>");
    CefWindowInfo windowless;
    windowless.SetAsWindowless(0, false);
    CefBrowserHost::CreateBrowser(windowless, client.get(), "velmora://test/exit.html", CefBrowserSettings());
    CefWindowInfo popup;
    popup.SetAsPopup(0, "exit");
    CefBrowserHost::CreateBrowser(popup, client.get(), "velmora://test/exit.html", CefBrowserSettings());
    if (!test_support::waitFor([&] { return client->loadEnds >= 2; }))
        return 3;
    if (!runEventLoop)
        return 0;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return QApplication::exec();
}

// Child-process modes: the engine profile (cache and cookie files) is made at the first
// browser, not at start-up, so a second instance that quits early never opens it; it keeps
// its files in the settings' cache path, or nothing on disk without one.
int profileAtFirstBrowser(const QString& cachePath)
{
    if (cefqt::HasProfile())
        return 4;
    CefRefPtr<test_support::RecordingClient> client = new test_support::RecordingClient;
    g_site->Put("/first.html", "<html><body>first</body></html>");
    CefWindowInfo windowless;
    windowless.SetAsWindowless(0, false);
    CefBrowserHost::CreateBrowser(windowless, client.get(), "velmora://test/first.html", CefBrowserSettings());
    if (!cefqt::HasProfile())
        return 5;
    QWebEngineProfile* profile = cefqt::Profile();
    if (cachePath.isEmpty() ? !profile->isOffTheRecord() : profile->persistentStoragePath() != cachePath)
        return 6;
    return test_support::waitFor([&] { return client->loadEnds >= 1; }) ? 0 : 3;
}

} // namespace

int main(int argc, char** argv)
{
    cefqt_test::setTestEnvironment();
    // Child-process modes of the exit test.
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool exitMode = mode == "--exit-with-open-browsers" || mode == "--quit-with-open-browsers";
    const bool profileMode = mode == "--profile-at-first-browser" || mode == "--profile-without-cache-path";
    ::testing::InitGoogleTest(&argc, argv);

    // A profile folder of this process: test cases run in parallel processes.
    QTemporaryDir cache(QDir::tempPath() + "/cefqt-layer-XXXXXX");
    g_app = new test_support::RecordingApp;
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.user_agent) = "TarquilMervane-Test";
    CefString(&settings.locale) = "en";
    const QString cachePath = mode == "--profile-without-cache-path" ? QString() : cache.path() + "/Cache";
    CefString(&settings.cache_path) = cachePath.toStdString();
    settings.persist_session_cookies = 1;
    cefqt::InstallBackend();
    CefInitialize(args, settings, g_app.get(), nullptr);
    g_site = new test_support::SiteFactory;
    CefRegisterSchemeHandlerFactory("velmora", "test", g_site.get());

    int rc = 0;
    {
        QApplication app(argc, argv);
        if (exitMode)
            rc = exitWithOpenBrowsers(mode == "--quit-with-open-browsers");
        else if (profileMode)
            rc = profileAtFirstBrowser(cachePath);
        else
            rc = RUN_ALL_TESTS();
    }
    CefShutdown();
    g_site = nullptr;
    g_app = nullptr;
    return rc;
}
