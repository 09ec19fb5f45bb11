// The runtime API as the program's browser bridge uses it: a client deriving from every
// handler interface with each callback overridden under its own signature, an application
// with both process handlers, a scheme handler factory that is its own resource handler, a
// native script function and a query handler. A member missing from the layer, or one whose
// signature differs, fails the build here; the tests then drive the main paths through the
// test host.
#include "include/base/cef_lock.h"
#include "include/base/cef_logging.h"
#include "include/cef_app.h"
#include "include/cef_browser.h"
#include "include/cef_client.h"
#include "include/cef_command_line.h"
#include "include/cef_cookie.h"
#include "include/cef_process_message.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/cef_task.h"
#include "include/cef_v8.h"
#include "cef_test/cef_test_host.h"
#include "cef_extras/closure_task.h"
#include "include/wrapper/cef_message_router.h"
#include "include/wrapper/cef_stream_resource_handler.h"

#include "all_interfaces_client.h"
#include "cef_test_browser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using cef_backend::ScriptValue;

namespace {

// The window rectangle of the platform.
struct RECT {
    long left;
    long top;
    long right;
    long bottom;
};

// Callbacks by name and thread ("callback@thread").
using Events = test_support::EventLog;

// A page query handler that keeps the callback with a reference taken by hand.
class QueryHandler : public CefMessageRouterBrowserSide::Handler {
public:
    bool OnQuery(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, int64 /*query_id*/, const CefString& request,
                 bool /*persistent*/, CefRefPtr<Callback> callback) override
    {
        if (request.ToString().find("MoveWindow") == 0) {
            callback->Success("");
            return true;
        }
        callback->AddRef();
        std::lock_guard<std::mutex> l(m);
        pending.push_back(callback.get());
        return true;
    }
    void OnQueryCanceled(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, int64 /*query_id*/) override {}

    std::mutex m;
    std::vector<Callback*> pending; // each holds one reference taken in OnQuery
};

class ApiClientHandler : public test_support::AllInterfacesClient {
public:
    explicit ApiClientHandler(Events* events) : events_(events)
    {
        CefRefPtr<CefCommandLine> line = CefCommandLine::GetGlobalCommandLine();
        if (line->HasSwitch("url"))
            startupUrl_ = line->GetSwitchValue("url");
        cursorDisabled_ = line->HasSwitch("mouse-cursor-change-disabled");
    }

    // CefClient
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        events_->Add("OnProcessMessageReceived");
        return router_ && router_->OnProcessMessageReceived(browser, source_process, message);
    }

    // CefLifeSpanHandler
    bool OnBeforePopup(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, const CefString& target_url,
                       const CefString& /*target_frame_name*/, const CefPopupFeatures& /*popupFeatures*/,
                       CefWindowInfo& /*windowInfo*/, CefRefPtr<CefClient>& /*client*/, CefBrowserSettings& /*settings*/,
                       bool* /*no_javascript_access*/) override
    {
        events_->Add("OnBeforePopup:" + target_url.ToString());
        return !allowPopups;
    }
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override
    {
        events_->Add(std::string("OnAfterCreated:") + (browser->IsPopup() ? "popup" : "browser"));
        if (!router_) {
            CefMessageRouterConfig config;
            router_ = CefMessageRouterBrowserSide::Create(config);
            router_->AddHandler(&queries, false);
        }
        browser->GetHost()->SetMouseCursorChangeDisabled(cursorDisabled_);
        AutoLock lock_scope(this);
        if (!browser_) {
            browser_ = browser;
            browserId_ = browser->GetIdentifier();
        } else if (browser->IsPopup()) {
            popups_.push_back(browser);
            CefRefPtr<CefBrowser> popup = browser;
            CefPostTask(TID_UI, cef_extras::ClosureTask([popup] { popup->GetHost()->SetFocus(true); }));
        }
    }
    bool DoClose(CefRefPtr<CefBrowser> /*browser*/) override { return false; }
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override
    {
        events_->Add("OnBeforeClose");
        if (router_)
            router_->OnBeforeClose(browser);
        AutoLock lock_scope(this);
        if (browser_ && browser_->IsSame(browser))
            browser_ = nullptr;
        for (auto it = popups_.begin(); it != popups_.end(); ++it) {
            if ((*it)->IsSame(browser)) {
                popups_.erase(it);
                break;
            }
        }
    }

