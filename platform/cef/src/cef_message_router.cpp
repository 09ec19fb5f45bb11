// Both sides of the query router. Wire format between them (process messages):
//   renderer -> browser "<query>Msg":  [context id (string), request id, request, persistent]
//   renderer -> browser "<cancel>Msg": [context id (string), request id (-1: every request of the context)]
//   browser -> renderer "<query>Msg":  [context id, request id, true, response] or
//                                      [context id, request id, false, error code, error message]
#include "include/wrapper/cef_message_router.h"

#include "cef_internal.h"

#include <algorithm>
#include <list>
#include <map>

using namespace cef_internal;

namespace {

// The process-message names of a router configuration.
struct MessageNames {
    explicit MessageNames(const CefMessageRouterConfig& c)
        : query(c.js_query_function.ToString16() + u"Msg"), cancel(c.js_cancel_function.ToString16() + u"Msg")
    {
    }
    const CefString query;
    const CefString cancel;
};

// ---------------------------------------------------------------- browser side

struct BrowserState;

class CallbackImpl : public CefMessageRouterBrowserSide::Callback {
public:
    CallbackImpl(std::weak_ptr<BrowserState> state, int64 queryId, bool persistent)
        : state_(std::move(state)), queryId_(queryId), persistent_(persistent)
    {
    }

    void Success(const CefString& response) override
    {
        if (persistent_ ? done_.load() : done_.exchange(true))
            return;
        post(true, response, 0, CefString());
    }
    void Failure(int error_code, const CefString& error_message) override
    {
        if (done_.exchange(true))
            return;
        post(false, CefString(), error_code, error_message);
    }
    void Detach() { done_ = true; }

private:
    void post(bool success, const CefString& response, int code, const CefString& message);

    std::weak_ptr<BrowserState> state_;
    const int64 queryId_;
    const bool persistent_;
    std::atomic<bool> done_{false};
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(CallbackImpl);
};

struct BrowserState {
    typedef CefMessageRouterBrowserSide::Handler Handler;

    struct Query {
        CefRefPtr<CefBrowser> browser;
        int64 frameId = 0;
        CefString contextId;
        int requestId = 0;
        bool persistent = false;
        Handler* handler = nullptr;
        CefRefPtr<CallbackImpl> callback;
    };

    explicit BrowserState(const CefMessageRouterConfig& c) : names(c) {}

    const MessageNames names;
    std::list<Handler*> handlers;
    std::map<int64, Query> queries;
    int64 nextQueryId = 1;

    void SendResponse(const Query& q, bool success, const CefString& response, int code, const CefString& message)
    {
        CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create(names.query);
        CefRefPtr<CefListValue> args = msg->GetArgumentList();
        args->SetString(0, q.contextId);
        args->SetInt(1, q.requestId);
        args->SetBool(2, success);
        if (success) {
            args->SetString(3, response);
        } else {
            args->SetInt(3, code);
            args->SetString(4, message);
        }
        HandOverProcessMessage(q.browser, PID_RENDERER, msg);
    }

    // UI thread.
    void Answer(int64 queryId, bool success, const CefString& response, int code, const CefString& message)
    {
        auto it = queries.find(queryId);
        if (it == queries.end())
            return;
        const bool last = !it->second.persistent || !success;
        const Query q = last ? std::move(it->second) : it->second;
        if (last)
            queries.erase(it);
        SendResponse(q, success, response, code, message);
    }

    // Cancels every query matching the predicate; notifyHandlers calls OnQueryCanceled.
    template <class Pred>
    void Cancel(Pred pred, bool notifyHandlers)
    {
        std::vector<std::pair<int64, Query>> gone;
        for (auto it = queries.begin(); it != queries.end();) {
            if (pred(it->second)) {
                gone.emplace_back(it->first, it->second);
                it = queries.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& g : gone) {
            g.second.callback->Detach();
            if (notifyHandlers && g.second.handler)
                g.second.handler->OnQueryCanceled(g.second.browser, g.second.browser->GetFrame(g.second.frameId),
                                                  g.first);
        }
    }
};

void CallbackImpl::post(bool success, const CefString& response, int code, const CefString& message)
{
    if (CefCurrentlyOn(TID_UI)) {
        if (std::shared_ptr<BrowserState> s = state_.lock())
            s->Answer(queryId_, success, response, code, message);
        return;
    }
    std::weak_ptr<BrowserState> weak = state_;
    const int64 id = queryId_;
    cef_extras::PostTask(TID_UI, [weak, id, success, response, code, message] {
        if (std::shared_ptr<BrowserState> s = weak.lock())
            s->Answer(id, success, response, code, message);
    });
}

class BrowserSideImpl : public CefMessageRouterBrowserSide {
public:
    explicit BrowserSideImpl(const CefMessageRouterConfig& config) : state_(std::make_shared<BrowserState>(config)) {}
    ~BrowserSideImpl() override
    {
        state_->Cancel([](const BrowserState::Query&) { return true; }, false);
    }

