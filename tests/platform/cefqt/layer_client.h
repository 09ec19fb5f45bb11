// A small client of the runtime layer for the backend tests and the benchmark: a scheme
// factory serving pages from memory, a client that records browser events and answers page
// queries, and an application whose renderer side offers window.registerCallback(fn) and
// calls that function when the browser sends it a "callPage" message.
#pragma once

#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_display_handler.h"
#include "include/cef_life_span_handler.h"
#include "include/cef_load_handler.h"
#include "include/cef_request_handler.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/cef_v8.h"
#include "cef_extras/closure_task.h"
#include "include/wrapper/cef_message_router.h"
#include "include/wrapper/cef_stream_resource_handler.h"
#include "engine_test_support.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace layer_test {

// A window rectangle as the platform gives it (left, top, right, bottom).
struct WindowRect {
    int left;
    int top;
    int right;
    int bottom;
};

inline bool waitFor(const std::function<bool()>& done, int ms = 20000)
{
    return cefqt_test::waitFor(done, ms, 2);
}

// Pages by path, served for "velmora://test/<path>".
class SiteFactory : public CefSchemeHandlerFactory {
public:
    void Put(const std::string& path, const std::string& html)
    {
        std::lock_guard<std::mutex> l(m_);
        pages_[path] = html;
    }
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest> request) override
    {
        std::string url = request->GetURL().ToString();
        const std::string prefix = "velmora://test";
        std::string path = url.compare(0, prefix.size(), prefix) == 0 ? url.substr(prefix.size()) : url;
        const size_t q = path.find_first_of("?#");
        if (q != std::string::npos)
            path.resize(q);
        std::string body;
        {
            std::lock_guard<std::mutex> l(m_);
            auto it = pages_.find(path);
            if (it == pages_.end())
                return nullptr;
            body = it->second;
        }
        return new CefStreamResourceHandler("text/html", CefStreamReader::CreateForData(&body[0], body.size()));
    }

private:
    std::mutex m_;
    std::map<std::string, std::string> pages_;
    IMPLEMENT_REFCOUNTING(SiteFactory);
};

// Renderer side: window.registerCallback(fn) keeps fn per browser; a "callPage" message
// [text] calls it with text. Records context creation and release.
class TestApp : public CefApp, public CefRenderProcessHandler {
public:
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

    void OnWebKitInitialized() override { router_ = CefMessageRouterRendererSide::Create(CefMessageRouterConfig()); }

    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override
    {
        renderThread = CefCurrentlyOn(TID_RENDERER);
        ++created;
        if (router_)
            router_->OnContextCreated(browser, frame, context);
        context->GetGlobal()->SetValue("registerCallback",
                                       CefV8Value::CreateFunction("registerCallback", new Register(this)),
                                       V8_PROPERTY_ATTRIBUTE_NONE);
    }
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override
    {
        ++released;
        if (router_)
            router_->OnContextReleased(browser, frame, context);
        for (auto it = callbacks_.begin(); it != callbacks_.end();)
            it = it->second.first->IsSame(context) ? callbacks_.erase(it) : std::next(it);
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        if (router_ && router_->OnProcessMessageReceived(browser, source, message))
            return true;
        if (message->GetName().ToString() != "callPage")
            return false;
        auto it = callbacks_.find(browser->GetIdentifier());
        if (it == callbacks_.end()) {
            ++undelivered;
            return true;
        }
        CefRefPtr<CefV8Context> ctx = it->second.first;
        ctx->Enter();
        CefV8ValueList args{CefV8Value::CreateString(message->GetArgumentList()->GetString(0))};
        it->second.second->ExecuteFunction(nullptr, args);
        ctx->Exit();
        return true;
    }

    std::atomic<int> created{0}, released{0}, registered{0}, undelivered{0};
    std::atomic<bool> renderThread{false};

private:
    class Register : public CefV8Handler {
    public:
        explicit Register(TestApp* app) : app_(app) {}
        bool Execute(const CefString&, CefRefPtr<CefV8Value>, const CefV8ValueList& arguments,
                     CefRefPtr<CefV8Value>&, CefString&) override
        {
            if (arguments.size() != 1 || !arguments[0]->IsFunction())
                return false;
            CefRefPtr<CefV8Context> ctx = CefV8Context::GetCurrentContext();
            app_->callbacks_[ctx->GetBrowser()->GetIdentifier()] = {ctx, arguments[0]};
            ++app_->registered;
            return true;
        }

    private:
        TestApp* app_;
        IMPLEMENT_REFCOUNTING(Register);
    };