    // CefLoadHandler
    void OnLoadingStateChange(CefRefPtr<CefBrowser> /*browser*/, bool isLoading, bool canGoBack,
                              bool canGoForward) override
    {
        events_->Add(std::string("OnLoadingStateChange:") + (isLoading ? "1" : "0") + (canGoBack ? "1" : "0") +
                     (canGoForward ? "1" : "0"));
    }
    void OnLoadEnd(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, int httpStatusCode) override
    {
        events_->Add("OnLoadEnd:" + std::to_string(httpStatusCode));
    }
    void OnLoadError(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, ErrorCode errorCode,
                     const CefString& /*errorText*/, const CefString& failedUrl) override
    {
        if (errorCode == ERR_ABORTED)
            return;
        if (errorCode == ERR_UNKNOWN_URL_SCHEME && failedUrl.ToString().find("tel:") == 0)
            return;
        events_->Add("OnLoadError:" + std::to_string(int(errorCode)) + ":" + failedUrl.ToString());
    }

    // CefRequestHandler
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool /*is_redirect*/) override
    {
        events_->Add("OnBeforeBrowse:" + request->GetURL().ToString());
        if (router_)
            router_->OnBeforeBrowse(browser, frame);
        return false;
    }
    CefRefPtr<CefResourceHandler> GetResourceHandler(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                                     CefRefPtr<CefRequest> request) override
    {
        events_->Add("GetResourceHandler");
        const std::string url = request->GetURL();
        if (url.find("local") == std::string::npos)
            return nullptr;
        std::string text = "<p>local</p>";
        return new CefStreamResourceHandler("text/html", CefStreamReader::CreateForData(
                                                             static_cast<void*>(const_cast<char*>(text.c_str())),
                                                             text.size()));
    }
    bool OnQuotaRequest(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*origin_url*/, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override
    {
        events_->Add("OnQuotaRequest");
        static const int64 maxSize = 1024 * 1024 * 20;
        callback->Continue(new_size <= maxSize);
        return true;
    }
    void OnProtocolExecution(CefRefPtr<CefBrowser> /*browser*/, const CefString& url, bool& allow_os_execution) override
    {
        allow_os_execution = url.ToString().find("tel:") == 0;
    }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override
    {
        events_->Add("OnRenderProcessTerminated:" + std::to_string(int(status)));
        if (router_)
            router_->OnRenderProcessTerminated(browser);
        browser->GetMainFrame()->LoadURL(startupUrl_);
    }

    // CefContextMenuHandler
    void OnBeforeContextMenu(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                             CefRefPtr<CefContextMenuParams> params, CefRefPtr<CefMenuModel> model) override
    {
        if ((params->GetTypeFlags() & (CM_TYPEFLAG_PAGE | CM_TYPEFLAG_FRAME)) != 0) {
            if (model->GetCount() > 0)
                model->AddSeparator();
            model->AddItem(26500, "&Show DevTools");
            model->AddItem(26501, "Close DevTools");
            model->AddSeparator();
            model->AddItem(26502, "Inspect Element");
            CefRefPtr<CefMenuModel> sub = model->AddSubMenu(26503, "Context Menu Test");
            sub->AddCheckItem(26504, "Check Item");
            sub->AddRadioItem(26505, "Radio Item 1", 0);
            sub->AddRadioItem(26506, "Radio Item 2", 0);
            sub->AddRadioItem(26507, "Radio Item 3", 0);
            sub->SetChecked(26504, true);
            sub->SetChecked(26506, true);
        }
    }
    bool OnContextMenuCommand(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> /*frame*/,
                              CefRefPtr<CefContextMenuParams> params, int command_id, EventFlags /*event_flags*/) override
    {
        if (command_id == 26500 || command_id == 26502) {
            CefWindowInfo windowInfo;
            CefBrowserSettings settings;
            windowInfo.SetAsPopup(browser->GetHost()->GetWindowHandle(), "Dev Tools");
            const CefPoint at = command_id == 26502 ? CefPoint(params->GetXCoord(), params->GetYCoord())
                                                    : CefPoint(0, 0);
            browser->GetHost()->ShowDevTools(windowInfo, this, settings, at);
            return true;
        }
        if (command_id == 26501) {
            browser->GetHost()->CloseDevTools();
            return true;
        }
        return false;
    }

    // CefDialogHandler
    bool OnFileDialog(CefRefPtr<CefBrowser> /*browser*/, FileDialogMode /*mode*/, const CefString& /*title*/,
                      const CefString& /*default_file_name*/, const std::vector<CefString>& /*accept_types*/,
                      CefRefPtr<CefFileDialogCallback> /*callback*/) override
    {
        return false;
    }

    // CefDownloadHandler
    void OnBeforeDownload(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDownloadItem> /*download_item*/,
                          const CefString& suggested_name, CefRefPtr<CefBeforeDownloadCallback> callback) override
    {
        callback->Continue("/downloads/" + suggested_name.ToString(), true);
    }
    void OnDownloadUpdated(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDownloadItem> download_item,
                           CefRefPtr<CefDownloadItemCallback> /*callback*/) override
    {
        if (download_item->IsComplete())
            events_->Add("downloaded:" + download_item->GetFullPath().ToString());
    }

    // CefDragHandler
    bool OnDragEnter(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDragData> /*dragData*/,
                     DragOperationsMask mask) override
    {
        return (mask & DRAG_OPERATION_LINK) != 0;
    }

    // CefGeolocationHandler
    bool OnRequestGeolocationPermission(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*requesting_url*/,
                                        int /*request_id*/, CefRefPtr<CefGeolocationCallback> callback) override
    {
        callback->Continue(true);
        return true;
    }

    // CefJSDialogHandler
    bool OnJSDialog(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*origin_url*/, const CefString& /*accept_lang*/,
                    JSDialogType /*dialog_type*/, const CefString& /*message_text*/, const CefString& /*default_prompt_text*/,
                    CefRefPtr<CefJSDialogCallback> /*callback*/, bool& /*suppress_message*/) override
    {
        return false;
    }
    bool OnBeforeUnloadDialog(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*message_text*/, bool /*is_reload*/,
                              CefRefPtr<CefJSDialogCallback> /*callback*/) override
    {
        return false;
    }
    void OnResetDialogState(CefRefPtr<CefBrowser> /*browser*/) override {}

    // CefKeyboardHandler
    bool OnPreKeyEvent(CefRefPtr<CefBrowser> /*browser*/, const CefKeyEvent& /*event*/, CefEventHandle /*os_event*/,
                       bool* /*is_keyboard_shortcut*/) override
    {
        return false;
    }

    // CefRenderHandler (windowed browsers: never called)
    bool GetRootScreenRect(CefRefPtr<CefBrowser> /*browser*/, CefRect& /*rect*/) override { return false; }
    bool GetViewRect(CefRefPtr<CefBrowser> /*browser*/, CefRect& /*rect*/) override { return false; }
    bool GetScreenPoint(CefRefPtr<CefBrowser> /*browser*/, int /*viewX*/, int /*viewY*/, int& /*screenX*/, int& /*screenY*/) override
    {
        return false;
    }
    bool GetScreenInfo(CefRefPtr<CefBrowser> /*browser*/, CefScreenInfo& /*screen_info*/) override { return false; }
    void OnPopupShow(CefRefPtr<CefBrowser> /*browser*/, bool /*show*/) override {}
    void OnPopupSize(CefRefPtr<CefBrowser> /*browser*/, const CefRect& /*rect*/) override {}
    void OnPaint(CefRefPtr<CefBrowser> /*browser*/, PaintElementType /*type*/, const RectList& /*dirtyRects*/,
                 const void* /*buffer*/, int /*width*/, int /*height*/) override
    {
    }
    void OnCursorChange(CefRefPtr<CefBrowser> /*browser*/, CefCursorHandle /*cursor*/) override {}
    bool StartDragging(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDragData> /*drag_data*/,
                       cef_drag_operations_mask_t /*allowed_ops*/, int /*x*/, int /*y*/) override
    {
        return false;
    }
    void UpdateDragCursor(CefRefPtr<CefBrowser> /*browser*/, DragOperation /*operation*/) override {}

    // CefSchemeHandlerFactory: a handler of its own class per request
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                         const CefString& scheme_name, CefRefPtr<CefRequest> /*request*/) override
    {
        events_->Add("Create:" + scheme_name.ToString());
        return new ApiClientHandler(events_);
    }

    // CefResourceHandler
    bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) override
    {
        request->SetFlags(2);
        const std::string url = request->GetURL();
        data_ = "<html>" + url + "</html>";
        offset_ = 0;
        callback->Continue();
        return true;
    }
    void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length, CefString& /*redirectUrl*/) override
    {
        response->SetMimeType("text/html");
        response->SetStatus(200);
        CefResponse::HeaderMap headers;
        headers.insert(std::make_pair("Cache-Control", "no-cache"));
        headers.insert(std::make_pair("Access-Control-Allow-Origin", "*"));
        headers.insert(std::make_pair("Access-Control-Allow-Credentials", "true"));
        response->SetHeaderMap(headers);
        response_length = int64(data_.size());
    }
    bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read, CefRefPtr<CefCallback> /*callback*/) override
    {
        bytes_read = 0;
        if (offset_ >= data_.size())
            return false;
        const size_t n = std::min(data_.size() - offset_, size_t(bytes_to_read));
        std::memcpy(data_out, data_.data() + offset_, n);
        offset_ += n;
        bytes_read = int(n);
        return true;
    }
    void Cancel() override {}

    CefRefPtr<CefBrowser> GetBrowser()
    {
        AutoLock lock_scope(this);
        return browser_;
    }
    int GetBrowserId()
    {
        AutoLock lock_scope(this);
        return browserId_;
    }
    std::vector<CefRefPtr<CefBrowser>> Popups()
    {
        AutoLock lock_scope(this);
        return popups_;
    }
    void ReleaseRouter()
    {
        if (router_)
            router_->RemoveHandler(&queries);
        router_ = nullptr;
    }

    QueryHandler queries;
    std::atomic<bool> allowPopups{false};

