#include "cef_test/cef_test_host.h"

#include "cef_internal.h"

#include <future>

using cef_backend::ScriptValue;

namespace cef_test {

struct TestHost::State {
    std::mutex m;
    std::map<int, BrowserRecord> records;
    std::map<int, CefRefPtr<cef_backend::BrowserCore>> cores;
    std::vector<int> order;
    std::map<int, int64> currentContext;
    std::vector<ProcessMessageRecord> messages;
    std::vector<PageCall> calls;
    std::vector<std::pair<std::string, std::string>> schemes;
    bool autoCreate = true;
    bool accept = true;
    std::function<bool(const PageCall&, ScriptValue*)> functionResult;
    int64 nextContext = 0;
    int64 nextFunction = 0;
};

namespace {

class TestView : public cef_backend::BrowserView {
public:
    TestView(std::shared_ptr<TestHost::State> st, int id, CefRefPtr<cef_backend::BrowserCore> core)
        : st_(std::move(st)), id_(id), core_(core)
    {
    }

    void LoadURL(const std::string& url) override { edit([&](BrowserRecord& r) { r.loads.push_back(url); }); }
    void LoadString(const std::string&, const std::string& url) override
    {
        edit([&](BrowserRecord& r) { r.loads.push_back(url); });
    }
    void GoBack() override { edit([](BrowserRecord& r) { ++r.back; }); }
    void GoForward() override { edit([](BrowserRecord& r) { ++r.forward; }); }
    void Reload(bool) override { edit([](BrowserRecord& r) { ++r.reloads; }); }
    void StopLoad() override { edit([](BrowserRecord& r) { ++r.stops; }); }
    void ExecuteJavaScript(const std::string& code, const std::string&, int) override
    {
        edit([&](BrowserRecord& r) { r.scripts.push_back(code); });
    }
    void SetFocus(bool focus) override { edit([&](BrowserRecord& r) { r.focus.push_back(focus); }); }
    void SetMouseCursorChangeDisabled(bool disabled) override
    {
        edit([&](BrowserRecord& r) { r.cursor_change_disabled = disabled; });
    }
    void Close() override
    {
        edit([](BrowserRecord& r) {
            ++r.close_requests;
            r.closed = true;
        });
        core_->Closed();
    }
    void ExposeGlobalFunctions(int64 contextId, const std::vector<std::string>& names) override
    {
        edit([&](BrowserRecord& r) { r.globals[contextId] = names; });
    }
    bool InvokeFunction(int64 contextId, int64 functionId, const std::vector<ScriptValue>& args,
                        ScriptValue* result) override
    {
        PageCall call;
        call.browser_id = id_;
        call.context_id = contextId;
        call.function_id = functionId;
        call.args = args;
        std::function<bool(const PageCall&, ScriptValue*)> answer;
        {
            std::lock_guard<std::mutex> l(st_->m);
            st_->calls.push_back(call);
            answer = st_->functionResult;
        }
        return answer && answer(call, result);
    }

private:
    template <class F>
    void edit(F f)
    {
        std::lock_guard<std::mutex> l(st_->m);
        f(st_->records[id_]);
    }

    std::shared_ptr<TestHost::State> st_;
    const int id_;
    CefRefPtr<cef_backend::BrowserCore> core_;
};

struct Collector : cef_backend::ResourceSink {
    std::mutex m;
    TestHost::Response r;
    std::promise<void> done;
    bool finished = false;

