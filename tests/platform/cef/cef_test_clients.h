// A client and an application wired like the system's, recording which thread each
// callback ran on, with both router sides.
#pragma once

#include "include/cef_app.h"
#include "include/cef_client.h"
#include "cef_test/cef_test_host.h"
#include "include/wrapper/cef_message_router.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cef_testing {

// A window rectangle as the platform gives it (left, top, right, bottom).
struct WindowRect {
    int left;
    int top;
    int right;
    int bottom;
};

inline std::string threadName()
{
    if (CefCurrentlyOn(TID_UI))
        return "UI";
    if (CefCurrentlyOn(TID_IO))
        return "IO";
    if (CefCurrentlyOn(TID_RENDERER))
        return "REN";
    return "other";
}

struct Log {
    std::mutex m;
    std::vector<std::string> events; // "callback@thread"
    void add(const std::string& e)
    {
        std::lock_guard<std::mutex> l(m);
        events.push_back(e + "@" + threadName());
    }
    std::vector<std::string> get()
    {
        std::lock_guard<std::mutex> l(m);
        return events;
    }
    bool has(const std::string& e)
    {
        std::lock_guard<std::mutex> l(m);
        for (const auto& x : events)
            if (x == e)
                return true;
        return false;
    }
};

class RecordingHandler : public CefMessageRouterBrowserSide::Handler {
public:
    struct Query {
        int64 id;
        std::string request;
        bool persistent;
        CefRefPtr<Callback> callback;
    };
    bool OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64 query_id, const CefString& request,
                 bool persistent, CefRefPtr<Callback> callback) override
    {
        std::lock_guard<std::mutex> l(m);
        if (request.ToString() == "decline")
            return false;
        queries.push_back({query_id, request.ToString(), persistent, callback});
        return true;
    }
    void OnQueryCanceled(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64 query_id) override
    {
        std::lock_guard<std::mutex> l(m);
        canceled.push_back(query_id);
    }
    std::vector<Query> Queries()
    {
        std::lock_guard<std::mutex> l(m);
        return queries;
    }
    std::vector<int64> Canceled()
    {
        std::lock_guard<std::mutex> l(m);
        return canceled;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> l(m);
        queries.clear();
    }

private:
    std::mutex m;
    std::vector<Query> queries;
    std::vector<int64> canceled;
};

class TestClient : public CefClient,
                   public CefLifeSpanHandler,
                   public CefLoadHandler,
                   public CefRequestHandler,
                   public CefContextMenuHandler {
public:
    explicit TestClient(Log* log) : log_(log) {}

    CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
    CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
    CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
    CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() override { return this; }

    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        log_->add("message:" + message->GetName().ToString());
        return router && router->OnProcessMessageReceived(browser, source, message);
    }
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override
    {
        log_->add("OnAfterCreated");
        std::lock_guard<std::mutex> l(m);
        browsers.push_back(browser);
    }
    bool DoClose(CefRefPtr<CefBrowser>) override
    {
        log_->add("DoClose");
        return keepOpen;
    }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override
    {
        log_->add("OnBeforeClose");
        if (router)
            router->OnBeforeClose(browser);
    }
    bool OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString& target_url, const CefString&,
                       const CefPopupFeatures&, CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&,
                       bool*) override
    {
        log_->add("OnBeforePopup:" + target_url.ToString());
        return true;
    }
    void OnLoadEnd(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, int status) override
    {
        log_->add("OnLoadEnd:" + std::to_string(status) + ":" + frame->GetURL().ToString());
    }
    void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, ErrorCode code, const CefString&,
                     const CefString& failedUrl) override
    {
        log_->add("OnLoadError:" + std::to_string(int(code)) + ":" + failedUrl.ToString());
    }
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool) override
    {
        log_->add("OnBeforeBrowse:" + request->GetURL().ToString());
        if (router)
            router->OnBeforeBrowse(browser, frame);
        return request->GetURL().ToString() == "http://blocked/";
    }
    CefRefPtr<CefResourceHandler> GetResourceHandler(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                     CefRefPtr<CefRequest> request) override
    {
        log_->add("GetResourceHandler");
        return resourceHandler ? resourceHandler(request->GetURL().ToString()) : nullptr;
    }
    bool OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString&, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override
    {
        log_->add("OnQuotaRequest");
        callback->Continue(new_size <= 20971520);
        return true;
    }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus) override
    {
        log_->add("OnRenderProcessTerminated");
        if (router)
            router->OnRenderProcessTerminated(browser);
    }
    void OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams> params,
                             CefRefPtr<CefMenuModel> model) override
    {
        log_->add("OnBeforeContextMenu");
        if (params->GetTypeFlags() & (CM_TYPEFLAG_PAGE | CM_TYPEFLAG_FRAME)) {
            model->AddSeparator();
            model->AddItem(26500, "Show DevTools");
        } else {
            model->Clear();
        }
    }

    std::vector<CefRefPtr<CefBrowser>> Browsers()
    {
        std::lock_guard<std::mutex> l(m);
        return browsers;
    }
    // Drops the browser references (they refer back to this client).
    void Forget()
    {
        std::lock_guard<std::mutex> l(m);
        browsers.clear();
    }

    CefRefPtr<CefMessageRouterBrowserSide> router;
    std::function<CefRefPtr<CefResourceHandler>(const std::string&)> resourceHandler;
    bool keepOpen = false;

