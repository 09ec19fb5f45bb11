#include "cefclient/message_event.h"

namespace {
const QEvent::Type g_messageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
}

QEvent::Type MessageEvent::eventType() { return g_messageEventType; }

MessageEvent::MessageEvent(const QString& message, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback)
    : QEvent(g_messageEventType)
    , m_message(message)
    , m_callback(callback)
{
}

MessageEvent::~MessageEvent() = default;
