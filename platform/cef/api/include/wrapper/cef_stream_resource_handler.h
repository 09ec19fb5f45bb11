// A resource handler that answers status 200 (or the given status), a MIME type and the
// content of a stream.
#pragma once

#include "include/cef_resource_handler.h"
#include "include/cef_stream.h"

class CefStreamResourceHandler : public CefResourceHandler {
public:
    CefStreamResourceHandler(const CefString& mime_type, CefRefPtr<CefStreamReader> stream);
    CefStreamResourceHandler(int status_code, const CefString& status_text, const CefString& mime_type,
                             CefResponse::HeaderMap header_map, CefRefPtr<CefStreamReader> stream);

    bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) override;
    void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                            CefString& redirectUrl) override;
    bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                      CefRefPtr<CefCallback> callback) override;
    void Cancel() override;

private:
    const int status_code_;
    const CefString status_text_;
    const CefString mime_type_;
    const CefResponse::HeaderMap header_map_;
    const CefRefPtr<CefStreamReader> stream_;

    IMPLEMENT_REFCOUNTING(CefStreamResourceHandler);
};
