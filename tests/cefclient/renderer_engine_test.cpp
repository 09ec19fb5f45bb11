// The pages' side of the bridge in the real page engine (pages without a view): a page
// registers with setMessageCallback and receives a page event sent as a process message.
// The runtime starts with the program's application object before the Qt application
// exists and stops after it is gone, as in the program.
#include "cefclient/client_app.h"
#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_scheme.h"
#include "cef_extras/qt_backend.h"
#include "cef_recording_client.h"
#include "wait.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

CefRefPtr<test_support::SiteFactory> g_site;

bool HeldQuery(test_support::RecordingClient* client, const std::string& request)
{
    for (const auto& q : client->queries.Held()) {
        if (q.request == request)
            return true;
    }
    return false;
}

TEST(RendererEngineTest, PageCallbackReceivesTheEventsArgumentsAsAnArray)
{
    g_site->Put("/devices.html", R"(<html><body><script>
        setMessageCallback("devicesChanged", function (args) { document.title = "got:" + JSON.stringify(args); });
        setMessageCallback("devicesChanged", function () { document.title = "second function called"; });
        setMessageCallback(1, function () { document.title = "number registered"; });
        // Queries travel after the registrations: once this one arrives they are in place.
        cefQuery({request: "registered"});
    </script></body></html>)");
    CefRefPtr<test_support::RecordingClient> client = new test_support::RecordingClient;
    CefWindowInfo info;
    info.SetAsWindowless(0, false);
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client.get(), "velmora://test/devices.html", CefBrowserSettings()));
    ASSERT_TRUE(test_support::waitFor([&] { return client->First() != nullptr; }));
    CefRefPtr<CefBrowser> browser = client->First();
    ASSERT_TRUE(test_support::waitFor([&] { return HeldQuery(client.get(), "registered"); }));

    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("devicesChanged");
    message->GetArgumentList()->SetInt(0, 2);
    ASSERT_TRUE(browser->SendProcessMessage(PID_RENDERER, message));
    EXPECT_TRUE(test_support::waitFor([&] { return client->HasTitle("got:[2]"); }));
    EXPECT_FALSE(client->HasTitle("second function called"));
    EXPECT_FALSE(client->HasTitle("number registered"));

    client->queries.Clear();
    browser->GetHost()->CloseBrowser(true);
    EXPECT_TRUE(test_support::waitFor([&] { return client->closed == 1; }));
    browser = nullptr;
    client->Forget();
}

} // namespace

int main(int argc, char** argv)
{
    // The engine without GPU, sandbox or display, unless the caller chose otherwise.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    ::testing::InitGoogleTest(&argc, argv);

    QTemporaryDir cache(QDir::tempPath() + "/renderer-engine-XXXXXX");
    CefRefPtr<ClientApp> app = new ClientApp;
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.cache_path) = (cache.path() + "/Cache").toStdString();
    cefqt::InstallBackend();
    CefInitialize(args, settings, app.get(), nullptr);
    g_site = new test_support::SiteFactory;
    CefRegisterSchemeHandlerFactory("velmora", "test", g_site.get());

    int rc = 0;
    {
        QApplication qapp(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    CefShutdown();
    g_site = nullptr;
    return rc;
}
