// The shadows' windows: one translucent tool window per strip, below the main window, showing its
// strip's bitmap. Mouse input over a strip reaches the strip's window procedure as the non-client
// messages the window would get on the target platform, and a left-button press resizes the main
// window from the strip's edge or corner.
#include "app/shadow_windows.h"

#include "app/frameless_drag.h"
#include "app/image_resources.h"
#include "app/pswindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWidget>

namespace {

class PsShadowWindow : public QWidget {
public:
    PsShadowWindow(PsWindowShadows* owner, int index)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                | Qt::NoDropShadowWindowHint)
        , m_owner(owner)
        , m_index(index)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setMouseTracking(true);
    }

protected:
    // The window system's answers to the places asked of the window.
    void moveEvent(QMoveEvent* event) override
    {
        QWidget::moveEvent(event);
        if (event->spontaneous())
            m_owner->windowPlaced(m_index);
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (event->spontaneous())
            m_owner->windowPlaced(m_index);
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), m_owner->bitmap(m_index), QRect(QPoint(0, 0), size()));
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        const int hit = psHitTestAt(this, event->globalPos());
        setCursor(psHitTestCursor(hit));
        send(WM_NCMOUSEMOVE, hit, event->globalPos());
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const int hit = sendButton(event, WM_NCLBUTTONDOWN, WM_NCRBUTTONDOWN, WM_NCMBUTTONDOWN, WM_NCXBUTTONDOWN);
        if (event->button() == Qt::LeftButton)
            psStartSystemDrag(PsApplication::psMainWindow(), hit, event->globalPos());
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        sendButton(event, WM_NCLBUTTONUP, WM_NCRBUTTONUP, WM_NCMBUTTONUP, WM_NCXBUTTONUP);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        sendButton(event, WM_NCLBUTTONDBLCLK, WM_NCRBUTTONDBLCLK, WM_NCMBUTTONDBLCLK, WM_NCXBUTTONDBLCLK);
    }

    // A close asked by the window system goes to the window procedure, which closes the main
    // window; the strip itself stays.
    void closeEvent(QCloseEvent* event) override
    {
        if (!event->spontaneous()) {
            QWidget::closeEvent(event);
            return;
        }
        event->ignore();
        SendMessageW(static_cast<HWND>(internalWinId()), WM_CLOSE, 0, 0);
    }

private:
    LRESULT send(UINT message, WPARAM wParam, const QPoint& at)
    {
        return SendMessageW(static_cast<HWND>(internalWinId()), message, wParam, MAKELPARAM(at.x(), at.y()));
    }

    // The button's message with the hit code at the cursor; answers the hit code.
    int sendButton(const QMouseEvent* event, UINT left, UINT right, UINT middle, UINT extra)
    {
        const int hit = psHitTestAt(this, event->globalPos());
        switch (event->button()) {
        case Qt::LeftButton:
            send(left, WPARAM(hit), event->globalPos());
            break;
        case Qt::RightButton:
            send(right, WPARAM(hit), event->globalPos());
            break;
        case Qt::MiddleButton:
            send(middle, WPARAM(hit), event->globalPos());
            break;
        case Qt::BackButton:
            send(extra, MAKEWPARAM(hit, XBUTTON1), event->globalPos());
            break;
        case Qt::ForwardButton:
            send(extra, MAKEWPARAM(hit, XBUTTON2), event->globalPos());
            break;
        default:
            break;
        }
        return hit;
    }

    PsWindowShadows* m_owner;
    const int m_index;
};

bool isNonClientMouseMessage(UINT message)
{
    return (message >= WM_NCMOUSEMOVE && message <= WM_NCMBUTTONDBLCLK)
        || (message >= WM_NCXBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK)
        || (message >= WM_NCPOINTERUPDATE && message <= WM_NCPOINTERUP) || message == WM_NCMOUSEHOVER
        || message == WM_NCMOUSELEAVE;
}

} // namespace

PsWindowShadows g_shadows;
bool g_shadowsDisabled = true;
int g_shadowEdge = 0;
QColor g_activeShadowColor(0, 0, 0, 255);
QColor g_inactiveShadowColor(0, 0, 0, 255);

// The windows outlive the application at exit, as the native windows do; only the tables go.
PsWindowShadows::~PsWindowShadows() = default;

bool PsWindowShadows::init(QColor color)
{
    destroy();
    psInitImageResources();
    if (!buildTables(QImage(QStringLiteral(":/image/sprite"))))
        return false;
    g_shadowEdge = edge();
    setColor(color);
    QSize available;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry().size();
    if (!createBitmaps(qMax(available.width(), int(PsMainWindow::MinWidth)),
            qMax(available.height(), int(PsMainWindow::MinHeight))))
        return false;
    for (int i = 0; i < 4; ++i) {
        auto* window = new PsShadowWindow(this, i);
        const HWND hwnd = static_cast<HWND>(window->winId());
        if (!hwnd) {
            delete window;
            destroy();
            return false;
        }
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PsWindowShadows::wndProc));
        windows[i] = window;
        hwnds[i] = hwnd;
    }
    hidden = true;
    return true;
}