private:
    Events* events_;
    CefString startupUrl_;
    bool cursorDisabled_ = false;
    CefRefPtr<CefMessageRouterBrowserSide> router_;
    CefRefPtr<CefBrowser> browser_;
    int browserId_ = 0;
    std::vector<CefRefPtr<CefBrowser>> popups_;
    std::string data_;
    size_t offset_ = 0;

    IMPLEMENT_REFCOUNTING(ApiClientHandler);
    IMPLEMENT_LOCKING(ApiClientHandler);
};

// The renderer-side page function registry: setMessageCallback(name, fn).
struct Registration {
    CefRefPtr<CefV8Context> context;
    CefRefPtr<CefV8Value> function;
};
std::map<std::pair<std::string, int>, Registration> g_callbacks; // renderer thread only

class MessageCallbackHandler : public CefV8Handler {
public:
    bool Execute(const CefString& /*name*/, CefRefPtr<CefV8Value> /*object*/, const CefV8ValueList& arguments,
                 CefRefPtr<CefV8Value>& /*retval*/, CefString& /*exception*/) override
    {
        if (arguments.size() == 2 && arguments[0]->IsString() && arguments[1]->IsFunction()) {
            CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
            const int browserId = context->GetBrowser()->GetIdentifier();
            g_callbacks.insert({{arguments[0]->GetStringValue().ToString(), browserId}, {context, arguments[1]}});
        }
        return false;
    }
    IMPLEMENT_REFCOUNTING(MessageCallbackHandler);
};

