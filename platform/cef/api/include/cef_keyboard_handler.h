// Keyboard events before the page sees them (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

class CefKeyboardHandler : public virtual CefBase {
public:
    // true: consumed; false: the key goes to the page.
    virtual bool OnPreKeyEvent(CefRefPtr<CefBrowser> /*browser*/, const CefKeyEvent& /*event*/, CefEventHandle /*os_event*/,
                               bool* /*is_keyboard_shortcut*/)
    {
        return false;
    }
    virtual bool OnKeyEvent(CefRefPtr<CefBrowser> /*browser*/, const CefKeyEvent& /*event*/, CefEventHandle /*os_event*/)
    {
        return false;
    }
};
