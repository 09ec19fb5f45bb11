// A client that is every handler interface at once, as the system's client handler is: one object
// behind every handler getter, so that the interfaces share one reference count. The calls an
// interface leaves to its implementer answer "not handled"; a test derives, overrides what it
// records and adds IMPLEMENT_REFCOUNTING.
#pragma once

#include "include/cef_client.h"
#include "include/cef_resource_handler.h"
#include "include/cef_scheme.h"

namespace test_support {

class AllInterfacesClient : public CefClient,
                            public CefContextMenuHandler,
                            public CefDialogHandler,
                            public CefDisplayHandler,
                            public CefDownloadHandler,
                            public CefDragHandler,
                            public CefGeolocationHandler,
                            public CefJSDialogHandler,
                            public CefKeyboardHandler,
                            public CefLifeSpanHandler,
                            public CefLoadHandler,
                            public CefRenderHandler,
                            public CefRequestHandler,
                            public CefResourceHandler,
                            public CefSchemeHandlerFactory {
public:
    CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() override { return this; }
    CefRefPtr<CefDialogHandler> GetDialogHandler() override { return this; }
    CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
    CefRefPtr<CefDownloadHandler> GetDownloadHandler() override { return this; }
    CefRefPtr<CefDragHandler> GetDragHandler() override { return this; }
    CefRefPtr<CefGeolocationHandler> GetGeolocationHandler() override { return this; }
    CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() override { return this; }
    CefRefPtr<CefKeyboardHandler> GetKeyboardHandler() override { return this; }
    CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
    CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
    CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
    CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }

    // Downloads: not taken (the callback is never continued).
    void OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>, const CefString&,
                          CefRefPtr<CefBeforeDownloadCallback>) override
    {
    }
    // Rendering (windowed browsers: never called).
    bool GetViewRect(CefRefPtr<CefBrowser>, CefRect&) override { return false; }
    void OnPaint(CefRefPtr<CefBrowser>, PaintElementType, const RectList&, const void*, int, int) override {}
    // As a resource: nothing to serve.
    bool ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback>) override { return false; }
    void GetResponseHeaders(CefRefPtr<CefResponse>, int64&, CefString&) override {}
    bool ReadResponse(void*, int, int&, CefRefPtr<CefCallback>) override { return false; }
    void Cancel() override {}
    // As a scheme handler factory: no handler.
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest>) override
    {
        return nullptr;
    }
};

} // namespace test_support
