// The browser callbacks: the router's links, the context menu with the developer tools,
// downloads, drags, permissions, popups, loading state and errors, quota, external protocols,
// renderer crashes and the off-screen render forwards.
#include "cefclient/client_handler.h"

#include "app/application.h"

#include "include/cef_url.h"
#include "cef_extras/closure_task.h"
#include "cef_extras/qt_string.h"
#include "qt_extras/gui_thread.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QUrl>

#include <chrono>

namespace {

// Storage a page may keep (20 MiB).
const int64 kMaxQuotaBytes = 20971520;
// URLs handed to the operating system.
const char kExternalProtocolPrefix[] = "spotify:";
// The runtime's own crash page: a crash there is not answered with a reload.
const char kCrashUrl[] = "chrome://crash";
// A renderer crash reloads the start page at most once in this time, so that a page that crashes
// while it loads does not keep reloading.
const qint64 kCrashReloadIntervalMs = 5000;

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

std::string lowerCase(const std::string& text) { return QString::fromStdString(text).toLower().toStdString(); }

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool debugMenuWanted()
{
    Application* app = appInstance();
    return app && app->confValues().value(QStringLiteral("Debug")) == QLatin1String("true");
}

} // namespace

// ---- Router links

bool ClientHandler::OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                   CefRefPtr<CefRequest> /*request*/, bool /*is_redirect*/)
{
    if (m_messageRouter)
        m_messageRouter->OnBeforeBrowse(browser, frame);
    return false;
}

void ClientHandler::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus /*status*/)
{
    if (m_messageRouter)
        m_messageRouter->OnRenderProcessTerminated(browser);
    CefRefPtr<CefFrame> frame = browser->GetMainFrame();
    if (!frame)
        return;
    const std::string url = lowerCase(frame->GetURL().ToString());
    const std::string startup = lowerCase(GetStartupURL());
    if (startup == kCrashUrl || url.empty() || startsWith(url, startup))
        return;
    const qint64 now = steadyMs();
    if (m_lastCrashReload != 0 && now - m_lastCrashReload < kCrashReloadIntervalMs)
        return;
    m_lastCrashReload = now;
    frame->LoadURL(GetStartupURL());
}

// ---- Context menu

void ClientHandler::OnBeforeContextMenu(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                        CefRefPtr<CefContextMenuParams> params, CefRefPtr<CefMenuModel> model)
{
    if (!debugMenuWanted()) {
        if (model->GetCount() > 0)
            model->Clear();
        return;
    }
    if (!(params->GetTypeFlags() & (CM_TYPEFLAG_PAGE | CM_TYPEFLAG_FRAME)))
        return;
    if (model->GetCount() > 0)
        model->AddSeparator();
    model->AddItem(ID_SHOW_DEVTOOLS, "Show DevTools");
    model->AddItem(ID_CLOSE_DEVTOOLS, "Close DevTools");
    model->AddSeparator();
    model->AddItem(ID_INSPECT_ELEMENT, "Inspect Element");
    BuildTestMenu(model);
}

bool ClientHandler::OnContextMenuCommand(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> /*frame*/,
                                         CefRefPtr<CefContextMenuParams> params, int command_id,
                                         EventFlags /*event_flags*/)
{
    switch (command_id) {
    case ID_SHOW_DEVTOOLS:
        ShowDevTools(browser, CefPoint());
        return true;
    case ID_CLOSE_DEVTOOLS:
        CloseDevTools(browser);
        return true;
    case ID_INSPECT_ELEMENT:
        ShowDevTools(browser, CefPoint(params->GetXCoord(), params->GetYCoord()));
        return true;
    default:
        return ExecuteTestMenu(command_id);
    }
}

void ClientHandler::BuildTestMenu(CefRefPtr<CefMenuModel> model)
{
    if (model->GetCount() > 0)
        model->AddSeparator();
    CefRefPtr<CefMenuModel> submenu = model->AddSubMenu(ID_TESTMENU_SUBMENU, "Context Menu Test");
    submenu->AddCheckItem(ID_TESTMENU_CHECKITEM, "Check Item");
    submenu->AddRadioItem(ID_TESTMENU_RADIOITEM1, "Radio Item 1", 0);
    submenu->AddRadioItem(ID_TESTMENU_RADIOITEM2, "Radio Item 2", 0);
    submenu->AddRadioItem(ID_TESTMENU_RADIOITEM3, "Radio Item 3", 0);
    if (m_checkState)
        submenu->SetChecked(ID_TESTMENU_CHECKITEM, true);
    submenu->SetChecked(ID_TESTMENU_RADIOITEM1 + m_radioIndex, true);
}

bool ClientHandler::ExecuteTestMenu(int command_id)
{
    if (command_id == ID_TESTMENU_CHECKITEM) {
        m_checkState = !m_checkState;
        return true;
    }
    if (command_id >= ID_TESTMENU_RADIOITEM1 && command_id <= ID_TESTMENU_RADIOITEM3) {
        m_radioIndex = command_id - ID_TESTMENU_RADIOITEM1;
        return true;
    }
    return false;
}

void ClientHandler::ShowDevTools(CefRefPtr<CefBrowser> browser, const CefPoint& inspect_element_at)
{
    CefWindowInfo windowInfo;
    windowInfo.SetAsPopup(browser->GetHost()->GetWindowHandle(), "Dev Tools");
    browser->GetHost()->ShowDevTools(windowInfo, this, CefBrowserSettings(), inspect_element_at);
}

void ClientHandler::CloseDevTools(CefRefPtr<CefBrowser> browser) { browser->GetHost()->CloseDevTools(); }

