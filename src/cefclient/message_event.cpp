#include "cefclient/message_event.h"

#include <atomic>

namespace {
const QEvent::Type g_messageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
std::atomic<int> g_live{0};
} // namespace

QEvent::Type MessageEvent::eventType() { return g_messageEventType; }

MessageEvent::MessageEvent(const QString& message, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
    : QEvent(g_messageEventType)
    , m_message(message)
    , m_callback(callback)
{
    ++g_live;
}

MessageEvent::~MessageEvent() { --g_live; }

int MessageEvent::live() { return g_live.load(); }
