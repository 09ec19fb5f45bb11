// The procedure that a window handle's messages go to.
#pragma once

#include "windows.h"

namespace win32_internal {

// The procedure set with SetWindowLongPtrW, or null while the window keeps the toolkit's own.
WNDPROC subclassProcedure(HWND hwnd);
// The toolkit's own procedure: the native event filters, then the window's native event handler,
// then DefWindowProcW.
LRESULT CALLBACK toolkitWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace win32_internal
