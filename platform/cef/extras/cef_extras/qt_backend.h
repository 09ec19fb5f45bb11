// The QtWebEngine backend of the browser runtime layer (target cef_qt).
#pragma once

namespace cefqt {

// Makes the QtWebEngine backend the runtime's backend. Call before CefInitialize.
void InstallBackend();

} // namespace cefqt
