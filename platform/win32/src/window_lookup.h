// The Qt widget that a window handle names (GUI thread).
#pragma once

#include "windows.h"

#include <QWidget>

namespace win32_internal {

inline QWidget* widgetOf(HWND hwnd) { return hwnd ? QWidget::find(static_cast<WId>(hwnd)) : nullptr; }

// widgetOf, setting ERROR_INVALID_WINDOW_HANDLE when there is none.
inline QWidget* widgetOrError(HWND hwnd)
{
    QWidget* w = widgetOf(hwnd);
    if (!w)
        SetLastError(1400);
    return w;
}

} // namespace win32_internal
