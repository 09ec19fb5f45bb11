#include "app/pswindow.h"

#include "app/application.h"
#include "app/frameless_drag.h"
#include "app/shadow_windows.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QMargins>
#include <QOperatingSystemVersion>
#include <QScreen>
#include <QVariant>
#include <QWindow>

int g_hitTestOffsetX = 0;
int g_hitTestOffsetY = 0;

namespace {

QString g_exeDir;
bool g_startMinimized = false;
bool g_elevateUpdater = false;

bool placementIs(HWND hwnd, UINT showCmd)
{
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    return GetWindowPlacement(hwnd, &wp) && wp.showCmd == showCmd;
}

// Windows 8 and later paint no non-client area of their own for a frameless window.
bool windows8OrLater()
{
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    return os.type() != QOperatingSystemVersion::Windows || os >= QOperatingSystemVersion::Windows8;
}

class _PsEventFilter : public QAbstractNativeEventFilter {
public:
    ~_PsEventFilter() override = default;
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

private:
    bool psMainWindowEvent(PsMainWindow* main, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
        LRESULT* result);
};

_PsEventFilter* g_psEventFilter = nullptr;

bool _PsEventFilter::nativeEventFilter(const QByteArray& eventType, void* message, long* result)
{
    PsMainWindow* main = PsApplication::psMainWindow();
    const MSG* msg = psWindowsMessage(eventType, message);
    if (!main || !msg)
        return false;
    if (msg->message == WM_ENDSESSION) {
        quitApplication();
        return false;
    }
    // Only the main window's own messages; while its handle is not known, none.
    const HWND mainHwnd = main->psHwnd() ? main->psHwnd() : static_cast<HWND>(main->internalWinId());
    if (!mainHwnd || msg->hwnd != mainHwnd)
        return false;
    LRESULT answer = result ? static_cast<LRESULT>(*result) : 0;
    const bool handled = psMainWindowEvent(main, msg->hwnd, msg->message, msg->wParam, msg->lParam,
        result ? &answer : nullptr);
    if (result)
        *result = static_cast<long>(answer);
    return handled;
}

bool _PsEventFilter::psMainWindowEvent(PsMainWindow* main, HWND hwnd, UINT msg, WPARAM wParam,
    LPARAM lParam, LRESULT* result)
{
    auto hitPoint = [&]() {
        RECT r{};
        GetWindowRect(hwnd, &r);
        return QPoint(GET_X_LPARAM(lParam) - r.left + g_hitTestOffsetX,
            GET_Y_LPARAM(lParam) - r.top + g_hitTestOffsetY);
    };
    switch (msg) {
    case WM_DESTROY:
        quitApplication();
        return false;
    case WM_MOVE:
        g_shadows.update(PsWindowShadows::Moved);
        return false;
    case WM_SIZE: {
        if (wParam != SIZE_RESTORED && wParam != SIZE_MINIMIZED && wParam != SIZE_MAXIMIZED)
            return false;
        if (QWindow* window = main->windowHandle()) {
            if (wParam == SIZE_MINIMIZED)
                emit window->windowStateChanged(Qt::WindowMinimized);
            else if (wParam == SIZE_MAXIMIZED)
                emit window->windowStateChanged(Qt::WindowMaximized);
            else if (main->windowState() != Qt::WindowNoState)
                emit window->windowStateChanged(Qt::WindowNoState);
        }
        main->psUpdateMargins();
        if (wParam == SIZE_RESTORED)
            g_shadows.update(PsWindowShadows::Resized | PsWindowShadows::Shown);
        else
            g_shadows.update(PsWindowShadows::Hidden);
        return false;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            g_shadows.setColor(g_activeShadowColor);
            g_shadows.update(PsWindowShadows::Activate);
        } else {
            g_shadows.setColor(g_inactiveShadowColor);
        }
        main->update();
        return false;
    case WM_SHOWWINDOW: {
        const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
        if (wParam && !(style & (WS_MINIMIZE | WS_MAXIMIZE)))
            g_shadows.update(PsWindowShadows::Resized | PsWindowShadows::Shown);
        else
            g_shadows.update(PsWindowShadows::Resized | PsWindowShadows::Hidden);
        return false;
    }
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
        if (placementIs(hwnd, SW_SHOWMAXIMIZED) || placementIs(hwnd, SW_SHOWMINIMIZED))
            g_shadows.update(PsWindowShadows::Hidden);
        else
            g_shadows.update(PsWindowShadows::Moved | PsWindowShadows::Resized,
                reinterpret_cast<WINDOWPOS*>(lParam));
        return false;
    case WM_NCCALCSIZE: {
        if (placementIs(hwnd, SW_SHOWMAXIMIZED) && lParam) {
            RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0]
                             : reinterpret_cast<RECT*>(lParam);
            const POINT centre{(r->left + r->right) / 2, (r->top + r->bottom) / 2};
            MONITORINFO mi{};
            mi.cbSize = sizeof(mi);
            if (GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST), &mi))
                *r = mi.rcWork;
        }
        if (result)
            *result = 0;
        return true;
    }
    case WM_NCHITTEST:
        if (result)
            *result = psHitTestAnswer(main->hitTest(hitPoint()));
        return true;
    case WM_NCPAINT:
        if (windows8OrLater())
            return false;
        if (result)
            *result = 0;
        return true;
    case WM_NCACTIVATE: {
        const LRESULT answer = DefWindowProcW(hwnd, WM_NCACTIVATE, wParam, -1);
        if (result)
            *result = answer;
        return true;
    }
    case WM_NCRBUTTONUP:
        SendMessageW(hwnd, WM_SYSCOMMAND, SC_MOUSEMENU, lParam);
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0)
            return false;
        switch (LOWORD(wParam)) {
        case SC_CLOSE:
            main->close();
            break;
        case SC_MINIMIZE:
            main->setWindowState(Qt::WindowMinimized);
            break;
        case SC_MAXIMIZE:
            main->setWindowState(Qt::WindowMaximized);
            break;
        case SC_RESTORE:
            main->setWindowState(Qt::WindowNoState);
            break;
        default:
            break;
        }
        return true;
    default:
        return false;
    }
}

} // namespace

