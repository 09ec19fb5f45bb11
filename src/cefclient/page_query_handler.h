// The page query handler: the window requests that pages send are answered here, every other
// query is handed with its reply callback to the current view on the GUI thread.
#pragma once

#include "cefclient/client_handler.h"

#include <string>
#include <vector>

namespace window_test {

class Handler : public CefMessageRouterBrowserSide::Handler {
public:
    // Always takes the query, whether or not it is ever answered. Only the program's own pages
    // (IsProgramPage) are served: a query of any other page runs nothing and fails at once with
    // kForeignPageError.
    bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int64 query_id, const CefString& request,
                 bool persistent, CefRefPtr<Callback> callback) override;
};

// The failure answer to a query of a page that is not the program's own.
extern const char kForeignPageError[];

// Whether the page at url is one of the program's own: of the scheme "velmora" and its domain
// "settings", or a file below the page root.
bool IsProgramPage(const std::string& url);

// Adds one Handler to handlers (owned by the set's holder from then on).
void CreateMessageHandlers(ClientHandler::MessageHandlerSet& handlers);

// The numbers of a move request: the text after its first eleven characters read as decimal ints,
// each optionally followed by one comma; reading stops at anything else.
std::vector<int> ParseMoveRequest(const std::string& request);

// Moves the top-level window that contains hwnd by (dx, dy) and gives it the size width x height
// (a maximised window is restored at its corner with that size instead).
void MoveResizeRootWindow(HWND hwnd, int dx, int dy, int width, int height);
void MinimizeWindow(HWND hwnd);
// Hides the main window or minimises any other top-level widget; show_cmd is not used.
void MinimizeWidget(HWND hwnd, int show_cmd);

// Not called by the system.
void MaximizeWindow(HWND hwnd);
void RestoreWindow(HWND hwnd);
// Moves window by the display's origin and fits it into the display: not left of or above it, at
// least 100 and at most the display's width and height, right and bottom edges inside.
void ModifyBounds(const RECT& display, RECT& window);

} // namespace window_test