void CopyListItem(CefRefPtr<CefListValue> source, int index, CefRefPtr<CefV8Value> target)
{
    CefRefPtr<CefV8Value> value;
    switch (source->GetType(index)) {
    case VTYPE_BOOL:
        value = CefV8Value::CreateBool(source->GetBool(index));
        break;
    case VTYPE_INT:
        value = CefV8Value::CreateInt(source->GetInt(index));
        break;
    case VTYPE_DOUBLE:
        value = CefV8Value::CreateDouble(source->GetDouble(index));
        break;
    case VTYPE_STRING:
        value = CefV8Value::CreateString(source->GetString(index));
        break;
    case VTYPE_LIST: {
        CefRefPtr<CefListValue> list = source->GetList(index);
        value = CefV8Value::CreateArray(static_cast<int>(list->GetSize()));
        for (int i = 0; i < static_cast<int>(list->GetSize()); ++i)
            CopyListItem(list, i, value);
        break;
    }
    default:
        value = CefV8Value::CreateNull();
        break;
    }
    target->SetValue(index, value);
}

class ApiClientApp : public CefApp, public CefBrowserProcessHandler, public CefRenderProcessHandler {
public:
    explicit ApiClientApp(Events* events) : events_(events) {}

    // CefApp
    void OnBeforeCommandLineProcessing(const CefString& /*process_type*/,
                                       CefRefPtr<CefCommandLine> /*command_line*/) override
    {
    }
    void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> /*registrar*/) override
    {
        events_->Add("OnRegisterCustomSchemes");
    }
    CefRefPtr<CefResourceBundleHandler> GetResourceBundleHandler() override { return nullptr; }
    CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

    // CefBrowserProcessHandler
    void OnContextInitialized() override
    {
        events_->Add("OnContextInitialized");
        std::vector<CefString> schemes;
        schemes.push_back("http");
        schemes.push_back("https");
        CefRefPtr<CefCookieManager> manager = CefCookieManager::GetGlobalManager();
        if (manager)
            manager->SetSupportedSchemes(schemes);
    }
    void OnBeforeChildProcessLaunch(CefRefPtr<CefCommandLine> /*command_line*/) override {}
    void OnRenderProcessThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) override {}
    CefRefPtr<CefPrintHandler> GetPrintHandler() override { return nullptr; }

    // CefRenderProcessHandler
    void OnRenderThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) override { events_->Add("OnRenderThreadCreated"); }
    void OnWebKitInitialized() override
    {
        CefMessageRouterConfig config;
        router_ = CefMessageRouterRendererSide::Create(config);
    }
    void OnBrowserCreated(CefRefPtr<CefBrowser> /*browser*/) override {}
    void OnBrowserDestroyed(CefRefPtr<CefBrowser> /*browser*/) override {}
    CefRefPtr<CefLoadHandler> GetLoadHandler() override { return nullptr; }
    bool OnBeforeNavigation(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefRequest> /*request*/,
                            NavigationType /*navigation_type*/, bool /*is_redirect*/) override
    {
        return false;
    }
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override
    {
        router_->OnContextCreated(browser, frame, context);
        CefRefPtr<CefV8Value> object = context->GetGlobal();
        CefRefPtr<CefV8Handler> handler = new MessageCallbackHandler();
        object->SetValue("setMessageCallback", CefV8Value::CreateFunction("setMessageCallback", handler),
                         V8_PROPERTY_ATTRIBUTE_NONE);
    }
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override
    {
        router_->OnContextReleased(browser, frame, context);
        for (auto it = g_callbacks.begin(); it != g_callbacks.end();)
            it = it->second.context->IsSame(context) ? g_callbacks.erase(it) : std::next(it);
    }
    void OnUncaughtException(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                             CefRefPtr<CefV8Context> /*context*/, CefRefPtr<CefV8Exception> /*exception*/,
                             CefRefPtr<CefV8StackTrace> /*stackTrace*/) override
    {
    }
    void OnFocusedNodeChanged(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                              CefRefPtr<CefDOMNode> /*node*/) override
    {
    }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override
    {
        if (router_->OnProcessMessageReceived(browser, source_process, message))
            return true;
        auto it = g_callbacks.find({message->GetName().ToString(), browser->GetIdentifier()});
        if (it == g_callbacks.end())
            return false;
        CefRefPtr<CefV8Context> context = it->second.context;
        context->Enter();
        CefRefPtr<CefListValue> list = message->GetArgumentList();
        CefRefPtr<CefV8Value> args = CefV8Value::CreateArray(static_cast<int>(list->GetSize()));
        for (int i = 0; i < static_cast<int>(list->GetSize()); ++i)
            CopyListItem(list, i, args);
        CefV8ValueList arguments;
        arguments.push_back(args);
        CefRefPtr<CefV8Value> retval = it->second.function->ExecuteFunction(nullptr, arguments);
        const bool handled = retval.get() && retval->IsBool() && retval->GetBoolValue();
        context->Exit();
        return handled;
    }

