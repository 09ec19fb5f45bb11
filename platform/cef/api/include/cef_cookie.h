// Cookies. The page engine keeps its own cookie store; the manager records the schemes.
#pragma once

#include "include/cef_base.h"
#include "include/cef_callback.h"

#include <vector>

class CefCookieManager : public virtual CefBase {
public:
    // The process-wide manager; never null once the layer is loaded.
    static CefRefPtr<CefCookieManager> GetGlobalManager();

    // Schemes whose cookies the manager handles ("http" and "https" by default).
    virtual void SetSupportedSchemes(const std::vector<CefString>& schemes,
                                     CefRefPtr<CefCompletionCallback> callback = nullptr) = 0;
};
