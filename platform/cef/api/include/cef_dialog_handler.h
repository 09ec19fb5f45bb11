// File dialogs (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

#include <vector>

class CefFileDialogCallback : public virtual CefBase {
public:
    virtual void Continue(const std::vector<CefString>& file_paths) = 0;
    virtual void Cancel() = 0;
};

class CefDialogHandler : public virtual CefBase {
public:
    typedef cef_file_dialog_mode_t FileDialogMode;

    // true: the client answers through callback; false: the runtime's own dialog.
    virtual bool OnFileDialog(CefRefPtr<CefBrowser> /*browser*/, FileDialogMode /*mode*/, const CefString& /*title*/,
                              const CefString& /*default_file_name*/, const std::vector<CefString>& /*accept_types*/,
                              CefRefPtr<CefFileDialogCallback> /*callback*/)
    {
        return false;
    }
};
