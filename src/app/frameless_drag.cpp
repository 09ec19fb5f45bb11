#include "app/frameless_drag.h"

#include "app/pswindow.h"

#include "windows.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <QWindow>

namespace {

// The window follows the mouse from the press until the left button is released (or a move comes
// without it, when the release went elsewhere).
class ManualDrag : public QObject {
public:
    ManualDrag(QWidget* window, Qt::Edges edges, const QPoint& start)
        : m_window(window)
        , m_edges(edges)
        , m_start(start)
        , m_startPos(window->pos())
        , m_startGeometry(window->geometry())
        , m_area(psWorkAreaOf(window->frameGeometry()))
    {
        qApp->installEventFilter(this);
    }

    static void begin(QWidget* window, Qt::Edges edges, const QPoint& start)
    {
        delete s_current.data();
        s_current = new ManualDrag(window, edges, start);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease)
            return false;
        const auto* me = static_cast<QMouseEvent*>(event);
        if (!m_window || (event->type() == QEvent::MouseButtonRelease && me->button() == Qt::LeftButton)
            || (event->type() == QEvent::MouseMove && !(me->buttons() & Qt::LeftButton))) {
            deleteLater();
            qApp->removeEventFilter(this);
            return false;
        }
        if (event->type() == QEvent::MouseMove)
            follow(me->globalPos() - m_start);
        return false;
    }

private:
    // One side of the window along one axis: the start edge moves with the mouse (moveStart), or the
    // end edge does (moveEnd), within the size limits and not beyond the area [areaStart, areaEnd).
    static void span(int& pos, int& length, int delta, bool moveStart, bool moveEnd, int least, int most,
        int areaStart, int areaEnd)
    {
        if (moveEnd) {
            length = qMax(least, qMin(length + delta, qMin(most, areaEnd - pos)));
        } else if (moveStart) {
            const int end = pos + length;
            length = qMax(least, qMin(length - delta, qMin(most, end - areaStart)));
            pos = end - length;
        }
    }

    void follow(const QPoint& delta)
    {
        if (!m_edges) {
            m_window->move(m_startPos + delta);
            return;
        }
        int x = m_startGeometry.x(), y = m_startGeometry.y();
        int w = m_startGeometry.width(), h = m_startGeometry.height();
        const QSize least = m_window->minimumSize(), most = m_window->maximumSize();
        // Without a screen to measure against the edges are bounded by the sizes alone.
        const QRect area = m_area.isEmpty() ? QRect(-kMaxWindowSide, -kMaxWindowSide, 3 * kMaxWindowSide,
                                                  3 * kMaxWindowSide)
                                            : m_area;
        span(x, w, delta.x(), m_edges & Qt::LeftEdge, m_edges & Qt::RightEdge, least.width(), most.width(),
            area.left(), area.left() + area.width());
        span(y, h, delta.y(), m_edges & Qt::TopEdge, m_edges & Qt::BottomEdge, least.height(), most.height(),
            area.top(), area.top() + area.height());
        m_window->setGeometry(x, y, w, h);
    }

    static QPointer<ManualDrag> s_current;
    QPointer<QWidget> m_window;
    const Qt::Edges m_edges;
    const QPoint m_start;
    const QPoint m_startPos;       // of the frame, which move places
    const QRect m_startGeometry;   // of the inside, which setGeometry places
    const QRect m_area;            // the work area that a resize keeps the window in
};

QPointer<ManualDrag> ManualDrag::s_current;

} // namespace

Qt::Edges psHitTestEdges(int hitCode)
{
    switch (hitCode) {
    case HTLEFT:
        return Qt::LeftEdge;
    case HTRIGHT:
        return Qt::RightEdge;
    case HTTOP:
        return Qt::TopEdge;
    case HTBOTTOM:
        return Qt::BottomEdge;
    case HTTOPLEFT:
        return Qt::TopEdge | Qt::LeftEdge;
    case HTTOPRIGHT:
        return Qt::TopEdge | Qt::RightEdge;
    case HTBOTTOMLEFT:
        return Qt::BottomEdge | Qt::LeftEdge;
    case HTBOTTOMRIGHT:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return Qt::Edges();
    }
}

Qt::CursorShape psHitTestCursor(int hitCode)
{
    switch (hitCode) {
    case HTLEFT:
    case HTRIGHT:
        return Qt::SizeHorCursor;
    case HTTOP:
    case HTBOTTOM:
        return Qt::SizeVerCursor;
    case HTTOPLEFT:
    case HTBOTTOMRIGHT:
        return Qt::SizeFDiagCursor;
    case HTTOPRIGHT:
    case HTBOTTOMLEFT:
        return Qt::SizeBDiagCursor;
    default:
        return Qt::ArrowCursor;
    }
}

QRect psWorkAreaOf(const QRect& frame)
{
    const RECT r{frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY), &mi))
        return QRect();
    return QRect(mi.rcWork.left, mi.rcWork.top, mi.rcWork.right - mi.rcWork.left, mi.rcWork.bottom - mi.rcWork.top);
}

int psHitTestAt(QWidget* window, const QPoint& globalPos)
{
    const HWND hwnd = window ? static_cast<HWND>(window->internalWinId()) : 0;
    if (!hwnd)
        return HTNOWHERE;
    return static_cast<int>(SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(globalPos.x(), globalPos.y())));
}

bool psStartSystemDrag(QWidget* widget, int hitCode, const QPoint& globalPos)
{
    const Qt::Edges edges = psHitTestEdges(hitCode);
    if (!widget || (hitCode != HTCAPTION && !edges))
        return false;
    QWidget* top = widget->window();
    QWindow* window = top->windowHandle();
    if (!window || !top->internalWinId())
        return false;
    // The window manager starts from the pointer position that the toolkit last saw over the window
    // itself: a press elsewhere (on a shadow strip beside it) would be taken from a stale point, and
    // the window followed it by the wrong distance. Such a drag is followed here instead.
    const bool pressedOnWindow = top->frameGeometry().contains(globalPos);
    const bool taken = pressedOnWindow && (edges ? window->startSystemResize(edges) : window->startSystemMove());
    if (!taken)
        ManualDrag::begin(top, edges, globalPos);
    return true;
}

bool psDragByHitTest(QWidget* window, const QMouseEvent* event)
{
    if (!window || event->button() != Qt::LeftButton)
        return false;
    return psStartSystemDrag(window, psHitTestAt(window, event->globalPos()), event->globalPos());
}
