// The response of a resource request: status, MIME type and headers.
#pragma once

#include "include/cef_base.h"

#include <map>

class CefResponse : public virtual CefBase {
public:
    typedef std::multimap<CefString, CefString> HeaderMap;

    static CefRefPtr<CefResponse> Create();

    virtual bool IsReadOnly() = 0;
    virtual int GetStatus() = 0;
    virtual void SetStatus(int status) = 0;
    virtual CefString GetStatusText() = 0;
    virtual void SetStatusText(const CefString& statusText) = 0;
    virtual CefString GetMimeType() = 0;
    virtual void SetMimeType(const CefString& mimeType) = 0;
    virtual CefString GetHeader(const CefString& name) = 0;
    virtual void GetHeaderMap(HeaderMap& headerMap) = 0;
    virtual void SetHeaderMap(const HeaderMap& headerMap) = 0;
};
