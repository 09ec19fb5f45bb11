// The browser-process side of the bridge: the client of every browser, the sender of the named page
// events, and the loader of the local pages and of the "velmora" scheme.
#pragma once

#include "devices/device_host.h"

#include "include/cef_client.h"
#include "include/cef_scheme.h"
#include "include/wrapper/cef_message_router.h"

#include "windows.h"

#include <QString>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>

class MessageEvent;

class ClientHandler : public CefClient,
                      public CefContextMenuHandler,
                      public CefDialogHandler,
                      public CefDisplayHandler,
                      public CefDownloadHandler,
                      public CefDragHandler,
                      public CefGeolocationHandler,
                      public CefJSDialogHandler,
                      public CefKeyboardHandler,
                      public CefLifeSpanHandler,
                      public CefLoadHandler,
                      public CefRenderHandler,
                      public CefRequestHandler,
                      public CefResourceHandler,
                      public CefSchemeHandlerFactory,
                      public DeviceEventSink {
public:
    // The Qt view that hosts the current browser (QCefWebView).
    class Listener {
    public:
        virtual ~Listener() {}
        // A browser of this handler was created (UI thread).
        virtual void OnBrowserCreated(CefRefPtr<CefBrowser> browser) = 0;
        // Hands one page query to the view's thread; the listener owns the event from here on.
        virtual void PostMessageEvent(MessageEvent* event) = 0;
        // Hands one page query to the view at once, on the view's own thread and outside the
        // handler's locks. By default it is posted as any other.
        virtual void DeliverMessageEvent(const MessageEvent& event);

        // The browser the view's page queries belong to. Read and written only under the handler's
        // view lock (inside ClientHandler::WithListener).
        CefRefPtr<CefBrowser> browser;
    };

    // An off-screen render target; the system makes none.
    class RenderHandler : public CefRenderHandler {
    public:
        virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) = 0;
    };

    typedef std::set<CefMessageRouterBrowserSide::Handler*> MessageHandlerSet;

    // Context-menu command ids.
    enum {
        ID_SHOW_DEVTOOLS = 26500,
        ID_CLOSE_DEVTOOLS = 26501,
        ID_INSPECT_ELEMENT = 26502,
        ID_TESTMENU_SUBMENU = 26503,
        ID_TESTMENU_CHECKITEM = 26504,
        ID_TESTMENU_RADIOITEM1 = 26505,
        ID_TESTMENU_RADIOITEM2 = 26506,
        ID_TESTMENU_RADIOITEM3 = 26507,
    };

    ClientHandler();
    ~ClientHandler() override;

    // ---- CefClient
    CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() override { return this; }
    CefRefPtr<CefDialogHandler> GetDialogHandler() override { return this; }
    CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
    CefRefPtr<CefDownloadHandler> GetDownloadHandler() override { return this; }
    CefRefPtr<CefDragHandler> GetDragHandler() override { return this; }
    CefRefPtr<CefGeolocationHandler> GetGeolocationHandler() override { return this; }
    CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() override { return this; }
    CefRefPtr<CefKeyboardHandler> GetKeyboardHandler() override { return this; }
    CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
    CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
    CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
    CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override;

    // ---- CefContextMenuHandler
    void OnBeforeContextMenu(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                             CefRefPtr<CefContextMenuParams> params, CefRefPtr<CefMenuModel> model) override;
    bool OnContextMenuCommand(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                              CefRefPtr<CefContextMenuParams> params, int command_id, EventFlags event_flags) override;

    // ---- CefDialogHandler
    bool OnFileDialog(CefRefPtr<CefBrowser> browser, FileDialogMode mode, const CefString& title,
                      const CefString& default_file_name, const std::vector<CefString>& accept_types,
                      CefRefPtr<CefFileDialogCallback> callback) override;

    // ---- CefDownloadHandler
    void OnBeforeDownload(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> download_item,
                          const CefString& suggested_name, CefRefPtr<CefBeforeDownloadCallback> callback) override;
    void OnDownloadUpdated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> download_item,
                           CefRefPtr<CefDownloadItemCallback> callback) override;

    // ---- CefDragHandler
    bool OnDragEnter(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDragData> dragData, DragOperationsMask mask) override;

    // ---- CefGeolocationHandler
    bool OnRequestGeolocationPermission(CefRefPtr<CefBrowser> browser, const CefString& requesting_url,
                                        int request_id, CefRefPtr<CefGeolocationCallback> callback) override;

    // ---- CefJSDialogHandler
    bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url, const CefString& accept_lang,
                    JSDialogType dialog_type, const CefString& message_text, const CefString& default_prompt_text,
                    CefRefPtr<CefJSDialogCallback> callback, bool& suppress_message) override;
    bool OnBeforeUnloadDialog(CefRefPtr<CefBrowser> browser, const CefString& message_text, bool is_reload,
                              CefRefPtr<CefJSDialogCallback> callback) override;
    void OnResetDialogState(CefRefPtr<CefBrowser> browser) override;

    // ---- CefKeyboardHandler
    bool OnPreKeyEvent(CefRefPtr<CefBrowser> browser, const CefKeyEvent& event, CefEventHandle os_event,
                       bool* is_keyboard_shortcut) override;

    // ---- CefLifeSpanHandler
    bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString& target_url,
                       const CefString& target_frame_name, const CefPopupFeatures& popupFeatures,
                       CefWindowInfo& windowInfo, CefRefPtr<CefClient>& client, CefBrowserSettings& settings,
                       bool* no_javascript_access) override;
    void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
    bool DoClose(CefRefPtr<CefBrowser> browser) override;
    void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;

    // ---- CefLoadHandler
    void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack,
                              bool canGoForward) override;
    void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int httpStatusCode) override;
    void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                     const CefString& errorText, const CefString& failedUrl) override;

    // ---- CefRenderHandler: forwarded to the off-screen render handler when one is set.
    bool GetRootScreenRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
    bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
    bool GetScreenPoint(CefRefPtr<CefBrowser> browser, int viewX, int viewY, int& screenX, int& screenY) override;
    bool GetScreenInfo(CefRefPtr<CefBrowser> browser, CefScreenInfo& screen_info) override;
    void OnPopupShow(CefRefPtr<CefBrowser> browser, bool show) override;
    void OnPopupSize(CefRefPtr<CefBrowser> browser, const CefRect& rect) override;
    void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
                 const void* buffer, int width, int height) override;
    void OnCursorChange(CefRefPtr<CefBrowser> browser, CefCursorHandle cursor) override;
    bool StartDragging(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDragData> drag_data,
                       cef_drag_operations_mask_t allowed_ops, int x, int y) override;
    void UpdateDragCursor(CefRefPtr<CefBrowser> browser, DragOperation operation) override;

    // ---- CefRequestHandler
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool is_redirect) override;
    // The local page loader (IO thread).
    CefRefPtr<CefResourceHandler> GetResourceHandler(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                                     CefRefPtr<CefRequest> request) override;
    bool OnQuotaRequest(CefRefPtr<CefBrowser> browser, const CefString& origin_url, int64 new_size,
                        CefRefPtr<CefQuotaCallback> callback) override;
    void OnProtocolExecution(CefRefPtr<CefBrowser> browser, const CefString& url, bool& allow_os_execution) override;
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override;

    // ---- CefResourceHandler: one request of the "velmora" scheme, on a handler made by Create.
    bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) override;
    void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length, CefString& redirectUrl) override;
    bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read, CefRefPtr<CefCallback> callback) override;
    void Cancel() override;

    // ---- CefSchemeHandlerFactory: a new handler for each request of the scheme.
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                         const CefString& scheme_name, CefRefPtr<CefRequest> request) override;

    // ---- Construction and configuration
    void SetListener(Listener* listener);
    Listener* GetListener();
    // Clears the listener when it is this one (a view that goes away); also forgets its browser.
    void RemoveListener(Listener* listener);
    // Runs fn with the current listener under the view lock, so that the listener cannot go away
    // meanwhile; false without a listener. fn must not block nor call back into the handler.
    bool WithListener(const std::function<void(Listener*)>& fn);
    void SetViewKey(const QString& key);
    QString GetViewKey();
    void SetStartupURL(const std::string& url);
    std::string GetStartupURL();
    void RegisterSchemeHandlerFactory(const CefString& scheme, const CefString& domain);

    // ---- Browsers
    CefRefPtr<CefBrowser> GetBrowser();
    int GetBrowserId();
    bool IsClosing();
    // The browser registered under key, if any.
    CefRefPtr<CefBrowser> GetRegisteredBrowser(const QString& key);
    // The number of browsers created and not yet closed, over every handler of the process.
    static int GetBrowserCount();

    // ---- Main window handle: the top-level window of the view that last talked to the native side.
    void SetMainWindowHandle(HWND handle);
    HWND GetMainWindowHandle();

    // ---- Router handlers
    void CreateMessageHandlers(MessageHandlerSet& handlers);
    // The page query router while any browser exists, with the handlers it was given; UI thread.
    CefRefPtr<CefMessageRouterBrowserSide> GetMessageRouter() const { return m_messageRouter; }
    const MessageHandlerSet& GetMessageHandlers() const { return m_messageHandlers; }

    // ---- Page events
    void SendDevicesChanged(int code);
    void SendDeviceInput(const QString& hex);
    void SendNavStateChanged(bool canGoBack, bool canGoForward);
    void SendBrowserMessage(const QString& msg, const QString& key);
    void SendMacroItem(const QString& a, const QString& b, const QString& c, const QString& d);
    void SendCurrentPropChanged(int propIndex, int proMode);
    void SendSwitchVirtualDevice();
    // The device code's events, handed to the page as the Send* above do.
    void devicesChanged(int code) override { SendDevicesChanged(code); }
    void deviceInput(const QString& hex) override { SendDeviceInput(hex); }
    void macroItem(const QString& a, const QString& b, const QString& c, const QString& d) override
    {
        SendMacroItem(a, b, c, d);
    }

    // ---- Developer tools, test menu, downloads
    void ShowDevTools(CefRefPtr<CefBrowser> browser, const CefPoint& inspect_element_at);
    void CloseDevTools(CefRefPtr<CefBrowser> browser);
    void BuildTestMenu(CefRefPtr<CefMenuModel> model);
    bool ExecuteTestMenu(int command_id);
    std::string GetDownloadPath(const std::string& file_name);
    void SetLastDownloadFile(const std::string& fileName);
    std::string GetLastDownloadFile();

    // ---- Members the system does not call
    void CloseAllBrowsers(bool force_close);
    void SetEditHwnd(HWND hwnd);
    void SetButtonHwnds(HWND backHwnd, HWND forwardHwnd, HWND reloadHwnd, HWND stopHwnd);
    void SetOSRHandler(CefRefPtr<RenderHandler> handler);
    CefRefPtr<RenderHandler> GetOSRHandler();
    std::string GetLogFile();
    // Writes data to path (replacing it); false when the file cannot be opened.
    static bool SaveStringToFile(const std::string& path, const std::string& data);
    // The last path segment of url and the MIME type of its extension (empty when unknown).
    static void ParseTestUrl(const std::string& url, std::string* file_name, std::string* mime_type);