const MSG* psWindowsMessage(const QByteArray& eventType, const void* message)
{
    if (!message || (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG"))
        return nullptr;
    return static_cast<const MSG*>(message);
}

QSize boundedWindowSize(const QSize& size)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize most = screen ? screen->availableGeometry().size() : QSize(kMaxWindowSide, kMaxWindowSide);
    return QSize(qBound(1, size.width(), qMax(1, most.width())), qBound(1, size.height(), qMax(1, most.height())));
}

QRect psPlaceInside(const QRect& area, const QSize& frame, const QSize& least)
{
    // A side longer than the area is cut to it, down to the window's least size.
    const QSize size(qMax(qMin(frame.width(), area.width()), least.width()),
        qMax(qMin(frame.height(), area.height()), least.height()));
    const QPoint offset(qMax(0, (area.width() - size.width()) / 2), qMax(0, (area.height() - size.height()) / 2));
    return QRect(area.topLeft() + offset, size);
}

LRESULT psHitTestAnswer(int zone)
{
    switch (zone) {
    case PsHitInside:
        return HTCLIENT;
    case PsHitTop:
        return HTTOP;
    case PsHitTopRight:
        return HTTOPRIGHT;
    case PsHitRight:
        return HTRIGHT;
    case PsHitBottomRight:
        return HTBOTTOMRIGHT;
    case PsHitBottom:
        return HTBOTTOM;
    case PsHitBottomLeft:
        return HTBOTTOMLEFT;
    case PsHitLeft:
        return HTLEFT;
    case PsHitTopLeft:
        return HTTOPLEFT;
    default:
        return HTTRANSPARENT;
    }
}

PsMainWindow::PsMainWindow(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags())
{
}

PsMainWindow::~PsMainWindow()
{
    // The filter must not reach a half-destroyed window, so the quit that the destruction of the
    // main native window brings is made here.
    if (PsApplication::psMainWindow() == this) {
        PsApplication::psSetMainWindow(nullptr);
        if (m_hwnd || internalWinId())
            quitApplication();
    }
    g_shadowsDisabled = true;
    g_shadows.destroy();
}

void PsMainWindow::psInitFrameless()
{
    QWindow* window = windowHandle();
    m_hwnd = window ? static_cast<HWND>(window->winId()) : 0;
    if (m_hwnd)
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowMinMaxButtonsHint);
    if (!PsApplication::psMainWindow())
        PsApplication::psSetMainWindow(this);
}

void PsMainWindow::psInitSize()
{
    setMinimumWidth(MinWidth);
    setMinimumHeight(MinHeight);
}