    bool AddHandler(Handler* handler, bool first) override
    {
        if (!handler || std::find(state_->handlers.begin(), state_->handlers.end(), handler) != state_->handlers.end())
            return false;
        if (first)
            state_->handlers.push_front(handler);
        else
            state_->handlers.push_back(handler);
        return true;
    }
    bool RemoveHandler(Handler* handler) override
    {
        auto it = std::find(state_->handlers.begin(), state_->handlers.end(), handler);
        if (it == state_->handlers.end())
            return false;
        state_->handlers.erase(it);
        state_->Cancel([handler](const BrowserState::Query& q) { return q.handler == handler; }, true);
        return true;
    }
    void CancelPending(CefRefPtr<CefBrowser> browser, Handler* handler) override
    {
        state_->Cancel(
            [browser, handler](const BrowserState::Query& q) {
                return (!browser || q.browser->IsSame(browser)) && (!handler || q.handler == handler);
            },
            true);
    }
    int GetPendingCount(CefRefPtr<CefBrowser> browser, Handler* handler) override
    {
        int n = 0;
        for (const auto& q : state_->queries)
            if ((!browser || q.second.browser->IsSame(browser)) && (!handler || q.second.handler == handler))
                ++n;
        return n;
    }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override { cancelBrowser(browser); }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) override { cancelBrowser(browser); }
    void OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame) override
    {
        if (!browser || !frame)
            return;
        const int64 frameId = frame->GetIdentifier();
        state_->Cancel(
            [browser, frameId](const BrowserState::Query& q) {
                return q.browser->IsSame(browser) && q.frameId == frameId;
            },
            true);
    }

    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId, CefRefPtr<CefProcessMessage> message) override
    {
        if (!browser || !message)
            return false;
        const CefString name = message->GetName();
        CefRefPtr<CefListValue> args = message->GetArgumentList();
        if (name == state_->names.query) {
            if (args->GetSize() < 4)
                return true;
            BrowserState::Query q;
            q.browser = browser;
            CefRefPtr<CefFrame> frame = browser->GetMainFrame();
            q.frameId = frame->GetIdentifier();
            q.contextId = args->GetString(0);
            q.requestId = args->GetInt(1);
            const CefString request = args->GetString(2);
            q.persistent = args->GetBool(3);
            const int64 id = state_->nextQueryId++;
            q.callback = new CallbackImpl(state_, id, q.persistent);
            state_->queries[id] = q;
            CefRefPtr<CefMessageRouterBrowserSide::Callback> cb = q.callback.get();
            const std::list<Handler*> handlers = state_->handlers;
            bool taken = false;
            for (Handler* h : handlers) {
                auto it = state_->queries.find(id);
                if (it != state_->queries.end())
                    it->second.handler = h;
                if (h->OnQuery(browser, frame, id, request, q.persistent, cb)) {
                    taken = true;
                    break;
                }
            }
            if (!taken) {
                auto it = state_->queries.find(id);
                if (it != state_->queries.end()) {
                    it->second.handler = nullptr;
                    q.callback->Detach();
                    const BrowserState::Query copy = it->second;
                    state_->queries.erase(it);
                    state_->SendResponse(copy, false, CefString(), -1, "Unhandled query");
                }
            }
            return true;
        }
        if (name == state_->names.cancel) {
            const CefString ctx = args->GetString(0);
            const int requestId = args->GetInt(1);
            state_->Cancel(
                [browser, ctx, requestId](const BrowserState::Query& q) {
                    return q.browser->IsSame(browser) && q.contextId == ctx &&
                           (requestId < 0 || q.requestId == requestId);
                },
                true);
            return true;
        }
        return false;
    }

