#include "windows.h"
#include "win32sim/messages.h"
#include "window_lookup.h"
#include "window_procedures.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMutex>
#include <QWidget>

namespace {

const QByteArray kEventType("windows_generic_MSG");

QMutex g_logLock;
std::vector<win32sim::SentMessage> g_sent;

// Reaches the protected native event handler of a widget.
struct NativeEventAccess : QWidget {
    using QWidget::nativeEvent;
};

using win32_internal::widgetOf;

// The filters and the window's handler, in the order the platform calls them.
bool deliver(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, long* result)
{
    MSG m{};
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        if (dispatcher->filterNativeEvent(kEventType, &m, result))
            return true;
    }
    if (QWidget* w = widgetOf(hwnd)) {
        bool (QWidget::*handler)(const QByteArray&, void*, long*) = &NativeEventAccess::nativeEvent;
        if ((w->*handler)(kEventType, &m, result))
            return true;
    }
    return false;
}

WPARAM sizeCode(const QWidget* w)
{
    if (w->windowState() & Qt::WindowMinimized)
        return SIZE_MINIMIZED;
    if (w->windowState() & Qt::WindowMaximized)
        return SIZE_MAXIMIZED;
    return SIZE_RESTORED;
}

// Turns the toolkit's events of top-level windows into the messages the target platform sends.
class ToolkitEventAdapter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* obj, QEvent* ev) override
    {
        const win32_internal::TopLevelEvent topLevel = win32_internal::topLevelEventOf(obj, ev);
        const HWND hwnd = topLevel.hwnd;
        QWidget* w = topLevel.widget;
        if (!hwnd)
            return false;
        if (!w) {
            post(hwnd, WM_DESTROY, 0, 0);
            return false;
        }
        switch (ev->type()) {
        case QEvent::Move:
            positionChanged(w, hwnd);
            post(hwnd, WM_MOVE, 0, MAKELPARAM(w->geometry().x(), w->geometry().y()));
            break;
        case QEvent::Resize:
            positionChanged(w, hwnd);
            post(hwnd, WM_SIZE, sizeCode(w), MAKELPARAM(w->width(), w->height()));
            break;
        case QEvent::WindowStateChange:
            post(hwnd, WM_SIZE, sizeCode(w), MAKELPARAM(w->width(), w->height()));
            break;
        case QEvent::Show:
            post(hwnd, WM_SHOWWINDOW, TRUE, 0);
            break;
        case QEvent::Hide:
            post(hwnd, WM_SHOWWINDOW, FALSE, 0);
            break;
        case QEvent::WindowActivate:
            post(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
            break;
        case QEvent::WindowDeactivate:
            post(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void positionChanged(QWidget* w, HWND hwnd)
    {
        const QRect g = w->frameGeometry();
        WINDOWPOS pos{};
        pos.hwnd = hwnd;
        pos.x = g.x();
        pos.y = g.y();
        pos.cx = g.width();
        pos.cy = g.height();
        post(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    }

    // The toolkit has already acted on the event: the answer is not used.
    static void post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (WNDPROC proc = win32_internal::subclassProcedure(hwnd)) {
            proc(hwnd, msg, wParam, lParam);
            return;
        }
        long result = 0;
        deliver(hwnd, msg, wParam, lParam, &result);
    }
};

void installAdapter()
{
    auto* app = QCoreApplication::instance();
    auto* adapter = new ToolkitEventAdapter(app);
    app->installEventFilter(adapter);
#ifndef QT_NO_SESSIONMANAGER
    if (auto* gui = qobject_cast<QGuiApplication*>(app)) {
        // The session is ending: every top-level window is told, as on the target platform.
        QObject::connect(gui, &QGuiApplication::commitDataRequest, adapter, [](QSessionManager&) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->internalWinId()) {
                    long result = 0;
                    deliver(static_cast<HWND>(w->internalWinId()), WM_ENDSESSION, TRUE, 0, &result);
                }
            }
        });
    }
#endif
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installAdapter)

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    {
        QMutexLocker lock(&g_logLock);
        g_sent.push_back({hwnd, msg, wParam, lParam});
    }
    if (WNDPROC proc = win32_internal::subclassProcedure(hwnd))
        return proc(hwnd, msg, wParam, lParam);
    return win32_internal::toolkitWindowProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK win32_internal::toolkitWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    long result = 0;
    if (deliver(hwnd, msg, wParam, lParam, &result))
        return static_cast<LRESULT>(result);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    QWidget* w = widgetOf(hwnd);
    switch (msg) {
    case WM_NCACTIVATE:
        return TRUE;
    case WM_NCHITTEST: {
        if (!w)
            return HTNOWHERE;
        const QPoint p(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return w->frameGeometry().contains(p) ? HTCLIENT : HTNOWHERE;
    }
    case WM_CLOSE:
        if (w)
            w->close();
        return 0;
    case WM_SYSCOMMAND:
        if (!w)
            return 0;
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            w->close();
            break;
        case SC_MINIMIZE:
            w->showMinimized();
            break;
        case SC_MAXIMIZE:
            w->showMaximized();
            break;
        case SC_RESTORE:
            w->showNormal();
            break;
        default: // no system menu on this platform
            break;
        }
        return 0;
    default:
        return 0;
    }
}

namespace win32sim {

std::vector<SentMessage> sentMessages()
{
    QMutexLocker lock(&g_logLock);
    return g_sent;
}

void clearSentMessages()
{
    QMutexLocker lock(&g_logLock);
    g_sent.clear();
}

bool dispatchQueuedMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return deliver(hwnd, msg, wParam, lParam, nullptr);
}

} // namespace win32sim
