// Browser callbacks the engine drives through the layer, pages without a view: loading
// state and load errors, navigation refused by the client, downloads, quota, script
// dialogs answered by the client, and window.close().
#include "layer_client.h"

#include "include/cef_browser.h"
#include "include/cef_download_handler.h"
#include "include/cef_download_item.h"
#include "include/cef_jsdialog_handler.h"
#include "include/cef_resource_handler.h"
#include "include/cef_scheme.h"
#include "include/cef_task.h"
#include "cef_extras/closure_task.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

extern CefRefPtr<test_support::SiteFactory> g_site;

using namespace layer_test;
using namespace test_support;

namespace {

class EventsClient : public RecordingClient {
public:
    void OnLoadingStateChange(CefRefPtr<CefBrowser>, bool isLoading, bool canGoBack, bool) override
    {
        std::lock_guard<std::mutex> l(m);
        loading.push_back(isLoading);
        if (!isLoading)
            lastCanGoBack = canGoBack;
    }
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool redirect) override
    {
        RecordingClient::OnBeforeBrowse(browser, frame, request, redirect);
        return request->GetURL().ToString().find("blocked") != std::string::npos;
    }
    void OnProtocolExecution(CefRefPtr<CefBrowser>, const CefString& url, bool& allow) override
    {
        std::lock_guard<std::mutex> l(m);
        protocols.push_back(url.ToString());
        allow = false;
    }
    bool OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString&, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override
    {
        quotaOnIo = CefCurrentlyOn(TID_IO);
        callback->Continue(new_size <= 1024 * 1024);
        return true;
    }
    void OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> item, const CefString& suggested,
                          CefRefPtr<CefBeforeDownloadCallback> callback) override
    {
        std::lock_guard<std::mutex> l(m);
        suggestedName = suggested.ToString();
        downloadUrl = item->GetURL().ToString();
        // Windows-style separator, as callers written for it pass.
        callback->Continue(downloadDir + "\\saved.bin", false);
    }
    void OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> item,
                           CefRefPtr<CefDownloadItemCallback>) override
    {
        if (item->IsComplete()) {
            std::lock_guard<std::mutex> l(m);
            completedPath = item->GetFullPath().ToString();
        }
    }
    bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString&, const CefString&, JSDialogType type,
                    const CefString& message, const CefString&, CefRefPtr<CefJSDialogCallback> callback,
                    bool&) override
    {
        {
            std::lock_guard<std::mutex> l(m);
            dialogs.push_back(message.ToString());
        }
        if (holdDialogs) {
            {
                std::lock_guard<std::mutex> l(m);
                heldDialogs.push_back(callback);
            }
            // The browser is closed while its page waits for the answer.
            CefRefPtr<CefBrowser> b = browser;
            CefPostTask(TID_UI, cef_extras::ClosureTask([b] { b->GetHost()->CloseBrowser(false); }));
            return true;
        }
        // Answered later, from another thread.
        std::thread([callback, type]() { callback->Continue(type == JSDIALOGTYPE_CONFIRM, "typed"); }).detach();
        return true;
    }

    std::vector<bool> loading;
    std::vector<std::string> dialogs, protocols;
    std::atomic<bool> holdDialogs{false};
    std::vector<CefRefPtr<CefJSDialogCallback>> heldDialogs;
    bool lastCanGoBack = false;
    std::string downloadDir, suggestedName, downloadUrl, completedPath;
    std::atomic<bool> quotaOnIo{false};
    IMPLEMENT_REFCOUNTING(EventsClient);
};

// Serves nothing until cancelled.
class StallingFactory : public CefSchemeHandlerFactory {
public:
    class Handler : public CefResourceHandler {
    public:
        explicit Handler(StallingFactory* f) : f_(f) {}
        bool ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback>) override
        {
            ++f_->started;
            return true; // Continue() never comes
        }
        void GetResponseHeaders(CefRefPtr<CefResponse>, int64&, CefString&) override {}
        bool ReadResponse(void*, int, int&, CefRefPtr<CefCallback>) override { return false; }
        void Cancel() override { ++f_->cancelled; }

