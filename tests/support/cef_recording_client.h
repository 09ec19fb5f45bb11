// A client and an application of the browser runtime layer for tests, wired as the system
// wires its own: both router sides, a page query handler, and a record of every callback
// with the thread it ran on ("callback@thread"). Also a scheme handler factory serving
// pages from memory.
#pragma once

#include "all_interfaces_client.h"

#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/cef_task.h"
#include "include/cef_v8.h"
#include "include/wrapper/cef_message_router.h"
#include "include/wrapper/cef_stream_resource_handler.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// The runtime thread the caller runs on: "UI", "IO", "REN" (UI first: on a backend that
// runs both on one thread, UI is named), or "other".
inline std::string CurrentThreadName()
{
    if (CefCurrentlyOn(TID_UI))
        return "UI";
    if (CefCurrentlyOn(TID_IO))
        return "IO";
    if (CefCurrentlyOn(TID_RENDERER))
        return "REN";
    return "other";
}

// Callbacks in the order they ran, each as "name@thread".
class EventLog {
public:
    void Add(const std::string& name)
    {
        std::lock_guard<std::mutex> l(m_);
        events_.push_back(name + "@" + CurrentThreadName());
    }
    std::vector<std::string> Get()
    {
        std::lock_guard<std::mutex> l(m_);
        return events_;
    }
    bool Has(const std::string& event)
    {
        std::lock_guard<std::mutex> l(m_);
        return std::find(events_.begin(), events_.end(), event) != events_.end();
    }

private:
    std::mutex m_;
    std::vector<std::string> events_;
};

// A window rectangle as the platform gives it (left, top, right, bottom).
struct WindowRect {
    int left;
    int top;
    int right;
    int bottom;
};

// Page queries: "ping:X" is answered "pong:X" (from another thread unless answerInline),
// "fail" with Failure(7, "nope"), "decline" is not taken; any other query is kept unanswered.
class QueryRecorder : public CefMessageRouterBrowserSide::Handler {
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
        onUi = CefCurrentlyOn(TID_UI);
        const std::string r = request.ToString();
        if (r == "decline")
            return false;
        if (r.compare(0, 5, "ping:") == 0) {
            const std::string answer = "pong:" + r.substr(5);
            if (answerInline)
                callback->Success(answer);
            else
                std::thread([callback, answer]() { callback->Success(answer); }).detach();
        } else if (r == "fail") {
            callback->Failure(7, "nope");
        } else {
            std::lock_guard<std::mutex> l(m_);
            held_.push_back({query_id, r, persistent, callback});
        }
        ++taken;
        return true;
    }
    void OnQueryCanceled(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int64 query_id) override
    {
        std::lock_guard<std::mutex> l(m_);
        canceled_.push_back(query_id);
    }

    // The queries kept unanswered, in arrival order.
    std::vector<Query> Held()
    {
        std::lock_guard<std::mutex> l(m_);
        return held_;
    }
    std::vector<int64> Canceled()
    {
        std::lock_guard<std::mutex> l(m_);
        return canceled_;
    }
    // Forgets the kept queries (and their callbacks).
    void Clear()
    {
        std::lock_guard<std::mutex> l(m_);
        held_.clear();
    }

    std::atomic<int> taken{0};
    std::atomic<bool> onUi{false};
    bool answerInline = false;

private:
    std::mutex m_;
    std::vector<Query> held_;
    std::vector<int64> canceled_;
};