void PsMainWindow::psFirstShow()
{
    g_shadows.init(g_activeShadowColor);
    g_shadowsDisabled = false;
    psUpdateMargins();
    g_shadows.update(PsWindowShadows::Hidden);
    if (startMinimized()) {
        setWindowState(Qt::WindowMinimized);
        hide();
    } else {
        const QRect place = psFirstShowPlace(frameGeometry().size());
        resize(size() - frameGeometry().size() + place.size());
        move(place.topLeft());
        show();
    }
    m_shown = true;
    if (!startMinimized())
        g_shadows.update(PsWindowShadows::Moved | PsWindowShadows::Resized | PsWindowShadows::Shown);
}

QRect PsMainWindow::psFirstShowPlace(const QSize& frame) const
{
    const QRect work = psWorkAreaOf(QRect(frameGeometry().topLeft(), frame));
    if (work.isEmpty())
        return QRect(QPoint(0, 0), frame); // no screen to fit
    return psPlaceInside(work, frame, minimumSize());
}

void PsMainWindow::psUpdateMargins()
{
    if (!m_hwnd)
        return;
    RECT client{};
    GetClientRect(m_hwnd, &client);
    RECT outer = client;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(m_hwnd, GWL_STYLE));
    AdjustWindowRectEx(&outer, style, FALSE, static_cast<DWORD>(GetWindowLongW(m_hwnd, GWL_EXSTYLE)));
    QMargins margins(outer.left - client.left, outer.top - client.top, client.right - outer.right,
        client.bottom - outer.bottom);
    if (style & WS_MAXIMIZE) {
        RECT w{};
        GetWindowRect(m_hwnd, &w);
        RECT work = w;
        MONITORINFO mi{};
        mi.cbSize = sizeof(mi);
        if (HMONITOR monitor = MonitorFromRect(&w, MONITOR_DEFAULTTONEAREST)) {
            if (GetMonitorInfoW(monitor, &mi))
                work = mi.rcWork;
        }
        g_hitTestOffsetX = w.left - work.left;
        g_hitTestOffsetY = w.top - work.top;
        margins.setLeft(margins.left() - (w.left - work.left));
        margins.setTop(margins.top() - (w.top - work.top));
        margins.setRight(margins.right() + (w.right - work.right));
        margins.setBottom(margins.bottom() + (w.bottom - work.bottom));
    } else {
        g_hitTestOffsetX = 0;
        g_hitTestOffsetY = 0;
    }
    // The frameless hint already makes the widget geometry the window rectangle here; the margins are
    // kept on the window for whoever draws a frame.
    if (QWindow* window = windowHandle())
        window->setProperty("WindowsCustomMargins", QVariant::fromValue(margins));
}

int PsMainWindow::hitTest(const QPoint& p) const
{
    const int x = p.x(), y = p.y();
    const int w = width(), h = height();
    const int b = borderWidth();
    if (!(windowState() & Qt::WindowMaximized)) {
        if (y < b)
            return x < b ? PsHitTopLeft : (x > w - b - 1 ? PsHitTopRight : PsHitTop);
        if (y > h - b - 1)
            return x < b ? PsHitBottomLeft : (x > w - b - 1 ? PsHitBottomRight : PsHitBottom);
        if (x < b)
            return PsHitLeft;
        if (x > w - b - 1)
            return PsHitRight;
    }
    return (x >= 0 && x < w && y >= 0 && y < h) ? PsHitInside : PsHitOutside;
}

PsApplication::PsApplication(int& argc, char** argv)
    : QApplication(argc, argv, 0x50401)
{
}

PsApplication::~PsApplication()
{
    delete g_psEventFilter;
    g_psEventFilter = nullptr;
}

void PsApplication::psInstallEventFilter()
{
    delete g_psEventFilter;
    g_psEventFilter = new _PsEventFilter;
    installNativeEventFilter(g_psEventFilter);
}

void PsApplication::psSetMainWindow(PsMainWindow* window)
{
    if (auto* app = qobject_cast<PsApplication*>(QCoreApplication::instance()))
        app->m_mainWindow = window;
}

PsMainWindow* PsApplication::psMainWindow()
{
    auto* app = qobject_cast<PsApplication*>(QCoreApplication::instance());
    return app ? app->m_mainWindow.data() : nullptr;
}

QString& exeDirPath() { return g_exeDir; }
bool& startMinimized() { return g_startMinimized; }
bool& elevateUpdater() { return g_elevateUpdater; }
