// Test controls of the layer's handle table.
#pragma once

#include "windows.h"

namespace win32sim {

// Handles of every kind open now.
int openHandleCount();
// Calls so far that were given a handle that was not open (or of another kind), closes included.
int invalidHandleUses();

} // namespace win32sim