// ---- Dialogs and keys: the runtime's own

bool ClientHandler::OnFileDialog(CefRefPtr<CefBrowser> /*browser*/, FileDialogMode /*mode*/, const CefString& /*title*/,
                                 const CefString& /*default_file_name*/, const std::vector<CefString>& /*accept_types*/,
                                 CefRefPtr<CefFileDialogCallback> /*callback*/)
{
    return false;
}

bool ClientHandler::OnJSDialog(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*origin_url*/,
                               const CefString& /*accept_lang*/, JSDialogType /*dialog_type*/,
                               const CefString& /*message_text*/, const CefString& /*default_prompt_text*/,
                               CefRefPtr<CefJSDialogCallback> /*callback*/, bool& /*suppress_message*/)
{
    return false;
}

bool ClientHandler::OnBeforeUnloadDialog(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*message_text*/,
                                         bool /*is_reload*/, CefRefPtr<CefJSDialogCallback> /*callback*/)
{
    return false;
}

void ClientHandler::OnResetDialogState(CefRefPtr<CefBrowser> /*browser*/) {}

bool ClientHandler::OnPreKeyEvent(CefRefPtr<CefBrowser> /*browser*/, const CefKeyEvent& /*event*/,
                                  CefEventHandle /*os_event*/, bool* /*is_keyboard_shortcut*/)
{
    return false;
}

// ---- Downloads

std::string ClientHandler::GetDownloadPath(const std::string& file_name)
{
    WCHAR folder[MAX_PATH];
    if (SHGetFolderPathW(0, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, 0, folder) != S_OK)
        return std::string();
    const QString path = QString::fromUtf16(folder) + QDir::separator() + QString::fromStdString(file_name);
    return path.toStdString();
}

void ClientHandler::OnBeforeDownload(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDownloadItem> /*download_item*/,
                                     const CefString& suggested_name, CefRefPtr<CefBeforeDownloadCallback> callback)
{
    callback->Continue(GetDownloadPath(suggested_name.ToString()), true);
}

void ClientHandler::OnDownloadUpdated(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDownloadItem> download_item,
                                      CefRefPtr<CefDownloadItemCallback> /*callback*/)
{
    if (download_item->IsComplete())
        SetLastDownloadFile(download_item->GetFullPath().ToString());
}

void ClientHandler::SetLastDownloadFile(const std::string& fileName)
{
    std::lock_guard<std::mutex> lock(m_downloadLock);
    m_lastDownloadFile = fileName;
}

std::string ClientHandler::GetLastDownloadFile()
{
    std::lock_guard<std::mutex> lock(m_downloadLock);
    return m_lastDownloadFile;
}

// ---- Drags, permissions, popups

bool ClientHandler::OnDragEnter(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefDragData> /*dragData*/,
                                DragOperationsMask mask)
{
    return (mask & DRAG_OPERATION_LINK) != 0;
}

bool ClientHandler::OnRequestGeolocationPermission(CefRefPtr<CefBrowser> /*browser*/, const CefString& requesting_url,
                                                   int /*request_id*/, CefRefPtr<CefGeolocationCallback> callback)
{
    // Only the program's own pages learn where the user is.
    const QUrl url(cef_extras::ToQString(requesting_url), QUrl::TolerantMode);
    callback->Continue(url.scheme().compare(QLatin1String("velmora"), Qt::CaseInsensitive) == 0);
    return true;
}

bool ClientHandler::OnBeforePopup(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/,
                                  const CefString& target_url, const CefString& /*target_frame_name*/,
                                  const CefPopupFeatures& /*popupFeatures*/, CefWindowInfo& /*windowInfo*/,
                                  CefRefPtr<CefClient>& /*client*/, CefBrowserSettings& /*settings*/,
                                  bool* /*no_javascript_access*/)
{
    // Web and mail addresses go to the desktop's handler, on the GUI thread that desktop services
    // belong to; other schemes (local files, registered protocol handlers) are not handed out.
    const QUrl url(cef_extras::ToQString(target_url), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                          scheme == QLatin1String("mailto")))
        qt_extras::PostToGuiThread([url] { QDesktopServices::openUrl(url); });
    return true;
}

// ---- Loading

void ClientHandler::OnLoadingStateChange(CefRefPtr<CefBrowser> /*browser*/, bool /*isLoading*/, bool canGoBack,
                                         bool canGoForward)
{
    SendNavStateChanged(canGoBack, canGoForward);
}

void ClientHandler::OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                                const CefString& /*errorText*/, const CefString& /*failedUrl*/)
{
    if (errorCode == ERR_ABORTED)
        return;
    if (errorCode == ERR_UNKNOWN_URL_SCHEME && frame && startsWith(frame->GetURL().ToString(), kExternalProtocolPrefix))
        return;
    browser->SendProcessMessage(PID_RENDERER, CreatePageEvent("onBrowserMsg", {QStringLiteral("pageError")}));
}

bool ClientHandler::OnQuotaRequest(CefRefPtr<CefBrowser> /*browser*/, const CefString& /*origin_url*/, int64 new_size,
                                   CefRefPtr<CefQuotaCallback> callback)
{
    callback->Continue(new_size <= kMaxQuotaBytes);
    return true;
}

void ClientHandler::OnProtocolExecution(CefRefPtr<CefBrowser> /*browser*/, const CefString& url,
                                        bool& allow_os_execution)
{
    if (startsWith(url.ToString(), kExternalProtocolPrefix))
        allow_os_execution = true;
}

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
