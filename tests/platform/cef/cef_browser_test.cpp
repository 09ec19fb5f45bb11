#include "cef_test_browser.h"

#include <gtest/gtest.h>

#include <thread>

using namespace test_support;

namespace {

// Adds the developer item to page menus and shows no menu elsewhere.
class MenuClient : public RecordingClient {
public:
    explicit MenuClient(EventLog* log) : RecordingClient(log) {}
    void OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams> params,
                             CefRefPtr<CefMenuModel> model) override
    {
        Log().Add("OnBeforeContextMenu");
        if (params->GetTypeFlags() & (CM_TYPEFLAG_PAGE | CM_TYPEFLAG_FRAME)) {
            model->AddSeparator();
            model->AddItem(26500, "Show DevTools");
        } else {
            model->Clear();
        }
    }
    IMPLEMENT_REFCOUNTING(MenuClient);
};

class CefBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = new RecordingApp(&log);
        client = new MenuClient(&log);
        client->blockedUrl = "http://blocked/";
        ASSERT_TRUE(cef_test::StartRuntime(app.get()));
    }
    void TearDown() override
    {
        cef_test::StopRuntime();
        client->Forget();
        client = nullptr;
        app = nullptr;
    }

    EventLog log;
    cef_test::TestHost host;
    CefRefPtr<RecordingApp> app;
    CefRefPtr<MenuClient> client;
};

TEST_F(CefBrowserTest, StartupCallbacksRunOnTheirThreads)
{
    EXPECT_TRUE(log.Has("OnContextInitialized@UI"));
    EXPECT_TRUE(log.Has("OnWebKitInitialized@REN"));
}

TEST_F(CefBrowserTest, CreationIsAnnouncedOnUiAndRendererWithTheWindowHandle)
{
    const int id = CreateTestBrowser(host, client.get(), "velmora://settings/local/client/index.html");
    ASSERT_GT(id, 0);
    EXPECT_TRUE(log.Has("OnAfterCreated@UI"));
    EXPECT_TRUE(log.Has("OnBrowserCreated@REN"));
    const cef_test::BrowserRecord rec = host.Record(id);
    EXPECT_EQ(rec.params.url, "velmora://settings/local/client/index.html");
    EXPECT_EQ(rec.params.window_info.parent_window, 0x77u);
    EXPECT_EQ(rec.params.window_info.style, 0x56010000UL);
    EXPECT_EQ(rec.params.window_info.width, 800);
    ASSERT_EQ(client->Browsers().size(), 1u);
    CefRefPtr<CefBrowser> b = client->Browsers()[0];
    EXPECT_EQ(b->GetIdentifier(), id);
    EXPECT_FALSE(b->IsPopup());
    EXPECT_EQ(b->GetHost()->GetWindowHandle(), rec.window);
    EXPECT_TRUE(b->IsSame(host.Browser(id)));
}

TEST_F(CefBrowserTest, DeferredCreationAnnouncesOnlyWhenTheViewExists)
{
    host.SetAutoCreate(false);
    const int id = CreateTestBrowser(host, client.get());
    EXPECT_FALSE(log.Has("OnAfterCreated@UI"));
    host.CompleteCreation(id);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("OnAfterCreated@UI"));
}

TEST_F(CefBrowserTest, ViewGoneBeforeCreationCompletedIsNeitherAnnouncedNorClosed)
{
    host.SetAutoCreate(false);
    const int id = CreateTestBrowser(host, client.get());
    ASSERT_GT(id, 0);
    host.DestroyView(id);
    host.CompleteCreation(id); // too late: the browser is gone
    cef_test::WaitForIdle();
    // A client counting its browsers (OnAfterCreated up, OnBeforeClose down) stays balanced.
    for (const char* e : {"OnAfterCreated@UI", "OnBeforeClose@UI", "OnBrowserCreated@REN", "OnBrowserDestroyed@REN"})
        EXPECT_FALSE(log.Has(e)) << e;
    EXPECT_TRUE(host.Browser(id) == nullptr || !host.Browser(id)->GetMainFrame()->IsValid());
}

TEST_F(CefBrowserTest, RefusedCreationReportsFalse)
{
    host.SetAcceptCreation(false);
    CefWindowInfo info;
    EXPECT_FALSE(CefBrowserHost::CreateBrowser(info, client.get(), "about:blank", CefBrowserSettings()));
    EXPECT_FALSE(CefBrowserHost::CreateBrowser(info, nullptr, "about:blank", CefBrowserSettings()));
}

