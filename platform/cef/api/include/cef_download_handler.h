// Downloads (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_download_item.h"

class CefBeforeDownloadCallback : public virtual CefBase {
public:
    // An empty path uses the suggested name in the default folder; show_dialog lets the user choose.
    virtual void Continue(const CefString& download_path, bool show_dialog) = 0;
};

class CefDownloadItemCallback : public virtual CefBase {
public:
    virtual void Cancel() = 0;
};

class CefDownloadHandler : public virtual CefBase {
public:
    // Without callback->Continue() the download is cancelled.
    virtual void OnBeforeDownload(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> download_item,
                                  const CefString& suggested_name, CefRefPtr<CefBeforeDownloadCallback> callback) = 0;
    virtual void OnDownloadUpdated(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDownloadItem> /*download_item*/,
                                   CefRefPtr<CefDownloadItemCallback> /*callback*/)
    {
    }
};