private:
    Events* events_;
    CefRefPtr<CefMessageRouterRendererSide> router_;
    IMPLEMENT_REFCOUNTING(ApiClientApp);
};

class CefApiUsageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = new ApiClientApp(&events);
        std::string argv0 = "program", url = "--url=velmora://settings/local/client/main/index.html";
        char* argv[] = {&argv0[0], &url[0], nullptr};
        CefMainArgs mainArgs(2, argv);
        ASSERT_EQ(CefExecuteProcess(mainArgs, app.get(), nullptr), -1);

        CefSettings settings;
        CefString(&settings.user_agent) = "TarquilMervane";
        CefString(&settings.product_version) = "2.1";
        CefString(&settings.locale) = "en";
        settings.no_sandbox = 1;
        settings.multi_threaded_message_loop = 1;
        settings.background_color = 0xFF222529;
        CefString(&settings.cache_path) = std::string("/tmp/private/Cache");
        settings.persist_session_cookies = 1;
        ASSERT_TRUE(CefInitialize(mainArgs, settings, app.get(), nullptr));
        cef_test::WaitForIdle();

        handler = new ApiClientHandler(&events);
        CefRegisterSchemeHandlerFactory("velmora", "settings", handler.get());

        CefWindowInfo info;
        RECT rect = {0, 0, 800, 600};
        info.SetAsChild(0x99, rect);
        CefBrowserSettings browserSettings;
        browserSettings.caret_browsing = STATE_ENABLED;
        browserSettings.universal_access_from_file_urls = STATE_ENABLED;
        browserSettings.file_access_from_file_urls = STATE_DISABLED;
        browserSettings.web_security = STATE_ENABLED;
        browserSettings.text_area_resize = STATE_DISABLED;
        browserSettings.tab_to_links = STATE_DISABLED;
        ASSERT_TRUE(CefBrowserHost::CreateBrowser(info, handler.get(), "about:blank", browserSettings, nullptr));
        cef_test::WaitForIdle();
        id = host.LastBrowserId();
        ASSERT_GT(id, 0);
    }
    void TearDown() override
    {
        for (auto* cb : handler->queries.pending)
            cb->Release();
        handler->queries.pending.clear();
        // As the engine does at exit: views still open go, and the client drops its browsers.
        for (int browser : host.BrowserIds())
            if (!host.Record(browser).closed)
                host.DestroyView(browser);
        cef_test::WaitForIdle();
        CefShutdown();
        g_callbacks.clear();
        handler->ReleaseRouter();
        CefRegisterSchemeHandlerFactory("velmora", "settings", nullptr);
    }

    Events events;
    cef_test::TestHost host;
    CefRefPtr<ApiClientApp> app;
    CefRefPtr<ApiClientHandler> handler;
    int id = 0;
};