    private:
        CefRefPtr<StallingFactory> f_;
        IMPLEMENT_REFCOUNTING(Handler);
    };
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest>) override
    {
        return new Handler(this);
    }
    std::atomic<int> started{0}, cancelled{0};
    IMPLEMENT_REFCOUNTING(StallingFactory);
};

class QtLayerEventsTest : public ::testing::Test {
protected:
    void open(const std::string& path, const std::string& html)
    {
        g_site->Put(path, html);
        client = new EventsClient;
        client->downloadDir = downloads.path().toStdString();
        CefWindowInfo info;
        info.SetAsWindowless(0, false);
        openBrowser(info, client.get(), "velmora://test" + path, &browser);
    }
    void TearDown() override
    {
        if (browser && client->closed == 0) {
            browser->GetHost()->CloseBrowser(true);
            EXPECT_TRUE(waitFor([&] { return client->closed == 1; }));
        }
    }
    size_t errorCount()
    {
        std::lock_guard<std::mutex> l(client->m);
        return client->errors.size();
    }

    QTemporaryDir downloads;
    CefRefPtr<EventsClient> client;
    CefRefPtr<CefBrowser> browser;
};

TEST_F(QtLayerEventsTest, LoadingStateFollowsNavigationsAndRefusedOnesDoNotHappen)
{
    open("/one.html", "<html><head><title>one</title></head></html>");
    ASSERT_TRUE(waitFor([&] { return client->loadEnds == 1; }));
    g_site->Put("/two.html", "<html><head><title>two</title></head></html>");
    browser->GetMainFrame()->LoadURL("velmora://test/two.html");
    ASSERT_TRUE(waitFor([&] { return client->loadEnds == 2; }));
    {
        std::lock_guard<std::mutex> l(client->m);
        ASSERT_GE(client->loading.size(), 4u);
        EXPECT_TRUE(client->loading.front());
        EXPECT_FALSE(client->loading.back());
        EXPECT_TRUE(client->lastCanGoBack);
    }
    EXPECT_TRUE(browser->CanGoBack());
    browser->GetMainFrame()->LoadURL("velmora://test/blocked.html");
    browser->GetMainFrame()->ExecuteJavaScript("document.title = 'still two'", "", 0);
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("still two"); }));
    EXPECT_EQ(client->loadEnds, 2);
    EXPECT_EQ(browser->GetMainFrame()->GetURL().ToString(), "velmora://test/two.html");
}

TEST_F(QtLayerEventsTest, LoadErrorsCarryTheFailedUrlAndAnInferredCode)
{
    open("/start.html", "<html><body>start</body></html>");
    ASSERT_TRUE(waitFor([&] { return client->loadEnds == 1; }));
    struct Case {
        const char* url;
        int code;
    };
    const Case cases[] = {
        {"velmora://test/absent.html", ERR_FAILED},
        {"nosuchscheme://abc", ERR_UNKNOWN_URL_SCHEME},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        browser->GetMainFrame()->LoadURL(c.url);
        ASSERT_TRUE(waitFor([&] { return errorCount() > seen; })) << c.url;
        std::lock_guard<std::mutex> l(client->m);
        EXPECT_EQ(client->errors[seen].first, c.code) << c.url;
        EXPECT_EQ(client->errors[seen].second, c.url);
        seen = client->errors.size();
    }
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->protocols, std::vector<std::string>{"nosuchscheme://abc"});
}

