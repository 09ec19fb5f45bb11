// Browser, host and frame objects, and the dispatch of engine events to the client's
// handlers on their threads.
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_render_process_handler.h"

#include "cef_internal.h"

#include <map>
#include <mutex>

namespace cef_internal {
CefRefPtr<CefProcessMessage> CopyMessageForDelivery(CefRefPtr<CefProcessMessage> message);
}

using namespace cef_internal;
using cef_backend::ScriptValue;

namespace {

// Rounds of engine-thread work a page call waits for: the query's way renderer -> UI ->
// renderer takes two; more leave room for handlers that answer through a task of their own.
const int kSettleRounds = 8;

// Calls done at most once.
template <class... A>
class Once {
public:
    explicit Once(std::function<void(A...)> f) : f_(std::move(f)) {}
    void operator()(A... a)
    {
        std::function<void(A...)> f;
        {
            std::lock_guard<std::mutex> l(m_);
            f.swap(f_);
        }
        if (f)
            f(a...);
    }

private:
    std::mutex m_;
    std::function<void(A...)> f_;
};

class ContextMenuParamsImpl : public CefContextMenuParams {
public:
    explicit ContextMenuParamsImpl(const cef_backend::ContextMenuInfo& i) : i_(i) {}
    int GetXCoord() override { return i_.x; }
    int GetYCoord() override { return i_.y; }
    TypeFlags GetTypeFlags() override { return TypeFlags(i_.type_flags); }
    CefString GetLinkUrl() override { return i_.link_url; }
    CefString GetUnfilteredLinkUrl() override { return i_.unfiltered_link_url; }
    CefString GetSourceUrl() override { return i_.source_url; }
    bool HasImageContents() override { return i_.has_image_contents; }
    CefString GetPageUrl() override { return i_.page_url; }
    CefString GetFrameUrl() override { return i_.frame_url; }
    CefString GetFrameCharset() override { return CefString(); }
    MediaType GetMediaType() override { return MediaType(i_.media_type); }
    CefString GetSelectionText() override { return i_.selection_text; }
    bool IsEditable() override { return i_.editable; }

private:
    const cef_backend::ContextMenuInfo i_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(ContextMenuParamsImpl);
};

class DownloadItemImpl : public CefDownloadItem {
public:
    explicit DownloadItemImpl(const cef_backend::DownloadInfo& d) : d_(d) {}
    bool IsValid() override { return true; }
    bool IsInProgress() override { return d_.in_progress; }
    bool IsComplete() override { return d_.complete; }
    bool IsCanceled() override { return d_.canceled; }
    int64 GetCurrentSpeed() override { return d_.current_speed; }
    int GetPercentComplete() override { return d_.percent_complete; }
    int64 GetTotalBytes() override { return d_.total_bytes; }
    int64 GetReceivedBytes() override { return d_.received_bytes; }
    CefString GetFullPath() override { return d_.full_path; }
    uint32 GetId() override { return d_.id; }
    CefString GetURL() override { return d_.url; }
    CefString GetSuggestedFileName() override { return d_.suggested_file_name; }
    CefString GetContentDisposition() override { return d_.content_disposition; }
    CefString GetMimeType() override { return d_.mime_type; }

private:
    const cef_backend::DownloadInfo d_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(DownloadItemImpl);
};

class BeforeDownloadCallbackImpl : public CefBeforeDownloadCallback {
public:
    void Continue(const CefString& download_path, bool show_dialog) override
    {
        std::lock_guard<std::mutex> l(m_);
        if (expired_ || d_.accepted)
            return;
        d_.accepted = true;
        d_.path = download_path.ToString();
        d_.show_dialog = show_dialog;
    }
    cef_backend::DownloadDecision Expire()
    {
        std::lock_guard<std::mutex> l(m_);
        expired_ = true;
        return d_;
    }

private:
    std::mutex m_;
    bool expired_ = false;
    cef_backend::DownloadDecision d_;
    IMPLEMENT_REFCOUNTING(BeforeDownloadCallbackImpl);
};

class DownloadItemCallbackImpl : public CefDownloadItemCallback {
public:
    explicit DownloadItemCallbackImpl(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    void Cancel() override { cancel_(); }

private:
    Once<> cancel_;
    IMPLEMENT_REFCOUNTING(DownloadItemCallbackImpl);
};

class FileDialogCallbackImpl : public CefFileDialogCallback {
public:
    explicit FileDialogCallbackImpl(std::function<void(bool, std::vector<std::string>)> done) : done_(std::move(done)) {}
    void Continue(const std::vector<CefString>& file_paths) override
    {
        std::vector<std::string> paths;
        for (const auto& p : file_paths)
            paths.push_back(p.ToString());
        done_(true, paths);
    }
    void Cancel() override { done_(false, {}); }

private:
    Once<bool, std::vector<std::string>> done_;
    IMPLEMENT_REFCOUNTING(FileDialogCallbackImpl);
};

class JSDialogCallbackImpl : public CefJSDialogCallback {
public:
    explicit JSDialogCallbackImpl(std::function<void(bool, std::string)> done) : done_(std::move(done)) {}
    void Continue(bool success, const CefString& user_input) override { done_(success, user_input.ToString()); }

private:
    Once<bool, std::string> done_;
    IMPLEMENT_REFCOUNTING(JSDialogCallbackImpl);
};

class BoolCallbackImpl : public CefGeolocationCallback, public CefQuotaCallback {
public:
    explicit BoolCallbackImpl(std::function<void(bool)> done) : done_(std::move(done)) {}
    void Continue(bool allow) override { done_(allow); }
    void Cancel() override { done_(false); }

private:
    Once<bool> done_;
    IMPLEMENT_REFCOUNTING(BoolCallbackImpl);
};

class BrowserImpl;

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}
std::map<int, CefRefPtr<BrowserImpl>>& registry()
{
    static auto* r = new std::map<int, CefRefPtr<BrowserImpl>>;
    return *r;
}
std::atomic<int> g_nextBrowserId{1};

class FrameImpl : public CefFrame {
public:
    explicit FrameImpl(CefRefPtr<BrowserImpl> browser) : browser_(browser) {}

