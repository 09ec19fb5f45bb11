// Browser life span. OnBeforePopup runs on the IO thread, the rest on the UI thread.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

class CefClient;

class CefLifeSpanHandler : public virtual CefBase {
public:
    // true cancels the popup; otherwise windowInfo, client and settings may be changed for it.
    virtual bool OnBeforePopup(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                               const CefString& /*target_url*/, const CefString& /*target_frame_name*/,
                               const CefPopupFeatures& /*popupFeatures*/, CefWindowInfo& /*windowInfo*/,
                               CefRefPtr<CefClient>& /*client*/, CefBrowserSettings& /*settings*/,
                               bool* /*no_javascript_access*/)
    {
        return false;
    }
    virtual void OnAfterCreated(CefRefPtr<CefBrowser> /*browser*/) {}
    virtual bool RunModal(CefRefPtr<CefBrowser> /*browser*/) { return false; }
    // false: go on with the default close (the browser's window is destroyed).
    virtual bool DoClose(CefRefPtr<CefBrowser> /*browser*/) { return false; }
    virtual void OnBeforeClose(CefRefPtr<CefBrowser> /*browser*/) {}
};
