// The pointer's position for every thread.
//
// On the X window system (Qt's "xcb" platform) the position is asked of the X server through a
// connection of this layer's own, which any thread may use: the answer is where the pointer is
// at that moment, also while the GUI thread is busy, and a move is a warp of the server's pointer
// that every later question sees. Qt's own QCursor may be used on the GUI thread only, so it is
// not asked from the others.
//
// Elsewhere (the "offscreen" platform of the tests) the pointer is the layer's own: one position
// for every thread, which a move through the layer sets at once and which the GUI thread keeps in
// step with Qt's cursor at each of its own readings and at every pointer event it sees; a reading
// on another thread also asks the GUI thread for a fresh one, without waiting for it.
#include "cursor.h"
#include "gui_post.h"
#include "win32sim/cursor.h"

#include "qt_extras/gui_thread.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

// ---- the X server's pointer

struct XPointer {
    std::mutex lock; // held for each request, and while the connection is opened or closed
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    qreal scale = 1; // device pixels per Qt pixel
};
XPointer g_x;

// GUI thread, at start: with Qt on the X window system, a connection to the same display.
void openXPointer()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return;
    }
    std::lock_guard<std::mutex> lock(g_x.lock);
    g_x.connection = c;
    g_x.root = it.data->root;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        g_x.scale = primary->devicePixelRatio();
}

void closeXPointer()
{
    std::lock_guard<std::mutex> lock(g_x.lock);
    if (g_x.connection)
        xcb_disconnect(g_x.connection);
    g_x.connection = nullptr;
}

bool readXPointer(QPoint* position)
{
    std::lock_guard<std::mutex> lock(g_x.lock);
    if (!g_x.connection)
        return false;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(g_x.connection, xcb_query_pointer(g_x.connection, g_x.root), nullptr);
    if (!reply)
        return false;
    *position = QPoint(qRound(reply->root_x / g_x.scale), qRound(reply->root_y / g_x.scale));
    std::free(reply);
    return true;
}

bool warpXPointer(const QPoint& position)
{
    std::lock_guard<std::mutex> lock(g_x.lock);
    if (!g_x.connection)
        return false;
    xcb_warp_pointer(g_x.connection, XCB_NONE, g_x.root, 0, 0, 0, 0, int16_t(qRound(position.x() * g_x.scale)),
                     int16_t(qRound(position.y() * g_x.scale)));
    return xcb_flush(g_x.connection) > 0;
}

// ---- the layer's own pointer

std::atomic<uint64_t> g_cursor{0};
// Moves handed to the GUI thread that Qt has not been told yet: meanwhile Qt's cursor is behind.
// A reading from Qt or a pointer event is stored only if no move is pending; g_lastMove lets only
// the latest of the moves handed over move Qt's cursor.
std::mutex g_writeLock;
int g_pendingMoves = 0;
uint64_t g_lastMove = 0;
std::atomic<bool> g_readQueued{false};

uint64_t pack(const QPoint& p) { return (uint64_t(uint32_t(p.x())) << 32) | uint32_t(p.y()); }
QPoint unpack(uint64_t v) { return QPoint(int32_t(uint32_t(v >> 32)), int32_t(uint32_t(v))); }

bool guiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

void notePosition(const QPoint& position)
{
    std::lock_guard<std::mutex> lock(g_writeLock);
    if (g_pendingMoves == 0)
        g_cursor = pack(position);
}

// GUI thread: Qt's cursor becomes the position, unless a move of the layer's has not reached it yet.
void readQtCursor()
{
    g_readQueued = false;
    if (guiApplication())
        notePosition(QCursor::pos());
}

void queueQtCursorRead()
{
    if (!g_readQueued.exchange(true) && !win32_internal::postToGuiThread(&readQtCursor))
        g_readQueued = false;
}

// Follows the pointer through the events Qt delivers (GUI thread).
class PointerEvents : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            notePosition(static_cast<QMouseEvent*>(event)->globalPos());
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

void applicationStarted()
{
    qAddPostRoutine(closeXPointer);
    if (!guiApplication())
        return;
    openXPointer();
    g_cursor = pack(QCursor::pos());
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new PointerEvents(app));
}
Q_COREAPP_STARTUP_FUNCTION(applicationStarted)

} // namespace

namespace win32_internal {

QPoint cursorPosition()
{
    QPoint position;
    if (readXPointer(&position))
        return position;
    if (qt_extras::OnGuiThread())
        readQtCursor();
    else
        queueQtCursorRead();
    return unpack(g_cursor);
}

void moveCursor(POINT pt)
{
    const QPoint position(int(pt.x), int(pt.y));
    if (warpXPointer(position) || !guiApplication()) {
        g_cursor = pack(position);
        return;
    }
    const bool here = qt_extras::OnGuiThread();
    uint64_t move;
    {
        std::lock_guard<std::mutex> lock(g_writeLock);
        g_cursor = pack(position);
        move = ++g_lastMove;
        if (!here)
            ++g_pendingMoves;
    }
    // Qt's cursor is moved outside the lock: the pointer events it may send are noted under it.
    if (here) {
        QCursor::setPos(position);
        return;
    }
    const bool posted = postToGuiThread([position, move] {
        bool latest;
        {
            std::lock_guard<std::mutex> lock(g_writeLock);
            --g_pendingMoves;
            latest = move == g_lastMove;
        }
        if (latest)
            QCursor::setPos(position);
    });
    if (!posted) {
        std::lock_guard<std::mutex> lock(g_writeLock);
        --g_pendingMoves;
    }
}

void noteCursor(POINT pt) { notePosition(QPoint(int(pt.x), int(pt.y))); }

} // namespace win32_internal

namespace win32sim {

void moveCursor(int x, int y) { win32_internal::moveCursor(POINT{LONG(x), LONG(y)}); }

} // namespace win32sim