TEST_F(QtLayerEventsTest, StoppedLoadIsAbortedAndItsRequestCancelled)
{
    CefRefPtr<StallingFactory> stall = new StallingFactory;
    CefRegisterSchemeHandlerFactory("velmora", "stall", stall.get());
    open("/start.html", "<html><body>start</body></html>");
    ASSERT_TRUE(waitFor([&] { return client->loadEnds == 1; }));
    browser->GetMainFrame()->LoadURL("velmora://stall/page.html");
    ASSERT_TRUE(waitFor([&] { return stall->started == 1; }));
    browser->StopLoad();
    ASSERT_TRUE(waitFor([&] { return errorCount() == 1 && stall->cancelled == 1; }));
    CefRegisterSchemeHandlerFactory("velmora", "stall", nullptr);
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->errors.front().first, int(ERR_ABORTED));
    EXPECT_EQ(client->errors.front().second, "velmora://stall/page.html");
}

TEST_F(QtLayerEventsTest, DownloadGoesWhereTheClientSaysAndCompletes)
{
    g_site->Put("/data.bin", std::string("payload\x01\x02", 9));
    open("/dl.html", R"(<html><body><a id="a" download="data.bin" href="velmora://test/data.bin">x</a>
        <script>document.getElementById('a').click()</script></body></html>)");
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return !client->completedPath.empty();
    }));
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->suggestedName, "data.bin");
    EXPECT_EQ(client->downloadUrl, "velmora://test/data.bin");
    const QString expected = downloads.path() + "/saved.bin";
    EXPECT_EQ(QString::fromStdString(client->completedPath), expected);
    QFile file(expected);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("payload\x01\x02", 9));
}

TEST_F(QtLayerEventsTest, QuotaRequestsAreDecidedByTheClientOnTheIoThread)
{
    open("/quota.html", R"(<html><body><script>
        function ask(size, tag, next) {
            navigator.webkitPersistentStorage.requestQuota(size,
                function (granted) { document.title = tag + ":" + (granted >= size ? "yes" : "no"); next(); },
                function () { document.title = tag + ":error"; next(); });
        }
        ask(1024, "small", function () { ask(50 * 1024 * 1024, "large", function () {}); });
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return client->LastTitle().rfind("large:", 0) == 0; }));
    EXPECT_TRUE(client->HasTitle("small:yes"));
    EXPECT_NE(client->LastTitle(), "large:yes");
    EXPECT_TRUE(client->quotaOnIo);
}

TEST_F(QtLayerEventsTest, ScriptDialogsAnsweredLaterByTheClientReachThePage)
{
    open("/dialog.html", R"(<html><body><script>
        var ok = confirm("sure?");
        var text = prompt("name?", "x");
        alert("done");
        document.title = "confirm:" + ok + ",prompt:" + text;
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("confirm:true,prompt:null"); }));
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->dialogs, (std::vector<std::string>{"sure?", "name?", "done"}));
}

TEST_F(QtLayerEventsTest, BrowserClosedWhileTheClientHoldsADialogClosesAndTheLateAnswerIsHarmless)
{
    g_site->Put("/stuck.html", R"(<html><body><script>
        alert("stuck");
        document.title = "after";
    </script></body></html>)");
    client = new EventsClient;
    client->holdDialogs = true;
    CefWindowInfo info;
    info.SetAsWindowless(0, false);
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client.get(), "velmora://test/stuck.html", CefBrowserSettings()));
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }, 10000));
    browser = client->First();
    std::vector<CefRefPtr<CefJSDialogCallback>> held;
    {
        std::lock_guard<std::mutex> l(client->m);
        held.swap(client->heldDialogs);
    }
    ASSERT_EQ(held.size(), 1u);
    held.front()->Continue(true, "late"); // harmless
    waitFor([] { return false; }, 200); // give a wrong late delivery the chance to show
    EXPECT_FALSE(client->HasTitle("after"));
    EXPECT_FALSE(browser->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("x")));
}

TEST_F(QtLayerEventsTest, WindowCloseFromThePageClosesTheBrowser)
{
    open("/close.html", "<html><body><script>setTimeout(function () { window.close(); }, 0)</script></body></html>");
    ASSERT_TRUE(waitFor([&] { return client->closed == 1; }));
    EXPECT_FALSE(browser->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("x")));
}

} // namespace
