// Work handed to the GUI thread by calls made on other threads.
#pragma once

#include <functional>

namespace win32_internal {

// Runs fn in a later turn of the GUI thread's event loop, after the work posted before it. False,
// and fn never runs, when there is no application or it is being destroyed. Safe on any thread;
// never waits for the GUI thread.
bool postToGuiThread(std::function<void()> fn);

} // namespace win32_internal
