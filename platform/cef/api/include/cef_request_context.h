// Request context; browsers of this layer always use the global one (pass null).
#pragma once

#include "include/cef_base.h"

class CefRequestContext : public virtual CefBase {
public:
    virtual bool IsGlobal() = 0;
};