TEST_F(CefBrowserTest, ActionsReachTheViewAndGettersAnswerCachedState)
{
    const int id = CreateTestBrowser(host, client.get());
    CefRefPtr<CefBrowser> b = host.Browser(id);
    b->GetMainFrame()->LoadURL("velmora://settings/a.html");
    b->GoBack();
    b->GoForward();
    b->Reload();
    b->StopLoad();
    b->GetMainFrame()->ExecuteJavaScript("x()", "", 0);
    b->GetHost()->SetFocus(true);
    host.SetAddress(id, "velmora://settings/a.html");
    host.LoadingState(id, false, true, false);
    host.LoadEnd(id, 200);
    cef_test::WaitForIdle();
    const cef_test::BrowserRecord r = host.Record(id);
    EXPECT_EQ(r.loads, std::vector<std::string>{"velmora://settings/a.html"});
    EXPECT_EQ(r.back, 1);
    EXPECT_EQ(r.forward, 1);
    EXPECT_EQ(r.reloads, 1);
    EXPECT_EQ(r.stops, 1);
    EXPECT_EQ(r.scripts, std::vector<std::string>{"x()"});
    EXPECT_EQ(r.focus, std::vector<bool>{true});
    EXPECT_EQ(b->GetMainFrame()->GetURL().ToString(), "velmora://settings/a.html");
    EXPECT_TRUE(b->CanGoBack());
    EXPECT_FALSE(b->CanGoForward());
    EXPECT_TRUE(log.Has("OnLoadEnd:200:velmora://settings/a.html@UI"));
}

TEST_F(CefBrowserTest, CloseRunsDoCloseThenOnBeforeCloseAndLaterActionsAreIgnored)
{
    const int id = CreateTestBrowser(host, client.get());
    CefRefPtr<CefBrowser> b = host.Browser(id);
    b->GetHost()->CloseBrowser(false);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("DoClose@UI"));
    EXPECT_TRUE(log.Has("OnBeforeClose@UI"));
    EXPECT_TRUE(log.Has("OnBrowserDestroyed@REN"));
    EXPECT_EQ(host.Record(id).close_requests, 1);
    EXPECT_FALSE(b->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("keyDown")));
    b->GetMainFrame()->LoadURL("x");
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.Record(id).loads.empty());
}

TEST_F(CefBrowserTest, DoCloseTrueKeepsTheBrowser)
{
    client->keepOpen = true;
    const int id = CreateTestBrowser(host, client.get());
    host.Browser(id)->GetHost()->CloseBrowser(false);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("DoClose@UI"));
    EXPECT_FALSE(log.Has("OnBeforeClose@UI"));
    EXPECT_EQ(host.Record(id).close_requests, 0);
}

TEST_F(CefBrowserTest, ViewDestroyedByTheEngineClosesTheBrowser)
{
    const int id = CreateTestBrowser(host, client.get());
    host.DestroyView(id);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("OnBeforeClose@UI"));
    EXPECT_FALSE(log.Has("DoClose@UI"));
}

TEST_F(CefBrowserTest, ProcessMessagesAreCopiedAndDeliveredInOrderBothWays)
{
    const int id = CreateTestBrowser(host, client.get());
    CefRefPtr<CefBrowser> b = host.Browser(id);
    for (int i = 0; i < 20; ++i) {
        CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create("devicesChanged");
        msg->GetArgumentList()->SetInt(0, i);
        EXPECT_TRUE(b->SendProcessMessage(PID_RENDERER, msg));
        msg->GetArgumentList()->SetInt(0, -1); // the copy was taken at send
    }
    EXPECT_TRUE(b->SendProcessMessage(PID_BROWSER, CefProcessMessage::Create("toBrowser")));
    cef_test::WaitForIdle();
    const auto received = app->Received();
    ASSERT_EQ(received.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(received[i]->GetArgumentList()->GetInt(0), i);
        EXPECT_TRUE(received[i]->IsReadOnly());
        EXPECT_FALSE(received[i]->GetArgumentList()->SetInt(0, 5));
    }
    EXPECT_TRUE(log.Has("renderer-message:devicesChanged@REN"));
    EXPECT_TRUE(log.Has("message:toBrowser@UI"));
    EXPECT_EQ(host.MessagesTo(id, PID_RENDERER).size(), 20u);
    EXPECT_EQ(host.MessagesTo(id, PID_BROWSER).size(), 1u);
}

