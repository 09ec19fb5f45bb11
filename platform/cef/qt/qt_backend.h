// The QtWebEngine backend of the browser runtime layer.
//
// Each browser is a QWebEnginePage, shown in a QWebEngineView that is a native child of
// the window given in CefWindowInfo (SetAsChild), a top-level window (SetAsPopup, popups,
// developer tools), or no view at all (SetAsWindowless: pages without a display, tests).
// Page script reaches the renderer side through an injected bridge over QWebChannel;
// custom schemes are served through the core's resource driver.
//
// Installed automatically by CefInitialize when no other backend was set (the library must
// then be linked whole, which the `cef_qt` target does), or explicitly with InstallBackend.
#pragma once

#include "include/internal/cef_backend.h"

namespace cefqt {

// The scheme the program serves its pages from; registered at CefInitialize.
extern const char kProgramScheme[];

cef_backend::Backend* QtBackendInstance();
// Installs the backend; call before CefInitialize.
void InstallBackend();

} // namespace cefqt
