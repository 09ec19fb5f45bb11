// The program-wide ClientHandler with a main browser on the runtime layer's test host, for tests of
// code that sends page events: the events are read back as they reached the main browser.
#pragma once

#include "cefclient/client_handler.h"
#include "cef_test/cef_test_host.h"

#include <QList>
#include <QString>
#include <QVariantList>

namespace test_support {

struct PageEvent {
    QString name;
    QVariantList args;
};

// The arguments of a process message as Qt values (int, bool, double, QString; nested lists as
// QVariantList).
QVariantList ToVariantList(CefRefPtr<CefListValue> list);

class MainBrowserEvents {
public:
    // Starts the runtime on a test host, makes g_handler and creates its main browser.
    MainBrowserEvents();
    // Closes the browser, stops the runtime and empties g_handler.
    ~MainBrowserEvents();

    CefRefPtr<ClientHandler> handler() const { return m_handler; }
    int browserId() const { return m_browserId; }
    // The events that reached the main browser's renderer so far, oldest first.
    QList<PageEvent> events() const;

    mutable cef_test::TestHost host;

private:
    CefRefPtr<ClientHandler> m_handler;
    int m_browserId = 0;
};

} // namespace test_support
