// The top-level windows as the other threads may look at them: where they are and which is on
// top, recorded on the GUI thread as the toolkit moves, shows, hides and destroys them.
#pragma once

#include "windows.h"

namespace win32_internal {

// Whether hwnd names a top-level window that exists. Any thread.
bool isTopLevelWindow(HWND hwnd);

} // namespace win32_internal