void PsWindowShadows::destroy()
{
    for (int i = 0; i < 4; ++i) {
        QWidget* window = windows[i];
        windows[i] = nullptr;
        hwnds[i] = 0;
        delete window;
    }
    releaseBitmaps();
}

void PsWindowShadows::updateWindow(int index, const QPoint& position, const QSize* size)
{
    QWidget* window = windows[index];
    if (!window)
        return;
    // The whole place is asked even for a move: the size the toolkit holds may be an answer to an
    // earlier request, which a move alone would ask for again.
    window->setGeometry(QRect(position, size ? *size : stripRect(index).size()));
    if (size)
        window->update();
    refused[index] = QRect();
}

void PsWindowShadows::windowPlaced(int index)
{
    QWidget* window = windows[index];
    if (!window || hidden || frame().isEmpty())
        return;
    const QRect place = stripRect(index);
    const QRect given = window->geometry();
    // The same other place twice running is the window manager's answer to the frame's, and stays.
    if (given == place || given == refused[index])
        return;
    refused[index] = given;
    window->setGeometry(place);
}

void PsWindowShadows::placeBelowMain() const
{
    PsMainWindow* main = PsApplication::psMainWindow();
    for (QWidget* window : windows) {
        if (window)
            window->raise();
    }
    if (main)
        main->raise();
}

void PsWindowShadows::update(int changes, WINDOWPOS* pos)
{
    PsMainWindow* main = PsApplication::psMainWindow();
    const HWND mainHwnd = main ? main->psHwnd() : 0;
    if (!mainHwnd || !windows[Top])
        return;
    if (changes == Activate) {
        placeBelowMain();
        return;
    }
    if (changes & Hidden) {
        if (!hidden) {
            for (QWidget* window : windows)
                window->hide();
            hidden = true;
        }
        return;
    }
    if (!main->psShown())
        return;

    const QRect last = frame();
    int nx = last.x(), ny = last.y(), nw = last.width(), nh = last.height();
    const UINT unchanged = SWP_NOMOVE | SWP_NOSIZE | SWP_NOOWNERZORDER;
    if (pos && (pos->flags & unchanged) != unchanged) {
        if ((pos->flags & SWP_NOMOVE) && (pos->flags & SWP_NOSIZE)) {
            placeBelowMain(); // only the z-order changed
            return;
        }
        if (!(pos->flags & SWP_NOMOVE)) {
            nx = pos->x - edge();
            ny = pos->y - edge();
        }
        if (!(pos->flags & SWP_NOSIZE)) {
            nw = pos->cx + 2 * edge();
            nh = pos->cy + 2 * edge();
        }
    } else {
        RECT r{};
        GetWindowRect(mainHwnd, &r);
        const QRect f = frameAround(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
        nx = f.x();
        ny = f.y();
        nw = f.width();
        nh = f.height();
    }

    const std::array<StripAction, 4> actions = placeFrame(nx, ny, nw, nh);
    for (int i = 0; i < 4; ++i) {
        const QRect place = stripRect(i);
        const QSize size = place.size();
        if (actions[i] != Keep)
            updateWindow(i, place.topLeft(), actions[i] == Place ? &size : nullptr);
    }
    if (hidden && (changes & Shown)) {
        for (QWidget* window : windows)
            window->show();
        placeBelowMain();
        hidden = false;
    }
}

int PsWindowShadows::indexOf(HWND hwnd) const
{
    for (int i = 0; i < 4; ++i) {
        if (hwnd && hwnds[i] == hwnd)
            return i;
    }
    return -1;
}

LRESULT CALLBACK PsWindowShadows::wndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int index = g_shadows.indexOf(hwnd);
    if (g_shadowsDisabled || index < 0)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    PsMainWindow* main = PsApplication::psMainWindow();
    const HWND mainHwnd = main ? main->psHwnd() : 0;
    if (message == WM_ACTIVATE) {
        if (wParam == WA_ACTIVE && mainHwnd && HWND(lParam) != mainHwnd) {
            SetForegroundWindow(hwnd);
            SetWindowPos(mainHwnd, hwnd, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_CLOSE) {
        if (main)
            main->close();
        return 0;
    }
    if (message == WM_NCHITTEST)
        return g_shadows.hitCode(index, GET_Y_LPARAM(lParam), g_shadowEdge);
    if (isNonClientMouseMessage(message)) {
        if (!mainHwnd)
            return 0;
        if (message == WM_NCLBUTTONDOWN)
            SetForegroundWindow(mainHwnd);
        return SendMessageW(mainHwnd, message, wParam, lParam);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void PsWindowShadows::setColor(QColor color)
{
    PsShadowModel::setColor(color);
    if (!windows[Top])
        return;
    restartFrame();
    update(Moved | Resized);
}
