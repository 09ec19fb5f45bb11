// Test controls of the pointer.
#pragma once

namespace win32sim {

// Moves the pointer as the user would: on the X window system the X server's pointer, elsewhere
// the layer's own (and Qt's cursor with it). Any thread; GetCursorPos answers the new place at
// once on every thread.
void moveCursor(int x, int y);

} // namespace win32sim
