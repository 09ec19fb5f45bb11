// Context menus (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/cef_menu_model.h"

class CefContextMenuParams : public virtual CefBase {
public:
    typedef cef_context_menu_type_flags_t TypeFlags;
    typedef cef_context_menu_media_type_t MediaType;

    virtual int GetXCoord() = 0;
    virtual int GetYCoord() = 0;
    virtual TypeFlags GetTypeFlags() = 0;
    virtual CefString GetLinkUrl() = 0;
    virtual CefString GetUnfilteredLinkUrl() = 0;
    virtual CefString GetSourceUrl() = 0;
    virtual bool HasImageContents() = 0;
    virtual CefString GetPageUrl() = 0;
    virtual CefString GetFrameUrl() = 0;
    virtual CefString GetFrameCharset() = 0;
    virtual MediaType GetMediaType() = 0;
    virtual CefString GetSelectionText() = 0;
    virtual bool IsEditable() = 0;
};

class CefContextMenuHandler : public virtual CefBase {
public:
    typedef cef_event_flags_t EventFlags;

    // Edit model; an empty model shows no menu.
    virtual void OnBeforeContextMenu(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                     CefRefPtr<CefContextMenuParams> /*params*/, CefRefPtr<CefMenuModel> /*model*/)
    {
    }
    // true: handled; false: the runtime's default handling of command_id.
    virtual bool OnContextMenuCommand(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                      CefRefPtr<CefContextMenuParams> /*params*/, int /*command_id*/,
                                      EventFlags /*event_flags*/)
    {
        return false;
    }
    virtual void OnContextMenuDismissed(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/) {}
};
