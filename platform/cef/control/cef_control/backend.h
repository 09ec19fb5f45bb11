// Backend interface of the browser-runtime layer.
//
// The layer's core (platform/cef/src) implements the runtime API: reference counting,
// strings, task threads, values and process messages, browser/frame objects, the client
// handler calls on their threads, the resource-request driver, the V8 value emulation and
// both sides of the message router. A backend supplies the page engine: it creates one
// BrowserView per browser, carries out the actions the core hands it, and reports what the
// engine does through the browser's BrowserCore. Exactly one backend is installed
// (SetBackend) before the first browser is created: the QtWebEngine backend (platform/cef/qt)
// in the program, the test host (include/test/cef_test_host.h) in tests.
//
// Threads: the core runs browser callbacks on TID_UI (TID_IO for resource handlers, popups
// and quota), renderer callbacks and all script work on TID_RENDERER. A backend whose engine
// decides on one thread runs UI and RENDERER there (Backend::EngineThreadScheduler): its
// decisions then reach the client at once, never waiting on another thread. Otherwise UI and
// RENDERER are threads of their own (the test host). A backend may call BrowserCore from any
// thread; the members marked "blocks" run the client's handler on its thread and wait for the
// answer (inline when already called on that thread; the default when the runtime is
// stopped); call them from the engine's own thread, never from another of the runtime's
// threads. The core calls BrowserView members from any thread and they must never block.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_menu_model.h"
#include "include/cef_process_message.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cef_backend {

// CefWindowInfo's Win32 style bits that the backends interpret, and its default position.
const unsigned long kWindowStyleChild = 0x40000000UL;   // WS_CHILD
const unsigned long kWindowStyleVisible = 0x10000000UL; // WS_VISIBLE
const int kDefaultPosition = int(0x80000000U);          // CW_USEDEFAULT

// An empty menu model (the engine's context menus are handed to the client as one).
CefRefPtr<CefMenuModel> CreateMenuModel();

// A page value crossing between the page engine and the core's V8 values.
struct ScriptValue {
    enum Kind { Undefined, Null, Bool, Int, Double, String, Array, Object, Function };

    Kind kind = Undefined;
    bool b = false;
    int i = 0;
    double d = 0;
    CefString s;                                                // String, Function: name
    std::vector<ScriptValue> items;                             // Array
    std::vector<std::pair<CefString, ScriptValue>> members;     // Object, in order
    int64 function_id = 0;                                      // Function: the engine's handle (> 0)

    static ScriptValue MakeUndefined() { return ScriptValue(); }
    static ScriptValue MakeNull();
    static ScriptValue MakeBool(bool v);
    static ScriptValue MakeInt(int v);
    // A number: Int when it is integral and fits 32 bits, else Double.
    static ScriptValue MakeNumber(double v);
    static ScriptValue MakeString(const CefString& v);
    static ScriptValue MakeArray(std::vector<ScriptValue> v);
    static ScriptValue MakeObject(std::vector<std::pair<CefString, ScriptValue>> v);
    static ScriptValue MakeFunction(int64 id, const CefString& name = CefString());

    bool operator==(const ScriptValue& o) const;
    bool operator!=(const ScriptValue& o) const { return !(*this == o); }
};

// Context-menu parameters as the engine reports them.
struct ContextMenuInfo {
    int x = 0;
    int y = 0;
    int type_flags = CM_TYPEFLAG_PAGE; // cef_context_menu_type_flags_t
    int media_type = CM_MEDIATYPE_NONE;
    std::string link_url;
    std::string unfiltered_link_url;
    std::string source_url;
    std::string page_url;
    std::string frame_url;
    std::string selection_text;
    bool editable = false;
    bool has_image_contents = false;
};

struct DownloadInfo {
    uint32 id = 0;
    std::string url;
    std::string suggested_file_name;
    std::string full_path;
    std::string mime_type;
    std::string content_disposition;
    int64 total_bytes = -1;
    int64 received_bytes = 0;
    int64 current_speed = 0;
    int percent_complete = -1;
    bool in_progress = false;
    bool complete = false;
    bool canceled = false;
};