TEST_F(CefApiUsageTest, StartupAndCreationReachTheHandlersOnTheirThreads)
{
    EXPECT_TRUE(events.Has("OnRegisterCustomSchemes@other"));
    EXPECT_TRUE(events.Has("OnContextInitialized@UI"));
    EXPECT_TRUE(events.Has("OnRenderThreadCreated@REN"));
    EXPECT_TRUE(events.Has("OnAfterCreated:browser@UI"));
    ASSERT_TRUE(handler->GetBrowser());
    EXPECT_EQ(handler->GetBrowserId(), id);
    EXPECT_FALSE(handler->GetBrowser()->IsPopup());
    EXPECT_EQ(host.Record(id).params.window_info.style, 0x56010000UL);
    EXPECT_EQ(host.Record(id).params.settings.caret_browsing, STATE_ENABLED);
    EXPECT_EQ(CefCommandLine::GetGlobalCommandLine()->GetSwitchValue("url").ToString(),
              "velmora://settings/local/client/main/index.html");
    const std::vector<CefString> schemes = cef_test::SupportedCookieSchemes();
    EXPECT_EQ(schemes, (std::vector<CefString>{"http", "https"}));
}

TEST_F(CefApiUsageTest, BrowserCallbacksAnswerAsTheClientDecides)
{
    host.LoadingState(id, false, true, false);
    host.LoadEnd(id, 200);
    host.LoadError(id, ERR_ABORTED, "velmora://settings/x");
    host.LoadError(id, ERR_UNKNOWN_URL_SCHEME, "tel:123");
    host.LoadError(id, ERR_FAILED, "velmora://settings/y");
    cef_test::WaitForIdle();
    EXPECT_TRUE(events.Has("OnLoadingStateChange:010@UI"));
    EXPECT_TRUE(events.Has("OnLoadEnd:200@UI"));
    EXPECT_TRUE(events.Has("OnLoadError:-2:velmora://settings/y@UI"));
    EXPECT_FALSE(events.Has("OnLoadError:-3:velmora://settings/x@UI"));

    EXPECT_EQ(host.Quota(id, "velmora://settings", 20971520), 1);
    EXPECT_EQ(host.Quota(id, "velmora://settings", 20971521), 0);
    EXPECT_TRUE(events.Has("OnQuotaRequest@IO"));
    EXPECT_TRUE(host.DragEnter(id, DRAG_OPERATION_LINK | DRAG_OPERATION_COPY));
    EXPECT_FALSE(host.DragEnter(id, DRAG_OPERATION_COPY));
    EXPECT_EQ(host.Geolocation(id, "velmora://settings/"), 1);
    EXPECT_TRUE(host.ProtocolExecution(id, "tel:123"));
    EXPECT_FALSE(host.ProtocolExecution(id, "mailto:x@y"));
    EXPECT_FALSE(host.FileDialog(id));
    EXPECT_FALSE(host.JSDialog(id));
    EXPECT_FALSE(host.PreKey(id, CefKeyEvent()));

    cef_backend::DownloadInfo item;
    item.suggested_file_name = "a.zip";
    const cef_backend::DownloadDecision d = host.Download(id, item);
    EXPECT_TRUE(d.accepted);
    EXPECT_EQ(d.path, "/downloads/a.zip");
    EXPECT_TRUE(d.show_dialog);
    item.complete = true;
    item.full_path = "/downloads/a.zip";
    host.DownloadUpdate(id, item);
    cef_test::WaitForIdle();
    EXPECT_TRUE(events.Has("downloaded:/downloads/a.zip@UI"));

    host.TerminateRenderer(id, TS_PROCESS_WAS_KILLED);
    cef_test::WaitForIdle();
    EXPECT_TRUE(events.Has("OnRenderProcessTerminated:1@UI"));
    const auto loads = host.Record(id).loads;
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.back(), "velmora://settings/local/client/main/index.html");
}