    bool IsValid() override;
    void Undo() override { exec("document.execCommand('undo')"); }
    void Redo() override { exec("document.execCommand('redo')"); }
    void Cut() override { exec("document.execCommand('cut')"); }
    void Copy() override { exec("document.execCommand('copy')"); }
    void Paste() override { exec("document.execCommand('paste')"); }
    void Delete() override { exec("document.execCommand('delete')"); }
    void SelectAll() override { exec("document.execCommand('selectAll')"); }
    void ViewSource() override {}
    void LoadRequest(CefRefPtr<CefRequest> request) override
    {
        if (request)
            LoadURL(request->GetURL());
    }
    void LoadURL(const CefString& url) override;
    void LoadString(const CefString& string_val, const CefString& url) override;
    void ExecuteJavaScript(const CefString& code, const CefString& script_url, int start_line) override;
    bool IsMain() override { return true; }
    bool IsFocused() override { return true; }
    CefString GetName() override { return CefString(); }
    int64 GetIdentifier() override;
    CefRefPtr<CefFrame> GetParent() override { return nullptr; }
    CefString GetURL() override;
    CefRefPtr<CefBrowser> GetBrowser() override;
    CefRefPtr<CefV8Context> GetV8Context() override;

private:
    void exec(const char* js) { ExecuteJavaScript(js, CefString(), 0); }

    CefRefPtr<BrowserImpl> browser_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(FrameImpl);
};

class BrowserImpl : public CefBrowser, public CefBrowserHost, public cef_backend::BrowserCore {
public:
    BrowserImpl(int id, CefRefPtr<CefClient> client, const CefWindowInfo& wi, const CefBrowserSettings& settings,
                bool devtools, bool popup, CefWindowHandle opener)
        : id_(id), client_(client), windowInfo_(wi), settings_(settings), devtools_(devtools), popup_(popup),
          opener_(opener)
    {
    }

