// Test controls of the crash handler.
#pragma once

namespace crashdump_control {

// Whether every signal the crash handler takes is handled by it at this moment (nothing has
// replaced it since it was installed).
bool handlersInPlace();

} // namespace crashdump_control