TEST_F(CefBrowserTest, DecisionCallbacksRunOnTheirThreadsAndAnswer)
{
    const int id = CreateTestBrowser(host, client.get());
    EXPECT_TRUE(host.Popup(id, "http://x/").cancel);
    EXPECT_TRUE(log.Has("OnBeforePopup:http://x/@IO"));
    EXPECT_EQ(host.Quota(id, "velmora://settings", 20971520), 1);
    EXPECT_EQ(host.Quota(id, "velmora://settings", 20971521), 0);
    EXPECT_TRUE(log.Has("OnQuotaRequest@IO"));
    EXPECT_TRUE(host.Navigate(id, "http://blocked/"));
    EXPECT_FALSE(host.Navigate(id, "http://ok/"));
    EXPECT_TRUE(log.Has("OnBeforeBrowse:http://ok/@UI"));
    host.LoadError(id, ERR_UNKNOWN_URL_SCHEME, "nosuch://x");
    host.TerminateRenderer(id);
    cef_test::WaitForIdle();
    EXPECT_TRUE(log.Has("OnLoadError:-302:nosuch://x@UI"));
    EXPECT_TRUE(log.Has("OnRenderProcessTerminated@UI"));
    // Handlers the client does not provide give the runtime's defaults.
    EXPECT_FALSE(host.DragEnter(id, DRAG_OPERATION_LINK));
    EXPECT_EQ(host.Geolocation(id, "velmora://settings"), -1);
    EXPECT_FALSE(host.ProtocolExecution(id, "spotify:x"));
    EXPECT_FALSE(host.Download(id, cef_backend::DownloadInfo()).accepted);
}

TEST_F(CefBrowserTest, ContextMenuModelIsEditedOnUi)
{
    const int id = CreateTestBrowser(host, client.get());
    cef_backend::ContextMenuInfo page;
    page.type_flags = CM_TYPEFLAG_PAGE;
    CefRefPtr<CefMenuModel> m = host.ContextMenu(id, page, {{MENU_ID_BACK, "Back"}});
    ASSERT_EQ(m->GetCount(), 3);
    EXPECT_EQ(m->GetCommandIdAt(2), 26500);
    cef_backend::ContextMenuInfo link;
    link.type_flags = CM_TYPEFLAG_LINK;
    EXPECT_EQ(host.ContextMenu(id, link, {{MENU_ID_COPY, "Copy"}})->GetCount(), 0);
    EXPECT_TRUE(log.Has("OnBeforeContextMenu@UI"));
}

TEST_F(CefBrowserTest, DevToolsIsAPopupBrowserOfTheClientAndClosesWithItsBrowser)
{
    const int id = CreateTestBrowser(host, client.get());
    CefWindowInfo wi;
    wi.SetAsPopup(host.Browser(id)->GetHost()->GetWindowHandle(), "Dev Tools");
    // ShowDevTools is called from UI by the client; the backend gets the request there.
    cef_extras::PostTask(TID_UI, [&] {
        host.Browser(id)->GetHost()->ShowDevTools(wi, client.get(), CefBrowserSettings(), CefPoint(10, 20));
    });
    cef_test::WaitForIdle();
    const int dev = host.LastBrowserId();
    ASSERT_NE(dev, id);
    const cef_test::BrowserRecord r = host.Record(dev);
    EXPECT_TRUE(r.params.is_devtools);
    EXPECT_EQ(r.params.inspect_at, CefPoint(10, 20));
    EXPECT_EQ(CefString(&r.params.window_info.window_name).ToString(), "Dev Tools");
    EXPECT_TRUE(host.Browser(dev)->IsPopup());
    ASSERT_EQ(client->Browsers().size(), 2u);
    host.Browser(id)->GetHost()->CloseDevTools();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.Record(dev).close_requests, 1);
}

TEST(CefBrowserLifetimeTest, EveryObjectIsFreedAfterShutdown)
{
    const int before = cef_test::LiveObjectCount();
    {
        EventLog log;
        cef_test::TestHost host;
        CefRefPtr<RecordingApp> app = new RecordingApp(&log);
        CefRefPtr<RecordingClient> client = new RecordingClient(&log);
        ASSERT_TRUE(cef_test::StartRuntime(app.get()));
        const int a = CreateTestBrowser(host, client.get());
        CreateTestBrowser(host, client.get()); // left open at shutdown
        host.CreateContext(a);
        host.Browser(a)->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("keyDown"));
        host.Browser(a)->GetHost()->CloseBrowser(false);
        cef_test::WaitForIdle();
        cef_test::StopRuntime();
        client->Forget();
    }
    EXPECT_EQ(cef_test::LiveObjectCount(), before);
}

} // namespace
