#include "page_events.h"

namespace test_support {

QVariantList ToVariantList(CefRefPtr<CefListValue> list)
{
    QVariantList out;
    for (size_t i = 0; list && i < list->GetSize(); ++i) {
        switch (list->GetType(i)) {
        case VTYPE_BOOL:
            out.append(list->GetBool(i));
            break;
        case VTYPE_INT:
            out.append(list->GetInt(i));
            break;
        case VTYPE_DOUBLE:
            out.append(list->GetDouble(i));
            break;
        case VTYPE_STRING:
            out.append(QString::fromStdString(list->GetString(i).ToString()));
            break;
        case VTYPE_LIST:
            out.append(QVariant(ToVariantList(list->GetList(i))));
            break;
        default:
            out.append(QVariant());
            break;
        }
    }
    return out;
}

MainBrowserEvents::MainBrowserEvents()
{
    cef_test::StartRuntime();
    m_handler = new ClientHandler();
    g_handler = m_handler;
    CefBrowserHost::CreateBrowser(CefWindowInfo(), m_handler.get(), "about:blank", CefBrowserSettings());
    cef_test::WaitForIdle();
    m_browserId = m_handler->GetBrowserId();
}

MainBrowserEvents::~MainBrowserEvents()
{
    if (CefRefPtr<CefBrowser> browser = m_handler->GetBrowser())
        browser->GetHost()->CloseBrowser(true);
    cef_test::WaitForIdle();
    cef_test::StopRuntime();
    if (g_handler == m_handler)
        g_handler = nullptr;
}

QList<PageEvent> MainBrowserEvents::events() const
{
    QList<PageEvent> out;
    for (const cef_test::ProcessMessageRecord& m : host.MessagesTo(m_browserId, PID_RENDERER))
        out.append({QString::fromStdString(m.name), ToVariantList(m.args)});
    return out;
}

} // namespace test_support
