// Custom schemes and scheme handler factories.
#pragma once

#include "include/cef_base.h"
#include "include/cef_request.h"
#include "include/cef_resource_handler.h"

class CefBrowser;
class CefFrame;

class CefSchemeRegistrar : public virtual CefBase {
public:
    virtual bool AddCustomScheme(const CefString& scheme_name, bool is_standard, bool is_local,
                                 bool is_display_isolated) = 0;
};

class CefSchemeHandlerFactory : public virtual CefBase {
public:
    // IO thread. browser and frame may be null (requests the engine cannot attribute).
    virtual CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                                 const CefString& scheme_name,
                                                 CefRefPtr<CefRequest> request) = 0;
};

// Registers factory for requests of scheme_name whose host is domain_name (empty: any host).
// A later registration of the same pair replaces the earlier one; a null factory removes it.
bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory);
bool CefClearSchemeHandlerFactories();
