// Off-screen rendering callbacks. The layer only hosts windowed browsers and never calls them.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_drag_data.h"

#include <vector>

class CefRenderHandler : public virtual CefBase {
public:
    typedef cef_drag_operations_mask_t DragOperation;
    typedef cef_paint_element_type_t PaintElementType;
    typedef std::vector<CefRect> RectList;

    virtual bool GetRootScreenRect(CefRefPtr<CefBrowser> /*browser*/, CefRect& /*rect*/) { return false; }
    virtual bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) = 0;
    virtual bool GetScreenPoint(CefRefPtr<CefBrowser> /*browser*/, int /*viewX*/, int /*viewY*/, int& /*screenX*/, int& /*screenY*/)
    {
        return false;
    }
    virtual bool GetScreenInfo(CefRefPtr<CefBrowser> /*browser*/, CefScreenInfo& /*screen_info*/) { return false; }
    virtual void OnPopupShow(CefRefPtr<CefBrowser> /*browser*/, bool /*show*/) {}
    virtual void OnPopupSize(CefRefPtr<CefBrowser> /*browser*/, const CefRect& /*rect*/) {}
    virtual void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
                         const void* buffer, int width, int height) = 0;
    virtual void OnCursorChange(CefRefPtr<CefBrowser> /*browser*/, CefCursorHandle /*cursor*/) {}
    virtual bool StartDragging(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDragData> /*drag_data*/,
                               cef_drag_operations_mask_t /*allowed_ops*/, int /*x*/, int /*y*/)
    {
        return false;
    }
    virtual void UpdateDragCursor(CefRefPtr<CefBrowser> /*browser*/, DragOperation /*operation*/) {}
    virtual void OnScrollOffsetChanged(CefRefPtr<CefBrowser> /*browser*/) {}
};
