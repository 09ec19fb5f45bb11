// Localized strings and resources of the runtime (never asked by this layer).
#pragma once

#include "include/cef_base.h"

class CefResourceBundleHandler : public virtual CefBase {
public:
    virtual bool GetLocalizedString(int /*message_id*/, CefString& /*string*/) { return false; }
    virtual bool GetDataResource(int /*resource_id*/, void*& /*data*/, size_t& /*data_size*/) { return false; }
};