struct DragInfo {
    std::string link_url;
    std::string link_title;
    std::string fragment_text;
    std::string fragment_html;
    std::vector<std::string> file_names;
};

// What the client decided for a popup (BrowserCore::BeforePopup).
struct PopupDecision {
    bool cancel = false;
    CefWindowInfo window_info;
    CefRefPtr<CefClient> client;
    CefBrowserSettings settings;
    bool no_javascript_access = false;
};

// Result of a download that the client continued (BrowserCore::BeforeDownload).
struct DownloadDecision {
    bool accepted = false;
    std::string path;
    bool show_dialog = false;
};

class BrowserView;

// One browser as the core sees it. Held by the backend as a counted reference; stays valid
// after the browser closed (calls are then ignored).
class BrowserCore : public virtual CefBase {
public:
    virtual CefRefPtr<CefBrowser> Browser() = 0;
    virtual int Id() = 0;
    virtual bool IsClosed() = 0;

    // --- Life span
    // The engine's view exists: OnAfterCreated (UI) and the renderer's OnBrowserCreated (REN).
    // Report once; the handle is what CefBrowserHost::GetWindowHandle answers from then on.
    virtual void Created(CefWindowHandle window) = 0;
    // The engine's view is gone (closed on request or its parent window died): open script
    // contexts are released (REN), pending queries are cancelled, OnBeforeClose (UI).
    virtual void Closed() = 0;
    // The engine asks to close (window.close()): like CefBrowserHost::CloseBrowser(false).
    virtual void CloseRequested() = 0;

    // --- Navigation and load (main frame)
    virtual void AddressChanged(const std::string& url) = 0;
    virtual void TitleChanged(const std::string& title) = 0;
    virtual void LoadingStateChanged(bool isLoading, bool canGoBack, bool canGoForward) = 0;
    virtual void LoadStarted() = 0;
    virtual void LoadEnded(int httpStatusCode) = 0;
    virtual void LoadFailed(int errorCode, const std::string& errorText, const std::string& failedUrl) = 0;
    // Blocks (UI). true: cancel the navigation.
    virtual bool BeforeBrowse(const std::string& url, bool isRedirect) = 0;
    // Script contexts of the browser are released (REN), then OnRenderProcessTerminated (UI).
    virtual void RenderProcessTerminated(cef_termination_status_t status) = 0;
    virtual void ConsoleMessage(const std::string& message, const std::string& source, int line) = 0;

    // --- Requests for a decision
    // OnBeforePopup (IO); done gets the client's decision on TID_UI. When not cancelled the
    // backend may open the popup with OpenPopup, or drop it.
    virtual void BeforePopup(const std::string& targetUrl, const std::string& targetFrameName,
                             std::function<void(const PopupDecision& decision)> done) = 0;
    // Opens a popup that BeforePopup did not cancel as a new browser with the decision's
    // window, client (this browser's when null) and settings: IsPopup() is true for it and
    // its opener window is this browser's. Call on the engine's thread. Answers the new
    // browser's id, 0 when cancelled or refused.
    virtual int OpenPopup(const PopupDecision& decision, const std::string& targetUrl) = 0;
    // Blocks (UI). The backend seeds model with the engine's own items; the client edits it.
    virtual void BeforeContextMenu(const ContextMenuInfo& info, CefRefPtr<CefMenuModel> model) = 0;
    // Blocks (UI). true: handled by the client; false: the backend runs the engine's command.
    virtual bool ContextMenuCommand(const ContextMenuInfo& info, int commandId, int eventFlags) = 0;
    // Blocks (UI). true: the client answers through done (once, any thread, maybe later);
    // false: the backend shows the engine's own dialog.
    virtual bool FileDialog(int mode, const std::string& title, const std::string& defaultFileName,
                            const std::vector<std::string>& acceptTypes,
                            std::function<void(bool ok, std::vector<std::string> paths)> done) = 0;
    virtual bool JSDialog(const std::string& originUrl, int dialogType, const std::string& message,
                          const std::string& defaultPrompt, std::function<void(bool ok, std::string input)> done,
                          bool* suppress) = 0;
    // Blocks (UI). Continue() calls made after the handler returned are ignored.
    virtual DownloadDecision BeforeDownload(const DownloadInfo& item, const std::string& suggestedName) = 0;
    // cancel (may be null) cancels the download when the client asks.
    virtual void DownloadUpdated(const DownloadInfo& item, std::function<void()> cancel) = 0;
    // Blocks (UI). true: refuse the drag.
    virtual bool DragEnter(const DragInfo& data, uint32 allowedOpsMask) = 0;
    // Blocks (UI). true: the client answers through done; false: denied.
    virtual bool GeolocationPermission(const std::string& requestingUrl, int requestId,
                                       std::function<void(bool allow)> done) = 0;
    // OnQuotaRequest (IO); done gets the client's answer (any thread), false when the client
    // does not take the request.
    virtual void QuotaRequest(const std::string& originUrl, int64 newSize, std::function<void(bool allow)> done) = 0;
    // Blocks (UI). true: hand the URL to the operating system.
    virtual bool ProtocolExecution(const std::string& url) = 0;
    // Blocks (UI). true: consumed, the page does not see the key.
    virtual bool PreKeyEvent(const CefKeyEvent& event, bool* isKeyboardShortcut) = 0;