private:
    Log* log_;
    std::mutex m;
    std::vector<CefRefPtr<CefBrowser>> browsers;
    IMPLEMENT_REFCOUNTING(TestClient);
};

class TestApp : public CefApp, public CefBrowserProcessHandler, public CefRenderProcessHandler {
public:
    explicit TestApp(Log* log) : log_(log) {}

    CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

    void OnContextInitialized() override { log_->add("OnContextInitialized"); }
    void OnWebKitInitialized() override
    {
        log_->add("OnWebKitInitialized");
        router = CefMessageRouterRendererSide::Create(CefMessageRouterConfig());
    }
    void OnBrowserCreated(CefRefPtr<CefBrowser>) override { log_->add("OnBrowserCreated"); }
    void OnBrowserDestroyed(CefRefPtr<CefBrowser>) override { log_->add("OnBrowserDestroyed"); }
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override
    {
        log_->add("OnContextCreated");
        if (router)
            router->OnContextCreated(browser, frame, context);
        if (onContextCreated)
            onContextCreated(context);
    }
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override
    {
        log_->add("OnContextReleased");
        if (router)
            router->OnContextReleased(browser, frame, context);
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        log_->add("renderer-message:" + message->GetName().ToString());
        if (router && router->OnProcessMessageReceived(browser, source, message))
            return true;
        std::lock_guard<std::mutex> l(m);
        received.push_back(message);
        return false;
    }

    std::vector<CefRefPtr<CefProcessMessage>> Received()
    {
        std::lock_guard<std::mutex> l(m);
        return received;
    }

    CefRefPtr<CefMessageRouterRendererSide> router;
    std::function<void(CefRefPtr<CefV8Context>)> onContextCreated;

private:
    Log* log_;
    std::mutex m;
    std::vector<CefRefPtr<CefProcessMessage>> received;
    IMPLEMENT_REFCOUNTING(TestApp);
};

inline int CreateTestBrowser(cef_test::TestHost& host, CefRefPtr<CefClient> client, const std::string& url = "about:blank")
{
    CefWindowInfo info;
    info.SetAsChild(0x77, WindowRect{0, 0, 800, 600});
    CefBrowserSettings settings;
    if (!CefBrowserHost::CreateBrowser(info, client, url, settings))
        return 0;
    cef_test::WaitForIdle();
    return host.LastBrowserId();
}

} // namespace cef_testing
