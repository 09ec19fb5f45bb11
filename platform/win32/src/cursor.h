// The pointer's position, for every thread (GetCursorPos, SetCursorPos, input events, the test
// controls).
#pragma once

#include "windows.h"

#include <QPoint>

namespace win32_internal {

// Where the pointer is now; any thread, never waiting for the GUI thread.
QPoint cursorPosition();
// The cursor moves to pt: cursorPosition answers it at once on every thread, and the windowing
// system's pointer is moved there.
void moveCursor(POINT pt);
// The windowing system's pointer was seen at pt (unless a move of the layer's has not reached it).
void noteCursor(POINT pt);

} // namespace win32_internal