TEST_F(CefApiUsageTest, ContextMenuAndDevToolsOpenAPopupBrowser)
{
    cef_backend::ContextMenuInfo info;
    info.type_flags = CM_TYPEFLAG_PAGE;
    info.x = 12;
    info.y = 34;
    CefRefPtr<CefMenuModel> model = host.ContextMenu(id, info, {{MENU_ID_BACK, "Back"}});
    ASSERT_EQ(model->GetCount(), 7);
    EXPECT_EQ(model->GetCommandIdAt(2), 26500);
    CefRefPtr<CefMenuModel> sub = model->GetSubMenu(26503);
    ASSERT_TRUE(sub);
    EXPECT_TRUE(sub->IsChecked(26504));
    EXPECT_TRUE(sub->IsChecked(26506));
    EXPECT_FALSE(sub->IsChecked(26505));

    EXPECT_TRUE(host.ContextMenuCommand(id, info, 26502));
    cef_test::WaitForIdle();
    const int dev = host.LastBrowserId();
    ASSERT_NE(dev, id);
    EXPECT_TRUE(host.Record(dev).params.is_devtools);
    EXPECT_EQ(host.Record(dev).params.inspect_at, CefPoint(12, 34));
    EXPECT_TRUE(host.Browser(dev)->IsPopup());
    EXPECT_TRUE(events.Has("OnAfterCreated:popup@UI"));
    ASSERT_EQ(handler->Popups().size(), 1u);
    EXPECT_EQ(host.Record(dev).focus, std::vector<bool>{true}); // the posted SetFocus(true)

    EXPECT_TRUE(host.ContextMenuCommand(id, info, 26501));
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.Record(dev).closed);
    EXPECT_TRUE(handler->Popups().empty());
    EXPECT_FALSE(host.ContextMenuCommand(id, info, MENU_ID_BACK));
}

TEST_F(CefApiUsageTest, WindowOpenThatTheClientAllowsIsAPopupBrowser)
{
    EXPECT_EQ(host.WindowOpen(id, "velmora://settings/cancelled.html"), 0);
    EXPECT_TRUE(events.Has("OnBeforePopup:velmora://settings/cancelled.html@IO"));
    EXPECT_EQ(host.BrowserIds().size(), 1u);

    handler->allowPopups = true;
    const int popup = host.WindowOpen(id, "velmora://settings/popup.html");
    ASSERT_GT(popup, 0);
    ASSERT_NE(popup, id);
    const cef_test::BrowserRecord rec = host.Record(popup);
    EXPECT_TRUE(rec.params.is_popup);
    EXPECT_FALSE(rec.params.is_devtools);
    EXPECT_EQ(rec.params.url, "velmora://settings/popup.html");
    CefRefPtr<CefBrowser> b = host.Browser(popup);
    EXPECT_TRUE(b->IsPopup());
    EXPECT_EQ(b->GetHost()->GetClient().get(), static_cast<CefClient*>(handler.get()));
    EXPECT_EQ(b->GetHost()->GetOpenerWindowHandle(), host.Browser(id)->GetHost()->GetWindowHandle());
    EXPECT_TRUE(events.Has("OnAfterCreated:popup@UI"));
    ASSERT_EQ(handler->Popups().size(), 1u);
    EXPECT_TRUE(handler->Popups()[0]->IsSame(b));
    EXPECT_EQ(rec.focus, std::vector<bool>{true});
    EXPECT_FALSE(host.Browser(id)->IsPopup());
}

TEST_F(CefApiUsageTest, SchemeFactoryAndLocalHandlerServeResources)
{
    cef_test::TestHost::Response page = host.Request("velmora://settings/index.html", 5);
    ASSERT_TRUE(page.handled);
    EXPECT_TRUE(page.ok);
    EXPECT_EQ(page.body, "<html>velmora://settings/index.html</html>");
    EXPECT_EQ(page.head.status, 200);
    EXPECT_EQ(page.head.mime_type, "text/html");
    EXPECT_EQ(page.head.headers.count("Cache-Control"), 1u);
    EXPECT_EQ(page.head.length, int64(page.body.size()));
    EXPECT_TRUE(events.Has("GetResourceHandler@IO"));
    EXPECT_TRUE(events.Has("Create:velmora@IO"));

    cef_test::TestHost::Response local = host.Request("velmora://settings/local/client/a.html");
    ASSERT_TRUE(local.handled);
    EXPECT_EQ(local.body, "<p>local</p>");
    EXPECT_FALSE(host.Request("velmora://elsewhere/index.html").handled);
}