    // ---- attachment of the engine view
    void Attach(std::unique_ptr<cef_backend::BrowserView> view)
    {
        bool announce = false;
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            view_ = std::shared_ptr<cef_backend::BrowserView>(std::move(view));
            attached_ = true;
            announce = createdPending_;
            createdPending_ = false;
        }
        if (announce)
            Announce();
    }
    std::shared_ptr<cef_backend::BrowserView> View()
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return closed_ ? nullptr : view_;
    }
    std::shared_ptr<cef_backend::BrowserView> TakeView()
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        std::shared_ptr<cef_backend::BrowserView> v;
        v.swap(view_);
        return v;
    }
    CefRefPtr<CefClient> Client() { return client_; }
    CefRefPtr<CefFrame> Frame() { return new FrameImpl(this); }
    std::string Url()
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return url_;
    }
    void SetInspected(int id) { inspectedId_ = id; }

    // ---- CefBrowser
    CefRefPtr<CefBrowserHost> GetHost() override { return this; }
    bool CanGoBack() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return canGoBack_;
    }
    void GoBack() override
    {
        if (auto v = View())
            v->GoBack();
    }
    bool CanGoForward() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return canGoForward_;
    }
    void GoForward() override
    {
        if (auto v = View())
            v->GoForward();
    }
    bool IsLoading() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return loading_;
    }
    void Reload() override
    {
        if (auto v = View())
            v->Reload(false);
    }
    void ReloadIgnoreCache() override
    {
        if (auto v = View())
            v->Reload(true);
    }
    void StopLoad() override
    {
        if (auto v = View())
            v->StopLoad();
    }
    int GetIdentifier() override { return id_; }
    bool IsSame(CefRefPtr<CefBrowser> that) override { return that && that->GetIdentifier() == id_; }
    bool IsPopup() override { return devtools_ || popup_; }
    bool HasDocument() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return !url_.empty();
    }
    CefRefPtr<CefFrame> GetMainFrame() override { return Frame(); }
    CefRefPtr<CefFrame> GetFocusedFrame() override { return Frame(); }
    CefRefPtr<CefFrame> GetFrame(int64 identifier) override { return identifier == id_ ? Frame() : nullptr; }
    CefRefPtr<CefFrame> GetFrame(const CefString& name) override { return name.empty() ? Frame() : nullptr; }
    size_t GetFrameCount() override { return 1; }
    void GetFrameIdentifiers(std::vector<int64>& ids) override { ids.assign(1, int64(id_)); }
    void GetFrameNames(std::vector<CefString>& names) override { names.assign(1, CefString()); }
    bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) override
    {
        if (!message || IsClosed())
            return false;
        return Deliver(target, CopyMessageForDelivery(message));
    }
    // copy: read-only; the receiver and the backend's observer share it.
    bool Deliver(CefProcessId target, CefRefPtr<CefProcessMessage> copy);

    // ---- CefBrowserHost
    CefRefPtr<CefBrowser> GetBrowser() override { return this; }
    void CloseBrowser(bool) override
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_UI, [self] {
            if (self->IsClosed())
                return;
            CefRefPtr<CefLifeSpanHandler> h = self->client_ ? self->client_->GetLifeSpanHandler() : nullptr;
            if (h && h->DoClose(self.get()))
                return;
            std::shared_ptr<cef_backend::BrowserView> v = self->View();
            if (v)
                v->Close();
            else
                self->Closed();
        });
    }
    void SetFocus(bool focus) override
    {
        if (auto v = View())
            v->SetFocus(focus);
    }
    void SetWindowVisibility(bool visible) override
    {
        if (auto v = View())
            v->SetVisible(visible);
    }
    CefWindowHandle GetWindowHandle() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return window_;
    }
    CefWindowHandle GetOpenerWindowHandle() override { return popup_ ? opener_ : windowInfo_.parent_window; }
    CefRefPtr<CefClient> GetClient() override { return client_; }
    CefRefPtr<CefRequestContext> GetRequestContext() override { return nullptr; }
    double GetZoomLevel() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return zoom_;
    }
    void SetZoomLevel(double level) override
    {
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            zoom_ = level;
        }
        if (auto v = View())
            v->SetZoomLevel(level);
    }
    void StartDownload(const CefString& url) override
    {
        if (auto v = View())
            v->StartDownload(url.ToString());
    }
    void Print() override {}
    void ShowDevTools(const CefWindowInfo& windowInfo, CefRefPtr<CefClient> client,
                      const CefBrowserSettings& settings, const CefPoint& inspect_at) override;
    void CloseDevTools() override
    {
        CefRefPtr<BrowserImpl> dev;
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            dev = devtoolsBrowser_;
        }
        if (dev)
            dev->CloseBrowser(false);
    }
    void SetMouseCursorChangeDisabled(bool disabled) override
    {
        cursorDisabled_ = disabled;
        if (auto v = View())
            v->SetMouseCursorChangeDisabled(disabled);
    }
    bool IsMouseCursorChangeDisabled() override { return cursorDisabled_; }
    bool IsWindowRenderingDisabled() override { return windowInfo_.windowless_rendering_enabled != 0; }
    void WasResized() override {}
    void WasHidden(bool) override {}
    void NotifyScreenInfoChanged() override {}
    void Invalidate(cef_paint_element_type_t) override {}

    // ---- BrowserCore
    CefRefPtr<CefBrowser> Browser() override { return this; }
    int Id() override { return id_; }
    bool IsClosed() override
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        return closed_;
    }

    void Created(CefWindowHandle window) override
    {
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            if (created_ || closed_)
                return;
            created_ = true;
            window_ = window;
            if (!attached_) {
                createdPending_ = true;
                return;
            }
        }
        Announce();
    }

    void Closed() override;

    void CloseRequested() override { CloseBrowser(false); }

    void AddressChanged(const std::string& url) override
    {
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            url_ = url;
        }
        onUI([url](BrowserImpl* b) {
            if (auto h = b->client_->GetDisplayHandler())
                h->OnAddressChange(b, b->Frame(), url);
        });
    }
    void TitleChanged(const std::string& title) override
    {
        onUI([title](BrowserImpl* b) {
            if (auto h = b->client_->GetDisplayHandler())
                h->OnTitleChange(b, title);
        });
    }
    void LoadingStateChanged(bool isLoading, bool canGoBack, bool canGoForward) override
    {
        {
            std::lock_guard<std::recursive_mutex> l(m_);
            loading_ = isLoading;
            canGoBack_ = canGoBack;
            canGoForward_ = canGoForward;
        }
        onUI([=](BrowserImpl* b) {
            if (auto h = b->client_->GetLoadHandler())
                h->OnLoadingStateChange(b, isLoading, canGoBack, canGoForward);
        });
    }
    void LoadStarted() override
    {
        onUI([](BrowserImpl* b) {
            if (auto h = b->client_->GetLoadHandler())
                h->OnLoadStart(b, b->Frame());
        });
    }
    void LoadEnded(int status) override
    {
        onUI([status](BrowserImpl* b) {
            if (auto h = b->client_->GetLoadHandler())
                h->OnLoadEnd(b, b->Frame(), status);
        });
    }
    void LoadFailed(int code, const std::string& text, const std::string& failedUrl) override
    {
        onUI([=](BrowserImpl* b) {
            if (auto h = b->client_->GetLoadHandler())
                h->OnLoadError(b, b->Frame(), cef_errorcode_t(code), text, failedUrl);
        });
    }
    bool BeforeBrowse(const std::string& url, bool isRedirect) override
    {
        CefRefPtr<BrowserImpl> self = this;
        return RunAndWait<bool>(TID_UI, [self, url, isRedirect]() {
            if (self->IsClosed() || !self->client_)
                return false;
            CefRefPtr<CefRequestHandler> h = self->client_->GetRequestHandler();
            if (!h)
                return false;
            CefRefPtr<CefRequest> req = CefRequest::Create();
            req->SetURL(url);
            return h->OnBeforeBrowse(self.get(), self->Frame(), req, isRedirect);
        }, false);
    }
    void RenderProcessTerminated(cef_termination_status_t status) override
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_RENDERER, [self, status] {
            self->ReleaseAllContexts();
            cef_extras::PostTask(TID_UI, [self, status] {
                if (self->IsClosed() || !self->client_)
                    return;
                if (auto h = self->client_->GetRequestHandler())
                    h->OnRenderProcessTerminated(self.get(), status);
            });
        });
    }
    void ConsoleMessage(const std::string& message, const std::string& source, int line) override
    {
        onUI([=](BrowserImpl* b) {
            if (auto h = b->client_->GetDisplayHandler())
                h->OnConsoleMessage(b, message, source, line);
        });
    }

    void BeforePopup(const std::string& targetUrl, const std::string& frameName,
                     std::function<void(const cef_backend::PopupDecision&)> done) override
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_IO, [self, targetUrl, frameName, done] {
            cef_backend::PopupDecision d;
            d.client = self->client_;
            d.settings = self->settings_;
            d.cancel = true;
            if (!self->IsClosed() && self->client_) {
                d.cancel = false;
                if (auto h = self->client_->GetLifeSpanHandler()) {
                    CefPopupFeatures features;
                    d.cancel = h->OnBeforePopup(self.get(), self->Frame(), targetUrl, frameName, features,
                                                d.window_info, d.client, d.settings, &d.no_javascript_access);
                }
            }
            cef_extras::PostTask(TID_UI, [d, done] { done(d); });
        });
    }
    int OpenPopup(const cef_backend::PopupDecision& decision, const std::string& targetUrl) override;
    void BeforeContextMenu(const cef_backend::ContextMenuInfo& info, CefRefPtr<CefMenuModel> model) override
    {
        CefRefPtr<BrowserImpl> self = this;
        RunAndWaitVoid(TID_UI, [self, info, model] {
            if (self->IsClosed() || !self->client_ || !model)
                return;
            if (auto h = self->client_->GetContextMenuHandler())
                h->OnBeforeContextMenu(self.get(), self->Frame(), new ContextMenuParamsImpl(info), model);
        });
    }
    bool ContextMenuCommand(const cef_backend::ContextMenuInfo& info, int commandId, int eventFlags) override
    {
        return uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetContextMenuHandler();
            return h && h->OnContextMenuCommand(b, b->Frame(), new ContextMenuParamsImpl(info), commandId,
                                                cef_event_flags_t(eventFlags));
        });
    }
    bool FileDialog(int mode, const std::string& title, const std::string& defaultFileName,
                    const std::vector<std::string>& acceptTypes,
                    std::function<void(bool, std::vector<std::string>)> done) override
    {
        return uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetDialogHandler();
            if (!h)
                return false;
            std::vector<CefString> types(acceptTypes.begin(), acceptTypes.end());
            return h->OnFileDialog(b, cef_file_dialog_mode_t(mode), title, defaultFileName, types,
                                   new FileDialogCallbackImpl(done));
        });
    }
    bool JSDialog(const std::string& originUrl, int dialogType, const std::string& message,
                  const std::string& defaultPrompt, std::function<void(bool, std::string)> done,
                  bool* suppress) override
    {
        auto sup = std::make_shared<std::atomic<bool>>(false);
        const bool r = uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetJSDialogHandler();
            if (!h)
                return false;
            bool s = false;
            const bool handled = h->OnJSDialog(b, originUrl, CefString(), cef_jsdialog_type_t(dialogType), message,
                                               defaultPrompt, new JSDialogCallbackImpl(done), s);
            *sup = s;
            return handled;
        });
        if (suppress)
            *suppress = *sup;
        return r;
    }
    cef_backend::DownloadDecision BeforeDownload(const cef_backend::DownloadInfo& item,
                                                 const std::string& suggestedName) override
    {
        CefRefPtr<BrowserImpl> self = this;
        return RunAndWait<cef_backend::DownloadDecision>(TID_UI, [self, item, suggestedName]() {
            CefRefPtr<BeforeDownloadCallbackImpl> cb = new BeforeDownloadCallbackImpl;
            if (!self->IsClosed() && self->client_)
                if (auto h = self->client_->GetDownloadHandler())
                    h->OnBeforeDownload(self.get(), new DownloadItemImpl(item), suggestedName, cb.get());
            return cb->Expire();
        }, cef_backend::DownloadDecision());
    }
    void DownloadUpdated(const cef_backend::DownloadInfo& item, std::function<void()> cancel) override
    {
        onUI([item, cancel](BrowserImpl* b) {
            if (auto h = b->client_->GetDownloadHandler())
                h->OnDownloadUpdated(b, new DownloadItemImpl(item),
                                     new DownloadItemCallbackImpl(cancel ? cancel : [] {}));
        });
    }
    bool DragEnter(const cef_backend::DragInfo& data, uint32 mask) override
    {
        return uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetDragHandler();
            if (!h)
                return false;
            CefRefPtr<CefDragData> d = CefDragData::Create();
            d->SetLinkURL(data.link_url);
            d->SetFragmentText(data.fragment_text);
            for (const auto& f : data.file_names)
                d->AddFile(f, CefString());
            return h->OnDragEnter(b, d, cef_drag_operations_mask_t(mask));
        });
    }
    bool GeolocationPermission(const std::string& url, int requestId, std::function<void(bool)> done) override
    {
        return uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetGeolocationHandler();
            return h && h->OnRequestGeolocationPermission(b, url, requestId, new BoolCallbackImpl(done));
        });
    }
    void QuotaRequest(const std::string& originUrl, int64 newSize, std::function<void(bool)> done) override
    {
        CefRefPtr<BrowserImpl> self = this;
        CefRefPtr<BoolCallbackImpl> callback = new BoolCallbackImpl(done);
        const bool posted = cef_extras::PostTask(TID_IO, [self, originUrl, newSize, callback] {
            CefRefPtr<CefRequestHandler> h =
                !self->IsClosed() && self->client_ ? self->client_->GetRequestHandler() : nullptr;
            if (!h || !h->OnQuotaRequest(self.get(), originUrl, newSize, callback.get()))
                callback->Continue(false);
        });
        if (!posted)
            done(false);
    }
    bool ProtocolExecution(const std::string& url) override
    {
        return uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetRequestHandler();
            bool allow = false;
            if (h)
                h->OnProtocolExecution(b, url, allow);
            return allow;
        });
    }
    bool PreKeyEvent(const CefKeyEvent& event, bool* isKeyboardShortcut) override
    {
        auto shortcut = std::make_shared<std::atomic<bool>>(false);
        const bool r = uiBool([=](BrowserImpl* b) {
            auto h = b->client_->GetKeyboardHandler();
            bool s = false;
            const bool consumed = h && h->OnPreKeyEvent(b, event, nullptr, &s);
            *shortcut = s;
            return consumed;
        });
        if (isKeyboardShortcut)
            *isKeyboardShortcut = *shortcut;
        return r;
    }

    // ---- renderer side
    void ContextCreated(int64 contextId, const std::string& url) override
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_RENDERER, [self, contextId, url] {
            if (self->IsClosed() || self->contexts_.count(contextId))
                return;
            CefRefPtr<CefV8Context> ctx = CreateV8Context(self.get(), contextId);
            self->contexts_[contextId] = ctx;
            self->currentContext_ = contextId;
            if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler())
                rph->OnContextCreated(self.get(), self->Frame(), ctx);
            if (auto v = self->View())
                v->ExposeGlobalFunctions(contextId, GlobalFunctionNames(ctx));
        });
    }
    void ContextReleased(int64 contextId) override
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_RENDERER, [self, contextId] { self->ReleaseContext(contextId); });
    }
    void CallGlobalFunction(int64 contextId, const CefString& name, const std::vector<ScriptValue>& args,
                            std::function<void(const ScriptValue&, const std::string&)> done) override
    {
        if (CefCurrentlyOn(TID_RENDERER) && OnEngineThread()) {
            // Contexts and messages queued before the call come first; a page query answered
            // at once then travels renderer -> UI -> renderer within the rounds after it.
            std::pair<ScriptValue, std::string> r;
            auto call = [&] { r = CallNow(contextId, name, args); };
            SettleEngineThread(kSettleRounds, [&call] { call(); }); // small enough to need no allocation
            if (done)
                done(r.first, r.second);
            return;
        }
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_RENDERER, [self, contextId, name, args, done] {
            const auto r = self->CallNow(contextId, name, args);
            if (done)
                done(r.first, r.second);
        });
    }
    // REN thread: the result and exception text of a page call.
    std::pair<ScriptValue, std::string> CallNow(int64 contextId, const CefString& name,
                                                const std::vector<ScriptValue>& args)
    {
        std::pair<ScriptValue, std::string> r;
        auto it = contexts_.find(contextId);
        if (it != contexts_.end() && !IsClosed())
            r.first = CallGlobal(it->second, name, args, &r.second);
        return r;
    }

    std::vector<std::string> ProbeGlobalFunctionNames() override
    {
        CefRefPtr<BrowserImpl> self = this;
        return RunAndWait<std::vector<std::string>>(TID_RENDERER, [self]() {
            std::vector<std::string> names;
            CefRefPtr<CefV8Context> ctx = CreateV8Context(self.get(), -1);
            CefRefPtr<CefRenderProcessHandler> rph = RenderHandler();
            if (rph)
                rph->OnContextCreated(self.get(), self->Frame(), ctx);
            names = GlobalFunctionNames(ctx);
            if (rph)
                rph->OnContextReleased(self.get(), self->Frame(), ctx);
            InvalidateV8Context(ctx);
            return names;
        }, std::vector<std::string>());
    }

    // REN thread.
    void ReleaseContext(int64 contextId)
    {
        auto it = contexts_.find(contextId);
        if (it == contexts_.end())
            return;
        CefRefPtr<CefV8Context> ctx = it->second;
        if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler())
            rph->OnContextReleased(this, Frame(), ctx);
        InvalidateV8Context(ctx);
        contexts_.erase(contextId);
        if (currentContext_ == contextId)
            currentContext_ = 0;
    }
    void ReleaseAllContexts()
    {
        std::vector<int64> ids;
        for (const auto& c : contexts_)
            ids.push_back(c.first);
        for (int64 id : ids)
            ReleaseContext(id);
    }
    CefRefPtr<CefV8Context> CurrentContext()
    {
        auto it = contexts_.find(currentContext_);
        return it == contexts_.end() ? nullptr : it->second;
    }