    void finish()
    {
        if (!finished) {
            finished = true;
            done.set_value();
        }
    }
    void OnNotHandled() override
    {
        std::lock_guard<std::mutex> l(m);
        r.handled = false;
        finish();
    }
    void OnHeaders(const cef_backend::ResourceResponseHead& head) override
    {
        std::lock_guard<std::mutex> l(m);
        r.handled = true;
        r.head = head;
    }
    void OnData(const char* data, size_t size) override
    {
        std::lock_guard<std::mutex> l(m);
        r.body.append(data, size);
        ++r.chunks;
    }
    void OnComplete(bool ok) override
    {
        std::lock_guard<std::mutex> l(m);
        r.handled = true;
        r.completed = true;
        r.ok = ok;
        finish();
    }
};

std::vector<std::string> g_argvStorage;
std::vector<char*> g_argv;

} // namespace

bool WaitForThread(CefThreadId thread, int timeoutMs)
{
    if (CefCurrentlyOn(thread))
        return true;
    auto p = std::make_shared<std::promise<void>>();
    std::future<void> f = p->get_future();
    if (!cef_extras::PostTask(thread, [p] { p->set_value(); }))
        return false;
    return f.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}

bool WaitForIdle(int timeoutMs)
{
    // A task counts until it has finished, and what it posts counts before that: tasks that
    // hand work to each other across threads keep the count above zero.
    if (!cef_internal::ThreadsRunning())
        return false;
    return cef_internal::WaitForTasksToSettle(timeoutMs);
}

bool StartRuntime(CefRefPtr<CefApp> app, const std::vector<std::string>& argv)
{
    g_argvStorage = argv;
    if (g_argvStorage.empty())
        g_argvStorage.push_back("test");
    g_argv.clear();
    for (auto& a : g_argvStorage)
        g_argv.push_back(&a[0]);
    g_argv.push_back(nullptr);
    CefMainArgs args(int(g_argvStorage.size()), g_argv.data());
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    const bool ok = CefInitialize(args, settings, app, nullptr);
    WaitForIdle();
    return ok;
}

void StopRuntime() { CefShutdown(); }

std::vector<CefString> SupportedCookieSchemes() { return cef_internal::SupportedCookieSchemes(); }

int LiveObjectCount() { return cef_internal::LiveObjects().load(); }

TestHost::TestHost() : state_(std::make_shared<State>()) { cef_backend::SetBackend(this); }

TestHost::~TestHost()
{
    if (cef_backend::GetBackend() == this)
        cef_backend::SetBackend(nullptr);
}

void TestHost::SetAutoCreate(bool autoCreate)
{
    std::lock_guard<std::mutex> l(state_->m);
    state_->autoCreate = autoCreate;
}

void TestHost::SetFunctionResult(std::function<bool(const PageCall&, ScriptValue*)> answer)
{
    std::lock_guard<std::mutex> l(state_->m);
    state_->functionResult = std::move(answer);
}

void TestHost::SetAcceptCreation(bool accept)
{
    std::lock_guard<std::mutex> l(state_->m);
    state_->accept = accept;
}

std::unique_ptr<cef_backend::BrowserView> TestHost::CreateBrowser(CefRefPtr<cef_backend::BrowserCore> core,
                                                                  const cef_backend::CreateParams& params)
{
    bool autoCreate;
    {
        std::lock_guard<std::mutex> l(state_->m);
        if (!state_->accept)
            return nullptr;
        autoCreate = state_->autoCreate;
    }
    const int id = core->Id();
    const CefWindowHandle window = CefWindowHandle(0x1000 + id);
    {
        std::lock_guard<std::mutex> l(state_->m);
        BrowserRecord& r = state_->records[id];
        r.id = id;
        r.params = params;
        r.window = window;
        r.created = autoCreate;
        state_->cores[id] = core;
        state_->order.push_back(id);
    }
    std::unique_ptr<cef_backend::BrowserView> view(new TestView(state_, id, core));
    if (autoCreate)
        core->Created(window);
    return view;
}

void TestHost::ProcessMessageSent(int browserId, CefProcessId target, CefRefPtr<CefProcessMessage> message)
{
    ProcessMessageRecord rec;
    rec.browser_id = browserId;
    rec.target = target;
    rec.name = message->GetName().ToString();
    rec.args = message->GetArgumentList();
    std::lock_guard<std::mutex> l(state_->m);
    state_->messages.push_back(rec);
}

void TestHost::SchemeHandlerFactoryRegistered(const std::string& scheme, const std::string& domain)
{
    std::lock_guard<std::mutex> l(state_->m);
    state_->schemes.emplace_back(scheme, domain);
}

std::vector<int> TestHost::BrowserIds()
{
    std::lock_guard<std::mutex> l(state_->m);
    return state_->order;
}

int TestHost::LastBrowserId()
{
    std::lock_guard<std::mutex> l(state_->m);
    return state_->order.empty() ? 0 : state_->order.back();
}

CefRefPtr<cef_backend::BrowserCore> TestHost::Core(int id)
{
    std::lock_guard<std::mutex> l(state_->m);
    auto it = state_->cores.find(id);
    return it == state_->cores.end() ? nullptr : it->second;
}

CefRefPtr<CefBrowser> TestHost::Browser(int id)
{
    CefRefPtr<cef_backend::BrowserCore> c = Core(id);
    return c ? c->Browser() : nullptr;
}

BrowserRecord TestHost::Record(int id)
{
    std::lock_guard<std::mutex> l(state_->m);
    auto it = state_->records.find(id);
    return it == state_->records.end() ? BrowserRecord() : it->second;
}

void TestHost::CompleteCreation(int id)
{
    CefWindowHandle window;
    {
        std::lock_guard<std::mutex> l(state_->m);
        BrowserRecord& r = state_->records[id];
        r.created = true;
        window = r.window;
    }
    if (auto c = Core(id))
        c->Created(window);
}

void TestHost::LoadEnd(int id, int httpStatus)
{
    if (auto c = Core(id))
        c->LoadEnded(httpStatus);
}

void TestHost::LoadError(int id, int errorCode, const std::string& failedUrl, const std::string& errorText)
{
    if (auto c = Core(id))
        c->LoadFailed(errorCode, errorText, failedUrl);
}

void TestHost::LoadingState(int id, bool isLoading, bool canGoBack, bool canGoForward)
{
    if (auto c = Core(id))
        c->LoadingStateChanged(isLoading, canGoBack, canGoForward);
}

void TestHost::SetAddress(int id, const std::string& url)
{
    if (auto c = Core(id))
        c->AddressChanged(url);
}

bool TestHost::Navigate(int id, const std::string& url, bool isRedirect, int64* newContext)
{
    auto c = Core(id);
    if (!c)
        return true;
    if (c->BeforeBrowse(url, isRedirect))
        return true;
    const int64 old = CurrentContext(id);
    if (old)
        ReleaseContext(id, old);
    c->AddressChanged(url);
    const int64 ctx = CreateContext(id, url);
    if (newContext)
        *newContext = ctx;
    return false;
}

cef_backend::PopupDecision TestHost::Popup(int id, const std::string& targetUrl, const std::string& frameName)
{
    cef_backend::PopupDecision cancelled;
    cancelled.cancel = true;
    auto c = Core(id);
    if (!c)
        return cancelled;
    auto p = std::make_shared<std::promise<cef_backend::PopupDecision>>();
    std::future<cef_backend::PopupDecision> f = p->get_future();
    c->BeforePopup(targetUrl, frameName, [p](const cef_backend::PopupDecision& d) { p->set_value(d); });
    return f.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? f.get() : cancelled;
}

int TestHost::WindowOpen(int id, const std::string& targetUrl)
{
    auto c = Core(id);
    if (!c)
        return 0;
    // As the engine does: the popup opens on the engine's side once the client allowed it.
    auto popup = std::make_shared<std::atomic<int>>(0);
    c->BeforePopup(targetUrl, std::string(), [c, targetUrl, popup](const cef_backend::PopupDecision& d) {
        if (!d.cancel)
            *popup = c->OpenPopup(d, targetUrl);
    });
    WaitForIdle();
    return *popup;
}

CefRefPtr<CefMenuModel> TestHost::ContextMenu(int id, const cef_backend::ContextMenuInfo& info,
                                              const std::vector<std::pair<int, std::string>>& engineItems)
{
    CefRefPtr<CefMenuModel> model = cef_backend::CreateMenuModel();
    for (const auto& item : engineItems) {
        if (item.first < 0)
            model->AddSeparator();
        else
            model->AddItem(item.first, item.second);
    }
    if (auto c = Core(id))
        c->BeforeContextMenu(info, model);
    return model;
}

bool TestHost::ContextMenuCommand(int id, const cef_backend::ContextMenuInfo& info, int commandId, int flags)
{
    auto c = Core(id);
    return c && c->ContextMenuCommand(info, commandId, flags);
}

void TestHost::TerminateRenderer(int id, cef_termination_status_t status)
{
    {
        std::lock_guard<std::mutex> l(state_->m);
        state_->currentContext.erase(id);
    }
    if (auto c = Core(id))
        c->RenderProcessTerminated(status);
}

void TestHost::DestroyView(int id)
{
    {
        std::lock_guard<std::mutex> l(state_->m);
        state_->records[id].closed = true;
        state_->currentContext.erase(id);
    }
    if (auto c = Core(id))
        c->Closed();
}

cef_backend::DownloadDecision TestHost::Download(int id, const cef_backend::DownloadInfo& item)
{
    auto c = Core(id);
    return c ? c->BeforeDownload(item, item.suggested_file_name) : cef_backend::DownloadDecision();
}

void TestHost::DownloadUpdate(int id, const cef_backend::DownloadInfo& item)
{
    if (auto c = Core(id))
        c->DownloadUpdated(item, nullptr);
}

bool TestHost::DragEnter(int id, uint32 mask, const cef_backend::DragInfo& data)
{
    auto c = Core(id);
    return c && c->DragEnter(data, mask);
}

int TestHost::Geolocation(int id, const std::string& url, int requestId)
{
    auto c = Core(id);
    auto answer = std::make_shared<std::atomic<int>>(-1);
    if (c)
        c->GeolocationPermission(url, requestId, [answer](bool allow) { *answer = allow ? 1 : 0; });
    WaitForIdle();
    return *answer;
}

int TestHost::Quota(int id, const std::string& origin, int64 newSize)
{
    auto c = Core(id);
    auto answer = std::make_shared<std::atomic<int>>(-1);
    if (c)
        c->QuotaRequest(origin, newSize, [answer](bool allow) { *answer = allow ? 1 : 0; });
    WaitForIdle();
    return *answer;
}

bool TestHost::ProtocolExecution(int id, const std::string& url)
{
    auto c = Core(id);
    return c && c->ProtocolExecution(url);
}

bool TestHost::PreKey(int id, const CefKeyEvent& event)
{
    auto c = Core(id);
    return c && c->PreKeyEvent(event, nullptr);
}

bool TestHost::FileDialog(int id, int mode)
{
    auto c = Core(id);
    return c && c->FileDialog(mode, std::string(), std::string(), {}, [](bool, std::vector<std::string>) {});
}

bool TestHost::JSDialog(int id, int type, const std::string& message)
{
    auto c = Core(id);
    bool suppress = false;
    return c && c->JSDialog(std::string(), type, message, std::string(), [](bool, std::string) {}, &suppress);
}

int64 TestHost::CreateContext(int id, const std::string& url)
{
    auto c = Core(id);
    if (!c)
        return 0;
    int64 ctx;
    {
        std::lock_guard<std::mutex> l(state_->m);
        ctx = ++state_->nextContext;
        state_->currentContext[id] = ctx;
    }
    c->ContextCreated(ctx, url);
    WaitForThread(TID_RENDERER);
    return ctx;
}

void TestHost::ReleaseContext(int id, int64 contextId)
{
    {
        std::lock_guard<std::mutex> l(state_->m);
        auto it = state_->currentContext.find(id);
        if (it != state_->currentContext.end() && it->second == contextId)
            state_->currentContext.erase(it);
    }
    if (auto c = Core(id)) {
        c->ContextReleased(contextId);
        WaitForThread(TID_RENDERER);
    }
}

int64 TestHost::CurrentContext(int id)
{
    std::lock_guard<std::mutex> l(state_->m);
    auto it = state_->currentContext.find(id);
    return it == state_->currentContext.end() ? 0 : it->second;
}

ScriptValue TestHost::CallGlobal(int id, int64 contextId, const std::string& name, const std::vector<ScriptValue>& args,
                                 std::string* exception)
{
    auto c = Core(id);
    if (!c)
        return ScriptValue();
    auto p = std::make_shared<std::promise<std::pair<ScriptValue, std::string>>>();
    auto f = p->get_future();
    c->CallGlobalFunction(contextId, name, args, [p](const ScriptValue& r, const std::string& e) {
        p->set_value({r, e});
    });
    if (f.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        return ScriptValue();
    auto result = f.get();
    if (exception)
        *exception = result.second;
    return result.first;
}

ScriptValue TestHost::MakePageFunction(const std::string& name)
{
    std::lock_guard<std::mutex> l(state_->m);
    return ScriptValue::MakeFunction(++state_->nextFunction, name);
}

std::vector<ProcessMessageRecord> TestHost::MessagesTo(int id, CefProcessId target)
{
    std::vector<ProcessMessageRecord> out;
    std::lock_guard<std::mutex> l(state_->m);
    for (const auto& m : state_->messages)
        if (m.browser_id == id && m.target == target)
            out.push_back(m);
    return out;
}

std::vector<PageCall> TestHost::PageCalls(int id)
{
    std::vector<PageCall> out;
    std::lock_guard<std::mutex> l(state_->m);
    for (const auto& c : state_->calls)
        if (id == 0 || c.browser_id == id)
            out.push_back(c);
    return out;
}

std::vector<std::pair<std::string, std::string>> TestHost::RegisteredSchemes()
{
    std::lock_guard<std::mutex> l(state_->m);
    return state_->schemes;
}

TestHost::Response TestHost::Request(const std::string& url, int readBufferSize, int browserId, int timeoutMs)
{
    auto sink = std::make_shared<Collector>();
    std::future<void> done = sink->done.get_future();
    cef_backend::ResourceRequest req;
    req.url = url;
    req.read_buffer_size = readBufferSize;
    req.browser_id = browserId;
    CefRefPtr<cef_backend::ResourceJob> job = cef_backend::StartResourceRequest(req, sink);
    if (!job)
        return Response();
    if (done.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        job->Cancel();
        WaitForThread(TID_IO);
    }
    std::lock_guard<std::mutex> l(sink->m);
    return sink->r;
}

} // namespace cef_test