TEST_F(CefApiUsageTest, PageQueryAnsweredLaterFromAnotherThreadReachesThePage)
{
    const int64 ctx = host.CreateContext(id, "velmora://settings/local/client/main/index.html");
    const ScriptValue onSuccess = host.MakePageFunction("onSuccess");
    const ScriptValue onFailure = host.MakePageFunction("onFailure");
    auto query = [&](const std::string& request) {
        return host.CallGlobal(id, ctx, "cefQuery",
                               {ScriptValue::MakeObject({{"request", ScriptValue::MakeString(request)},
                                                         {"onSuccess", onSuccess},
                                                         {"onFailure", onFailure}})});
    };
    EXPECT_EQ(query("MoveWindow:1,2,3,4,"), ScriptValue::MakeInt(1));
    EXPECT_EQ(query("{\"FuncName\":\"Other\"}"), ScriptValue::MakeInt(2));
    cef_test::WaitForIdle();
    EXPECT_TRUE(events.Has("OnProcessMessageReceived@UI"));

    CefMessageRouterBrowserSide::Callback* cb = nullptr;
    {
        std::lock_guard<std::mutex> l(handler->queries.m);
        ASSERT_EQ(handler->queries.pending.size(), 1u);
        cb = handler->queries.pending[0];
        handler->queries.pending.clear();
    }
    std::thread([cb] {
        cb->Success("answer");
        cb->Failure(1, "late"); // ignored: the query is complete
        cb->Release();
    }).join();
    cef_test::WaitForIdle();
    const auto calls = host.PageCalls(id);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function_id, onSuccess.function_id);
    EXPECT_EQ(calls[0].args, std::vector<ScriptValue>{ScriptValue::MakeString("")});
    EXPECT_EQ(calls[1].function_id, onSuccess.function_id);
    EXPECT_EQ(calls[1].args, std::vector<ScriptValue>{ScriptValue::MakeString("answer")});
}

TEST_F(CefApiUsageTest, ProcessMessageReachesTheRegisteredPageFunction)
{
    const int64 ctx = host.CreateContext(id);
    const ScriptValue fn = host.MakePageFunction("onDevices");
    host.CallGlobal(id, ctx, "setMessageCallback", {ScriptValue::MakeString("devicesChanged"), fn});

    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("devicesChanged");
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    args->SetInt(0, 2);
    args->SetBool(1, true);
    args->SetString(2, std::string("text"));
    CefRefPtr<CefListValue> nested = CefListValue::Create();
    nested->SetDouble(0, 1.5);
    args->SetList(3, nested);
    EXPECT_TRUE(handler->GetBrowser()->SendProcessMessage(PID_RENDERER, message));
    cef_test::WaitForIdle();

    const auto calls = host.PageCalls(id);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].function_id, fn.function_id);
    const ScriptValue expected = ScriptValue::MakeArray(
        {ScriptValue::MakeInt(2), ScriptValue::MakeBool(true), ScriptValue::MakeString("text"),
         ScriptValue::MakeArray({ScriptValue::MakeNumber(1.5)})});
    EXPECT_EQ(calls[0].args, std::vector<ScriptValue>{expected});

    // After the context is gone the registration is too.
    host.ReleaseContext(id, ctx);
    EXPECT_TRUE(handler->GetBrowser()->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("devicesChanged")));
    cef_test::WaitForIdle();
    EXPECT_EQ(host.PageCalls(id).size(), 1u);
}

TEST_F(CefApiUsageTest, TasksAndMainWindowHandleRepostOnUi)
{
    std::atomic<uintptr_t> handle{0};
    std::function<void(uintptr_t)> setHandle;
    setHandle = [&](uintptr_t h) {
        if (!CefCurrentlyOn(TID_UI)) {
            CefPostTask(TID_UI, cef_extras::ClosureTask([&setHandle, h] { setHandle(h); }));
            return;
        }
        handle = h;
    };
    setHandle(0x1234);
    cef_test::WaitForIdle();
    EXPECT_EQ(handle.load(), 0x1234u);

    base::Lock lock;
    {
        base::AutoLock scope(lock);
        base::AutoLock again(lock); // a critical section: the owner may enter again
    }
    LOG(INFO) << "api usage " << 1;
}

TEST_F(CefApiUsageTest, CloseWithAPendingQueryCancelsItAndLaterAnswersAreHarmless)
{
    const int64 ctx = host.CreateContext(id);
    const ScriptValue onSuccess = host.MakePageFunction("onSuccess");
    host.CallGlobal(id, ctx, "cefQuery",
                    {ScriptValue::MakeObject({{"request", ScriptValue::MakeString("pending")},
                                              {"onSuccess", onSuccess}})});
    cef_test::WaitForIdle();
    CefMessageRouterBrowserSide::Callback* cb = nullptr;
    {
        std::lock_guard<std::mutex> l(handler->queries.m);
        ASSERT_EQ(handler->queries.pending.size(), 1u);
        cb = handler->queries.pending[0];
        handler->queries.pending.clear();
    }
    handler->GetBrowser()->GetHost()->CloseBrowser(false);
    cef_test::WaitForIdle();
    EXPECT_TRUE(events.Has("OnBeforeClose@UI"));
    EXPECT_FALSE(handler->GetBrowser());
    handler->ReleaseRouter(); // the router goes with the last browser
    cb->Success("too late");
    cb->Release();
    cef_test::WaitForIdle();
    EXPECT_TRUE(host.PageCalls(id).empty());
}

} // namespace
