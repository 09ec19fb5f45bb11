// The real pointer of an X11 desktop as low-level mouse events: the buttons and the wheel of every
// pointer, anywhere on the screen, read as XInput2 raw events on the root window through a
// connection of the layer's own. Nothing is grabbed, so the other programs see every event as
// before; the hooks cannot swallow these.
#include "cursor.h"
#include "input_delivery.h"
#include "qt_extras/gui_thread.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <atomic>
#include <cstdlib>

using namespace win32_internal;

namespace {

class RealPointer : public QObject {
public:
    ~RealPointer() override
    {
        delete m_notifier;
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    // GUI thread. False when the display cannot be reached or has no XInput2.
    bool start()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return false;
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(m_connection, &xcb_input_id);
        if (!extension || !extension->present)
            return false;
        m_opcode = extension->major_opcode;
        // 2.2: raw events come whether or not another client has grabbed the pointer.
        xcb_input_xi_query_version_reply_t* version
            = xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr);
        const bool xi2 = version && version->major_version >= 2;
        std::free(version);
        if (!xi2)
            return false;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem)
            return false;
        m_root = screens.data->root;

        struct {
            xcb_input_event_mask_t head;
            uint32_t bits;
        } mask;
        mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        mask.head.mask_len = 1;
        mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
        xcb_generic_error_t* error
            = xcb_request_check(m_connection, xcb_input_xi_select_events_checked(m_connection, m_root, 1, &mask.head));
        if (error) {
            std::free(error);
            return false;
        }
        m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
        // Events the replies above brought along are already queued.
        QMetaObject::invokeMethod(this, [this] { readEvents(); }, Qt::QueuedConnection);
        return true;
    }

private:
    void readEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            handle(event);
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection))
            m_notifier->setEnabled(false);
    }

    void handle(const xcb_generic_event_t* event)
    {
        if ((event->response_type & 0x7F) != XCB_GE_GENERIC)
            return;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (generic->extension != m_opcode
            || (generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS && generic->event_type != XCB_INPUT_RAW_BUTTON_RELEASE))
            return;
        const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
        if (raw->flags & XCB_INPUT_POINTER_EVENT_FLAGS_POINTER_EMULATED)
            return; // a touch the server also reports as a pointer
        const bool press = generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS;
        UINT message = 0;
        DWORD data = 0;
        auto wheel = [&](UINT m, int delta) {
            message = press ? m : 0; // one step per press; the release says nothing more
            data = DWORD(uint16_t(int16_t(delta))) << 16;
        };
        switch (raw->detail) {
        case 1: message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
        case 2: message = press ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
        case 3: message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
        case 4: wheel(WM_MOUSEWHEEL, WHEEL_DELTA); break;
        case 5: wheel(WM_MOUSEWHEEL, -WHEEL_DELTA); break;
        case 6: wheel(WM_MOUSEHWHEEL, -WHEEL_DELTA); break;
        case 7: wheel(WM_MOUSEHWHEEL, WHEEL_DELTA); break;
        case 8:
        case 9:
            message = press ? WM_XBUTTONDOWN : WM_XBUTTONUP;
            data = DWORD(raw->detail == 8 ? XBUTTON1 : XBUTTON2) << 16;
            break;
        default: break;
        }
        if (!message)
            return;
        POINT pt{0, 0};
        if (xcb_query_pointer_reply_t* pointer
            = xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr)) {
            pt = POINT{pointer->root_x, pointer->root_y};
            std::free(pointer);
        }
        noteCursor(pt);
        deliverMouseEvent(message, MSLLHOOKSTRUCT{pt, data, 0, inputTime(), 0});
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    uint8_t m_opcode = 0;
    QSocketNotifier* m_notifier = nullptr;
};

RealPointer* g_pointer = nullptr; // GUI thread
std::atomic<bool> g_running{false};
std::atomic<bool> g_tried{false};

void stopRealPointer()
{
    delete g_pointer;
    g_pointer = nullptr;
    g_running = false;
    g_tried = false;
}

// GUI thread.
void startOnGuiThread()
{
    if (g_pointer || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* pointer = new RealPointer;
    if (!pointer->start()) {
        delete pointer;
        return;
    }
    g_pointer = pointer;
    g_running = true;
    qAddPostRoutine(stopRealPointer);
}

} // namespace

void win32_internal::startRealPointer()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QGuiApplication*>(app) || g_tried.exchange(true))
        return;
    if (qt_extras::OnGuiThread())
        startOnGuiThread();
    else
        QMetaObject::invokeMethod(app, &startOnGuiThread, Qt::QueuedConnection);
}

bool win32_internal::realPointerRunning() { return g_running; }
