// Work that belongs to the Qt GUI thread (widgets, desktop services, the main window's files),
// handed there from the runtime's threads.
#pragma once

#include <functional>

namespace cefclient {

// Runs fn in a later turn of the GUI thread's event loop, also when called there. Dropped when
// there is no application.
void PostToGuiThread(std::function<void()> fn);

} // namespace cefclient
