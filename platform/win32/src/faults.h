// Failures the test controls ask for (win32sim/faults.h).
#pragma once

#include "windows.h"

namespace win32_internal {

// Whether the next call of that name must fail; the error code is then set.
bool takeFault(const char* call);

} // namespace win32_internal
