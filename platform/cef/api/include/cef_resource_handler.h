// A handler that serves one resource request on the IO thread:
// ProcessRequest -> (callback->Continue()) -> GetResponseHeaders -> ReadResponse until false.
#pragma once

#include "include/cef_base.h"
#include "include/cef_callback.h"
#include "include/cef_request.h"
#include "include/cef_response.h"

class CefResourceHandler : public virtual CefBase {
public:
    // true and callback->Continue() (now or later, any thread) to go on; false cancels.
    virtual bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) = 0;
    // response_length -1 = unknown; a non-empty redirectUrl redirects the request.
    virtual void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                                    CefString& redirectUrl) = 0;
    // true with bytes_read > 0: data; true with bytes_read == 0: callback->Continue() later;
    // false: the response is complete.
    virtual bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                              CefRefPtr<CefCallback> callback) = 0;
    virtual bool CanGetCookie(const CefCookie& /*cookie*/) { return true; }
    virtual bool CanSetCookie(const CefCookie& /*cookie*/) { return true; }
    virtual void Cancel() = 0;
};