// Browser side, every handler interface at once: records the browsers and what happens to them,
// links the router and its QueryRecorder as the system's client does. Popups are refused unless
// allowPopups; navigations to blockedUrl are cancelled; DoClose keeps the browser when keepOpen;
// quota up to 20 MiB is granted. The other handlers' calls are not handled.
class RecordingClient : public AllInterfacesClient {
public:
    // log: shared with an application (null: the client's own).
    explicit RecordingClient(EventLog* log = nullptr) : log_(log ? log : &ownLog_)
    {
        router = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
        router->AddHandler(&queries, false);
    }
    ~RecordingClient() override
    {
        if (router)
            router->RemoveHandler(&queries);
    }

    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        log_->Add("message:" + message->GetName().ToString());
        return router && router->OnProcessMessageReceived(browser, source, message);
    }

    // Life span.
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override
    {
        log_->Add("OnAfterCreated");
        std::lock_guard<std::mutex> l(m);
        browsers.push_back(browser);
    }
    bool DoClose(CefRefPtr<CefBrowser>) override
    {
        log_->Add("DoClose");
        return keepOpen;
    }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override
    {
        log_->Add("OnBeforeClose");
        if (router)
            router->OnBeforeClose(browser);
        ++closed;
    }
    bool OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString& target_url, const CefString&,
                       const CefPopupFeatures&, CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&,
                       bool*) override
    {
        log_->Add("OnBeforePopup:" + target_url.ToString());
        std::lock_guard<std::mutex> l(m);
        popups.push_back(target_url.ToString());
        return !allowPopups;
    }

    // Load.
    void OnLoadEnd(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, int status) override
    {
        log_->Add("OnLoadEnd:" + std::to_string(status) + ":" + frame->GetURL().ToString());
        ++loadEnds;
    }
    void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, ErrorCode code, const CefString&,
                     const CefString& failedUrl) override
    {
        log_->Add("OnLoadError:" + std::to_string(int(code)) + ":" + failedUrl.ToString());
        std::lock_guard<std::mutex> l(m);
        errors.push_back({int(code), failedUrl.ToString()});
    }

    // Requests.
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool) override
    {
        log_->Add("OnBeforeBrowse:" + request->GetURL().ToString());
        if (router)
            router->OnBeforeBrowse(browser, frame);
        return !blockedUrl.empty() && request->GetURL().ToString() == blockedUrl;
    }
    CefRefPtr<CefResourceHandler> GetResourceHandler(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                     CefRefPtr<CefRequest> request) override
    {
        log_->Add("GetResourceHandler");
        return resourceHandler ? resourceHandler(request->GetURL().ToString()) : nullptr;
    }
    bool OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString&, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override
    {
        log_->Add("OnQuotaRequest");
        callback->Continue(new_size <= 20971520);
        return true;
    }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override
    {
        log_->Add("OnRenderProcessTerminated");
        if (router)
            router->OnRenderProcessTerminated(browser);
        std::lock_guard<std::mutex> l(m);
        terminations.push_back(int(status));
    }

    // Display.
    void OnTitleChange(CefRefPtr<CefBrowser>, const CefString& title) override
    {
        std::lock_guard<std::mutex> l(m);
        titles.push_back(title.ToString());
    }

    bool HasTitle(const std::string& title)
    {
        std::lock_guard<std::mutex> l(m);
        return std::find(titles.begin(), titles.end(), title) != titles.end();
    }
    std::string LastTitle()
    {
        std::lock_guard<std::mutex> l(m);
        return titles.empty() ? std::string() : titles.back();
    }
    std::vector<CefRefPtr<CefBrowser>> Browsers()
    {
        std::lock_guard<std::mutex> l(m);
        return browsers;
    }
    CefRefPtr<CefBrowser> First()
    {
        std::lock_guard<std::mutex> l(m);
        return browsers.empty() ? nullptr : browsers.front();
    }
    // Drops the browser references (they refer back to this client).
    void Forget()
    {
        std::lock_guard<std::mutex> l(m);
        browsers.clear();
    }
    EventLog& Log() { return *log_; }

    // Behaviour.
    bool allowPopups = false;
    bool keepOpen = false;
    std::string blockedUrl;
    std::function<CefRefPtr<CefResourceHandler>(const std::string& url)> resourceHandler;

    CefRefPtr<CefMessageRouterBrowserSide> router;
    QueryRecorder queries;

    // Records (m guards the containers).
    std::mutex m;
    std::vector<CefRefPtr<CefBrowser>> browsers;
    std::vector<std::string> popups, titles;
    std::vector<std::pair<int, std::string>> errors;
    std::vector<int> terminations;
    std::atomic<int> loadEnds{0}, closed{0};

