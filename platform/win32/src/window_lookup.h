// The Qt widget that a window handle names (GUI thread).
#pragma once

#include "windows.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <QWidget>
#include <QWindow>

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

// The top-level window that an event reaching an application-wide event filter concerns: a
// widget window with a native handle (widget set), or a native window about to be destroyed
// (widget null). hwnd is 0 for every other event.
struct TopLevelEvent {
    HWND hwnd = 0;
    QWidget* widget = nullptr;
};

inline TopLevelEvent topLevelEventOf(QObject* obj, QEvent* ev)
{
    if (ev->type() == QEvent::PlatformSurface) {
        auto* window = qobject_cast<QWindow*>(obj);
        if (window && window->handle()
            && static_cast<QPlatformSurfaceEvent*>(ev)->surfaceEventType()
                == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
            return {static_cast<HWND>(window->winId()), nullptr};
        return {};
    }
    if (!obj->isWidgetType())
        return {};
    auto* w = static_cast<QWidget*>(obj);
    if (!w->isWindow() || !w->internalWinId())
        return {};
    return {static_cast<HWND>(w->internalWinId()), w};
}

} // namespace win32_internal
