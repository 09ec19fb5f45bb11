// The event that carries one page query and its reply callback to the view on the GUI thread.
#pragma once

#include "include/wrapper/cef_message_router.h"

#include <QEvent>
#include <QString>

class MessageEvent : public QEvent {
public:
    // The event's type, registered with Qt once when the program starts.
    static QEvent::Type eventType();

    MessageEvent(const QString& message, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback);
    ~MessageEvent() override;

    // Events made and not destroyed yet: those posted and waiting for delivery, and any being
    // delivered now.
    static int live();

    QString message() const { return m_message; }
    CefRefPtr<CefMessageRouterBrowserSide::Callback> callback() const { return m_callback; }

private:
    QString m_message;
    CefRefPtr<CefMessageRouterBrowserSide::Callback> m_callback;
};
