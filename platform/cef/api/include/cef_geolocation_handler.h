// Geolocation permission requests (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

class CefGeolocationCallback : public virtual CefBase {
public:
    virtual void Continue(bool allow) = 0;
};

class CefGeolocationHandler : public virtual CefBase {
public:
    // true: the client answers through callback; false: the request is denied.
    virtual bool OnRequestGeolocationPermission(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*requesting_url*/,
                                                int /*request_id*/, CefRefPtr<CefGeolocationCallback> /*callback*/)
    {
        return false;
    }
    virtual void OnCancelGeolocationPermission(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*requesting_url*/,
                                               int /*request_id*/)
    {
    }
};