private:
    EventLog ownLog_;
    EventLog* log_;
    IMPLEMENT_REFCOUNTING(RecordingClient);
};

// Renderer side (and the browser-process callbacks): the router's page functions and
// window.registerCallback(fn), which keeps fn per browser; a "callPage" message [text] calls
// it with text. Other messages the router does not take are kept (Received()).
class RecordingApp : public CefApp, public CefBrowserProcessHandler, public CefRenderProcessHandler {
public:
    explicit RecordingApp(EventLog* log = nullptr) : log_(log ? log : &ownLog_) {}

    CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

    void OnContextInitialized() override { log_->Add("OnContextInitialized"); }
    void OnWebKitInitialized() override
    {
        log_->Add("OnWebKitInitialized");
        router = CefMessageRouterRendererSide::Create(CefMessageRouterConfig());
    }
    void OnBrowserCreated(CefRefPtr<CefBrowser>) override { log_->Add("OnBrowserCreated"); }
    void OnBrowserDestroyed(CefRefPtr<CefBrowser>) override { log_->Add("OnBrowserDestroyed"); }
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override
    {
        log_->Add("OnContextCreated");
        onRendererThread = CefCurrentlyOn(TID_RENDERER);
        ++created;
        if (router)
            router->OnContextCreated(browser, frame, context);
        context->GetGlobal()->SetValue("registerCallback",
                                       CefV8Value::CreateFunction("registerCallback", new Register(this)),
                                       V8_PROPERTY_ATTRIBUTE_NONE);
        if (onContextCreated)
            onContextCreated(context);
    }
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override
    {
        log_->Add("OnContextReleased");
        ++released;
        if (router)
            router->OnContextReleased(browser, frame, context);
        for (auto it = callbacks_.begin(); it != callbacks_.end();)
            it = it->second.first->IsSame(context) ? callbacks_.erase(it) : std::next(it);
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        log_->Add("renderer-message:" + message->GetName().ToString());
        if (router && router->OnProcessMessageReceived(browser, source, message))
            return true;
        if (message->GetName().ToString() == "callPage")
            return callPage(browser, message);
        std::lock_guard<std::mutex> l(m_);
        received_.push_back(message);
        return false;
    }

    std::vector<CefRefPtr<CefProcessMessage>> Received()
    {
        std::lock_guard<std::mutex> l(m_);
        return received_;
    }

    CefRefPtr<CefMessageRouterRendererSide> router;
    // Called at the end of OnContextCreated (renderer thread).
    std::function<void(CefRefPtr<CefV8Context>)> onContextCreated;
    std::atomic<int> created{0}, released{0}, registered{0}, undelivered{0};
    std::atomic<bool> onRendererThread{false};

private:
    class Register : public CefV8Handler {
    public:
        explicit Register(RecordingApp* app) : app_(app) {}
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
        RecordingApp* app_;
        IMPLEMENT_REFCOUNTING(Register);
    };

    bool callPage(CefRefPtr<CefBrowser> browser, CefRefPtr<CefProcessMessage> message)
    {
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

    EventLog ownLog_;
    EventLog* log_;
    std::mutex m_;
    std::vector<CefRefPtr<CefProcessMessage>> received_;
    std::map<int, std::pair<CefRefPtr<CefV8Context>, CefRefPtr<CefV8Value>>> callbacks_; // renderer thread only
    IMPLEMENT_REFCOUNTING(RecordingApp);
};

// Pages by path, served as text/html for "<scheme>://<host><path>" (query and fragment
// ignored); other paths are not served.
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
        std::string path = request->GetURL().ToString();
        const size_t authority = path.find("://");
        const size_t slash = authority == std::string::npos ? 0 : path.find('/', authority + 3);
        path = slash == std::string::npos ? std::string("/") : path.substr(slash);
        path.resize(std::min(path.size(), path.find_first_of("?#")));
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

} // namespace test_support
