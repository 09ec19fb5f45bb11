// The resource-request driver: the client's GetResourceHandler first, then the scheme
// handler factory registered for (scheme, host); then ProcessRequest, GetResponseHeaders
// and the ReadResponse loop, all on the IO thread.
#include "include/cef_client.h"
#include "include/cef_scheme.h"

#include "cef_internal.h"

#include <QUrl>

using namespace cef_internal;

namespace {

struct JobState : std::enable_shared_from_this<JobState> {
    enum Phase { Starting, Processing, Reading, Done };

    cef_backend::ResourceRequest req;
    std::shared_ptr<cef_backend::ResourceSink> sink;
    CefRefPtr<CefResourceHandler> handler;
    CefRefPtr<CefCallback> callback;
    Phase phase = Starting;
    std::vector<char> buffer;

    void Start();
    void Continue();
    void ReadLoop();
    void Complete(bool ok)
    {
        if (phase == Done)
            return;
        phase = Done;
        sink->OnComplete(ok);
        Release();
    }
    void Cancel()
    {
        if (phase == Done)
            return;
        phase = Done;
        if (handler)
            handler->Cancel();
        Release();
    }
    // Ends the job; may destroy this (the last member access).
    void Release()
    {
        handler = nullptr;
        callback = nullptr;
        sink.reset();
        std::shared_ptr<JobState> keep = std::move(self);
    }
    // Keeps a running job alive while its handler answers asynchronously.
    std::shared_ptr<JobState> self;
};

void postToJob(std::weak_ptr<JobState> weak, void (JobState::*fn)())
{
    auto run = [weak, fn] {
        if (std::shared_ptr<JobState> s = weak.lock())
            ((*s).*fn)();
    };
    // Always posted, also on IO: the handler is never re-entered from inside its own call.
    cef_extras::PostTask(TID_IO, run);
}

class CallbackImpl : public CefCallback {
public:
    explicit CallbackImpl(std::weak_ptr<JobState> s) : state_(std::move(s)) {}
    void Continue() override { postToJob(state_, &JobState::Continue); }
    void Cancel() override
    {
        postToJob(state_, &JobState::Cancel);
    }

private:
    std::weak_ptr<JobState> state_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(CallbackImpl);
};

class JobImpl : public cef_backend::ResourceJob {
public:
    explicit JobImpl(std::shared_ptr<JobState> s) : state_(std::move(s)) {}
    void Cancel() override
    {
        std::shared_ptr<JobState> s = state_;
        cef_extras::PostTask(TID_IO, [s] { s->Cancel(); });
    }

private:
    std::shared_ptr<JobState> state_;
    IMPLEMENT_REFCOUNTING(JobImpl);
};

void JobState::Start()
{
    if (phase != Starting)
        return;
    CefRefPtr<CefRequest> request = CefRequest::Create();
    CefRequest::HeaderMap headers;
    for (const auto& h : req.headers)
        headers.emplace(h.first, h.second);
    CefRefPtr<CefPostData> post;
    if (!req.post_data.empty()) {
        post = CefPostData::Create();
        CefRefPtr<CefPostDataElement> e = CefPostDataElement::Create();
        e->SetToBytes(req.post_data.size(), req.post_data.data());
        post->AddElement(e);
    }
    request->Set(req.url, req.method, post, headers);

    CefRefPtr<CefBrowser> browser = req.browser_id ? FindBrowser(req.browser_id) : OldestOpenBrowser();
    CefRefPtr<CefFrame> frame = browser ? browser->GetMainFrame() : nullptr;
    CefRefPtr<CefClient> client = ClientOf(browser);
    if (client)
        if (CefRefPtr<CefRequestHandler> rh = client->GetRequestHandler())
            handler = rh->GetResourceHandler(browser, frame, request);
    if (!handler) {
        const QUrl url(QString::fromStdString(req.url));
        const std::string scheme = url.scheme().toLower().toStdString();
        if (CefRefPtr<CefSchemeHandlerFactory> f = FindSchemeFactory(scheme, url.host().toLower().toStdString()))
            handler = f->Create(browser, frame, scheme, request);
    }
    if (!handler) {
        phase = Done;
        sink->OnNotHandled();
        Release();
        return;
    }
    self = shared_from_this();
    callback = new CallbackImpl(self);
    phase = Processing;
    if (!handler->ProcessRequest(request, callback))
        Complete(false);
}

void JobState::Continue()
{
    if (phase == Processing) {
        CefRefPtr<CefResponse> response = CefResponse::Create();
        response->SetStatus(200);
        int64 length = -1;
        CefString redirect;
        handler->GetResponseHeaders(response, length, redirect);
        cef_backend::ResourceResponseHead head;
        head.status = response->GetStatus();
        head.status_text = response->GetStatusText().ToString();
        head.mime_type = response->GetMimeType().ToString();
        CefResponse::HeaderMap map;
        response->GetHeaderMap(map);
        for (const auto& h : map)
            head.headers.emplace(h.first.ToString(), h.second.ToString());
        head.length = length;
        head.redirect_url = redirect.ToString();
        sink->OnHeaders(head);
        if (!head.redirect_url.empty()) {
            Complete(true);
            return;
        }
        phase = Reading;
        ReadLoop();
    } else if (phase == Reading) {
        ReadLoop();
    }
}

void JobState::ReadLoop()
{
    const int size = req.read_buffer_size > 0 ? req.read_buffer_size : 4096;
    buffer.resize(size_t(size));
    while (phase == Reading) {
        int read = 0;
        const bool more = handler->ReadResponse(buffer.data(), size, read, callback);
        if (!more) {
            Complete(true);
            return;
        }
        if (read < 0 || read > size) {
            Complete(false);
            return;
        }
        if (read == 0)
            return; // the handler calls callback->Continue() when data is ready
        sink->OnData(buffer.data(), size_t(read));
    }
}

} // namespace

namespace cef_backend {

CefRefPtr<ResourceJob> StartResourceRequest(const ResourceRequest& request, std::shared_ptr<ResourceSink> sink)
{
    if (!sink || !ThreadsRunning())
        return nullptr;
    auto state = std::make_shared<JobState>();
    state->req = request;
    state->sink = std::move(sink);
    if (!cef_extras::PostTask(TID_IO, [state] { state->Start(); }))
        return nullptr;
    return new JobImpl(state);
}

} // namespace cef_backend