    // --- Renderer side (main-frame script contexts; ids chosen by the backend, unique per browser)
    // OnContextCreated (REN); then BrowserView::ExposeGlobalFunctions with the native functions
    // the handlers set on the global object.
    virtual void ContextCreated(int64 contextId, const std::string& url) = 0;
    virtual void ContextReleased(int64 contextId) = 0;
    // Page script called the global function name (REN). done (REN) gets the handler's return
    // value and exception text (empty: none). An unknown name gives undefined. Called on the
    // engine's thread that runs REN, the call runs at once, after what that thread had queued,
    // and the work it starts there (a page query answered at once, with the page function
    // calls of that answer) has run before done is called and the call returns.
    virtual void CallGlobalFunction(int64 contextId, const CefString& name, const std::vector<ScriptValue>& args,
                                    std::function<void(const ScriptValue& result, const std::string& exception)> done) = 0;
    // Blocks (REN). The names of the native global functions a new context of this browser
    // gets: runs OnContextCreated and OnContextReleased on a throw-away context. For a page
    // bootstrap that must define the globals before the first real context reports in.
    virtual std::vector<std::string> ProbeGlobalFunctionNames() = 0;
};

// Everything the engine needs to make a browser's view.
struct CreateParams {
    CefWindowInfo window_info;
    CefBrowserSettings settings;
    std::string url;
    bool is_devtools = false;
    bool is_popup = false;            // opened by page script (window.open) and allowed by the client
    BrowserView* inspected = nullptr; // developer tools: the inspected browser's view (valid during the call only)
    CefPoint inspect_at;              // developer tools: (0,0) = no element
};

// The engine's side of one browser, made by Backend::CreateBrowser and owned by the core.
// Called on any thread; never blocks. Destroyed (any thread) after Closed(), or in CefShutdown
// for browsers still open then (the Qt application object is already gone at that point).
class BrowserView {
public:
    virtual ~BrowserView() {}

    virtual void LoadURL(const std::string& url) = 0;
    virtual void LoadString(const std::string& /*html*/, const std::string& /*url*/) {}
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void Reload(bool ignoreCache) = 0;
    virtual void StopLoad() = 0;
    virtual void ExecuteJavaScript(const std::string& code, const std::string& scriptUrl, int startLine) = 0;
    virtual void SetFocus(bool focus) = 0;
    virtual void SetVisible(bool /*visible*/) {}
    virtual void SetMouseCursorChangeDisabled(bool /*disabled*/) {}
    virtual void SetZoomLevel(double /*level*/) {}
    virtual void StartDownload(const std::string& /*url*/) {}
    // Destroy the view (DoClose was already asked), then report BrowserCore::Closed().
    virtual void Close() = 0;