private:
    void Announce()
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_UI, [self] {
            if (self->IsClosed() || !self->client_)
                return;
            self->announcedUi_ = true;
            if (auto h = self->client_->GetLifeSpanHandler())
                h->OnAfterCreated(self.get());
        });
        cef_extras::PostTask(TID_RENDERER, [self] {
            if (self->IsClosed())
                return;
            self->announcedRenderer_ = true;
            if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler())
                rph->OnBrowserCreated(self.get());
        });
    }

    // Posts fn to UI unless the browser closed in between.
    void onUI(std::function<void(BrowserImpl*)> fn)
    {
        CefRefPtr<BrowserImpl> self = this;
        cef_extras::PostTask(TID_UI, [self, fn] {
            if (!self->IsClosed() && self->client_)
                fn(self.get());
        });
    }
    bool uiBool(std::function<bool(BrowserImpl*)> fn)
    {
        CefRefPtr<BrowserImpl> self = this;
        return RunAndWait<bool>(TID_UI, [self, fn]() {
            return !self->IsClosed() && self->client_ && fn(self.get());
        }, false);
    }

    const int id_;
    const CefRefPtr<CefClient> client_;
    const CefWindowInfo windowInfo_;
    const CefBrowserSettings settings_;
    const bool devtools_;
    const bool popup_;              // opened by the page (window.open) and allowed by the client
    const CefWindowHandle opener_;  // popups: the opener's window
    std::atomic<bool> cursorDisabled_{false};
    std::atomic<int> inspectedId_{0};

    std::recursive_mutex m_;
    std::shared_ptr<cef_backend::BrowserView> view_;
    bool attached_ = false;
    bool created_ = false;
    bool createdPending_ = false;
    bool closed_ = false;
    CefWindowHandle window_ = 0;
    std::string url_;
    bool loading_ = false;
    bool canGoBack_ = false;
    bool canGoForward_ = false;
    double zoom_ = 0;
    CefRefPtr<BrowserImpl> devtoolsBrowser_;

    bool announcedUi_ = false;       // UI thread only: OnAfterCreated ran
    bool announcedRenderer_ = false; // REN thread only: OnBrowserCreated ran

    // REN thread only.
    std::map<int64, CefRefPtr<CefV8Context>> contexts_;
    int64 currentContext_ = 0;

    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(BrowserImpl);

    friend class FrameImpl;
    friend CefRefPtr<BrowserImpl> createBrowser(const CefWindowInfo&, CefRefPtr<CefClient>, const std::string&,
                                                const CefBrowserSettings&, bool, BrowserImpl*, const CefPoint&,
                                                BrowserImpl*);
};

