// Browsers and their hosts. Every member may be called on any thread: getters answer from
// cached state, actions are handed to the page engine without blocking. After a browser
// closed, actions do nothing and SendProcessMessage answers false.
#pragma once

#include "include/cef_base.h"
#include "include/cef_frame.h"
#include "include/cef_process_message.h"
#include "include/cef_request_context.h"

#include <vector>

class CefBrowserHost;
class CefClient;

class CefBrowser : public virtual CefBase {
public:
    virtual CefRefPtr<CefBrowserHost> GetHost() = 0;
    virtual bool CanGoBack() = 0;
    virtual void GoBack() = 0;
    virtual bool CanGoForward() = 0;
    virtual void GoForward() = 0;
    virtual bool IsLoading() = 0;
    virtual void Reload() = 0;
    virtual void ReloadIgnoreCache() = 0;
    virtual void StopLoad() = 0;
    // Unique within the process, > 0.
    virtual int GetIdentifier() = 0;
    virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
    // True for popups a page opened (window.open) that the client allowed, and for developer tools.
    virtual bool IsPopup() = 0;
    virtual bool HasDocument() = 0;
    virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
    virtual CefRefPtr<CefFrame> GetFocusedFrame() = 0;
    virtual CefRefPtr<CefFrame> GetFrame(int64 identifier) = 0;
    virtual CefRefPtr<CefFrame> GetFrame(const CefString& name) = 0;
    virtual size_t GetFrameCount() = 0;
    virtual void GetFrameIdentifiers(std::vector<int64>& identifiers) = 0;
    virtual void GetFrameNames(std::vector<CefString>& names) = 0;
    // From the browser side to PID_RENDERER, from the renderer side to PID_BROWSER.
    // The message is copied; delivery is asynchronous and ordered per sending thread.
    virtual bool SendProcessMessage(CefProcessId target_process, CefRefPtr<CefProcessMessage> message) = 0;
};

class CefBrowserHost : public virtual CefBase {
public:
    // Asynchronous: CefLifeSpanHandler::OnAfterCreated follows on the UI thread.
    static bool CreateBrowser(const CefWindowInfo& windowInfo, CefRefPtr<CefClient> client, const CefString& url,
                              const CefBrowserSettings& settings,
                              CefRefPtr<CefRequestContext> request_context = nullptr);

    virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
    // Asynchronous: DoClose, then (unless DoClose answered true) the browser's window is
    // destroyed and OnBeforeClose follows on the UI thread.
    virtual void CloseBrowser(bool force_close) = 0;
    virtual void SetFocus(bool focus) = 0;
    virtual void SetWindowVisibility(bool visible) = 0;
    virtual CefWindowHandle GetWindowHandle() = 0;
    virtual CefWindowHandle GetOpenerWindowHandle() = 0;
    virtual CefRefPtr<CefClient> GetClient() = 0;
    virtual CefRefPtr<CefRequestContext> GetRequestContext() = 0;
    virtual double GetZoomLevel() = 0;
    virtual void SetZoomLevel(double zoomLevel) = 0;
    virtual void StartDownload(const CefString& url) = 0;
    virtual void Print() = 0;
    // Opens the developer tools as a further browser of client (IsPopup() true);
    // inspect_element_at (0,0) selects no element.
    virtual void ShowDevTools(const CefWindowInfo& windowInfo, CefRefPtr<CefClient> client,
                              const CefBrowserSettings& settings, const CefPoint& inspect_element_at) = 0;
    virtual void CloseDevTools() = 0;
    virtual void SetMouseCursorChangeDisabled(bool disabled) = 0;
    virtual bool IsMouseCursorChangeDisabled() = 0;
    virtual bool IsWindowRenderingDisabled() = 0;
    virtual void WasResized() = 0;
    virtual void WasHidden(bool hidden) = 0;
    virtual void NotifyScreenInfoChanged() = 0;
    virtual void Invalidate(cef_paint_element_type_t type) = 0;
};
