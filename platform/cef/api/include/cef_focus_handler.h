// Focus notifications (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

class CefFocusHandler : public virtual CefBase {
public:
    virtual void OnTakeFocus(CefRefPtr<CefBrowser> /*browser*/, bool /*next*/) {}
    virtual void OnGotFocus(CefRefPtr<CefBrowser> /*browser*/) {}
};