// A process message on its way to the receiving side's handler (renderer or client).
class MessageTask : public CefTask {
public:
    MessageTask(CefRefPtr<BrowserImpl> browser, CefProcessId target, CefRefPtr<CefProcessMessage> message)
        : browser_(std::move(browser)), target_(target), message_(std::move(message))
    {
    }
    void Execute() override
    {
        if (browser_->IsClosed())
            return;
        if (target_ == PID_RENDERER) {
            if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler())
                rph->OnProcessMessageReceived(browser_.get(), PID_BROWSER, message_);
        } else if (CefRefPtr<CefClient> client = browser_->Client()) {
            client->OnProcessMessageReceived(browser_.get(), PID_RENDERER, message_);
        }
    }

private:
    const CefRefPtr<BrowserImpl> browser_;
    const CefProcessId target_;
    const CefRefPtr<CefProcessMessage> message_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(MessageTask);
};

bool BrowserImpl::Deliver(CefProcessId target, CefRefPtr<CefProcessMessage> copy)
{
    if (IsClosed())
        return false;
    if (auto* b = cef_internal::Backend())
        b->ProcessMessageSent(id_, target, copy);
    return CefPostTask(target == PID_RENDERER ? TID_RENDERER : TID_UI, new MessageTask(this, target, copy));
}

