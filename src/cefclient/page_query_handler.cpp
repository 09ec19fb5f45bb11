#include "cefclient/page_query_handler.h"

#include "app/application.h"
#include "app/path_containment.h"
#include "app/window.h"
#include "cefclient/message_event.h"

#include "cef_extras/qt_string.h"
#include "qt_extras/gui_thread.h"

#include <QFileInfo>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace window_test {

namespace {

const char kMoveRequest[] = "MoveWindow";
const size_t kMoveRequestSkip = 11;
const char kMinimizeRequest[] = "{\"FuncName\":\"MinisizeWindow\"}";

// GUI thread: the window work and its answer, or the hand-off of the query to the current view;
// inCall while the page's call that carries the query is running.
void answerQuery(CefRefPtr<CefBrowser> browser, HWND browserWindow, const std::string& text,
                 const CefString& request, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback, bool inCall)
{
    // The page's top-level window (the main window or a popup's) is the one window requests act on.
    const HWND root = GetAncestor(browserWindow, GA_ROOT);
    if (g_handler)
        g_handler->SetMainWindowHandle(root);

    if (text.compare(0, std::strlen(kMoveRequest), kMoveRequest) == 0) {
        const std::vector<int> n = ParseMoveRequest(text);
        // Anything but four numbers with a real size is not a request: no move, no answer.
        if (n.size() != 4 || n[2] <= 0 || n[3] <= 0)
            return;
        const QSize size = boundedWindowSize(QSize(n[2], n[3]));
        MoveResizeRootWindow(root, n[0], n[1], size.width(), size.height());
        callback->Success("");
        return;
    }
    if (text == kMinimizeRequest) {
        if (Window* window = appMainWindow())
            window->flushDirtyFiles();
        MinimizeWindow(root);
        callback->Success("");
        return;
    }
    if (!g_handler)
        return;
    // Inside the page's call the view gets the query at once, so that an answer given meanwhile
    // travels back with the call's reply; but never ahead of a query still waiting in a queue.
    const bool atOnce = inCall && MessageEvent::live() == 0;
    ClientHandler::Listener* now = nullptr;
    // Under the handler's view lock: the view cannot go away meanwhile.
    g_handler->WithListener([&](ClientHandler::Listener* listener) {
        callback->AddRef(); // released by the main window's reply
        listener->browser = browser;
        if (atOnce)
            now = listener;
        else
            listener->PostMessageEvent(new MessageEvent(cef_extras::ToQString(request), callback));
    });
    // Outside the lock, which the commands take again. Views live on this thread, so the view
    // cannot have gone since.
    if (now)
        now->DeliverMessageEvent(MessageEvent(cef_extras::ToQString(request), callback));
}

} // namespace

const char kForeignPageError[] = "page not allowed";

bool IsProgramPage(const std::string& url)
{
    const QUrl page(QString::fromStdString(url));
    const QString scheme = page.scheme().toLower();
    if (scheme == QLatin1String("velmora"))
        return page.host().toLower() == QLatin1String("settings");
    Application* app = appInstance();
    if (scheme != QLatin1String("file") || !app)
        return false;
    return path_containment::insideResolved(page.toLocalFile(), app->pageRoot(), path_containment::Itself::Outside);
}

bool Handler::OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64 /*query_id*/,
                      const CefString& request, bool /*persistent*/, CefRefPtr<Callback> callback)
{
    // The page that asks is the frame's; every command acts on the program's files or windows.
    const CefRefPtr<CefFrame> asking = frame ? frame : browser->GetMainFrame();
    if (!asking || !IsProgramPage(asking->GetURL().ToString())) {
        callback->Failure(0, kForeignPageError);
        return true;
    }
    // Windows and the main window's files belong to the GUI thread; the answer follows the work.
    const HWND browserWindow = browser->GetHost()->GetWindowHandle();
    const std::string text = request.ToString();
    if (qt_extras::OnGuiThread()) {
        answerQuery(browser, browserWindow, text, request, callback, true);
        return true;
    }
    qt_extras::PostToGuiThread([browser, browserWindow, text, request, callback] {
        answerQuery(browser, browserWindow, text, request, callback, false);
    });
    return true;
}

void CreateMessageHandlers(ClientHandler::MessageHandlerSet& handlers) { handlers.insert(new Handler()); }

std::vector<int> ParseMoveRequest(const std::string& request)
{
    std::vector<int> numbers;
    if (request.size() <= kMoveRequestSkip)
        return numbers;
    std::istringstream in(request.substr(kMoveRequestSkip));
    int n = 0;
    while (in >> n) {
        numbers.push_back(n);
        if (in.peek() == ',')
            in.get();
    }
    return numbers;
}

void MoveResizeRootWindow(HWND hwnd, int dx, int dy, int width, int height)
{
    const HWND root = GetAncestor(hwnd, GA_ROOT);
    RECT rect{0, 0, 0, 0};
    GetWindowRect(root, &rect);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(root, &placement);
    if (placement.showCmd == SW_MINIMIZE || placement.showCmd == SW_SHOWMAXIMIZED) {
        placement.rcNormalPosition = RECT{rect.left, rect.top, rect.left + width, rect.top + height};
        SetWindowPlacement(root, &placement);
        ShowWindow(root, SW_RESTORE);
    } else {
        SetWindowPos(root, 0, rect.left + dx, rect.top + dy, width, height, SWP_NOZORDER);
    }
}

void MinimizeWindow(HWND hwnd) { MinimizeWidget(hwnd, SW_MINIMIZE); }

void MinimizeWidget(HWND hwnd, int /*show_cmd*/)
{
    QWidget* widget = hwnd ? QWidget::find(static_cast<WId>(hwnd)) : nullptr;
    if (!widget || widget->isMinimized())
        return;
    if (widget == Application::mainWindow())
        widget->hide(); // back through the tray icon
    else
        widget->showMinimized();
}

void MaximizeWindow(HWND hwnd) { MinimizeWidget(hwnd, SW_MAXIMIZE); }

void RestoreWindow(HWND hwnd) { ShowWindow(GetAncestor(hwnd, GA_ROOT), SW_RESTORE); }

void ModifyBounds(const RECT& display, RECT& window)
{
    const int displayWidth = display.right - display.left;
    const int displayHeight = display.bottom - display.top;
    const int width = std::min(std::max(int(window.right - window.left), 100), displayWidth);
    const int height = std::min(std::max(int(window.bottom - window.top), 100), displayHeight);
    int left = std::max(int(window.left + display.left), int(display.left));
    int top = std::max(int(window.top + display.top), int(display.top));
    left = std::max(std::min(left, int(display.right) - width), int(display.left));
    top = std::max(std::min(top, int(display.bottom) - height), int(display.top));
    window = RECT{left, top, left + width, top + height};
}

} // namespace window_test