    // Script host (REN thread). Make the named native functions callable as globals of the
    // context; calls come back through BrowserCore::CallGlobalFunction.
    virtual void ExposeGlobalFunctions(int64 contextId, const std::vector<std::string>& names) = 0;
    // Run a page function (a Function value the engine handed in). true with *result when the
    // engine answered synchronously; false: run asynchronously, result undefined.
    virtual bool InvokeFunction(int64 contextId, int64 functionId, const std::vector<ScriptValue>& args,
                                ScriptValue* result) = 0;
};

class Backend {
public:
    virtual ~Backend() {}

    // CefInitialize, on the initialising thread (before the Qt application object exists in
    // the program), before the task threads start.
    virtual void Initialize(const CefMainArgs& /*args*/, const CefSettings& /*settings*/) {}
    // Asked once in CefInitialize, on the initialising thread. A backend whose engine makes
    // its decisions on that thread answers a function that asks the thread, from any thread
    // and without blocking, to call RunEngineThreadTasks() soon: the runtime's UI and
    // renderer tasks then run there. Empty (the default): they get threads of their own.
    virtual std::function<void()> EngineThreadScheduler() { return nullptr; }
    // CefShutdown, after the task threads stopped and every BrowserView was destroyed.
    virtual void Shutdown() {}
    // CefRegisterSchemeHandlerFactory (any thread; in the program before the Qt application object).
    virtual void SchemeHandlerFactoryRegistered(const std::string& /*scheme*/, const std::string& /*domain*/) {}
    // CefSchemeRegistrar::AddCustomScheme from CefApp::OnRegisterCustomSchemes.
    virtual void CustomSchemeAdded(const std::string& /*scheme*/, bool /*isStandard*/, bool /*isLocal*/, bool /*isDisplayIsolated*/) {}
    // A new browser (GUI thread for CefBrowserHost::CreateBrowser, UI for ShowDevTools).
    // Answer its view, or null to refuse. Report core->Created() once the view exists.
    virtual std::unique_ptr<BrowserView> CreateBrowser(CefRefPtr<BrowserCore> core, const CreateParams& params) = 0;
    // Observer: a process message (a copy) is on its way to target of browser browserId.
    virtual void ProcessMessageSent(int /*browserId*/, CefProcessId /*target*/, CefRefPtr<CefProcessMessage> /*message*/) {}
};

// Installs the backend (not owned; null removes it). Install before CefInitialize.
void SetBackend(Backend* backend);
Backend* GetBackend();

// On the engine's thread: runs the UI and renderer tasks queued there (see
// Backend::EngineThreadScheduler).
void RunEngineThreadTasks();

// ---- Resource requests (served by the client's request handler, then the scheme factories)

struct ResourceRequest {
    std::string url;
    std::string method = "GET";
    std::multimap<std::string, std::string> headers;
    std::string post_data;
    // The requesting browser (0: not known; the client of the oldest open browser is asked).
    int browser_id = 0;
    // Size of each ReadResponse buffer.
    int read_buffer_size = 4096;
};

struct ResourceResponseHead {
    int status = 200;
    std::string status_text;
    std::string mime_type;
    std::multimap<std::string, std::string> headers;
    int64 length = -1;
    std::string redirect_url;
};

// Receives the outcome of one request; all calls on TID_IO. Exactly one of OnNotHandled
// and OnComplete ends a request; a redirect is OnHeaders with redirect_url, then OnComplete(true).
class ResourceSink {
public:
    virtual ~ResourceSink() {}
    // Nobody serves the URL: the engine's default handling.
    virtual void OnNotHandled() = 0;
    virtual void OnHeaders(const ResourceResponseHead& head) = 0;
    virtual void OnData(const char* data, size_t size) = 0;
    // ok false: the handler refused or failed the request.
    virtual void OnComplete(bool ok) = 0;
};

class ResourceJob : public virtual CefBase {
public:
    // Any thread: the handler's Cancel() runs (IO) and the sink hears nothing more.
    virtual void Cancel() = 0;
};

// Any thread. Answers null (and the sink hears nothing) when the runtime is not running.
CefRefPtr<ResourceJob> StartResourceRequest(const ResourceRequest& request, std::shared_ptr<ResourceSink> sink);

} // namespace cef_backend