private:
    // A page event: its name and arguments (bool, int, or anything else as its text).
    static CefRefPtr<CefProcessMessage> CreatePageEvent(const char* name, const QVariantList& args = QVariantList());
    void SendToMainBrowser(CefRefPtr<CefProcessMessage> message);

    // Resource request state (one request per handler made by Create; the program-wide handler keeps
    // the text of its last local page here).
    std::string m_resourceText;
    std::string m_mimeType;
    int m_status = 200;
    size_t m_offset = 0;

    // The current Qt view; guarded by m_viewLock.
    Listener* m_listener = nullptr;

    // Test submenu (UI thread).
    bool m_checkState = true;
    int m_radioIndex = 0;

    // Guarded by m_viewLock.
    std::string m_startupUrl;
    // The time of the last reload after a renderer crash (UI thread; ms since the epoch).
    qint64 m_lastCrashReload = 0;

    bool m_cursorChangeDisabled = false;

    // The main browser, its id and the closing flag, under the handler lock.
    CefRefPtr<CefBrowser> m_browser;
    int m_browserId = 0;
    bool m_isClosing = false;

    // UI thread only.
    std::list<CefRefPtr<CefBrowser>> m_popupBrowsers;

    std::atomic<HWND> m_mainHwnd{0};

    // UI thread only; nothing reads the window handles.
    HWND m_editHwnd = 0;
    HWND m_backHwnd = 0;
    HWND m_forwardHwnd = 0;
    HWND m_reloadHwnd = 0;
    HWND m_stopHwnd = 0;
    CefRefPtr<RenderHandler> m_osrHandler;
    std::string m_logFile;

    std::mutex m_downloadLock;
    std::string m_lastDownloadFile;

    // UI thread only.
    CefRefPtr<CefMessageRouterBrowserSide> m_messageRouter;
    MessageHandlerSet m_messageHandlers;

    // Guards the listener, its browser reference, the view key, the registry and the startup URL.
    // Taken after the handler lock when both are needed, never before it.
    std::mutex m_viewLock;
    QString m_viewKey;
    std::map<QString, CefRefPtr<CefBrowser>> m_viewKeyRegistry;

    IMPLEMENT_REFCOUNTING(ClientHandler);
    IMPLEMENT_LOCKING(ClientHandler);
};

// The program-wide handler; empty until main creates it. The device code's events reach the one it
// holds at each event (registered during static initialisation); none while it is empty.
extern CefRefPtr<ClientHandler> g_handler;

// A request as text: its URL, method, headers and post data.
void DumpRequestContents(CefRefPtr<CefRequest> request, std::string& str);
