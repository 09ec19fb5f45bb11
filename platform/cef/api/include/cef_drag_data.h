// Data of a drag operation.
#pragma once

#include "include/cef_base.h"

#include <vector>

class CefDragData : public virtual CefBase {
public:
    static CefRefPtr<CefDragData> Create();

    virtual bool IsLink() = 0;
    virtual bool IsFragment() = 0;
    virtual bool IsFile() = 0;
    virtual CefString GetLinkURL() = 0;
    virtual CefString GetLinkTitle() = 0;
    virtual CefString GetFragmentText() = 0;
    virtual CefString GetFragmentHtml() = 0;
    virtual CefString GetFileName() = 0;
    virtual bool GetFileNames(std::vector<CefString>& names) = 0;
    virtual void SetLinkURL(const CefString& url) = 0;
    virtual void SetFragmentText(const CefString& text) = 0;
    virtual void AddFile(const CefString& path, const CefString& display_name) = 0;
};