// opener: the browser whose page opened this one as a popup (null: not a popup).
CefRefPtr<BrowserImpl> createBrowser(const CefWindowInfo& wi, CefRefPtr<CefClient> client, const std::string& url,
                                     const CefBrowserSettings& settings, bool devtools, BrowserImpl* inspected,
                                     const CefPoint& inspectAt, BrowserImpl* opener)
{
    cef_backend::Backend* backend = cef_internal::Backend();
    if (!backend || !client || !ThreadsRunning())
        return nullptr;
    CefRefPtr<BrowserImpl> b = new BrowserImpl(g_nextBrowserId.fetch_add(1), client, wi, settings, devtools,
                                               opener != nullptr, opener ? opener->GetWindowHandle() : 0);
    {
        std::lock_guard<std::mutex> l(registryMutex());
        registry()[b->Id()] = b;
    }
    cef_backend::CreateParams params;
    params.window_info = wi;
    params.settings = settings;
    params.url = url;
    params.is_devtools = devtools;
    params.is_popup = opener != nullptr;
    std::shared_ptr<cef_backend::BrowserView> inspectedView = inspected ? inspected->View() : nullptr;
    params.inspected = inspectedView.get();
    params.inspect_at = inspectAt;
    std::unique_ptr<cef_backend::BrowserView> view = backend->CreateBrowser(b.get(), params);
    if (!view) {
        {
            std::lock_guard<std::recursive_mutex> l(b->m_);
            b->closed_ = true;
        }
        std::lock_guard<std::mutex> l(registryMutex());
        registry().erase(b->Id());
        return nullptr;
    }
    b->Attach(std::move(view));
    return b;
}

