// The browser callbacks, for now with the runtime's default answers.
#include "cefclient/client_handler.h"

#include "include/cef_url.h"
#include "cef_extras/closure_task.h"

#include <QFile>
#include <QUrl>

bool ClientHandler::OnBeforeBrowse(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefRequest>, bool) { return false; }
void ClientHandler::OnRenderProcessTerminated(CefRefPtr<CefBrowser>, TerminationStatus) {}
void ClientHandler::OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams>,
                                        CefRefPtr<CefMenuModel>)
{
}
bool ClientHandler::OnContextMenuCommand(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams>, int,
                                         EventFlags)
{
    return false;
}
void ClientHandler::BuildTestMenu(CefRefPtr<CefMenuModel>) {}
bool ClientHandler::ExecuteTestMenu(int) { return false; }
void ClientHandler::ShowDevTools(CefRefPtr<CefBrowser>, const CefPoint&) {}
void ClientHandler::CloseDevTools(CefRefPtr<CefBrowser>) {}
bool ClientHandler::OnFileDialog(CefRefPtr<CefBrowser>, FileDialogMode, const CefString&, const CefString&,
                                 const std::vector<CefString>&, CefRefPtr<CefFileDialogCallback>)
{
    return false;
}
bool ClientHandler::OnJSDialog(CefRefPtr<CefBrowser>, const CefString&, const CefString&, JSDialogType, const CefString&,
                               const CefString&, CefRefPtr<CefJSDialogCallback>, bool&)
{
    return false;
}
bool ClientHandler::OnBeforeUnloadDialog(CefRefPtr<CefBrowser>, const CefString&, bool, CefRefPtr<CefJSDialogCallback>)
{
    return false;
}
void ClientHandler::OnResetDialogState(CefRefPtr<CefBrowser>) {}
bool ClientHandler::OnPreKeyEvent(CefRefPtr<CefBrowser>, const CefKeyEvent&, CefEventHandle, bool*) { return false; }
std::string ClientHandler::GetDownloadPath(const std::string&) { return std::string(); }
void ClientHandler::OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>, const CefString&,
                                     CefRefPtr<CefBeforeDownloadCallback>)
{
}
void ClientHandler::OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>, CefRefPtr<CefDownloadItemCallback>) {}
void ClientHandler::SetLastDownloadFile(const std::string&) {}
std::string ClientHandler::GetLastDownloadFile() { return std::string(); }
bool ClientHandler::OnDragEnter(CefRefPtr<CefBrowser>, CefRefPtr<CefDragData>, DragOperationsMask) { return false; }
bool ClientHandler::OnRequestGeolocationPermission(CefRefPtr<CefBrowser>, const CefString&, int,
                                                   CefRefPtr<CefGeolocationCallback>)
{
    return false;
}
bool ClientHandler::OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&, const CefString&,
                                  const CefPopupFeatures&, CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&,
                                  bool*)
{
    return false;
}
void ClientHandler::OnLoadingStateChange(CefRefPtr<CefBrowser>, bool, bool, bool) {}
void ClientHandler::OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, ErrorCode, const CefString&, const CefString&) {}
bool ClientHandler::OnQuotaRequest(CefRefPtr<CefBrowser>, const CefString&, int64, CefRefPtr<CefQuotaCallback>) { return false; }
void ClientHandler::OnProtocolExecution(CefRefPtr<CefBrowser>, const CefString&, bool&) {}

// ---- Off-screen render forwards

bool ClientHandler::GetRootScreenRect(CefRefPtr<CefBrowser> browser, CefRect& rect)
{
    return m_osrHandler && m_osrHandler->GetRootScreenRect(browser, rect);
}

bool ClientHandler::GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect)
{
    return m_osrHandler && m_osrHandler->GetViewRect(browser, rect);
}

bool ClientHandler::GetScreenPoint(CefRefPtr<CefBrowser> browser, int viewX, int viewY, int& screenX, int& screenY)
{
    return m_osrHandler && m_osrHandler->GetScreenPoint(browser, viewX, viewY, screenX, screenY);
}

