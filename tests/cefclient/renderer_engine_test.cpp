// The pages' side of the bridge in the real page engine (pages without a view): a page
// registers with setMessageCallback and receives a page event sent as a process message, and
// the bundled start page keeps its device list through the bridge. The runtime starts with
// the program's application object before the Qt application exists and stops after it is
// gone, as in the program.
#include "cefclient/client_app.h"
#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/wrapper/cef_stream_resource_handler.h"
#include "cef_extras/qt_backend.h"
#include "cef_recording_client.h"
#include "wait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

CefRefPtr<test_support::SiteFactory> g_site;

// Files of the bundled page set, "velmora://pages/<path>" from resources/pages/<path>.
class PageSetFactory : public CefSchemeHandlerFactory {
public:
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest> request) override
    {
        const QString path = QUrl(QString::fromStdString(request->GetURL().ToString())).path();
        QFile file(QStringLiteral(TM_PAGES_DIR) + path);
        if (path.contains("..") || !file.open(QIODevice::ReadOnly))
            return nullptr;
        const QString suffix = QFileInfo(path).suffix();
        const char* mime = suffix == "js" ? "application/javascript"
                           : suffix == "css" ? "text/css"
                           : suffix == "png" ? "image/png"
                                             : "text/html";
        QByteArray body = file.readAll();
        return new CefStreamResourceHandler(mime, CefStreamReader::CreateForData(body.data(), size_t(body.size())));
    }
    IMPLEMENT_REFCOUNTING(PageSetFactory);
};

// The page's queries still waiting for an answer, with the given request text.
std::vector<test_support::QueryRecorder::Query> Held(test_support::RecordingClient* client, const std::string& request)
{
    std::vector<test_support::QueryRecorder::Query> out;
    for (const auto& q : client->queries.Held()) {
        if (q.request == request)
            out.push_back(q);
    }
    return out;
}

bool HeldQuery(test_support::RecordingClient* client, const std::string& request)
{
    return !Held(client, request).empty();
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

TEST(RendererEngineTest, StartPageListsTheDevicesAndAsksAgainWhenTheyChange)
{
    const std::string listRequest = R"({"FuncName":"GetDevicesList"})";
    CefRefPtr<test_support::RecordingClient> client = new test_support::RecordingClient;
    CefWindowInfo info;
    info.SetAsWindowless(0, false);
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client.get(), "velmora://pages/main/index.html",
                                              CefBrowserSettings()));
    ASSERT_TRUE(test_support::waitFor([&] { return client->First() != nullptr; }));
    CefRefPtr<CefBrowser> browser = client->First();

    // The page asks once it has registered for the events; the answer fills its list.
    ASSERT_TRUE(test_support::waitFor([&] { return Held(client.get(), listRequest).size() == 1; }));
    Held(client.get(), listRequest)[0].callback->Success(R"(["K1.0","M1.0"])");
    const char* listedToTitle = "document.title = 'listed:' + Array.prototype.map.call("
                                "document.querySelectorAll('#device-list li'), function (li) { return li.dataset.key; }).join(',')";
    ASSERT_TRUE(test_support::waitFor([&] {
        browser->GetMainFrame()->ExecuteJavaScript(listedToTitle, "", 0);
        return client->HasTitle("listed:K1.0,M1.0");
    }));

    // A device event makes it ask again.
    CefRefPtr<CefProcessMessage> changed = CefProcessMessage::Create("devicesChanged");
    changed->GetArgumentList()->SetInt(0, 2);
    ASSERT_TRUE(browser->SendProcessMessage(PID_RENDERER, changed));
    EXPECT_TRUE(test_support::waitFor([&] { return Held(client.get(), listRequest).size() == 2; }));

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
    CefRegisterSchemeHandlerFactory("velmora", "pages", new PageSetFactory);

    int rc = 0;
    {
        QApplication qapp(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    CefShutdown();
    g_site = nullptr;
    return rc;
}
