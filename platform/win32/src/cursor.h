// The pointer's position, for every thread (GetCursorPos, the test controls).
#pragma once

#include <QPoint>

namespace win32_internal {

// Where the pointer is now; any thread, never waiting for the GUI thread.
QPoint cursorPosition();
// Moves the pointer there; cursorPosition answers the new place at once, on every thread.
void setCursorPosition(const QPoint& position);

} // namespace win32_internal