void BrowserImpl::ShowDevTools(const CefWindowInfo& windowInfo, CefRefPtr<CefClient> client,
                               const CefBrowserSettings& settings, const CefPoint& inspect_at)
{
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (closed_)
            return;
        if (devtoolsBrowser_ && !devtoolsBrowser_->IsClosed()) {
            devtoolsBrowser_->SetFocus(true);
            return;
        }
    }
    CefRefPtr<BrowserImpl> dev =
        createBrowser(windowInfo, client ? client : client_, std::string(), settings, true, this, inspect_at, nullptr);
    if (!dev)
        return;
    dev->SetInspected(id_);
    std::lock_guard<std::recursive_mutex> l(m_);
    devtoolsBrowser_ = dev;
}

int BrowserImpl::OpenPopup(const cef_backend::PopupDecision& decision, const std::string& targetUrl)
{
    if (decision.cancel || IsClosed())
        return 0;
    CefRefPtr<CefClient> client = decision.client ? decision.client : client_;
    CefRefPtr<BrowserImpl> popup = createBrowser(decision.window_info, client, targetUrl, decision.settings, false,
                                                 nullptr, CefPoint(), this);
    return popup ? popup->Id() : 0;
}

void BrowserImpl::Closed()
{
    CefRefPtr<BrowserImpl> dev;
    {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (closed_)
            return;
        closed_ = true;
        dev.swap(devtoolsBrowser_);
    }
    if (dev)
        dev->CloseBrowser(true);
    if (const int inspected = inspectedId_) {
        CefRefPtr<CefBrowser> ib = FindBrowser(inspected);
        if (auto* impl = dynamic_cast<BrowserImpl*>(ib.get())) {
            std::lock_guard<std::recursive_mutex> l(impl->m_);
            if (impl->devtoolsBrowser_.get() == this)
                impl->devtoolsBrowser_ = nullptr;
        }
    }
    CefRefPtr<BrowserImpl> self = this;
    // A browser that was never announced (its view went before creation completed) is
    // not reported as closing either.
    cef_extras::PostTask(TID_RENDERER, [self] {
        self->ReleaseAllContexts();
        if (!self->announcedRenderer_)
            return;
        if (CefRefPtr<CefRenderProcessHandler> rph = RenderHandler())
            rph->OnBrowserDestroyed(self.get());
    });
    const bool posted = cef_extras::PostTask(TID_UI, [self] {
        if (self->client_ && self->announcedUi_)
            if (auto h = self->client_->GetLifeSpanHandler())
                h->OnBeforeClose(self.get());
        std::shared_ptr<cef_backend::BrowserView> v = self->TakeView();
        v.reset();
        std::lock_guard<std::mutex> l(registryMutex());
        registry().erase(self->id_);
    });
    if (!posted) {
        std::shared_ptr<cef_backend::BrowserView> v = TakeView();
        v.reset();
        std::lock_guard<std::mutex> l(registryMutex());
        registry().erase(id_);
    }
}

