// DOM nodes (renderer side). The layer has no DOM access and passes null nodes.
#pragma once

#include "include/cef_base.h"

class CefDOMNode : public virtual CefBase {
public:
    virtual bool IsElement() = 0;
    virtual bool IsEditable() = 0;
    virtual CefString GetName() = 0;
    virtual CefString GetValue() = 0;
    virtual CefString GetElementTagName() = 0;
};