bool ClientHandler::GetScreenInfo(CefRefPtr<CefBrowser> browser, CefScreenInfo& screen_info)
{
    return m_osrHandler && m_osrHandler->GetScreenInfo(browser, screen_info);
}

void ClientHandler::OnPopupShow(CefRefPtr<CefBrowser> browser, bool show)
{
    if (m_osrHandler)
        m_osrHandler->OnPopupShow(browser, show);
}

void ClientHandler::OnPopupSize(CefRefPtr<CefBrowser> browser, const CefRect& rect)
{
    if (m_osrHandler)
        m_osrHandler->OnPopupSize(browser, rect);
}

void ClientHandler::OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
                            const void* buffer, int width, int height)
{
    if (m_osrHandler)
        m_osrHandler->OnPaint(browser, type, dirtyRects, buffer, width, height);
}

void ClientHandler::OnCursorChange(CefRefPtr<CefBrowser> browser, CefCursorHandle cursor)
{
    if (m_osrHandler)
        m_osrHandler->OnCursorChange(browser, cursor);
}

bool ClientHandler::StartDragging(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDragData> drag_data,
                                  cef_drag_operations_mask_t allowed_ops, int x, int y)
{
    return m_osrHandler && m_osrHandler->StartDragging(browser, drag_data, allowed_ops, x, y);
}

void ClientHandler::UpdateDragCursor(CefRefPtr<CefBrowser> browser, DragOperation operation)
{
    if (m_osrHandler)
        m_osrHandler->UpdateDragCursor(browser, operation);
}

// ---- Members the system does not call

void ClientHandler::SetEditHwnd(HWND hwnd)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        cef_extras::PostTask(TID_UI, [self, hwnd] { self->SetEditHwnd(hwnd); });
        return;
    }
    m_editHwnd = hwnd;
}

void ClientHandler::SetButtonHwnds(HWND backHwnd, HWND forwardHwnd, HWND reloadHwnd, HWND stopHwnd)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        cef_extras::PostTask(TID_UI, [=] { self->SetButtonHwnds(backHwnd, forwardHwnd, reloadHwnd, stopHwnd); });
        return;
    }
    m_backHwnd = backHwnd;
    m_forwardHwnd = forwardHwnd;
    m_reloadHwnd = reloadHwnd;
    m_stopHwnd = stopHwnd;
}

std::string ClientHandler::GetLogFile() { return m_logFile; }

bool ClientHandler::SaveStringToFile(const std::string& path, const std::string& data)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data.data(), qint64(data.size())) == qint64(data.size());
}

void ClientHandler::ParseTestUrl(const std::string& url, std::string* file_name, std::string* mime_type)
{
    const QString path = QUrl(QString::fromStdString(url), QUrl::TolerantMode).path();
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (file_name)
        *file_name = name.toStdString();
    if (mime_type) {
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        *mime_type = dot < 0 ? std::string() : CefGetMimeType(name.mid(dot + 1).toStdString()).ToString();
    }
}

void DumpRequestContents(CefRefPtr<CefRequest> request, std::string& str)
{
    std::string out = "URL: " + request->GetURL().ToString();
    out += "\nMethod: " + request->GetMethod().ToString();
    CefRequest::HeaderMap headers;
    request->GetHeaderMap(headers);
    if (!headers.empty()) {
        out += "\nHeaders:";
        for (const auto& header : headers)
            out += "\n\t" + header.first.ToString() + ": " + header.second.ToString();
    }
    if (CefRefPtr<CefPostData> postData = request->GetPostData()) {
        CefPostData::ElementVector elements;
        postData->GetElements(elements);
        if (!elements.empty()) {
            out += "\nPost Data:";
            for (const CefRefPtr<CefPostDataElement>& element : elements) {
                if (element->GetType() == PDE_TYPE_BYTES) {
                    std::string bytes(element->GetBytesCount(), '\0');
                    element->GetBytes(bytes.size(), &bytes[0]);
                    out += "\n\tBytes: " + bytes;
                } else if (element->GetType() == PDE_TYPE_FILE) {
                    out += "\n\tFile: " + element->GetFile().ToString();
                } else {
                    out += "\n\tEmpty";
                }
            }
        }
    }
    str = out;
}