bool FrameImpl::IsValid() { return !browser_->IsClosed(); }
void FrameImpl::LoadURL(const CefString& url)
{
    if (auto v = browser_->View())
        v->LoadURL(url.ToString());
}
void FrameImpl::LoadString(const CefString& string_val, const CefString& url)
{
    if (auto v = browser_->View())
        v->LoadString(string_val.ToString(), url.ToString());
}
void FrameImpl::ExecuteJavaScript(const CefString& code, const CefString& script_url, int start_line)
{
    if (auto v = browser_->View())
        v->ExecuteJavaScript(code.ToString(), script_url.ToString(), start_line);
}
int64 FrameImpl::GetIdentifier() { return browser_->Id(); }
CefString FrameImpl::GetURL() { return browser_->Url(); }
CefRefPtr<CefBrowser> FrameImpl::GetBrowser() { return browser_.get(); }
CefRefPtr<CefV8Context> FrameImpl::GetV8Context()
{
    return CefCurrentlyOn(TID_RENDERER) ? browser_->CurrentContext() : nullptr;
}

} // namespace

namespace cef_internal {

CefRefPtr<CefBrowser> FindBrowser(int id)
{
    std::lock_guard<std::mutex> l(registryMutex());
    auto it = registry().find(id);
    return it == registry().end() ? nullptr : it->second.get();
}

bool HandOverProcessMessage(CefRefPtr<CefBrowser> browser, CefProcessId target, CefRefPtr<CefProcessMessage> message)
{
    auto* impl = dynamic_cast<BrowserImpl*>(browser.get());
    if (!impl)
        return browser && browser->SendProcessMessage(target, message);
    return message && impl->Deliver(target, SealMessage(message));
}

CefRefPtr<CefBrowser> OldestOpenBrowser()
{
    std::lock_guard<std::mutex> l(registryMutex());
    for (auto& b : registry())
        if (!b.second->IsClosed())
            return b.second.get();
    return nullptr;
}

CefRefPtr<CefClient> ClientOf(CefRefPtr<CefBrowser> browser)
{
    auto* impl = dynamic_cast<BrowserImpl*>(browser.get());
    return impl ? impl->Client() : nullptr;
}

void CloseAllViews()
{
    std::map<int, CefRefPtr<BrowserImpl>> all;
    {
        std::lock_guard<std::mutex> l(registryMutex());
        all.swap(registry());
    }
    for (auto& b : all) {
        RunAndWaitVoid(TID_RENDERER, [b] { b.second->ReleaseAllContexts(); });
        std::shared_ptr<cef_backend::BrowserView> v = b.second->TakeView();
        v.reset();
    }
}

bool InvokePageFunction(CefRefPtr<CefBrowser> browser, int64 contextId, int64 functionId,
                        const std::vector<ScriptValue>& args, ScriptValue* result)
{
    auto* impl = dynamic_cast<BrowserImpl*>(browser.get());
    if (!impl)
        return false;
    std::shared_ptr<cef_backend::BrowserView> v = impl->View();
    return v && v->InvokeFunction(contextId, functionId, args, result);
}

} // namespace cef_internal

bool CefBrowserHost::CreateBrowser(const CefWindowInfo& windowInfo, CefRefPtr<CefClient> client, const CefString& url,
                                   const CefBrowserSettings& settings, CefRefPtr<CefRequestContext>)
{
    return createBrowser(windowInfo, client, url.ToString(), settings, false, nullptr, CefPoint(), nullptr) != nullptr;
}