    CefRefPtr<CefMessageRouterRendererSide> router_;
    std::map<int, std::pair<CefRefPtr<CefV8Context>, CefRefPtr<CefV8Value>>> callbacks_; // REN only
    IMPLEMENT_REFCOUNTING(TestApp);
};

// Browser side: records events; queries "ping:X" are answered "pong:X" from another thread,
// "fail" with Failure(7, "nope"), "hold" are kept unanswered.
class TestClient : public CefClient,
                   public CefLifeSpanHandler,
                   public CefLoadHandler,
                   public CefRequestHandler,
                   public CefDisplayHandler,
                   public CefMessageRouterBrowserSide::Handler {
public:
    TestClient() { router_ = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig()); router_->AddHandler(this, false); }
    ~TestClient() override { router_->RemoveHandler(this); }

    CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
    CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
    CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
    CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }

    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        return router_->OnProcessMessageReceived(browser, source, message);
    }

    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override
    {
        std::lock_guard<std::mutex> l(m);
        browsers.push_back(browser);
    }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override
    {
        router_->OnBeforeClose(browser);
        ++closed;
    }
    bool OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString& target_url, const CefString&,
                       const CefPopupFeatures&, CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&,
                       bool*) override
    {
        std::lock_guard<std::mutex> l(m);
        popups.push_back(target_url.ToString());
        popupOnIo = CefCurrentlyOn(TID_IO);
        return !allowPopups;
    }
    void OnLoadEnd(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int) override { ++loadEnds; }
    void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, cef_errorcode_t code, const CefString&,
                     const CefString& failedUrl) override
    {
        std::lock_guard<std::mutex> l(m);
        errors.push_back({int(code), failedUrl.ToString()});
    }
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest>,
                        bool) override
    {
        router_->OnBeforeBrowse(browser, frame);
        return false;
    }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override
    {
        router_->OnRenderProcessTerminated(browser);
        std::lock_guard<std::mutex> l(m);
        terminations.push_back(int(status));
    }
    void OnTitleChange(CefRefPtr<CefBrowser>, const CefString& title) override
    {
        std::lock_guard<std::mutex> l(m);
        titles.push_back(title.ToString());
    }

    bool OnQuery(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64, const CefString& request, bool,
                 CefRefPtr<Callback> callback) override
    {
        queryOnUi = CefCurrentlyOn(TID_UI);
        const std::string r = request.ToString();
        ++queries;
        if (r.compare(0, 5, "ping:") == 0) {
            if (answerInline) {
                callback->Success("pong:" + r.substr(5));
            } else {
                std::thread([callback, r]() { callback->Success("pong:" + r.substr(5)); }).detach();
            }
            return true;
        }
        if (r == "fail") {
            callback->Failure(7, "nope");
            return true;
        }
        if (r == "hold") {
            std::lock_guard<std::mutex> l(m);
            held.push_back(callback);
            return true;
        }
        return false;
    }
    void OnQueryCanceled(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64) override { ++canceled; }

    bool hasTitle(const std::string& t)
    {
        std::lock_guard<std::mutex> l(m);
        for (const std::string& s : titles)
            if (s == t)
                return true;
        return false;
    }
    std::string lastTitle()
    {
        std::lock_guard<std::mutex> l(m);
        return titles.empty() ? std::string() : titles.back();
    }
    CefRefPtr<CefBrowser> first()
    {
        std::lock_guard<std::mutex> l(m);
        return browsers.empty() ? nullptr : browsers.front();
    }

    std::mutex m;
    std::vector<CefRefPtr<CefBrowser>> browsers;
    std::vector<std::string> popups, titles;
    std::vector<std::pair<int, std::string>> errors;
    std::vector<int> terminations;
    std::vector<CefRefPtr<Callback>> held;
    std::atomic<int> loadEnds{0}, closed{0}, queries{0}, canceled{0};
    std::atomic<bool> popupOnIo{false}, queryOnUi{false};
    bool answerInline = false;
    bool allowPopups = false;

private:
    CefRefPtr<CefMessageRouterBrowserSide> router_;
    IMPLEMENT_REFCOUNTING(TestClient);
};

// Creates a browser of `client` at `url` and waits for it: *browser is then the client's first.
inline void openBrowser(const CefWindowInfo& info, TestClient* client, const std::string& url,
                        CefRefPtr<CefBrowser>* browser)
{
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, client, url, CefBrowserSettings()));
    ASSERT_TRUE(waitFor([&] { return client->first() != nullptr; }));
    *browser = client->first();
}

} // namespace layer_test
