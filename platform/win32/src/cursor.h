// The cursor position that GetCursorPos reports, as input events move it.
#pragma once

#include "windows.h"

namespace win32_internal {

// The cursor moves to pt: GetCursorPos reports it at once on every thread, and the windowing
// system's pointer is moved there on the GUI thread.
void moveCursor(POINT pt);
// The windowing system's pointer was seen at pt (other threads then report it).
void noteCursor(POINT pt);

} // namespace win32_internal