private:
    void cancelBrowser(CefRefPtr<CefBrowser> browser)
    {
        if (!browser)
            return;
        state_->Cancel([browser](const BrowserState::Query& q) { return q.browser->IsSame(browser); }, true);
    }

    std::shared_ptr<BrowserState> state_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(BrowserSideImpl);
};

// ---------------------------------------------------------------- renderer side

// Members of the page's query object.
const CefString kRequest(u"request");
const CefString kOnSuccess(u"onSuccess");
const CefString kOnFailure(u"onFailure");
const CefString kPersistent(u"persistent");

struct RendererState {
    struct Request {
        CefRefPtr<CefBrowser> browser;
        CefRefPtr<CefV8Context> context;
        CefRefPtr<CefV8Value> onSuccess;
        CefRefPtr<CefV8Value> onFailure;
        bool persistent = false;
    };

    explicit RendererState(const CefMessageRouterConfig& c) : config(c), names(c) {}

    const CefMessageRouterConfig config;
    const MessageNames names;
    std::map<std::pair<CefString, int>, Request> requests;
    std::map<CefString, int> counters;

    // Context ids are unique per browser only.
    static CefString ContextKey(CefRefPtr<CefV8Context> ctx)
    {
        CefRefPtr<CefBrowser> browser = ctx->GetBrowser();
        const std::string key =
            std::to_string(browser ? browser->GetIdentifier() : 0) + ":" + std::to_string(V8ContextId(ctx));
        return CefString(std::u16string(key.begin(), key.end())); // ASCII
    }

    void SendCancel(CefRefPtr<CefBrowser> browser, const CefString& ctx, int requestId)
    {
        CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create(names.cancel);
        msg->GetArgumentList()->SetString(0, ctx);
        msg->GetArgumentList()->SetInt(1, requestId);
        HandOverProcessMessage(browser, PID_BROWSER, msg);
    }
};

class RendererHandler : public CefV8Handler {
public:
    explicit RendererHandler(std::weak_ptr<RendererState> state) : state_(std::move(state)) {}

    bool Execute(const CefString& name, CefRefPtr<CefV8Value>, const CefV8ValueList& arguments,
                 CefRefPtr<CefV8Value>& retval, CefString& exception) override
    {
        std::shared_ptr<RendererState> s = state_.lock();
        CefRefPtr<CefV8Context> ctx = CefV8Context::GetCurrentContext();
        if (!s || !ctx || !ctx->GetBrowser())
            return false;
        if (name == s->config.js_query_function) {
            if (arguments.size() != 1 || !arguments[0]->IsObject()) {
                exception = "Invalid arguments; expecting a single object";
                return true;
            }
            CefRefPtr<CefV8Value> arg = arguments[0];
            CefRefPtr<CefV8Value> request = arg->GetValue(kRequest);
            if (!request || !request->IsString()) {
                exception = "Invalid arguments; object member 'request' is required and must be a string";
                return true;
            }
            RendererState::Request r;
            r.browser = ctx->GetBrowser();
            r.context = ctx;
            auto member = [&arg](const CefString& key) { return arg->HasValue(key) ? arg->GetValue(key) : nullptr; };
            CefRefPtr<CefV8Value> onSuccess = member(kOnSuccess);
            CefRefPtr<CefV8Value> onFailure = member(kOnFailure);
            CefRefPtr<CefV8Value> persistent = member(kPersistent);
            if ((onSuccess && !onSuccess->IsUndefined() && !onSuccess->IsFunction()) ||
                (onFailure && !onFailure->IsUndefined() && !onFailure->IsFunction())) {
                exception = "Invalid arguments; 'onSuccess' and 'onFailure' must be functions";
                return true;
            }
            if (persistent && !persistent->IsUndefined() && !persistent->IsBool()) {
                exception = "Invalid arguments; 'persistent' must be a boolean";
                return true;
            }
            r.onSuccess = onSuccess && onSuccess->IsFunction() ? onSuccess : nullptr;
            r.onFailure = onFailure && onFailure->IsFunction() ? onFailure : nullptr;
            r.persistent = persistent && persistent->IsBool() && persistent->GetBoolValue();
            const CefString key = RendererState::ContextKey(ctx);
            const int id = ++s->counters[key];
            s->requests[{key, id}] = r;

            CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create(s->names.query);
            CefRefPtr<CefListValue> a = msg->GetArgumentList();
            a->SetString(0, key);
            a->SetInt(1, id);
            a->SetString(2, request->GetStringValue());
            a->SetBool(3, r.persistent);
            HandOverProcessMessage(r.browser, PID_BROWSER, msg);
            retval = CefV8Value::CreateInt(id);
            return true;
        }
        if (name == s->config.js_cancel_function) {
            if (arguments.size() != 1 || !arguments[0]->IsInt()) {
                exception = "Invalid arguments; expecting a single integer";
                return true;
            }
            const CefString key = RendererState::ContextKey(ctx);
            const int id = arguments[0]->GetIntValue();
            const bool found = s->requests.erase({key, id}) > 0;
            if (found)
                s->SendCancel(ctx->GetBrowser(), key, id);
            retval = CefV8Value::CreateBool(found);
            return true;
        }
        return false;
    }

private:
    std::weak_ptr<RendererState> state_;
    IMPLEMENT_REFCOUNTING(RendererHandler);
};

