// The local page loader and the "velmora" scheme's resource handler (IO thread).
#include "cefclient/client_handler.h"

#include "app/application.h"
#include "cefclient/page_loader.h"

#include "include/cef_stream.h"
#include "include/wrapper/cef_stream_resource_handler.h"
#include "cef_extras/qt_string.h"

#include <QCoreApplication>
#include <QRegExp>

#include <algorithm>
#include <cstring>

namespace {

// URLs below this prefix are pages of the page root; the relative path follows it.
const char kLocalPagePrefix[] = "velmora://settings/local/client/";
// The scheme handler's relative path starts one character later.
const int kSchemeHandlerOffset = 33;

} // namespace

void ClientHandler::RegisterSchemeHandlerFactory(const CefString& scheme, const CefString& domain)
{
    CefRegisterSchemeHandlerFactory(scheme, domain, this);
}

CefRefPtr<CefResourceHandler> ClientHandler::GetResourceHandler(CefRefPtr<CefBrowser> /*browser*/,
                                                                CefRefPtr<CefFrame> /*frame*/,
                                                                CefRefPtr<CefRequest> request)
{
    // Only the program's own local pages: the address is cut at a fixed length, which names a
    // file only for this prefix.
    const QString url = cef_extras::ToQString(request->GetURL());
    if (!url.startsWith(QLatin1String(kLocalPagePrefix)))
        return nullptr;
    Application* app = appInstance();
    if (!app)
        return nullptr;
    const QString path = page_loader::FileBelow(app->pageRoot(), url.mid(int(std::strlen(kLocalPagePrefix))));
    std::string body;
    if (path.isEmpty() || !page_loader::ReadResource(path, &body) || body.empty())
        return nullptr; // the scheme handler tries its own folder
    // The reader keeps its own copy of the text.
    return new CefStreamResourceHandler(page_loader::MimeTypeOf(path).toStdString(),
                                        CefStreamReader::CreateForData(&body[0], body.size()));
}

CefRefPtr<CefResourceHandler> ClientHandler::Create(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                                    const CefString& /*scheme_name*/, CefRefPtr<CefRequest> /*request*/)
{
    return new ClientHandler();
}

bool ClientHandler::ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback)
{
    request->SetFlags(UR_FLAG_ALLOW_CACHED_CREDENTIALS);
    const QString url = cef_extras::ToQString(request->GetURL());
    const QString base = QCoreApplication::applicationDirPath() + QStringLiteral("/template/default/");
    QString rest = url.mid(kSchemeHandlerOffset);
    // A client page is named without its extension.
    if (url.contains(QLatin1String("local/client"))) {
        const int end = rest.indexOf(QRegExp(QStringLiteral("[?#]")));
        rest.insert(end < 0 ? rest.size() : end, QLatin1String(".html"));
    }
    const QString path = page_loader::FileBelow(base, rest);
    m_resourceText.clear();
    m_status = 200;
    if (path.isEmpty() || !page_loader::ReadResource(path, &m_resourceText))
        m_status = 404;
    m_mimeType = page_loader::MimeTypeOf(path.isEmpty() ? base + rest : path).toStdString();
    callback->Continue();
    return true;
}

void ClientHandler::GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                                       CefString& /*redirectUrl*/)
{
    response->SetMimeType(m_mimeType);
    CefResponse::HeaderMap headers;
    headers.emplace("Cache-Control", "no-cache");
    headers.emplace("Access-Control-Allow-Origin", "*");
    headers.emplace("Access-Control-Allow-Credentials", "true");
    response->SetHeaderMap(headers);
    response->SetStatus(m_status);
    response_length = int64(m_resourceText.size());
    m_offset = 0;
}

bool ClientHandler::ReadResponse(void* data_out, int bytes_to_read, int& bytes_read, CefRefPtr<CefCallback> /*callback*/)
{
    bytes_read = 0;
    if (m_offset >= m_resourceText.size())
        return false;
    const size_t n = std::min(size_t(std::max(bytes_to_read, 0)), m_resourceText.size() - m_offset);
    std::memcpy(data_out, m_resourceText.data() + m_offset, n);
    m_offset += n;
    bytes_read = int(n);
    return true;
}

void ClientHandler::Cancel() {}
