// Requests of a browser. GetResourceHandler and OnQuotaRequest run on the IO thread,
// the rest on the UI thread.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/cef_request.h"
#include "include/cef_resource_handler.h"
#include "include/cef_response.h"

class CefQuotaCallback : public virtual CefBase {
public:
    virtual void Continue(bool allow) = 0;
    virtual void Cancel() = 0;
};

class CefAllowCertificateErrorCallback : public virtual CefBase {
public:
    virtual void Continue(bool allow) = 0;
};

class CefRequestHandler : public virtual CefBase {
public:
    typedef cef_termination_status_t TerminationStatus;

    // true cancels the navigation.
    virtual bool OnBeforeBrowse(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                CefRefPtr<CefRequest> /*request*/, bool /*is_redirect*/)
    {
        return false;
    }
    // true cancels the request.
    virtual bool OnBeforeResourceLoad(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                      CefRefPtr<CefRequest> /*request*/)
    {
        return false;
    }
    // null: default handling (then the scheme handler factories).
    virtual CefRefPtr<CefResourceHandler> GetResourceHandler(CefRefPtr<CefBrowser> /*browser*/,
                                                             CefRefPtr<CefFrame> /*frame*/,
                                                             CefRefPtr<CefRequest> /*request*/)
    {
        return nullptr;
    }
    virtual void OnResourceRedirect(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                    const CefString& /*old_url*/, CefString& /*new_url*/)
    {
    }
    // true: the client answers through callback; false: the request is refused.
    virtual bool OnQuotaRequest(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*origin_url*/, int64 /*new_size*/,
                                CefRefPtr<CefQuotaCallback> /*callback*/)
    {
        return false;
    }
    // Set allow_os_execution to hand an unknown-scheme URL to the operating system.
    virtual void OnProtocolExecution(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*url*/, bool& /*allow_os_execution*/)
    {
    }
    virtual bool OnCertificateError(cef_errorcode_t /*cert_error*/, const CefString& /*request_url*/,
                                    CefRefPtr<CefAllowCertificateErrorCallback> /*callback*/)
    {
        return false;
    }
    virtual void OnPluginCrashed(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*plugin_path*/) {}
    virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> /*browser*/, TerminationStatus /*status*/) {}
};