class RendererSideImpl : public CefMessageRouterRendererSide {
public:
    explicit RendererSideImpl(const CefMessageRouterConfig& config) : state_(std::make_shared<RendererState>(config)) {}

    int GetPendingCount(CefRefPtr<CefBrowser> browser, CefRefPtr<CefV8Context> context) override
    {
        int n = 0;
        for (const auto& r : state_->requests)
            if ((!browser || r.second.browser->IsSame(browser)) && (!context || r.second.context->IsSame(context)))
                ++n;
        return n;
    }

    void OnContextCreated(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefV8Context> context) override
    {
        if (!context)
            return;
        CefRefPtr<CefV8Value> global = context->GetGlobal();
        CefRefPtr<CefV8Handler> handler = new RendererHandler(state_);
        const auto attr = CefV8Value::PropertyAttribute(V8_PROPERTY_ATTRIBUTE_READONLY | V8_PROPERTY_ATTRIBUTE_DONTENUM |
                                                        V8_PROPERTY_ATTRIBUTE_DONTDELETE);
        global->SetValue(state_->config.js_query_function,
                         CefV8Value::CreateFunction(state_->config.js_query_function, handler), attr);
        global->SetValue(state_->config.js_cancel_function,
                         CefV8Value::CreateFunction(state_->config.js_cancel_function, handler), attr);
    }

    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, CefRefPtr<CefV8Context> context) override
    {
        if (!context)
            return;
        const CefString key = RendererState::ContextKey(context);
        bool any = false;
        for (auto it = state_->requests.begin(); it != state_->requests.end();) {
            if (it->first.first == key) {
                any = true;
                it = state_->requests.erase(it);
            } else {
                ++it;
            }
        }
        state_->counters.erase(key);
        if (any && browser)
            state_->SendCancel(browser, key, -1);
    }

    bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId, CefRefPtr<CefProcessMessage> message) override
    {
        if (!message || message->GetName() != state_->names.query)
            return false;
        CefRefPtr<CefListValue> args = message->GetArgumentList();
        const CefString key = args->GetString(0);
        const int id = args->GetInt(1);
        const bool success = args->GetBool(2);
        auto it = state_->requests.find({key, id});
        if (it == state_->requests.end())
            return true;
        const RendererState::Request r = it->second;
        if (!success || !r.persistent)
            state_->requests.erase(it);
        if (!r.context->IsValid())
            return true;
        CefV8ValueList callArgs;
        CefRefPtr<CefV8Value> fn;
        if (success) {
            fn = r.onSuccess;
            callArgs.push_back(CefV8Value::CreateString(args->GetString(3)));
        } else {
            fn = r.onFailure;
            callArgs.push_back(CefV8Value::CreateInt(args->GetInt(3)));
            callArgs.push_back(CefV8Value::CreateString(args->GetString(4)));
        }
        if (fn)
            fn->ExecuteFunctionWithContext(r.context, nullptr, callArgs);
        return true;
    }

private:
    std::shared_ptr<RendererState> state_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(RendererSideImpl);
};

} // namespace

CefRefPtr<CefMessageRouterBrowserSide> CefMessageRouterBrowserSide::Create(const CefMessageRouterConfig& config)
{
    return new BrowserSideImpl(config);
}

CefRefPtr<CefMessageRouterRendererSide> CefMessageRouterRendererSide::Create(const CefMessageRouterConfig& config)
{
    return new RendererSideImpl(config);
}
