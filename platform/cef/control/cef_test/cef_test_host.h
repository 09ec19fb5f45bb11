// Test host: a backend without a page engine, for tests only (never included by src/).
//
// Constructing a TestHost installs it as the backend; destroying it removes it. Browsers
// that system code creates are recorded; tests drive their events (creation, loads, popups,
// context menus, renderer termination, script contexts and page calls into global
// functions) and read what the system did (URL loads, process messages, page-function
// calls, focus, close requests). Drivers that need an answer wait for it (bounded); the
// others post and return, so call WaitForIdle() before looking at results. The runtime's
// UI, IO and renderer are threads of their own here (unlike on the QtWebEngine backend,
// where UI and renderer are the GUI thread), so handlers meet the real runtime's threading.
#pragma once

#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_cookie.h"
#include "cef_control/backend.h"
#include "cef_extras/closure_task.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cef_test {

using cef_backend::ScriptValue;

// Waits until every task posted to the thread before the call has run. false on timeout or
// when the thread is not running.
bool WaitForThread(CefThreadId thread, int timeoutMs = 5000);
// Waits until no task is queued or running on the task threads, including the ones they post to
// each other meanwhile. false on timeout or when the runtime is not running.
bool WaitForIdle(int timeoutMs = 5000);

// Starts the runtime for a test with default settings (no log file) and the given app.
bool StartRuntime(CefRefPtr<CefApp> app = nullptr, const std::vector<std::string>& argv = {});
void StopRuntime();

// The schemes the client last gave to the cookie manager.
std::vector<CefString> SupportedCookieSchemes();

// Number of live objects made by the core (browsers, values, messages, V8 values, router
// callbacks, tasks); for reference-balance checks.
int LiveObjectCount();

struct ProcessMessageRecord {
    int browser_id = 0;
    CefProcessId target = PID_RENDERER;
    std::string name;
    CefRefPtr<CefListValue> args; // read-only copy
};

struct PageCall {
    int browser_id = 0;
    int64 context_id = 0;
    int64 function_id = 0;
    std::vector<ScriptValue> args;
};

struct BrowserRecord {
    int id = 0;
    cef_backend::CreateParams params;
    CefWindowHandle window = 0;
    bool created = false;     // Created() reported
    bool closed = false;      // Closed() reported
    int close_requests = 0;   // BrowserView::Close calls
    std::vector<std::string> loads;  // LoadURL, in order
    std::vector<std::string> scripts; // ExecuteJavaScript code
    int back = 0, forward = 0, reloads = 0, stops = 0;
    std::vector<bool> focus;         // SetFocus arguments
    bool cursor_change_disabled = false;
    std::map<int64, std::vector<std::string>> globals; // exposed global functions per context
};

class TestHost : public cef_backend::Backend {
public:
    TestHost();
    ~TestHost() override;

    // --- Options
    // true (default): a browser reports Created() inside CreateBrowser; false: CompleteCreation().
    void SetAutoCreate(bool autoCreate);
    // Synchronous answer of page functions: return true and set *result to answer.
    void SetFunctionResult(std::function<bool(const PageCall&, ScriptValue*)> answer);
    // false makes CreateBrowser refuse.
    void SetAcceptCreation(bool accept);

    // --- Browsers
    std::vector<int> BrowserIds();
    int LastBrowserId();
    CefRefPtr<CefBrowser> Browser(int id);
    CefRefPtr<cef_backend::BrowserCore> Core(int id);
    BrowserRecord Record(int id);
    void CompleteCreation(int id);

    // --- Drivers (browser side)
    void LoadEnd(int id, int httpStatus = 200);
    void LoadError(int id, int errorCode, const std::string& failedUrl = std::string(),
                   const std::string& errorText = std::string());
    void LoadingState(int id, bool isLoading, bool canGoBack, bool canGoForward);
    void SetAddress(int id, const std::string& url);
    // OnBeforeBrowse; unless cancelled: the open context is released, the address changes
    // and a new context is created (its id answered in *newContext). Answers "cancelled".
    bool Navigate(int id, const std::string& url, bool isRedirect = false, int64* newContext = nullptr);
    cef_backend::PopupDecision Popup(int id, const std::string& targetUrl, const std::string& frameName = "");
    // window.open in the page: OnBeforePopup, then, unless the client cancelled it, the popup
    // opens as a browser of its own (as the engine does). Answers its id (0: cancelled or refused).
    int WindowOpen(int id, const std::string& targetUrl);
    // Runs OnBeforeContextMenu on a model holding the given engine items; answers the model.
    CefRefPtr<CefMenuModel> ContextMenu(int id, const cef_backend::ContextMenuInfo& info,
                                        const std::vector<std::pair<int, std::string>>& engineItems = {});
    bool ContextMenuCommand(int id, const cef_backend::ContextMenuInfo& info, int commandId, int flags = 0);
    void TerminateRenderer(int id, cef_termination_status_t status = TS_PROCESS_CRASHED);
    // The engine's view is gone (parent destroyed).
    void DestroyView(int id);
    cef_backend::DownloadDecision Download(int id, const cef_backend::DownloadInfo& item);
    void DownloadUpdate(int id, const cef_backend::DownloadInfo& item);
    bool DragEnter(int id, uint32 mask, const cef_backend::DragInfo& data = {});
    // The client's answer through the callback: -1 none yet/not taken, 0 deny, 1 allow.
    int Geolocation(int id, const std::string& url, int requestId = 1);
    int Quota(int id, const std::string& origin, int64 newSize);
    bool ProtocolExecution(int id, const std::string& url);
    bool PreKey(int id, const CefKeyEvent& event);
    bool FileDialog(int id, int mode = FILE_DIALOG_OPEN);
    bool JSDialog(int id, int type = JSDIALOGTYPE_ALERT, const std::string& message = "");

    // --- Drivers (renderer side)
    // A new main-frame context; answers its id.
    int64 CreateContext(int id, const std::string& url = "about:blank");
    void ReleaseContext(int id, int64 contextId);
    int64 CurrentContext(int id);
    // Page script calls global function name; waits for the answer (exception text in *exception).
    ScriptValue CallGlobal(int id, int64 contextId, const std::string& name, const std::vector<ScriptValue>& args,
                           std::string* exception = nullptr);
    // A page function value, as the engine would hand it in.
    ScriptValue MakePageFunction(const std::string& name = "f");

    // --- Outputs
    std::vector<ProcessMessageRecord> MessagesTo(int id, CefProcessId target);
    std::vector<PageCall> PageCalls(int id = 0);  // 0: all browsers
    std::vector<std::pair<std::string, std::string>> RegisteredSchemes();

    // --- Resources
    struct Response {
        bool handled = false;  // false: OnNotHandled
        bool completed = false;
        bool ok = false;
        cef_backend::ResourceResponseHead head;
        std::string body;
        int chunks = 0;
    };
    Response Request(const std::string& url, int readBufferSize = 4096, int browserId = 0, int timeoutMs = 5000);

    // Backend interface.
    std::unique_ptr<cef_backend::BrowserView> CreateBrowser(CefRefPtr<cef_backend::BrowserCore> core,
                                                            const cef_backend::CreateParams& params) override;
    void ProcessMessageSent(int browserId, CefProcessId target, CefRefPtr<CefProcessMessage> message) override;
    void SchemeHandlerFactoryRegistered(const std::string& scheme, const std::string& domain) override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace cef_test
