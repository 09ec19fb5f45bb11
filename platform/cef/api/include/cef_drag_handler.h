// Drag and drop into a browser (UI thread).
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_drag_data.h"

class CefDragHandler : public virtual CefBase {
public:
    typedef cef_drag_operations_mask_t DragOperationsMask;

    // true refuses the drag.
    virtual bool OnDragEnter(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDragData> /*dragData*/,
                             DragOperationsMask /*mask*/)
    {
        return false;
    }
};
