// The local page loader and the "velmora" scheme's resource handler, for now serving nothing.
#include "cefclient/client_handler.h"

void ClientHandler::RegisterSchemeHandlerFactory(const CefString& scheme, const CefString& domain)
{
    CefRegisterSchemeHandlerFactory(scheme, domain, this);
}
CefRefPtr<CefResourceHandler> ClientHandler::GetResourceHandler(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                                CefRefPtr<CefRequest>)
{
    return nullptr;
}
CefRefPtr<CefResourceHandler> ClientHandler::Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                                    CefRefPtr<CefRequest>)
{
    return nullptr;
}
bool ClientHandler::ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback>) { return false; }
void ClientHandler::GetResponseHeaders(CefRefPtr<CefResponse>, int64&, CefString&) {}
bool ClientHandler::ReadResponse(void*, int, int& bytes_read, CefRefPtr<CefCallback>)
{
    bytes_read = 0;
    return false;
}
void ClientHandler::Cancel() {}
